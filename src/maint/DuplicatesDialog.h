#pragma once

#include "data/Duplicates.h"

#include <QDialog>

class CustomerStore;
class QButtonGroup;
class QGridLayout;
class QLabel;
class QListWidget;
class QPushButton;
class QWidget;

// "Trova doppioni…": the groups of probable duplicates, most certain first, each with its reasons; for the chosen
// group its contacts side by side, a choice of value for each of the seven fields, "Unisci" and "Non sono doppioni".
class DuplicatesDialog : public QDialog
{
    Q_OBJECT
public:
    // Reads the groups from the store at once; throws ado::Error when it cannot.
    DuplicatesDialog(CustomerStore& store, QWidget* parent = nullptr);

    const QList<DuplicateGroup>& groups() const { return m_groups; }
    // The fields the merge would give the kept contact, as chosen now.
    ContactFields chosenFields() const;

signals:
    // A merge landed: record puts it back (Duplicates::undoMerge).
    void merged(const MergeRecord& record);
    // Contacts left the book or changed under the dialog: the window's list needs reading again.
    void bookChanged();

private:
    void showGroup(int row);
    void mergeGroup();
    void markGroup();
    void findAgain();
    void reload();

    CustomerStore& m_store;
    QList<DuplicateGroup> m_groups;
    QListWidget* lstGroups;
    QWidget* m_sideBySide;
    QGridLayout* m_grid;
    QLabel* lblKept;
    QPushButton* cmdMerge;
    QPushButton* cmdNotDuplicates;
    QList<QButtonGroup*> m_choices; // one per field, each button's id the contact's place in the group
};
