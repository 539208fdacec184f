#pragma once

#include "exchange/ExchangeTypes.h"

#include <QObject>
#include <QStringList>

#include <functional>

class CustomerStore;
class ListView;
class QAction;
class QWidget;

// Import and export of contacts from the main window: the two actions (Ctrl+I, Ctrl+E), .vcf and .csv files dropped
// on the window, the file dialog, a progress dialog for long work and the box that says what happened. Allowed
// while browsing only.
class ContactExchange : public QObject
{
    Q_OBJECT
public:
    // What the window lends: the list whose shown rows are exported, the open store, and how to read the list again
    // and select a row as a click would.
    struct Window
    {
        QWidget* widget = nullptr;
        ListView* list = nullptr;
        CustomerStore* store = nullptr;
        std::function<void()> reloadList;
        std::function<void(int)> selectRow;
    };

    explicit ContactExchange(const Window& window, QObject* parent = nullptr);

    QAction* importAction() const { return actImportContacts; }
    QAction* exportAction() const { return actExportContacts; }

    // Enables the actions and the drop while browsing.
    void setBrowsing(bool browsing);
    bool browsing() const { return m_browsing; }

    // Imports the files in one transaction, reloads the list with the first new contact selected and says what
    // happened; a refused file or a failure changes nothing and is told.
    void importFiles(const QStringList& paths);
    // Writes the rows the list shows, in its order, to path in the format given.
    void exportTo(const QString& path);

    // Work longer than this shows the progress dialog (tests make it 0).
    void setProgressDelay(int milliseconds) { m_progressDelay = milliseconds; }

signals:
    // An import landed: the files and the keys of the contacts it added.
    void imported(const QStringList& paths, const QList<qint32>& keys);

public slots:
    void chooseAndImport();
    void chooseAndExport();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The contacts of the rows the list shows, in its order.
    QList<ExportContact> shownContacts() const;
    void selectFirstOf(const QList<qint32>& keys);
    void tell(const QString& text, const QString& title, bool failure) const;

    Window m_window;
    QAction* actImportContacts = nullptr;
    QAction* actExportContacts = nullptr;
    bool m_browsing = true;
    int m_progressDelay = 500;
};
