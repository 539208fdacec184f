// Two-way sync between a real Cust.mdb and a real server: the first sync both ways, additions, changes and deletions
// on each side, conflicts, cards with what the program does not keep, and syncs cut short by a stopped server or a
// stop at any step. After each, a sync again leaves both sides equal and a further one finds nothing to do. All of it
// runs on Radicale, then on Xandikos behind a proxy that answers writes without their version tag: every later write
// must still carry the tag it expects.
#include "data/BookRestore.h"
#include "data/ContactCards.h"
#include "data/ContactUndo.h"
#include "data/CustomerStore.h"
#include "data/DailyBackup.h"
#include "data/Duplicates.h"
#include "exchange/CardEdit.h"
#include "support/DavServer.h"
#include "support/SyncScript.h"
#include "support/TestDatabase.h"
#include "sync/CardDavClient.h"
#include "sync/ContactSync.h"

#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTest>

namespace {

// The rows of a query on a connection of its own, each row's columns joined by '|'.
QStringList query(const TestDatabase& db, const QString& sql)
{
    QStringList rows;
    {
        QSqlDatabase connection = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("query"));
        connection.setDatabaseName(db.path());
        connection.open();
        QSqlQuery q(connection);
        q.exec(sql);
        while (q.next()) {
            QStringList columns;
            for (int i = 0; i < q.record().count(); ++i) {
                columns.append(q.value(i).toString());
            }
            rows.append(columns.join(QLatin1Char('|')));
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("query"));
    return rows;
}

const QString kRossi = QStringLiteral("Rossi;Mario;Via Po 1;Torino;TO;3331234567;011123456");
const QString kVerdi = QStringLiteral("Verdi;Anna;;;;;");

} // namespace

Q_DECLARE_METATYPE(ConflictChoice)
Q_DECLARE_METATYPE(DeletionChoice)

class tst_ContactSync : public QObject
{
    Q_OBJECT

public:
    tst_ContactSync(DavServer::Kind kind, bool dropWriteTags)
        : m_server(kind)
    {
        qRegisterMetaType<ConflictChoice>();
        qRegisterMetaType<DeletionChoice>();
        m_server.setDropWriteTags(dropWriteTags);
        m_server.setFaultable(true);
    }

private:
    DavServer m_server;
    QUrl m_book;
    int m_books = 0;
    int m_requestsSeen = 0;
    CardDavLimits m_limits;
    int m_timeout = 30000;

    QUrl freshBook()
    {
        ++m_books;
        return m_book = m_server.addAddressBook(QStringLiteral("rubrica%1").arg(m_books), QStringLiteral("Rubrica"));
    }

    SyncOutcome sync(TestDatabase& db,
                     ConflictResolver* resolver = nullptr,
                     const Progress& progress = {},
                     const DeletionGuard& guard = {})
    {
        CustomerStore store;
        store.ConnectToDatabase(CustomerStore::connectionText(db.folder() + QLatin1Char('/')));
        CardDavClient client(m_book, m_server.user(), m_server.password());
        client.setLimits(m_limits);
        client.setTimeout(m_timeout);
        ContactSync sync(store, client, m_book);
        sync.setResolver(resolver);
        sync.setProgress(progress);
        sync.setDeletionGuard(guard);
        sync.setBatchSize(4); // many steps from few contacts
        struct Close
        {
            CustomerStore& store;
            ~Close() { store.CloseDatabase(); }
        } close {store};
        return sync.run();
    }

    static QStringList here(const TestDatabase& db) { return contactsOf(db); }

    QList<Card> cards()
    {
        CardDavClient phone(m_book, m_server.user(), m_server.password());
        QStringList hrefs;
        for (const CardEntry& entry : phone.listCards(m_book)) {
            hrefs.append(entry.href);
        }
        return phone.fetchCards(m_book, hrefs);
    }

    QStringList there()
    {
        QStringList contacts;
        for (const Card& card : cards()) {
            ContactFields fields;
            if (fieldsOfCard(card.data, fields)) {
                contacts.append(textOf(fields));
            }
        }
        contacts.sort();
        return contacts;
    }

    Card cardOf(const QString& surname)
    {
        for (const Card& card : cards()) {
            if (card.data.contains("N:" + surname.toUtf8() + ';')) {
                return card;
            }
        }
        return {};
    }

    void phonePut(const QString& name, const QByteArray& data)
    {
        CardDavClient phone(m_book, m_server.user(), m_server.password());
        phone.createCard(m_book, name, data);
    }

    void phoneEdit(const QString& surname, const QByteArray& from, const QByteArray& to)
    {
        const Card card = cardOf(surname);
        QVERIFY(card.data.contains(from));
        CardDavClient phone(m_book, m_server.user(), m_server.password());
        phone.updateCard(card.href, card.etag, QByteArray(card.data).replace(from, to));
    }

    void phoneDelete(const QString& surname)
    {
        const Card card = cardOf(surname);
        QVERIFY(!card.href.isEmpty());
        CardDavClient phone(m_book, m_server.user(), m_server.password());
        phone.deleteCard(card.href, card.etag);
    }

    // Rossi (key 2) edited, deleted or given a new contact here, and edited or deleted there.
    void change(TestDatabase& db, const QString& hereOp, const QString& thereOp)
    {
        if (hereOp == QLatin1String("edit")) {
            QCOMPARE(db.exec(QStringLiteral("UPDATE Customer SET City = 'Milano' WHERE CustID = 2")), QString());
        } else if (hereOp == QLatin1String("edit-cell")) {
            QCOMPARE(db.exec(QStringLiteral("UPDATE Customer SET Zip = '3339999999' WHERE CustID = 2")), QString());
        } else if (hereOp == QLatin1String("delete+undo")) {
            CustomerStore store;
            store.ConnectToDatabase(CustomerStore::connectionText(db.folder() + QLatin1Char('/')));
            const QList<KeptContact> kept = ContactUndo::keep(store, {2});
            QCOMPARE(db.exec(QStringLiteral("DELETE FROM Customer WHERE CustID = 2")), QString());
            QCOMPARE(ContactUndo::bringBack(store, kept).first().key, 2);
            store.CloseDatabase();
        } else if (hereOp.startsWith(QLatin1String("delete"))) {
            QCOMPARE(db.exec(QStringLiteral("DELETE FROM Customer WHERE CustID = 2")), QString());
        }
        if (hereOp.endsWith(QLatin1String("add"))) {
            QCOMPARE(db.exec(QStringLiteral("INSERT INTO Customer (CustID, FirstName, LastName, Address, City, "
                                            "State, Zip, PhoneNumber) VALUES (%1, 'Gialli', 'Ugo', '', '', '', "
                                            "'', '')")
                                 .arg(hereOp == QLatin1String("add") ? 3 : 2)),
                     QString());
        }
        if (thereOp == QLatin1String("edit")) {
            phoneEdit(QStringLiteral("Rossi"), "3331234567", "3339999999");
        } else if (thereOp == QLatin1String("delete")) {
            phoneDelete(QStringLiteral("Rossi"));
        }
    }

