#include "data/ContactCards.h"

#include "data/Contact.h"
#include "exchange/CardEdit.h"

#include <QFileInfo>
#include <QUuid>

namespace {

const QString kTable = QStringLiteral("CREATE TABLE IF NOT EXISTS CustomerCard ("
                                      "CustID INTEGER PRIMARY KEY, Uid TEXT NOT NULL, Card BLOB NOT NULL, "
                                      "Agrees BLOB NOT NULL DEFAULT X'')");
// A book whose table came before the agreements.
const QString kAgreesColumn = QStringLiteral("ALTER TABLE CustomerCard ADD COLUMN Agrees BLOB NOT NULL DEFAULT X''");
const QString kTrigger = QStringLiteral("CREATE TRIGGER IF NOT EXISTS CustomerCardDeleted AFTER DELETE ON Customer "
                                        "BEGIN DELETE FROM CustomerCard WHERE CustID = OLD.CustID; END");

// A version 4 UUID of the 16 random bytes h, as hex.
const QString kUuidOfH = QStringLiteral("lower(substr(h, 1, 8) || '-' || substr(h, 9, 4) || '-4' || substr(h, 14, 3) "
                                        "|| '-' || substr('89ab', 1 + abs(random() % 4), 1) || substr(h, 18, 3) || '-' "
                                        "|| substr(h, 21, 12))");

// A contact added by any program gets its row and random UID at once; a key it shares with a contact already there
// keeps that one's card. So no contact is ever without a row once the book is prepared, and the opening needs no
// look at every contact.
const QString kAddedTrigger = QStringLiteral("CREATE TRIGGER IF NOT EXISTS CustomerCardAdded AFTER INSERT ON Customer "
                                             "WHEN NEW.CustID IS NOT NULL BEGIN INSERT OR IGNORE INTO CustomerCard "
                                             "(CustID, Uid, Card) SELECT NEW.CustID, ")
    + kUuidOfH + QStringLiteral(", X'' FROM (SELECT hex(randomblob(16)) AS h); END");

// A card written behind the program's back (by another program, or by hand) no longer has the agreement worked out
// for the old one: it is forgotten, and the export reads the card.
const QString kRewrittenTrigger
    = QStringLiteral("CREATE TRIGGER IF NOT EXISTS CustomerCardRewritten AFTER UPDATE OF Card ON CustomerCard "
                     "WHEN NEW.Card IS NOT OLD.Card AND NEW.Agrees IS OLD.Agrees AND length(NEW.Agrees) > 0 "
                     "BEGIN UPDATE CustomerCard SET Agrees = X'' WHERE CustID = NEW.CustID; END");

// Pairs of contacts the user said are not one person ("Non sono doppioni"), the lower key first. A deleted contact's
// pairs go with it: its key may be given again to someone else.
const QString kNotDuplicateTable = QStringLiteral("CREATE TABLE IF NOT EXISTS CustomerNotDuplicate ("
                                                  "KeyA INTEGER NOT NULL, KeyB INTEGER NOT NULL, "
                                                  "PRIMARY KEY (KeyA, KeyB)) WITHOUT ROWID");
const QString kNotDuplicateTrigger
    = QStringLiteral("CREATE TRIGGER IF NOT EXISTS CustomerNotDuplicateDeleted AFTER DELETE ON Customer BEGIN "
                     "DELETE FROM CustomerNotDuplicate WHERE KeyA = OLD.CustID OR KeyB = OLD.CustID; END");

const QStringList kSchemaNames {QStringLiteral("CustomerCard"),
                                QStringLiteral("CustomerCardDeleted"),
                                QStringLiteral("CustomerCardAdded"),
                                QStringLiteral("CustomerCardRewritten"),
                                QStringLiteral("CustomerNotDuplicate"),
                                QStringLiteral("CustomerNotDuplicateDeleted")};

enum class Table { Missing, WithoutAgreements, Whole };

Table tableOf(CustomerStore& store)
{
    RecordsetRelease release {store};
    ado::Recordset& rs = store.openQuery(
        QStringLiteral("SELECT count(*), coalesce(sum(name = 'Agrees'), 0) FROM pragma_table_info(?)"),
        {kSchemaNames.at(0)});
    return rs.Fields(0).toInt() == 0 ? Table::Missing
        : rs.Fields(1).toInt() == 0  ? Table::WithoutAgreements
                                     : Table::Whole;
}

bool hasTable(CustomerStore& store)
{
    return tableOf(store) != Table::Missing;
}

// The columns read beside the key: a book whose table came before the agreements (and that could not be written
// since) reads an empty one for each card.
QString cardColumns(Table table)
{
    return table == Table::Whole ? QStringLiteral("Uid, Card, Agrees") : QStringLiteral("Uid, Card, X''");
}

// The table with all its columns and the triggers are there.
bool prepared(CustomerStore& store)
{
    if (tableOf(store) != Table::Whole) {
        return false;
    }
    RecordsetRelease release {store};
    QStringList marks(kSchemaNames.size(), QStringLiteral("?"));
    QVariantList names;
    for (const QString& name : kSchemaNames) {
        names << name;
    }
    return store
               .openQuery(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name IN (")
                              + marks.join(QLatin1String(", ")) + QLatin1Char(')'),
                          names)
               .Fields(0)
               .toInt()
        == kSchemaNames.size();
}

// One statement for the whole book: a first start on 100,000 contacts must not wait on 100,000 statements. Each row
// gets a version 4 UUID of its own.
void fill(CustomerStore& store)
{
    store.execute(QStringLiteral("INSERT OR REPLACE INTO CustomerCard (CustID, Uid, Card) SELECT CustID, ") + kUuidOfH
                      + QStringLiteral(", X'' FROM (SELECT CustID, hex(randomblob(16)) AS h FROM Customer WHERE "
                                       "CustID IS NOT NULL AND CustID NOT IN (SELECT CustID FROM CustomerCard))"),
                  QVariantList());
}

} // namespace

namespace ContactCards {

void prepare(CustomerStore& store)
{
    const std::shared_ptr<ado::Connection>& connection = store.mcnnCust;
    if (!connection || prepared(store) || !QFileInfo(connection->filePath()).isWritable()) {
        return;
    }
    const bool own = !connection->inTransaction();
    if (own) {
        connection->BeginTrans();
    }
    try {
        store.execute(kTable, QVariantList());
        if (tableOf(store) == Table::WithoutAgreements) {
            store.execute(kAgreesColumn, QVariantList());
        }
        store.execute(kTrigger, QVariantList());
        store.execute(kAddedTrigger, QVariantList());
        store.execute(kRewrittenTrigger, QVariantList());
        store.execute(kNotDuplicateTable, QVariantList());
        store.execute(kNotDuplicateTrigger, QVariantList());
        fill(store);
        if (own) {
            connection->CommitTrans();
        }
    } catch (...) {
        if (own) {
            connection->RollbackTrans();
        }
        throw;
    }
}

ContactCard load(CustomerStore& store, qint32 custId)
{
    const Table table = tableOf(store);
    if (table == Table::Missing) {
        return {};
    }
    const QString columns = cardColumns(table);
    RecordsetRelease release {store};
    ado::Recordset& rs = store.openQuery(
        QStringLiteral("SELECT ") + columns + QStringLiteral(" FROM CustomerCard WHERE CustID = ?"), {custId});
    if (rs.isEOF()) {
        return {};
    }
    return {rs.Fields(0).toString(), rs.Fields(1).toByteArray(), rs.Fields(2).toByteArray()};
}

QHash<qint32, ContactCard> loadAll(CustomerStore& store)
{
    QHash<qint32, ContactCard> cards;
    const Table table = tableOf(store);
    if (table == Table::Missing) {
        return cards;
    }
    const QString columns = cardColumns(table);
    RecordsetRelease release {store};
    ado::Recordset& rs = store.openQuery(
        QStringLiteral("SELECT CustID, ") + columns + QStringLiteral(" FROM CustomerCard"), QVariantList());
    for (; !rs.isEOF(); rs.MoveNext()) {
        cards.insert(rs.Fields(0).toInt(),
                     {rs.Fields(1).toString(), rs.Fields(2).toByteArray(), rs.Fields(3).toByteArray()});
    }
    return cards;
}

QSet<QString> uids(CustomerStore& store)
{
    QSet<QString> found;
    if (!hasTable(store)) {
        return found;
    }
    RecordsetRelease release {store};
    ado::Recordset& rs = store.openQuery(QStringLiteral("SELECT Uid FROM CustomerCard"), QVariantList());
    for (; !rs.isEOF(); rs.MoveNext()) {
        found.insert(rs.Fields(0).toString());
    }
    return found;
}

namespace {

// The seven fields of the given contacts as the book holds them, read as the export reads them.
QHash<qint32, ContactFields> storedFields(CustomerStore& store, const QList<qint32>& keys)
{
    QHash<qint32, ContactFields> found;
    QStringList marks(keys.size(), QStringLiteral("?"));
    QVariantList values;
    values.reserve(keys.size());
    for (const qint32 key : keys) {
        values << key;
    }
    RecordsetRelease release {store};
    ado::Recordset& rs
        = store.openQuery(QStringLiteral("SELECT CustID, FirstName, LastName, Address, City, State, Zip, "
                                         "PhoneNumber FROM Customer WHERE CustID IN (")
                              + marks.join(QLatin1String(", ")) + QLatin1Char(')'),
                          values);
    for (; !rs.isEOF(); rs.MoveNext()) {
        found.insert(rs.Fields(0).toInt(), contactFieldsAt(rs, 1));
    }
    return found;
}

// The rows of the given cards, a hundred to a statement: an import of 10,000 cards sends 100 statements. Each card
// goes with its agreement with the contact as it stands (none when the contact is not stored yet).
void saveRows(CustomerStore& store, const QList<QPair<qint32, ContactCard>>& cards)
{
    constexpr qsizetype rowsPerStatement = 100;
    for (qsizetype first = 0; first < cards.size(); first += rowsPerStatement) {
        const qsizetype count = qMin(rowsPerStatement, cards.size() - first);
        QList<qint32> keys;
        keys.reserve(count);
        for (qsizetype i = first; i < first + count; ++i) {
            keys.append(cards.at(i).first);
        }
        const QHash<qint32, ContactFields> fields = storedFields(store, keys);
        QStringList rows(count, QStringLiteral("(?, ?, ?, ?)"));
        QVariantList values;
        values.reserve(4 * count);
        for (qsizetype i = first; i < first + count; ++i) {
            const qint32 custId = cards.at(i).first;
            const ContactCard& card = cards.at(i).second;
            const QString uid = card.uid.isEmpty() ? newUid() : card.uid;
            // A card is bytes: bound as a blob, so no text conversion touches it.
            const QByteArray bytes = card.card.isNull() ? QByteArray("") : card.card;
            const auto stored = fields.constFind(custId);
            const QByteArray agreement
                = stored == fields.cend() ? QByteArray() : exportAgreement(bytes, stored.value(), uid, card.inStep);
            values << custId << uid << bytes << (agreement.isNull() ? QByteArray("") : agreement);
        }
        store.execute(QStringLiteral("INSERT OR REPLACE INTO CustomerCard (CustID, Uid, Card, Agrees) VALUES ")
                          + rows.join(QLatin1String(", ")),
                      values);
    }
}

} // namespace

void save(CustomerStore& store, qint32 custId, const ContactCard& card)
{
    saveRows(store, {{custId, card}});
}

void saveAll(CustomerStore& store, const QList<QPair<qint32, ContactCard>>& cards)
{
    saveRows(store, cards);
}

void remove(CustomerStore& store, qint32 custId)
{
    store.execute(QStringLiteral("DELETE FROM CustomerCard WHERE CustID = ?"), {custId});
}

QString newUid()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QString uidFor(const QString& wanted, QSet<QString>& taken)
{
    QString uid = wanted.trimmed();
    if (uid.isEmpty() || taken.contains(uid)) {
        uid = newUid();
    }
    taken.insert(uid);
    return uid;
}

} // namespace ContactCards
