// Each contact's whole card through the main window: what "Salva", "Aggiungi" and "Elimina" do to it.
#include "MainWindowDriver.h"
#include "ScriptedMessageBox.h"
#include "TestDatabase.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

using mkdb::ContactRow;

namespace {

struct StoredCard
{
    QString uid;
    QByteArray card;
};

// The CustomerCard rows by key, read on a connection of their own.
QMap<int, StoredCard> storedCards(const TestDatabase& db)
{
    QMap<int, StoredCard> cards;
    {
        QSqlDatabase sql = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("cards"));
        sql.setDatabaseName(db.path());
        if (sql.open()) {
            QSqlQuery query(sql);
            query.exec(QStringLiteral("SELECT CustID, Uid, Card FROM CustomerCard"));
            while (query.next()) {
                cards.insert(query.value(0).toInt(), {query.value(1).toString(), query.value(2).toByteArray()});
            }
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("cards"));
    return cards;
}

// Writes a card as a sync or an import would have left it.
void keepCard(const TestDatabase& db, int key, const QString& uid, const QByteArray& card)
{
    {
        QSqlDatabase sql = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("cards"));
        sql.setDatabaseName(db.path());
        QVERIFY(sql.open());
        QSqlQuery query(sql);
        query.prepare(QStringLiteral("INSERT OR REPLACE INTO CustomerCard (CustID, Uid, Card) VALUES (?, ?, ?)"));
        query.addBindValue(key);
        query.addBindValue(uid);
        query.addBindValue(card);
        QVERIFY2(query.exec(), qPrintable(query.lastError().text()));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("cards"));
}

const QByteArray kCard = "BEGIN:VCARD\r\n"
                         "VERSION:3.0\r\n"
                         "N:Bianchi;Bruno;;;\r\n"
                         "FN:Bruno Bianchi\r\n"
                         "ADR;TYPE=HOME:;;Via 2;Milano;MI;20121;Italia\r\n"
                         "TEL;TYPE=CELL:3330000002\r\n"
                         "TEL;TYPE=HOME:0212345679\r\n"
                         "EMAIL;TYPE=INTERNET:bruno@example.org\r\n"
                         "TEL;TYPE=WORK:+39 02 1234567\r\n"
                         "NOTE:Collega di Anna\r\n"
                         "X-SCONOSCIUTO;PARAM=1:byte per byte\r\n"
                         "UID:bruno-del-telefono\r\n"
                         "END:VCARD\r\n";

QList<ContactRow> threeContacts()
{
    return {{1, "Rossi", "Anna", "Via 1", "Milano", "MI", "3330000001", "0212345678"},
            {2, "Bianchi", "Bruno", "Via 2", "Milano", "MI", "3330000002", "0212345679"},
            {3, "Verdi", "Carla", "Via 3", "Milano", "MI", "3330000003", QVariant()}};
}

int rowOfKey(const MainWindowDriver& main, int key)
{
    for (int i = 1; i <= main.list()->itemCount(); ++i) {
        if (main.list()->subItem(i, 7) == QString::number(key)) {
            return i;
        }
    }
    return 0;
}

} // namespace

class TestContactDetails : public QObject
{
    Q_OBJECT

private slots:
    void windowKeepsEachCard();
};

// "Salva" edits only the card line of the changed field; a deleted contact's card goes with it, and the key given out
// again comes with a new UID.
void TestContactDetails::windowKeepsEachCard()
{
    TestDatabase db(threeContacts());
    ScriptedMessageBox boxes;
    {
        MainWindowDriver opened;
    }
    keepCard(db, 2, QStringLiteral("bruno-del-telefono"), kCard);
    MainWindowDriver main;
    const QMap<int, StoredCard> before = storedCards(db);
    QCOMPARE(before.size(), 3);

    main.clickRow(rowOfKey(main, 2));
    main.click("cmdUpdate");
    main.type("txtAddr", QStringLiteral("Corso Italia 9"));
    main.click("cmdSave");
    QVERIFY(main.browsing());
    const QByteArray edited = storedCards(db).value(2).card;
    QCOMPARE(QString::fromUtf8(edited),
             QString::fromUtf8(kCard).replace(QStringLiteral("Via 2;Milano"), QStringLiteral("Corso Italia 9;Milano")));
    QCOMPARE(storedCards(db).value(2).uid, QStringLiteral("bruno-del-telefono"));

    main.clickRow(rowOfKey(main, 3));
    boxes.expect(MessageBox::Yes);
    main.click("cmdDelete");
    QVERIFY(!storedCards(db).contains(3));

    main.click("cmdAdd");
    main.type("txtFirst", QStringLiteral("Neri"));
    main.click("cmdSave");
    const QMap<int, StoredCard> after = storedCards(db);
    QCOMPARE(after.keys(), (QList<int> {1, 2, 3}));
    QVERIFY(!after.value(3).uid.isEmpty());
    QVERIFY(after.value(3).uid != before.value(3).uid);
    QVERIFY(after.value(3).uid != after.value(1).uid);
    QCOMPARE(after.value(1).uid, before.value(1).uid);
}

QTEST_MAIN(TestContactDetails)
#include "tst_contactdetails.moc"
