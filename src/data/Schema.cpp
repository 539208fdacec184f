#include "data/Schema.h"

#include "data/Contact.h"
#include "data/ContactCards.h"
#include "data/CustomerStore.h"
#include "sync/SyncCards.h"

#include <QAtomicInt>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace {

// A version 4 UUID of the 16 random bytes h, as hex.
const QString kUuidOfH = QStringLiteral("lower(substr(h, 1, 8) || '-' || substr(h, 9, 4) || '-4' || substr(h, 14, 3) "
                                        "|| '-' || substr('89ab', 1 + abs(random() % 4), 1) || substr(h, 18, 3) || '-' "
                                        "|| substr(h, 21, 12))");

const QString kCardStatements[] = {
    QStringLiteral("CREATE TABLE IF NOT EXISTS CustomerCard (CustID INTEGER PRIMARY KEY, Uid TEXT NOT NULL, "
                   "Card BLOB NOT NULL, Agrees BLOB NOT NULL DEFAULT X'')"),
    QStringLiteral("CREATE TRIGGER IF NOT EXISTS CustomerCardDeleted AFTER DELETE ON Customer "
                   "BEGIN DELETE FROM CustomerCard WHERE CustID = OLD.CustID; END"),
    // A contact added by any program gets its row and random UID at once; a key it shares with a contact already
    // there keeps that one's card. So no contact is ever without a row once the book is prepared.
    QStringLiteral(
        "CREATE TRIGGER IF NOT EXISTS CustomerCardAdded AFTER INSERT ON Customer WHEN NEW.CustID IS NOT NULL "
        "BEGIN INSERT OR IGNORE INTO CustomerCard (CustID, Uid, Card) SELECT NEW.CustID, ")
        + kUuidOfH + QStringLiteral(", X'' FROM (SELECT hex(randomblob(16)) AS h); END"),
    // A card written behind the program's back no longer has the agreement worked out for the old one: it is
    // forgotten, and the export reads the card.
    QStringLiteral("CREATE TRIGGER IF NOT EXISTS CustomerCardRewritten AFTER UPDATE OF Card ON CustomerCard "
                   "WHEN NEW.Card IS NOT OLD.Card AND NEW.Agrees IS OLD.Agrees AND length(NEW.Agrees) > 0 "
                   "BEGIN UPDATE CustomerCard SET Agrees = X'' WHERE CustID = NEW.CustID; END"),
    // Pairs the user said are not one person, the lower key first; a deleted contact's pairs go with it, since its
    // key may be given again to someone else.
    QStringLiteral("CREATE TABLE IF NOT EXISTS CustomerNotDuplicate (KeyA INTEGER NOT NULL, KeyB INTEGER NOT NULL, "
                   "PRIMARY KEY (KeyA, KeyB)) WITHOUT ROWID"),
    QStringLiteral("CREATE TRIGGER IF NOT EXISTS CustomerNotDuplicateDeleted AFTER DELETE ON Customer BEGIN "
                   "DELETE FROM CustomerNotDuplicate WHERE KeyA = OLD.CustID OR KeyB = OLD.CustID; END"),
};

const QString kSyncStatements[] = {
    QStringLiteral("CREATE TABLE IF NOT EXISTS CustomerSync ("
                   "Href TEXT PRIMARY KEY, CustID INTEGER NOT NULL, ETag TEXT NOT NULL, Digest TEXT NOT NULL, "
                   "CardDigest TEXT NOT NULL DEFAULT '', Deleted INTEGER NOT NULL DEFAULT 0, "
                   "Written INTEGER NOT NULL DEFAULT 0, Agreed TEXT NOT NULL DEFAULT '', "
                   "CardHash TEXT NOT NULL DEFAULT '')"),
    QStringLiteral("CREATE INDEX IF NOT EXISTS CustomerSyncCustID ON CustomerSync(CustID)"),
    QStringLiteral("CREATE TABLE IF NOT EXISTS CustomerSyncState (Name TEXT PRIMARY KEY, Value TEXT NOT NULL)"),
    QStringLiteral("CREATE TRIGGER IF NOT EXISTS CustomerSyncDeleted AFTER DELETE ON Customer BEGIN "
                   "UPDATE CustomerSync SET Deleted = 1 WHERE CustID = OLD.CustID; END"),
};