    // Both sides hold exactly the contacts, and one more sync changes nothing.
    void verifySettled(TestDatabase& db, QStringList contacts)
    {
        contacts.sort();
        QCOMPARE(here(db), contacts);
        QCOMPARE(there(), contacts);
        const SyncOutcome again = sync(db);
        QCOMPARE(again.summary(), SyncOutcome().summary());
        QCOMPARE(here(db), contacts);
    }

private slots:
    void initTestCase()
    {
        qInfo("server: %s%s",
              qPrintable(m_server.name()),
              m_server.dropsWriteTags() ? ", writes answered without their tag" : "");
        QVERIFY2(m_server.start(), qPrintable(m_server.error()));
    }

    // Nothing on the server is overwritten or deleted blindly, even when the server gave no tag for a write.
    void cleanup()
    {
        m_server.setFaults({});
        m_limits = CardDavLimits();
        m_timeout = 30000;
        const QStringList requests = m_server.requests().mid(m_requestsSeen);
        m_requestsSeen += int(requests.size());
        for (const QString& request : requests) {
            if (request.startsWith(QLatin1String("PUT ")) || request.startsWith(QLatin1String("DELETE "))) {
                QVERIFY2(request.contains(QLatin1String(" If-Match=\""))
                             || request.endsWith(QLatin1String(" If-None-Match=*")),
                         qPrintable(request));
            }
        }
    }

    void firstSyncGoesBothWaysWithoutDoubles()
    {
        freshBook();
        const QString twin = QStringLiteral("Bianchi;Luca;;Roma;RM;;0612345678");
        TestDatabase db({rowOf(1, kRossi), rowOf(2, twin), rowOf(3, twin)});
        phonePut(QStringLiteral("a.vcf"),
                 "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:a\r\nN:Bianchi;Luca;;;\r\nFN:Luca Bianchi\r\nADR:;;;Roma;RM;;\r\n"
                 "TEL:+39 06 1234 5678\r\nEND:VCARD\r\n");
        phonePut(
            QStringLiteral("b.vcf"),
            "BEGIN:VCARD\r\nVERSION:4.0\r\nUID:b\r\nFN:Neri Giulia\r\nTEL;TYPE=cell:333 777 8888\r\nEND:VCARD\r\n");
        // Only a mail address: a contact named by it, as the import reads it.
        phonePut(QStringLiteral("c.vcf"),
                 "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:c\r\nN:;;;;\r\nFN:\r\nEMAIL:x@example.org\r\nEND:VCARD\r\n");

        // The sync table as the first release of the sync made it, without the column added since.
        QCOMPARE(db.exec(QStringLiteral("CREATE TABLE CustomerSync (Href TEXT PRIMARY KEY, CustID INTEGER NOT NULL, "
                                        "ETag TEXT NOT NULL, Digest TEXT NOT NULL, Card TEXT NOT NULL, "
                                        "Deleted INTEGER NOT NULL DEFAULT 0)")),
                 QString());

        const SyncOutcome outcome = sync(db);
        QCOMPARE(outcome.addedHere, 2);
        QCOMPARE(outcome.linked, 1);
        QCOMPARE(outcome.addedThere, 2); // Rossi and the second Bianchi
        QVERIFY2(outcome.summary().contains(QStringLiteral("; 1 contatto già presente su entrambi")),
                 qPrintable(outcome.summary()));
        verifySettled(db,
                      {kRossi, twin, twin, QStringLiteral("Giulia;Neri;;;;3337778888;"), QStringLiteral("x;;;;;;")});
        QCOMPARE(m_server.cardFiles(QStringLiteral("rubrica%1").arg(m_books)).size(), 5);
    }

    void changesAndDeletionsFlowBothWays_data()
    {
        QTest::addColumn<QString>("hereOp");
        QTest::addColumn<QString>("thereOp");
        QTest::addColumn<QStringList>("expected");
        const QString rossiMilano = QString(kRossi).replace(QLatin1String("Torino"), QLatin1String("Milano"));
        const QString rossiNewCell = QString(kRossi).replace(QLatin1String("3331234567"), QLatin1String("3339999999"));
        QTest::newRow("nothing") << ""
                                 << "" << QStringList {kRossi, kVerdi};
        QTest::newRow("changed here") << "edit"
                                      << "" << QStringList {rossiMilano, kVerdi};
        QTest::newRow("changed there") << ""
                                       << "edit" << QStringList {rossiNewCell, kVerdi};
        QTest::newRow("deleted here") << "delete"
                                      << "" << QStringList {kVerdi};
        QTest::newRow("deleted there") << ""
                                       << "delete" << QStringList {kVerdi};
        QTest::newRow("deleted on both sides") << "delete"
                                               << "delete" << QStringList {kVerdi};
        QTest::newRow("changed here, deleted there: kept, changed") << "edit"
                                                                    << "delete" << QStringList {rossiMilano, kVerdi};
        QTest::newRow("deleted here, changed there: kept, changed") << "delete"
                                                                    << "edit" << QStringList {rossiNewCell, kVerdi};
        QTest::newRow("deleted here, its key given to a new contact")
            << "delete+add"
            << "" << QStringList {QStringLiteral("Gialli;Ugo;;;;;"), kVerdi};
        // An undone delete is a new contact to the sync: its old card goes, it goes up again, never doubled.
        QTest::newRow("deleted here, then undone") << "delete+undo"
                                                   << "" << QStringList {kRossi, kVerdi};
        QTest::newRow("deleted here, undone; changed there meanwhile: both kept")
            << "delete+undo"
            << "edit" << QStringList {kRossi, rossiNewCell, kVerdi};
        QTest::newRow("changed both sides alike") << "edit-cell"
                                                  << "edit" << QStringList {rossiNewCell, kVerdi};
        QTest::newRow("changed both sides differently: both kept")
            << "edit"
            << "edit" << QStringList {rossiMilano, rossiNewCell, kVerdi};
    }
    void changesAndDeletionsFlowBothWays()
    {
        QFETCH(QString, hereOp);
        QFETCH(QString, thereOp);
        QFETCH(QStringList, expected);
        freshBook();
        // Rossi has the largest key, so a new contact after its deletion gets the same one.
        TestDatabase db({rowOf(1, kVerdi), rowOf(2, kRossi)});
        sync(db);
        QCOMPARE(there(), QStringList({kRossi, kVerdi}));
        const QString rossiCard = cardOf(QStringLiteral("Rossi")).href;

        change(db, hereOp, thereOp);
        ScriptedResolver keepBoth(ConflictChoice::KeepBoth);
        sync(db, &keepBoth);
        verifySettled(db, expected);
        if (hereOp == QLatin1String("delete+add")) {
            // The new contact is a card of its own, not the deleted one's card (with its mail and photo) rewritten.
            for (const Card& card : cards()) {
                QVERIFY(card.href != rossiCard);
            }
        }
    }

