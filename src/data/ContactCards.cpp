#include "ContactCards.h"

#include <QFileInfo>
#include <QUuid>

namespace {

const QString kTable = QStringLiteral("CREATE TABLE IF NOT EXISTS CustomerCard ("
                                      "CustID INTEGER PRIMARY KEY, Uid TEXT NOT NULL, Card BLOB NOT NULL)");
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

const QStringList kSchemaNames {
    QStringLiteral("CustomerCard"), QStringLiteral("CustomerCardDeleted"), QStringLiteral("CustomerCardAdded")};

bool hasTable(CustomerStore& store)
{
    RecordsetRelease release {store};
    return !store
                .openQuery(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' AND name = ?"),
                           {kSchemaNames.at(0)})
                .isEOF();
}

// The table and both triggers are there.
bool prepared(CustomerStore& store)
{
    RecordsetRelease release {store};
    return store
               .openQuery(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name IN (?, ?, ?)"),
                          {kSchemaNames.at(0), kSchemaNames.at(1), kSchemaNames.at(2)})
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
        store.execute(kTrigger, QVariantList());
        store.execute(kAddedTrigger, QVariantList());
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
    if (!hasTable(store)) {
        return {};
    }
    RecordsetRelease release {store};
    ado::Recordset& rs
        = store.openQuery(QStringLiteral("SELECT Uid, Card FROM CustomerCard WHERE CustID = ?"), {custId});
    if (rs.isEOF()) {
        return {};
    }
    return {rs.Fields(0).toString(), rs.Fields(1).toByteArray()};
}

QHash<qint32, ContactCard> loadAll(CustomerStore& store)
{
    QHash<qint32, ContactCard> cards;
    if (!hasTable(store)) {
        return cards;
    }
    RecordsetRelease release {store};
    ado::Recordset& rs = store.openQuery(QStringLiteral("SELECT CustID, Uid, Card FROM CustomerCard"), QVariantList());
    for (; !rs.isEOF(); rs.MoveNext()) {
        cards.insert(rs.Fields(0).toInt(), {rs.Fields(1).toString(), rs.Fields(2).toByteArray()});
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

void save(CustomerStore& store, qint32 custId, const ContactCard& card)
{
    // A card is bytes: bound as a blob, so no text conversion touches it.
    store.execute(QStringLiteral("INSERT OR REPLACE INTO CustomerCard (CustID, Uid, Card) VALUES (?, ?, ?)"),
                  {custId, card.uid.isEmpty() ? newUid() : card.uid, card.card.isNull() ? QByteArray("") : card.card});
}

void saveAll(CustomerStore& store, const QList<QPair<qint32, ContactCard>>& cards)
{
    constexpr qsizetype rowsPerStatement = 100;
    for (qsizetype first = 0; first < cards.size(); first += rowsPerStatement) {
        const qsizetype count = qMin(rowsPerStatement, cards.size() - first);
        QStringList rows(count, QStringLiteral("(?, ?, ?)"));
        QVariantList values;
        values.reserve(3 * count);
        for (qsizetype i = first; i < first + count; ++i) {
            const ContactCard& card = cards.at(i).second;
            values << cards.at(i).first << (card.uid.isEmpty() ? newUid() : card.uid)
                   << (card.card.isNull() ? QByteArray("") : card.card);
        }
        store.execute(QStringLiteral("INSERT OR REPLACE INTO CustomerCard (CustID, Uid, Card) VALUES ")
                          + rows.join(QLatin1String(", ")),
                      values);
    }
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