// Every table, index and trigger of the current version beside Customer.
const QStringList kObjects {QStringLiteral("CustomerCard"),
                            QStringLiteral("CustomerCardDeleted"),
                            QStringLiteral("CustomerCardAdded"),
                            QStringLiteral("CustomerCardRewritten"),
                            QStringLiteral("CustomerNotDuplicate"),
                            QStringLiteral("CustomerNotDuplicateDeleted"),
                            QStringLiteral("CustomerSync"),
                            QStringLiteral("CustomerSyncCustID"),
                            QStringLiteral("CustomerSyncState"),
                            QStringLiteral("CustomerSyncDeleted")};

bool hasRow(CustomerStore& store, const QString& query, const QVariantList& values)
{
    RecordsetRelease release {store};
    return !store.openQuery(query, values).isEOF();
}

bool hasColumn(CustomerStore& store, const QString& table, const QString& column)
{
    return hasRow(store, QStringLiteral("SELECT name FROM pragma_table_info(?) WHERE name = ?"), {table, column});
}

bool hasEveryObject(CustomerStore& store)
{
    RecordsetRelease release {store};
    QVariantList names;
    for (const QString& name : kObjects) {
        names << name;
    }
    return store
               .openQuery(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name IN (")
                              + QStringList(kObjects.size(), QStringLiteral("?")).join(QLatin1String(", "))
                              + QLatin1Char(')'),
                          names)
               .Fields(0)
               .toInt()
        == kObjects.size();
}

// Step 1. One statement gives every contact without a row its own UID: a first start on 100,000 contacts must not
// wait on 100,000 statements.
void addCards(CustomerStore& store)
{
    if (hasRow(store,
               QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' AND name = ?"),
               {QStringLiteral("CustomerCard")})
        && !hasColumn(store, QStringLiteral("CustomerCard"), QStringLiteral("Agrees"))) {
        // A book whose table came before the agreements.
        store.execute(QStringLiteral("ALTER TABLE CustomerCard ADD COLUMN Agrees BLOB NOT NULL DEFAULT X''"),
                      QVariantList());
    }
    for (const QString& statement : kCardStatements) {
        store.execute(statement, QVariantList());
    }
    store.execute(QStringLiteral("INSERT OR REPLACE INTO CustomerCard (CustID, Uid, Card) SELECT CustID, ") + kUuidOfH
                      + QStringLiteral(", X'' FROM (SELECT CustID, hex(randomblob(16)) AS h FROM Customer WHERE "
                                       "CustID IS NOT NULL AND CustID NOT IN (SELECT CustID FROM CustomerCard))"),
                  QVariantList());
}

QVariant text(const QString& value)
{
    return value.isNull() ? QVariant(QStringLiteral("")) : QVariant(value);
}

struct OldLink
{
    QString href;
    qint32 custId = 0;
    QByteArray card;
    bool deleted = false;
};

// Books synced before each contact had its card kept the card in CustomerSync. Each linked contact's card becomes
// its card, under the UID the server's card has, and CustomerSync keeps only a digest of it; a page of links at a
// time, so that the cards of a large book are never all in memory.
void moveSyncedCards(CustomerStore& store)
{
    if (!hasColumn(store, QStringLiteral("CustomerSync"), QStringLiteral("CardDigest"))) {
        store.execute(QStringLiteral("ALTER TABLE CustomerSync ADD COLUMN CardDigest TEXT NOT NULL DEFAULT ''"),
                      QVariantList());
    }
    QString last;
    for (;;) {
        QList<OldLink> page;
        {
            RecordsetRelease release {store};
            ado::Recordset& rs = store.openQuery(QStringLiteral("SELECT Href, CustID, Card, Deleted FROM CustomerSync "
                                                                "WHERE Href > ? ORDER BY Href LIMIT 100"),
                                                 {text(last)});
            for (; !rs.isEOF(); rs.MoveNext()) {
                page.append({textOf(rs.Fields(0)),
                             rs.Fields(1).toInt(),
                             rs.Fields(2).toByteArray(),
                             rs.Fields(3).toInt() != 0});
            }
        }
        if (page.isEmpty()) {
            break;
        }
        for (const OldLink& link : std::as_const(page)) {
            const ContactCard kept = ContactCards::load(store, link.custId);
            if (!link.deleted && !kept.isNull()) {
                const QString uid = cardUid(link.card);
                ContactCards::save(store, link.custId, {uid.isEmpty() ? kept.uid : uid, link.card});
            }
            store.execute(QStringLiteral("UPDATE CustomerSync SET CardDigest = ?, CardHash = ? WHERE Href = ?"),
                          {text(cardDigest(link.card)), text(cardHash(link.card)), text(link.href)});
        }
        last = page.last().href;
    }
    store.execute(QStringLiteral("ALTER TABLE CustomerSync DROP COLUMN Card"), QVariantList());
}

// Step 2. A book synced by an earlier release has the table with fewer columns, or with the cards in it.
void addSync(CustomerStore& store)
{
    for (const QString& statement : kSyncStatements) {
        store.execute(statement, QVariantList());
    }
    const QString table = QStringLiteral("CustomerSync");
    const std::pair<const char*, const char*> columns[] = {
        {"Written", "ALTER TABLE CustomerSync ADD COLUMN Written INTEGER NOT NULL DEFAULT 0"},
        {"Agreed", "ALTER TABLE CustomerSync ADD COLUMN Agreed TEXT NOT NULL DEFAULT ''"},
        {"CardHash", "ALTER TABLE CustomerSync ADD COLUMN CardHash TEXT NOT NULL DEFAULT ''"},
    };
    for (const auto& [column, statement] : columns) {
        if (!hasColumn(store, table, QLatin1String(column))) {
            store.execute(QLatin1String(statement), QVariantList());
        }
    }
    if (hasColumn(store, table, QStringLiteral("Card"))) {
        moveSyncedCards(store);
    }
}

} // namespace