    // What Radicale never does: a report that leaves out a card, a token refused, a write refused or overtaken, no
    // version tags at all. Nothing is lost, nothing taken for done that was not, and the next sync settles.
    void oddServerAnswersLoseNothing_data()
    {
        QTest::addColumn<QString>("fault"); // %rossi: the path of Rossi's card
        QTest::addColumn<bool>("firstToo"); // the first sync meets the fault too
        QTest::addColumn<QString>("hereOp");
        QTest::addColumn<QString>("thereOp");
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("pending");
        QTest::addColumn<QStringList>("expected");
        const QString rossiMilano = QString(kRossi).replace(QLatin1String("Torino"), QLatin1String("Milano"));
        const QString rossiNewCell = QString(kRossi).replace(QLatin1String("3331234567"), QLatin1String("3339999999"));
        const QString gialli = QStringLiteral("Gialli;Ugo;;;;;");
        QTest::newRow("a card written here left out of the report")
            << QStringLiteral("omit-report %rossi") << false << ""
            << ""
            << "" << 0 << QStringList {kRossi, kVerdi};
        QTest::newRow("token refused, a card deleted there") << QStringLiteral("refuse-token") << false << ""
                                                             << "delete"
                                                             << "" << 0 << QStringList {kVerdi};
        QTest::newRow("token refused, a card changed there") << QStringLiteral("refuse-token") << false << ""
                                                             << "edit"
                                                             << "" << 0 << QStringList {rossiNewCell, kVerdi};
        QTest::newRow("a new card refused: no room")
            << QStringLiteral("refuse-create 507") << false << "add"
            << "" << QStringLiteral("spazio") << 0 << QStringList {kRossi, kVerdi, gialli};
        QTest::newRow("a new card refused: forbidden")
            << QStringLiteral("refuse-create 403") << false << "add"
            << "" << QStringLiteral("non consente") << 0 << QStringList {kRossi, kVerdi, gialli};
        QTest::newRow("a card changed there during the sync") << QStringLiteral("refuse-update 412") << false << "edit"
                                                              << ""
                                                              << "" << 1 << QStringList {rossiMilano, kVerdi};
        QTest::newRow("no version tags") << QStringLiteral("no-etags") << true << ""
                                         << "edit"
                                         << "" << 0 << QStringList {rossiNewCell, kVerdi};
    }
    void oddServerAnswersLoseNothing()
    {
        QFETCH(QString, fault);
        QFETCH(bool, firstToo);
        QFETCH(QString, hereOp);
        QFETCH(QString, thereOp);
        QFETCH(QString, error);
        QFETCH(int, pending);
        QFETCH(QStringList, expected);
        freshBook();
        TestDatabase db({rowOf(1, kVerdi), rowOf(2, kRossi)});
        m_server.setFaults(firstToo ? QStringList {fault} : QStringList {});
        sync(db);
        m_server.setFaults({});
        QCOMPARE(there(), QStringList({kRossi, kVerdi}));
        change(db, hereOp, thereOp);

        m_server.setFaults({QString(fault).replace(QLatin1String("%rossi"), cardOf(QStringLiteral("Rossi")).href)});
        QString failure;
        SyncOutcome outcome;
        try {
            outcome = sync(db);
        } catch (const ado::Error& e) {
            failure = e.description();
        }
        m_server.setFaults({});
        if (error.isEmpty()) {
            QVERIFY2(failure.isEmpty(), qPrintable(failure));
            QCOMPARE(outcome.pending, pending);
        } else {
            QVERIFY2(failure.contains(error), qPrintable(failure));
        }
        expected.sort();
        QCOMPARE(here(db), expected);
        sync(db);
        verifySettled(db, expected);
    }

