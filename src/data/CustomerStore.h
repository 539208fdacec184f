#pragma once

#include "data/Ado.h"

#include <QStringList>

#include <functional>
#include <memory>

struct CardDetails;
struct ContactFields;

// A change refused because another program changed the contact after the window showed it. stored() holds the
// stored contact as the list shows a row: the seven texts and the key.
class ContactChanged : public ado::Error
{
public:
    ContactChanged(const QString& description, const QStringList& stored);
    QStringList stored() const { return m_stored; }

private:
    QStringList m_stored;
};

class CustomerStore;

// Lets go of the store's record set when it goes out of scope, a failure included.
struct RecordsetRelease
{
    CustomerStore& store;
    ~RecordsetRelease();
};

// The seven fields of the record set's current row, from column first on in the list's order (FirstName to
// PhoneNumber), NULL read as empty.
ContactFields contactFieldsAt(const ado::Recordset& rs, int first = 0);

// The main window's access to Cust.mdb: one connection and one reused command object, opened at load and closed
// at unload. Every failure throws ado::Error with a description.
class CustomerStore
{
public:
    // "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + appPath + "Cust.mdb"; appPath ends in a separator.
    static QString connectionText(const QString& appPath);

    void ConnectToDatabase(const QString& connectionText);
    void CloseDatabase();
    bool isOpen() const { return mcnnCust != nullptr; }

    // Largest key plus one, 1 for an empty table. Throws when the largest key is already 2147483647.
    qint32 GetNextCustID();

    // Sends a query and keeps its record set in mrsCust until releaseRecordset().
    ado::Recordset& openQuery(const QString& statement);
    // The same with values bound to the statement's "?" placeholders: every statement beyond the designed ones
    // passes its values this way.
    ado::Recordset& openQuery(const QString& statement, const QVariantList& parameters);
    void releaseRecordset() { mrsCust.reset(); }

    // Sends the list query, as openQuery(); the changes below are refused once the file it read is replaced.
    ado::Recordset& openList();

    // Send the insert, update and delete statements, each in a transaction with the checks that keep a change to
    // the contact the user sees, in the file the list was read from. shown is the contact's list row (seven texts
    // and the key). Throws ado::FileReplaced when the file is no longer the one the list was read from,
    // ContactChanged when the stored contact is no longer the one shown, ado::Error when several contacts share the
    // key or the statement fails; nothing is changed then. An update writes back every column whose text the user
    // left as it was with the very value stored, bytes the list cannot show included. The contact's card goes with
    // it in the same transaction: an insert gives it a new random UID, an update edits only the card lines the
    // fields came from, a delete takes it away (the trigger).
    void insert(qint32 key, const ContactFields& fields);
    void update(qint32 key, const ContactFields& fields, const QStringList& shown);
    // kept runs inside the delete's transaction, after the checks and before the delete: what the undo needs is read
    // there, as the contact is when it goes.
    void remove(qint32 key, const QStringList& shown, const std::function<void()>& kept = {});
    // Writes the details into the contact's card (a new card when it has none), with the same checks as update();
    // the seven fields and every other line of the card stay as they are.
    void updateDetails(qint32 key, const QStringList& shown, const CardDetails& details);

    // Several changes as one: change runs in one transaction opened as the changes above open theirs (a replaced file
    // is refused with ado::FileReplaced), and lands whole or not at all. Inside it, updateWithin() and removeWithin()
    // make the changes of update() and remove() with their checks.
    void inChange(const std::function<void()>& change);
    void updateWithin(qint32 key, const ContactFields& fields, const QStringList& shown);
    // mustExist: a contact already gone is refused instead of taken as deleted.
    // kept runs inside the transaction before the delete, to take what an undo needs.
    void
    removeWithin(qint32 key, const QStringList& shown, bool mustExist = false, const std::function<void()>& kept = {});

    // Sends an insert, update or delete; returns the number of rows it changed.
    int execute(const QString& statement);
    int execute(const QString& statement, const QVariantList& parameters);

    std::shared_ptr<ado::Connection> mcnnCust;
    std::unique_ptr<ado::Command> mcmdCust;
    std::shared_ptr<ado::Recordset> mrsCust;

private:
    struct StoredColumn
    {
        QString text; // as the list shows it
        QString type; // the engine's storage class
        QString hex; // the stored bytes
    };
    using StoredRow = QList<StoredColumn>;

    // Opens the transaction of a change; refuses a file that is not the one the list was read from.
    void beginChange();
    // Every row stored under the key.
    QList<StoredRow> readStored(qint32 key);
    // Refuses a change to a contact that is missing, shares its key, or differs from what was shown.
    void checkShown(qint32 key, const QList<StoredRow>& stored, const QStringList& shown, bool mustExist);
    void restoreUntouched(qint32 key, const StoredRow& before, const ContactFields& fields);
    void keepCard(qint32 key, const ContactFields& before, const ContactFields& fields);
    template<typename Fn>
    void inTransaction(Fn change);

    quint64 m_listReplacements = 0;
};