namespace Schema {

QString createBook(const QString& path)
{
    if (QFileInfo::exists(path)) {
        return QStringLiteral("Il file '%1' esiste già: non viene sovrascritto.").arg(path);
    }
    static QAtomicInt counter;
    const QString name = QStringLiteral("velmarin-schema-%1").arg(counter.fetchAndAddRelaxed(1));
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (!db.open()) {
            error = db.lastError().text();
        } else {
            // The designed table alone: the first opening adds the rest (upgrade), as for a book of any release.
            QSqlQuery query(db);
            if (!query.exec(customerTableSql())) {
                error = query.lastError().text();
            }
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return error;
}

int version(CustomerStore& store)
{
    RecordsetRelease release {store};
    return store.openQuery(QStringLiteral("PRAGMA user_version"), QVariantList()).Fields(0).toInt();
}

void upgrade(CustomerStore& store)
{
    const std::shared_ptr<ado::Connection>& connection = store.mcnnCust;
    if (!connection) {
        return;
    }
    const int from = version(store);
    // Every step is written to be run again: a book another program changed behind our back (a trigger dropped)
    // is mended by running them all.
    const bool whole = hasEveryObject(store);
    if ((from >= kVersion && whole) || !QFileInfo(connection->filePath()).isWritable()) {
        return;
    }
    const int start = whole ? from : 0;
    const bool own = !connection->inTransaction();
    if (own) {
        connection->BeginTrans();
    }
    try {
        if (start < 1) {
            addCards(store);
        }
        if (start < 2) {
            addSync(store);
        }
        if (from < kVersion) {
            store.execute(QStringLiteral("PRAGMA user_version = %1").arg(kVersion), QVariantList());
        }
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

} // namespace Schema