    // A card the program cannot read is named and left on both sides, the rest syncs, and the card is read again at
    // every sync until it can be.
    void aBadCardIsSkippedAndTriedAgain_data()
    {
        QTest::addColumn<QString>("how"); // "file": written into the server's folder; "put": sent as a phone would
        QTest::addColumn<QByteArray>("card");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<qint64>("cardBytes");
        QTest::addColumn<QString>("named");
        QTest::addColumn<QString>("contact");
        const CardDavLimits limits;
        QTest::newRow("a control character")
            << "file"
            << QByteArray(
                   "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:neri\r\nN:Neri;Bruno;;;\r\nFN:Bruno \x01Neri\r\nEND:VCARD\r\n")
            << "" << limits.cardBytes << "bad.vcf (Bruno Neri)"
            << "Neri;Bruno;;;;;";
        QTest::newRow("bytes that are not UTF-8")
            << "put"
            << QStringLiteral(
                   "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:lati\r\nN:Làti;Carla;;;\r\nFN:Carla Làti\r\nEND:VCARD\r\n")
                   .toUtf8()
            << "latin1" << limits.cardBytes << "bad.vcf (Carla L" << QStringLiteral("Làti;Carla;;;;;");
        QTest::newRow("larger than a card may be")
            << "put"
            << "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:nota\r\nN:Nota;Lunga;;;\r\nFN:Lunga Nota\r\nNOTE:"
                + QByteArray(10000, 'x') + "\r\nEND:VCARD\r\n"
            << "" << qint64(4096) << "bad.vcf"
            << "Nota;Lunga;;;;;";
    }
    void aBadCardIsSkippedAndTriedAgain()
    {
        QFETCH(QString, how);
        QFETCH(QByteArray, card);
        QFETCH(QString, fault);
        QFETCH(qint64, cardBytes);
        QFETCH(QString, named);
        QFETCH(QString, contact);
        freshBook();
        const QString book = QStringLiteral("rubrica%1").arg(m_books);
        TestDatabase db({rowOf(1, kVerdi)});
        phonePut(QStringLiteral("b.vcf"),
                 "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:b\r\nN:Bianchi;Luca;;;\r\nFN:Luca Bianchi\r\nEND:VCARD\r\n");
        if (how == QLatin1String("put")) {
            phonePut(QStringLiteral("bad.vcf"), card);
        } else if (!m_server.writeCardFile(book, QStringLiteral("bad.vcf"), card)) {
            QSKIP("only Radicale's cards can be written as files");
        }
        m_server.setFaults(fault.isEmpty() ? QStringList() : QStringList {fault});
        m_limits.cardBytes = cardBytes;
        const QString bianchi = QStringLiteral("Bianchi;Luca;;;;;");
        for (int run = 0; run < 2; ++run) {
            const SyncOutcome outcome = sync(db);
            QCOMPARE(outcome.skipped.size(), 1);
            QVERIFY2(outcome.skipped.first().contains(named), qPrintable(outcome.skipped.first()));
            QVERIFY2(outcome.summary().contains(QStringLiteral("1 scheda del server non leggibile saltata")),
                     qPrintable(outcome.summary()));
            QCOMPARE(here(db), QStringList({bianchi, kVerdi}));
        }

        // Mended there (or readable after all): the next sync takes it.
        m_server.setFaults({});
        m_limits = CardDavLimits();
        if (how == QLatin1String("file")) {
            QVERIFY(m_server.writeCardFile(book, QStringLiteral("bad.vcf"), QByteArray(card).replace('\x01', "")));
        }
        const SyncOutcome outcome = sync(db);
        QVERIFY(outcome.skipped.isEmpty());
        QCOMPARE(outcome.addedHere, 1);
        verifySettled(db, {bianchi, kVerdi, contact});
    }

