#pragma once

#include "data/BookRestore.h"

#include <QDialog>

class QLabel;
class QListWidget;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// "Ripristina da una copia…": the copies in Backup/, newest first; for the chosen one, the contacts that differ from
// the book, grouped (deleted since, changed since, added since). The contacts deleted since can be ticked and brought
// back; the whole book can be replaced by the copy. What is done with them is the caller's (the signals).
class RestoreDialog : public QDialog
{
    Q_OBJECT
public:
    RestoreDialog(const QString& bookPath, QWidget* parent = nullptr);

    // Reads the copies and the chosen one's differences again (after the book changed).
    void reload();
    QString chosenCopy() const;
    QList<qint32> tickedKeys() const;
    // The group of one kind of difference.
    QTreeWidgetItem* group(BookRestore::Difference::Kind kind) const;

    QListWidget* lstCopies;
    QTreeWidget* tvwDifferences;
    QLabel* lblSummary;
    QPushButton* cmdBringBack;
    QPushButton* cmdReplace;
    QPushButton* cmdClose;

signals:
    void bringBackRequested(const QString& copyPath, const QList<qint32>& keys);
    void replaceRequested(const QString& copyPath);

private:
    void showDifferences();
    void updateButtons();

    QString m_bookPath;
    QTreeWidgetItem* m_groups[3] = {};
};
