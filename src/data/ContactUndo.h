#pragma once

#include "data/CustomerStore.h"
#include "data/Statements.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>

#include <functional>

// What brings a contact back: its key, its seven columns as stored (nulls and bytes included) and its card row.
struct KeptContact
{
    qint32 key = 0;
    QVariantList columns; // FirstName, LastName, Address, City, State, Zip, PhoneNumber
    QString uid; // empty: it had no card row
    QByteArray card;
    QByteArray agrees;

    ContactFields fields() const;
    // "Rossi Mario": the surname, then the name.
    QString name() const;
};

// A contact brought back: the key it had, and the one it has now (another when that one was taken meanwhile).
struct BroughtBack
{
    qint32 wanted = 0;
    qint32 key = 0;
};

namespace ContactUndo {

// The contacts under the keys as stored now, read in one query; a key no contact holds is left out.
QList<KeptContact> keep(CustomerStore& store, const QList<qint32>& keys);

// Adds the contacts back in one transaction, with the checks of "Salva" (a replaced file is refused): each under
// its own key when it is free, else under a new one; its card row with it, under a new UID when another contact
// holds its own. Throws ado::Error and changes nothing on a failure.
QList<BroughtBack> bringBack(CustomerStore& store, const QList<KeptContact>& contacts);

// The same inside a transaction the caller has opened with CustomerStore::inChange(), for a step that changes more
// (a merge taken back brings back the contacts merged away and puts back the one kept).
QList<BroughtBack> addBack(CustomerStore& store, const QList<KeptContact>& contacts);
// Inside the caller's transaction: the contact under contact.key gets back the seven columns and the card row kept.
// Throws ado::Error when no contact holds the key.
void putBack(CustomerStore& store, const KeptContact& contact);

// Deletes exactly the contacts added under keys, in one transaction, when each is still as digest() read it after
// they were added; refused (ado::Error, nothing changed) when another program changed or removed one meanwhile.
void takeAway(CustomerStore& store, const QList<qint32>& keys, const QByteArray& digest);
// A digest of the contacts under keys and their cards, as stored now.
QByteArray digest(CustomerStore& store, const QList<qint32>& keys);

// "di Rossi Mario", or "di 3 contatti".
QString namesOf(const QList<KeptContact>& contacts);

} // namespace ContactUndo

// One step the user can take back: the menu's text and how it undoes itself. undo() returns what the user should
// be told beyond the change itself (a contact that came back under another key), empty when nothing; it throws
// ado::Error, having changed nothing, when it cannot be done. Another feature pushes its own entries: a label and a
// function are all it takes.
struct UndoEntry
{
    QString label; // "Annulla eliminazione di Rossi Mario"
    std::function<QString(CustomerStore&)> undo;
    // Keys to select in the list after the undo (the first found is selected).
    std::function<QList<qint32>()> keysToSelect;
    // The undo only adds the contacts keysToSelect() names: the list takes their rows without being read again.
    bool onlyAdds = false;
    // Holds only until the book changes again (an import: what it added may since have been edited).
    bool untilNextChange = false;
};

namespace ContactUndo {

// A delete taken back: the contact comes back as bringBack() brings it, and is selected.
UndoEntry deleteEntry(const KeptContact& contact);
// An import taken back ("Annulla importazione di rubrica.vcf (42 contatti)"): the contacts it added go, while they
// are as digest read them; holds until the next change.
UndoEntry importEntry(const QString& files, const QList<qint32>& keys, const QByteArray& digest);

} // namespace ContactUndo

// The steps of this run of the program, newest on top, ten at most.
class UndoStack
{
public:
    static constexpr int depth = 10;

    void push(UndoEntry entry);
    bool isEmpty() const { return m_entries.isEmpty(); }
    int size() const { return int(m_entries.size()); }
    QString label() const { return m_entries.isEmpty() ? QString() : m_entries.last().label; }
    // Undoes the newest step; it leaves the stack only when it succeeded. Returns what undo() said, the keys to
    // select and whether it only added those.
    QString undo(CustomerStore& store, QList<qint32>* select = nullptr, bool* onlyAdds = nullptr);
    // The book changed: the steps that hold only until then are dropped.
    void bookChanged();
    void clear() { m_entries.clear(); }

private:
    QList<UndoEntry> m_entries;
};