    // An answer without end stops the sync at the stated limit, or when its time is up, with nothing applied on either
    // side, an Italian message and no warning.
    void anEndlessAnswerIsRefused_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("message");
        QTest::newRow("a card without end") << "endless card" << QStringLiteral("una scheda di oltre 256 kB");
        QTest::newRow("entries without end") << "endless entries" << QStringLiteral("oltre 2000 schede");
        QTest::newRow("an answer too large")
            << "endless entries+bytes" << QStringLiteral("La risposta del server supera 1 MB");
        QTest::newRow("a byte a second") << "trickle"
                                         << QStringLiteral("ha smesso di rispondere o è troppo lento: la risposta "
                                                           "non è arrivata per intero in 2 secondi");
    }
    void anEndlessAnswerIsRefused()
    {
        QFETCH(QString, fault);
        QFETCH(QString, message);
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
        freshBook();
        TestDatabase db({rowOf(1, kVerdi)});
        m_limits.cardBytes = 256 * 1024;
        m_limits.entries = fault.endsWith(QLatin1String("entries")) ? 2000 : 1000000;
        m_limits.answerBytes = 1024 * 1024;
        m_timeout = 2000;
        m_server.setFaults({fault.section(QLatin1Char('+'), 0, 0)});
        QString failure;
        try {
            sync(db);
        } catch (const CardDavError& error) {
            failure = error.description();
        }
        QVERIFY2(failure.contains(message), qPrintable(failure));
        m_server.setFaults({});
        QCOMPARE(here(db), QStringList {kVerdi});
        QCOMPARE(there(), QStringList());
    }

    // More cards than are read at once: each batch is read and applied in turn, and none is missed at the seams.
    void manyCardsComeInBatches()
    {
        freshBook();
        TestDatabase db;
        QList<CardDavClient::NewCard> cards;
        QStringList expected;
        for (int i = 1; i <= 401; ++i) {
            cards.append({QStringLiteral("m%1.vcf").arg(i),
                          QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\nUID:m%1\r\nN:Molti%1;Ugo;;;\r\n"
                                         "FN:Ugo Molti%1\r\nEND:VCARD\r\n")
                              .arg(i)
                              .toUtf8()});
            expected.append(QStringLiteral("Molti%1;Ugo;;;;;").arg(i));
        }
        CardDavClient phone(m_book, m_server.user(), m_server.password());
        phone.createCards(m_book, cards);
        QCOMPARE(sync(db).addedHere, 401);
        verifySettled(db, expected);
    }

    // Another address book is a first sync: nothing here is taken as deleted there.
    void anotherAddressBookDeletesNothing()
    {
        freshBook();
        TestDatabase db({rowOf(1, kVerdi), rowOf(2, kRossi)});
        sync(db);
        freshBook();
        const SyncOutcome outcome = sync(db);
        QCOMPARE(outcome.deletedHere, 0);
        QCOMPARE(outcome.addedThere, 2);
        verifySettled(db, {kRossi, kVerdi});
    }

    // Two equal cards there and one such contact here: one is linked, the other becomes a contact of its own.
    void twoEqualCardsAreTwoContacts()
    {
        freshBook();
        TestDatabase db({rowOf(1, kVerdi)});
        for (const char* uid : {"v-1", "v-2"}) {
            phonePut(QString::fromLatin1(uid) + QLatin1String(".vcf"),
                     "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + QByteArray(uid)
                         + "\r\nN:Verdi;Anna;;;\r\nFN:Anna Verdi\r\nEND:VCARD\r\n");
        }
        const SyncOutcome outcome = sync(db);
        QCOMPARE(outcome.linked, 1);
        QCOMPARE(outcome.addedHere, 1);
        QCOMPARE(outcome.addedThere, 0);
        verifySettled(db, {kVerdi, kVerdi});
    }

    // A whole book restored from a copy made before a deletion that the sync already carried to the server: the
    // contact stays, and goes up again; nothing is doubled.
    void aRestoredBookLosesNothing()
    {
        freshBook();
        TestDatabase db({rowOf(1, kVerdi), rowOf(2, kRossi)});
        sync(db);
        const QString copy = DailyBackup::run(db.path(), QDate(2026, 12, 1)).made;
        QVERIFY(!copy.isEmpty());
        QCOMPARE(db.exec(QStringLiteral("DELETE FROM Customer WHERE CustID = 2")), QString());
        sync(db);
        QCOMPARE(there(), QStringList {kVerdi});
        QVERIFY(!BookRestore::replaceBook(db.path(), copy, QDate(2026, 12, 2)).isEmpty());
        sync(db);
        verifySettled(db, {kRossi, kVerdi});
    }

    void aConflictIsResolvedAsTheUserChooses_data()
    {
        QTest::addColumn<ConflictChoice>("choice");
        QTest::addColumn<QStringList>("expected");
        const QString here = QString(kRossi).replace(QLatin1String("Torino"), QLatin1String("Milano"));
        const QString server = QString(kRossi).replace(QLatin1String("Via Po 1"), QLatin1String("Corso Francia 9"));
        QTest::newRow("this version") << ConflictChoice::KeepHere << QStringList {here};
        QTest::newRow("the server's version") << ConflictChoice::KeepServer << QStringList {server};
        QTest::newRow("both") << ConflictChoice::KeepBoth << QStringList {here, server};
    }
    void aConflictIsResolvedAsTheUserChooses()
    {
        QFETCH(ConflictChoice, choice);
        QFETCH(QStringList, expected);
        freshBook();
        TestDatabase db({rowOf(1, kRossi)});
        sync(db);
        QCOMPARE(db.exec(QStringLiteral("UPDATE Customer SET City = 'Milano' WHERE CustID = 1")), QString());
        phoneEdit(QStringLiteral("Rossi"), ";;Via Po 1;", ";;Corso Francia 9;");
        const QString changedHere = QString(kRossi).replace(QLatin1String("Torino"), QLatin1String("Milano"));
        const QString changedThere
            = QString(kRossi).replace(QLatin1String("Via Po 1"), QLatin1String("Corso Francia 9"));

        // Nobody to ask (the command line): nothing is decided, twice over, and the summary names the contact.
        for (int run = 0; run < 2; ++run) {
            const SyncOutcome undecided = sync(db);
            QCOMPARE(undecided.undecided, QStringList {QStringLiteral("Rossi Mario")});
            QCOMPARE(undecided.conflicts, 0);
            QVERIFY2(undecided.summary().endsWith(QStringLiteral(
                         "; 1 contatto cambiato su entrambi i lati: Rossi Mario; aprire Velmarin per scegliere.")),
                     qPrintable(undecided.summary()));
            QCOMPARE(here(db), QStringList {changedHere});
            QCOMPARE(there(), QStringList {changedThere});
        }

        ScriptedResolver resolver(choice);
        const SyncOutcome outcome = sync(db, &resolver);
        QCOMPARE(outcome.conflicts, 1);
        QCOMPARE(resolver.asked,
                 QStringList {QString(kRossi).replace(QLatin1String("Torino"), QLatin1String("Milano"))
                              + QLatin1String(" | ")
                              + QString(kRossi).replace(QLatin1String("Via Po 1"), QLatin1String("Corso Francia 9"))});
        verifySettled(db, expected);
    }

    void whatTheProgramDoesNotKeepStaysOnTheCard()
    {
        freshBook();
        TestDatabase db;
        phonePut(QStringLiteral("r.vcf"),
                 "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:r-1\r\nN:Rossi;Mario;;;\r\nFN:Mario Rossi\r\n"
                 "EMAIL;TYPE=INTERNET:mario@example.org\r\nPHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRgABAQ==\r\n"
                 "NOTE:Chiamare dopo le 18\\, non prima\r\nADR;TYPE=HOME:;;Via Po 1;Torino;TO;10123;Italia\r\n"
                 "TEL;TYPE=CELL:3331234567\r\nTEL;TYPE=FAX:011999\r\nTEL;TYPE=WORK:011555\r\nBDAY:1970-01-01\r\n"
                 "END:VCARD\r\n");
        sync(db);
        QCOMPARE(here(db), QStringList {QStringLiteral("Rossi;Mario;Via Po 1;Torino;TO;3331234567;011555")});
        QCOMPARE(db.exec(QStringLiteral("UPDATE Customer SET City = 'Milano', Zip = '3400000000'")), QString());
        sync(db);

        const QByteArray card = cardOf(QStringLiteral("Rossi")).data;
        for (const char* kept : {"UID:r-1",
                                 "EMAIL;TYPE=INTERNET:mario@example.org",
                                 "PHOTO;ENCODING=b;TYPE=JPEG:/9j/4AAQSkZJRgABAQ==",
                                 "NOTE:Chiamare dopo le 18\\, non prima",
                                 "ADR;TYPE=HOME:;;Via Po 1;Milano;TO;10123;Italia",
                                 "TEL;TYPE=FAX:011999",
                                 "BDAY:1970-01-01",
                                 "TEL;TYPE=CELL:3400000000"}) {
            QVERIFY2(card.contains(kept), kept);
        }
        QVERIFY(!card.contains("3331234567"));
        verifySettled(db, {QStringLiteral("Rossi;Mario;Via Po 1;Milano;TO;3400000000;011555")});
    }

    // A merge reaches the server as one change of the kept card, which gains the other's e-mail, and the deletion of
    // the other card; nothing else is written.
    void aMergeIsOneChangeAndOneDeletion()
    {
        freshBook();
        TestDatabase db(
            {rowOf(1, kRossi), rowOf(2, QStringLiteral("Mario;Rossi;;Torino;;+39 333 1234567;")), rowOf(3, kVerdi)});
        sync(db);
        phoneEdit(QStringLiteral("Mario"), "END:VCARD", "EMAIL:m.rossi@lavoro.it\r\nEND:VCARD");
        sync(db);
        const QString kept = cardOf(QStringLiteral("Rossi")).href;
        const QString merged = cardOf(QStringLiteral("Mario")).href;
        {
            CustomerStore store;
            store.ConnectToDatabase(CustomerStore::connectionText(db.folder() + QLatin1Char('/')));
            const QList<DuplicateGroup> groups = Duplicates::find(store);
            QCOMPARE(groups.size(), 1);
            Duplicates::merge(store, groups.first(), 1, fieldsOf(kRossi));
            store.CloseDatabase();
        }
        const int before = int(m_server.requests().size());
        sync(db);
        QStringList writes;
        for (const QString& request : m_server.requests().mid(before)) {
            if (request.startsWith(QLatin1String("PUT ")) || request.startsWith(QLatin1String("DELETE "))) {
                writes.append(request.section(QLatin1Char(' '), 0, 0));
            }
        }
        writes.sort();
        // Only the proxy sees the requests.
        if (m_server.dropsWriteTags()) {
            QCOMPARE(writes, QStringList({"DELETE", "PUT"}));
        }
        QStringList hrefs;
        for (const Card& card : cards()) {
            hrefs.append(card.href);
        }
        QCOMPARE(hrefs.size(), 2);
        QVERIFY(hrefs.contains(kept) && !hrefs.contains(merged));
        QVERIFY(cardOf(QStringLiteral("Rossi")).data.contains("m.rossi@lavoro.it"));
        verifySettled(db, {kRossi, kVerdi});
    }

    // A merge undone before the next sync leaves the server as it was: the contact back is linked to its card again.
    void aMergeUndoneBeforeASyncChangesNothingThere()
    {
        freshBook();
        const QString twin = QStringLiteral("Mario;Rossi;;Torino;;3331234567;");
        TestDatabase db({rowOf(1, kRossi), rowOf(2, twin), rowOf(3, kVerdi)});
        sync(db);
        QList<Card> before = cards();
        {
            CustomerStore store;
            store.ConnectToDatabase(CustomerStore::connectionText(db.folder() + QLatin1Char('/')));
            const DuplicateGroup group = Duplicates::find(store).value(0);
            Duplicates::undoMerge(store, Duplicates::merge(store, group, 1, fieldsOf(kRossi)));
            store.CloseDatabase();
        }
        const SyncOutcome outcome = sync(db);
        QCOMPARE(outcome.summary(), SyncOutcome().summary());
        QList<Card> after = cards();
        const auto byHref = [](const Card& a, const Card& b) { return a.href < b.href; };
        std::sort(before.begin(), before.end(), byHref);
        std::sort(after.begin(), after.end(), byHref);
        QCOMPARE(after.size(), before.size());
        for (int i = 0; i < after.size(); ++i) {
            QCOMPARE(after.at(i).href, before.at(i).href);
            QCOMPARE(after.at(i).etag, before.at(i).etag);
        }
        verifySettled(db, {kRossi, twin, kVerdi});
    }

    // A '%' in what the server gives (an escaped comma in a card's address, a path) is kept as it is, and the
    // contact's later changes still go up to that path.
    void percentSignsFromTheServerAreKept()
    {
        freshBook();
        TestDatabase db;
        phonePut(QStringLiteral("Neri, Paolo.vcf"),
                 "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:neri%2C1\r\nN:Neri;Paolo;;;\r\nFN:Paolo Neri\r\n"
                 "URL:https://example.org/a%2Cb%1%25\r\nTEL;TYPE=CELL:3331234567\r\nEND:VCARD\r\n");
        sync(db);
        QCOMPARE(here(db), QStringList {QStringLiteral("Neri;Paolo;;;;3331234567;")});
        QCOMPARE(db.exec(QStringLiteral("UPDATE Customer SET City = 'Milano'")), QString());
        const SyncOutcome outcome = sync(db);
        QCOMPARE(outcome.changedThere, 1);
        QCOMPARE(outcome.pending, 0);

        const Card card = cardOf(QStringLiteral("Neri"));
        QVERIFY2(card.href.endsWith(QLatin1String("/Neri%2C%20Paolo.vcf")), qPrintable(card.href));
        QVERIFY(card.data.contains("URL:https://example.org/a%2Cb%1%25"));
        QVERIFY(card.data.contains("UID:neri%2C1"));
        verifySettled(db, {QStringLiteral("Neri;Paolo;;Milano;;3331234567;")});
    }

    // A sync killed after the server took a new card and before it was noted: the card is there under the contact's
    // UID, and the token kept already covers it. The next sync links it instead of stopping or sending it twice.
    void aCardSentButNotNotedIsLinked()
    {
        freshBook();
        TestDatabase db({rowOf(1, kRossi)});
        sync(db);
        QCOMPARE(db.exec(QStringLiteral("INSERT INTO Customer VALUES (2, 'Verdi', 'Ada', '', '', '', '', 'Asti')")),
                 QString());
        QString uid;
        {
            CustomerStore store;
            store.ConnectToDatabase(CustomerStore::connectionText(db.folder() + QLatin1Char('/')));
            uid = ContactCards::load(store, 2).uid;
            store.CloseDatabase();
        }
        QVERIFY(!uid.isEmpty());
        phonePut(uid + QLatin1String(".vcf"),
                 "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + uid.toUtf8()
                     + "\r\nN:Verdi;Ada;;;\r\nFN:Ada Verdi\r\nADR:;;;Asti;;;\r\nEND:VCARD\r\n");
        CardDavClient phone(m_book, m_server.user(), m_server.password());
        QCOMPARE(db.exec(QStringLiteral("UPDATE CustomerSyncState SET Value = '%1' WHERE Name = 'token'")
                             .arg(phone.syncToken(m_book))),
                 QString());
        // Changed here since: the change goes up over the card found.
        QCOMPARE(db.exec(QStringLiteral("UPDATE Customer SET State = 'AT' WHERE CustID = 2")), QString());

        const SyncOutcome outcome = sync(db);
        QCOMPARE(outcome.linked, 1);
        QCOMPARE(outcome.addedThere, 0);
        sync(db);
        verifySettled(db, {kRossi, QStringLiteral("Verdi;Ada;;Asti;AT;;")});
        QCOMPARE(m_server.cardFiles(QStringLiteral("rubrica%1").arg(m_books)).size(), 2);
    }

    // Cards with a photo of about a megabyte: the book growing inside the sync's own transaction is no other program.
    void largeCardsSync()
    {
        freshBook();
        TestDatabase db;
        const QByteArray photo = QByteArray(750 * 1024, 'A').toBase64();
        QByteArray folded;
        for (qsizetype i = 0; i < photo.size(); i += 74) {
            folded += (i ? " " : "") + photo.mid(i, 74) + "\r\n";
        }
        for (const char* name : {"Bruni", "Conti"}) {
            phonePut(QString::fromLatin1(name) + QLatin1String(".vcf"),
                     "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:" + QByteArray(name) + "\r\nN:" + name + ";Lia;;;\r\nFN:Lia "
                         + name + "\r\nPHOTO;ENCODING=b;TYPE=JPEG:" + folded + "END:VCARD\r\n");
        }
        const SyncOutcome outcome = sync(db);
        QCOMPARE(outcome.addedHere, 2);
        QCOMPARE(db.exec(QStringLiteral("UPDATE Customer SET City = 'Lecce'")), QString());
        QCOMPARE(sync(db).changedThere, 2);
        verifySettled(db, {QStringLiteral("Bruni;Lia;;Lecce;;;"), QStringLiteral("Conti;Lia;;Lecce;;;")});
        QVERIFY(cardOf(QStringLiteral("Conti")).data.contains(photo.left(74)));
    }

    // A book synced when the sync kept its own copy of each card: the cards become the contacts' cards in one go when
    // the book is next opened, and the sync then finds nothing to do; a failure in the middle leaves the book as it
    // was, at the opening as at the sync.
    void anOldBookIsMovedOverWhole()
    {
        freshBook();
        TestDatabase db({rowOf(1, kRossi), rowOf(2, kVerdi)});
        const QByteArray rossi = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:r-1\r\nN:Rossi;Mario;;;\r\nFN:Mario Rossi\r\n"
                                 "EMAIL:mario@example.org\r\nADR:;;Via Po 1;Torino;TO;;\r\n"
                                 "TEL;TYPE=CELL:3331234567\r\nTEL:011123456\r\nEND:VCARD\r\n";
        const QByteArray verdi = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:v-1\r\nN:Verdi;Anna;;;\r\nFN:Anna Verdi\r\n"
                                 "NOTE:50%2C sconto\r\nEND:VCARD\r\n";
        phonePut(QStringLiteral("r.vcf"), rossi);
        phonePut(QStringLiteral("v.vcf"), verdi);
        CardDavClient phone(m_book, m_server.user(), m_server.password());
        const QString token = phone.syncToken(m_book);
        QCOMPARE(db.exec(QStringLiteral("CREATE TABLE CustomerSync (Href TEXT PRIMARY KEY, CustID INTEGER NOT NULL, "
                                        "ETag TEXT NOT NULL, Digest TEXT NOT NULL, Card TEXT NOT NULL, "
                                        "Deleted INTEGER NOT NULL DEFAULT 0, Written INTEGER NOT NULL DEFAULT 0)")),
                 QString());
        QCOMPARE(db.exec(QStringLiteral("CREATE TABLE CustomerSyncState (Name TEXT PRIMARY KEY, Value TEXT NOT NULL)")),
                 QString());
        for (const CardEntry& entry : phone.listCards(m_book)) {
            const bool isRossi = entry.href.endsWith(QLatin1String("r.vcf"));
            QCOMPARE(db.exec(QStringLiteral("INSERT INTO CustomerSync VALUES ('%1', %2, '%3', '%4', '%5', 0, 0)")
                                 .arg(entry.href,
                                      QString::number(isRossi ? 1 : 2),
                                      entry.etag,
                                      fieldsDigest(fieldsOf(isRossi ? kRossi : kVerdi)),
                                      QString::fromUtf8(isRossi ? rossi : verdi))),
                     QString());
        }
        QCOMPARE(db.exec(QStringLiteral("INSERT INTO CustomerSyncState VALUES ('linkedBook', '%1'), ('token', '%2')")
                             .arg(m_book.toString(), token)),
                 QString());

        // The cards' table as the release before made it, and a disk that gives out at the second card.
        QCOMPARE(db.exec(QStringLiteral("CREATE TABLE CustomerCard (CustID INTEGER PRIMARY KEY, Uid TEXT NOT NULL, "
                                        "Card BLOB NOT NULL)")),
                 QString());
        QCOMPARE(db.exec(QStringLiteral("CREATE TRIGGER Full BEFORE INSERT ON CustomerCard WHEN NEW.Uid = 'v-1' "
                                        "BEGIN SELECT RAISE(ABORT, 'disk full'); END")),
                 QString());
        const auto everything = [&] {
            return query(db, QStringLiteral("SELECT name, sql FROM sqlite_master ORDER BY name"))
                + query(db, QStringLiteral("PRAGMA user_version"))
                + query(db, QStringLiteral("SELECT * FROM CustomerCard ORDER BY CustID"))
                + query(db, QStringLiteral("SELECT * FROM CustomerSync ORDER BY Href"));
        };
        const QStringList before = everything();
        {
            CustomerStore store; // an opening moves an old book over, whole or not at all
            store.ConnectToDatabase(CustomerStore::connectionText(db.folder() + QLatin1Char('/')));
            store.CloseDatabase();
        }
        QCOMPARE(everything(), before);
        QVERIFY_THROWS_EXCEPTION(ado::Error, sync(db));
        QCOMPARE(everything(), before);

        QCOMPARE(db.exec(QStringLiteral("DROP TRIGGER Full")), QString());
        QCOMPARE(sync(db).summary(), SyncOutcome().summary());
        QCOMPARE(query(db, QStringLiteral("SELECT CustID, Uid, Card FROM CustomerCard ORDER BY CustID")),
                 QStringList({QStringLiteral("1|r-1|") + QString::fromUtf8(rossi),
                              QStringLiteral("2|v-1|") + QString::fromUtf8(verdi)}));
        QCOMPARE(
            query(db, QStringLiteral("SELECT count(*) FROM pragma_table_info('CustomerSync') WHERE name = 'Card'")),
            QStringList {QStringLiteral("0")});

        // A detail changed here, beyond the seven fields, goes up with the rest of the card as it was.
        QCOMPARE(db.exec(QStringLiteral("UPDATE CustomerCard SET Card = CAST(replace(CAST(Card AS TEXT), "
                                        "'mario@example.org', 'm.rossi@example.org') AS BLOB) WHERE CustID = 1")),
                 QString());
        QCOMPARE(sync(db).changedThere, 1);
        // Servers give cards back with their own line ends and order of lines.
        const auto lines = [](const QByteArray& card) {
            QList<QByteArray> lines = QByteArray(card).replace("\r\n", "\n").split('\n');
            lines.removeAll(QByteArray());
            std::sort(lines.begin(), lines.end());
            return lines;
        };
        QCOMPARE(lines(cardOf(QStringLiteral("Rossi")).data),
                 lines(QByteArray(rossi).replace("mario@example.org", "m.rossi@example.org")));
        verifySettled(db, {kRossi, kVerdi});
    }

    // More than 10 deletions and more than a quarter of a side's contacts wait for the user, weighed whole before
    // the first batch (of 4 here) is written; held, nothing is deleted and the next sync asks again.
    void manyDeletionsWaitForTheUser_data()
    {
        QTest::addColumn<int>("contacts");
        QTest::addColumn<int>("deleted");
        QTest::addColumn<QString>("where");
        QTest::addColumn<DeletionChoice>("answer");
        QTest::addColumn<QString>("asked");
        QTest::addColumn<int>("left"); // contacts on both sides afterwards
        const DeletionChoice keep = DeletionChoice::Keep;
        const DeletionChoice remove = DeletionChoice::Delete;
        QTest::newRow("10 of 40 on the server: no question") << 40 << 10 << "server" << keep << "" << 30;
        QTest::newRow("11 of 40 on the server: kept") << 40 << 11 << "server" << keep << "here 11/40" << 29;
        QTest::newRow("11 of 40 on the server: deleted") << 40 << 11 << "server" << remove << "here 11/40" << 29;
        QTest::newRow("11 of 50 on the server: no question") << 50 << 11 << "server" << keep << "" << 39;
        QTest::newRow("15 of 15 on the server: up again")
            << 15 << 15 << "server" << DeletionChoice::UploadAgain << "here 15/15" << 15;
        QTest::newRow("11 of 40 here: kept on the server") << 40 << 11 << "here" << keep << "server 11/40" << 29;
        QTest::newRow("11 of 40 here: deleted") << 40 << 11 << "here" << remove << "server 11/40" << 29;
        QTest::newRow("10 of 40 here: no question") << 40 << 10 << "here" << keep << "" << 30;
    }
    void manyDeletionsWaitForTheUser()
    {
        QFETCH(int, contacts);
        QFETCH(int, deleted);
        QFETCH(QString, where);
        QFETCH(DeletionChoice, answer);
        QFETCH(QString, asked);
        QFETCH(int, left);
        freshBook();
        QList<mkdb::ContactRow> rows;
        for (int i = 1; i <= contacts; ++i) {
            rows.append(rowOf(i, QStringLiteral("Nome%1;Cognome;;Torino;TO;;").arg(i)));
        }
        TestDatabase db(rows);
        sync(db);
        QCOMPARE(there().size(), contacts);
        if (where == QLatin1String("server")) {
            CardDavClient phone(m_book, m_server.user(), m_server.password());
            const QList<CardEntry> entries = phone.listCards(m_book);
            for (const CardEntry& entry : entries.mid(0, deleted)) {
                phone.deleteCard(entry.href, entry.etag);
            }
        } else {
            QCOMPARE(db.exec(QStringLiteral("DELETE FROM Customer WHERE CustID <= %1").arg(deleted)), QString());
        }
        const int hereBefore = here(db).size();
        const int thereBefore = there().size();

        QStringList questions;
        const auto guard = [&](DeletionChoice choice) {
            return [&questions, choice](const MassDeletion& deletion) {
                questions.append(QStringLiteral("%1 %2/%3")
                                     .arg(deletion.side == MassDeletion::Side::Here ? "here" : "server")
                                     .arg(deletion.count)
                                     .arg(deletion.total));
                return choice;
            };
        };
        bool held = false;
        try {
            sync(db, nullptr, {}, guard(answer));
        } catch (const DeletionsHeld&) {
            held = true;
        }
        QCOMPARE(questions.join(QLatin1Char(',')), asked);
        QCOMPARE(held, !asked.isEmpty() && answer == DeletionChoice::Keep);
        if (held) {
            // Nothing deleted on either side, and the question comes again.
            QCOMPARE(here(db).size(), hereBefore);
            QCOMPARE(there().size(), thereBefore);
            questions.clear();
            sync(db, nullptr, {}, guard(DeletionChoice::Delete));
            QCOMPARE(questions.join(QLatin1Char(',')), asked);
        }
        QCOMPARE(here(db).size(), left);
        QCOMPARE(there().size(), left);
        QCOMPARE(sync(db).summary(), SyncOutcome().summary());
    }

    void aSyncCutShortLosesAndDoublesNothing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("at");
        for (const int at : {1, 2, 4, 5, 7}) {
            QTest::addRow("stopped at step %d", at) << QStringLiteral("stop") << at;
            QTest::addRow("server gone at step %d", at) << QStringLiteral("server") << at;
        }
    }
    void aSyncCutShortLosesAndDoublesNothing()
    {
        QFETCH(QString, how);
        QFETCH(int, at);
        freshBook();
        QList<mkdb::ContactRow> rows;
        QStringList expected;
        for (int i = 1; i <= 12; ++i) {
            const QString contact = QStringLiteral("Qui%1;Nome;Via %1;Torino;TO;333%1;011%1").arg(i);
            rows.append(rowOf(i, contact));
            expected.append(contact);
        }
        TestDatabase db(rows);
        for (int i = 1; i <= 10; ++i) {
            phonePut(QStringLiteral("la%1.vcf").arg(i),
                     QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\nUID:la%1\r\nN:La%1;Nome;;;\r\nFN:Nome La%1\r\n"
                                    "TEL;TYPE=CELL:347%1\r\nEND:VCARD\r\n")
                         .arg(i)
                         .toUtf8());
            expected.append(QStringLiteral("La%1;Nome;;;;347%1;").arg(i));
        }

        int steps = 0;
        const auto progress = [&](qint64, qint64) {
            if (++steps < at) {
                return true;
            }
            if (how == QLatin1String("stop")) {
                return false;
            }
            m_server.stop();
            return true;
        };
        bool failed = false;
        try {
            sync(db, nullptr, progress);
        } catch (const ado::Error& error) {
            failed = true;
            QVERIFY(!error.description().isEmpty());
        }
        QVERIFY(failed || how == QLatin1String("server"));
        if (!m_server.isRunning()) {
            QVERIFY2(m_server.start(), qPrintable(m_server.error()));
        }
        sync(db);
        verifySettled(db, expected);
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int failures = 0;
    for (const auto& [kind, dropWriteTags] :
         {std::pair {DavServer::Kind::Radicale, false}, std::pair {DavServer::Kind::Xandikos, true}}) {
        tst_ContactSync test(kind, dropWriteTags);
        failures += QTest::qExec(&test, argc, argv);
    }
    return failures;
}

#include "tst_contactsync.moc"
