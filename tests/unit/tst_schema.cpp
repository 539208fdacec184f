// Books of earlier releases, written with the statements those releases ran, open and reach the current version in
// place: every contact and every card kept, the tables beside Customer as a new book has them.
#include "data/CustomerStore.h"
#include "data/Schema.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString kConnection = QStringLiteral("schema-check");

// The rows of one query on a connection of its own, columns joined by '|'.
QStringList rowsOf(const QString& path, const QString& sql)
{
    QStringList rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kConnection);
        db.setDatabaseName(path);
        if (!db.open()) {
            qFatal("cannot open %s", qPrintable(path));
        }
        QSqlQuery query(db);
        if (!query.exec(sql)) {
            qFatal("%s: %s", qPrintable(sql), qPrintable(query.lastError().text()));
        }
        while (query.next()) {
            QStringList columns;
            for (int i = 0; i < query.record().count(); ++i) {
                columns << query.value(i).toString();
            }
            rows << columns.join(QLatin1Char('|'));
        }
    }
    QSqlDatabase::removeDatabase(kConnection);
    return rows;
}

void run(const QString& path, const QStringList& statements)
{
    for (const QString& sql : statements) {
        rowsOf(path, sql);
    }
}

void openOnce(const QString& folder)
{
    CustomerStore store;
    store.ConnectToDatabase(CustomerStore::connectionText(folder + QLatin1Char('/')));
    store.CloseDatabase();
}

const QString kServerCard = QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\nUID:dal-server\r\nN:Rossi;Mario;;;\r\n"
                                           "FN:Mario Rossi\r\nEMAIL:mario@example.org\r\nEND:VCARD\r\n");
const QString kKeptCard = QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\nUID:kept-2\r\nN:Bianchi;Lucia;;;\r\n"
                                         "FN:Lucia Bianchi\r\nNOTE:una nota\r\nEND:VCARD\r\n");

} // namespace

class tst_Schema : public QObject
{
    Q_OBJECT

private slots:
    void earlierBooksReachTheCurrentVersion_data()
    {
        QTest::addColumn<QStringList>("statements");
        QTest::addColumn<QStringList>("cards"); // CustID|Uid|Card for the cards that must come through as they were

        const QStringList contacts {
            Schema::customerTableSql(),
            QStringLiteral("INSERT INTO Customer VALUES (1, 'Rossi', 'Mario', 'Via Po 1', 'TO', '', '3331234567', "
                           "'Torino')"),
            QStringLiteral("INSERT INTO Customer VALUES (2, 'Bianchi', 'Lucia', 'Via Roma 2', 'MI', '', NULL, "
                           "'Milano')"),
            QStringLiteral("INSERT INTO Customer VALUES (3, 'D''Amico', 'Pia', '', '', '', '', 'Forlì')"),
        };
        QTest::newRow("only Customer") << contacts << QStringList();

        // The release before: cards without their agreement, and synced cards kept in CustomerSync.
        QStringList previous = contacts;
        previous << QStringLiteral("CREATE TABLE CustomerCard (CustID INTEGER PRIMARY KEY, Uid TEXT NOT NULL, "
                                   "Card BLOB NOT NULL)")
                 << QStringLiteral("CREATE TRIGGER CustomerCardDeleted AFTER DELETE ON Customer BEGIN DELETE FROM "
                                   "CustomerCard WHERE CustID = OLD.CustID; END")
                 << QStringLiteral("INSERT INTO CustomerCard VALUES (1, 'old-1', X'')")
                 << QStringLiteral("INSERT INTO CustomerCard VALUES (2, 'kept-2', CAST('%1' AS BLOB))").arg(kKeptCard)
                 << QStringLiteral("INSERT INTO CustomerCard VALUES (3, 'old-3', X'')")
                 << QStringLiteral("CREATE TABLE CustomerSync (Href TEXT PRIMARY KEY, CustID INTEGER NOT NULL, "
                                   "ETag TEXT NOT NULL, Digest TEXT NOT NULL, Card TEXT NOT NULL, "
                                   "Deleted INTEGER NOT NULL DEFAULT 0)")
                 << QStringLiteral("INSERT INTO CustomerSync VALUES ('/r/1.vcf', 1, '\"e1\"', 'd1', '%1', 0)")
                        .arg(kServerCard)
                 << QStringLiteral("CREATE TABLE CustomerSyncState (Name TEXT PRIMARY KEY, Value TEXT NOT NULL)")
                 << QStringLiteral("INSERT INTO CustomerSyncState VALUES ('linkedBook', 'http://x/r/')");
        QTest::newRow("previous release")
            << previous
            << QStringList {QStringLiteral("1|dal-server|") + kServerCard, QStringLiteral("2|kept-2|") + kKeptCard};
    }

    void earlierBooksReachTheCurrentVersion()
    {
        QFETCH(QStringList, statements);
        QFETCH(QStringList, cards);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("Cust.mdb"));
        run(path, statements);
        const QString contacts = QStringLiteral("SELECT * FROM Customer ORDER BY CustID");
        const QStringList before = rowsOf(path, contacts);

        openOnce(dir.path());

        QCOMPARE(rowsOf(path, QStringLiteral("PRAGMA user_version")), QStringList {QString::number(Schema::kVersion)});
        QCOMPARE(rowsOf(path, contacts), before);
        for (const QString& card : std::as_const(cards)) {
            const QString key = card.section(QLatin1Char('|'), 0, 0);
            QCOMPARE(rowsOf(path,
                            QStringLiteral("SELECT CustID, Uid, CAST(Card AS TEXT) FROM CustomerCard WHERE CustID = ")
                                + key),
                     QStringList {card});
        }
        // Every contact has its card row and a UID of its own; the sync's table holds no card any more.
        QCOMPARE(
            rowsOf(path, QStringLiteral("SELECT count(DISTINCT Uid) FROM CustomerCard JOIN Customer USING (CustID)")),
            QStringList {QStringLiteral("3")});
        QCOMPARE(
            rowsOf(path, QStringLiteral("SELECT count(*) FROM pragma_table_info('CustomerSync') WHERE name = 'Card'")),
            QStringList {QStringLiteral("0")});

        // The tables and triggers are a new book's: another program's contact gets its card, a deletion takes it.
        const QStringList uids = rowsOf(path, QStringLiteral("SELECT Uid FROM CustomerCard ORDER BY CustID"));
        run(path,
            {QStringLiteral("INSERT INTO Customer (CustID, FirstName) VALUES (4, 'Neri')"),
             QStringLiteral("DELETE FROM Customer WHERE CustID = 3"),
             QStringLiteral("INSERT INTO CustomerNotDuplicate VALUES (1, 2)")});
        QCOMPARE(rowsOf(path, QStringLiteral("SELECT CustID FROM CustomerCard ORDER BY CustID")),
                 (QStringList {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("4")}));
        QCOMPARE(rowsOf(path,
                        QStringLiteral("SELECT count(*) FROM pragma_table_info('CustomerCard') WHERE name = 'Agrees'")),
                 QStringList {QStringLiteral("1")});

        // A second opening changes nothing.
        openOnce(dir.path());
        QCOMPARE(rowsOf(path, QStringLiteral("SELECT Uid FROM CustomerCard WHERE CustID < 3 ORDER BY CustID")),
                 uids.mid(0, 2));
    }
};

QTEST_GUILESS_MAIN(tst_Schema)
#include "tst_schema.moc"
