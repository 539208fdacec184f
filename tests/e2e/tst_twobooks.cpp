// Two computers on one server address book: two real Cust.mdb files in folders of their own, synced in turn with
// the same address book on a real server. They end with the same contacts, none doubled or lost, the ones both had
// linked to one card; changes and deletions pass from one to the other through the server, and a contact changed on
// both is a conflict, never two silent copies.
#include "data/ContactCards.h"
#include "data/CustomerStore.h"
#include "exchange/CardDetails.h"
#include "exchange/CardEdit.h"
#include "support/DavServer.h"
#include "support/SyncScript.h"
#include "support/TestDatabase.h"
#include "sync/CardDavClient.h"
#include "sync/ContactSync.h"
#include "sync/SyncCards.h"

#include <QTest>

namespace {

const QString kRossi = QStringLiteral("Rossi;Mario;Via Po 1;Torino;TO;3331234567;011123456");
const QString kBianchi = QStringLiteral("Bianchi;Luca;;Roma;RM;;0612345678");
const QString kVerdi = QStringLiteral("Verdi;Anna;;;;;");
const QString kGialli = QStringLiteral("Gialli;Ugo;Via Roma 3;Asti;AT;;");
const QString kNeri = QStringLiteral("Neri;Giulia;;Lecce;LE;3337778888;");

QString replaced(QString text, const QString& from, const QString& to)
{
    return text.replace(from, to);
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

} // namespace

Q_DECLARE_METATYPE(QList<mkdb::ContactRow>)

class tst_TwoBooks : public QObject
{
    Q_OBJECT

public:
    explicit tst_TwoBooks(DavServer::Kind kind)
        : m_server(kind)
    {
    }

private:
    DavServer m_server;
    QUrl m_book;
    int m_books = 0;

    SyncOutcome sync(TestDatabase& db, ConflictResolver* resolver = nullptr)
    {
        CustomerStore store;
        store.ConnectToDatabase(CustomerStore::connectionText(db.folder() + QLatin1Char('/')));
        CardDavClient client(m_book, m_server.user(), m_server.password());
        ContactSync sync(store, client, m_book);
        sync.setResolver(resolver);
        sync.setBatchSize(3);
        struct Close
        {
            CustomerStore& store;
            ~Close() { store.CloseDatabase(); }
        } close {store};
        return sync.run();
    }

    static QStringList here(const TestDatabase& db) { return contactsOf(db); }

    // Each contact's fields with the UID of its card: the same UID in both books is one contact linked, not copied.
    static QStringList withUids(const TestDatabase& db)
    {
        QStringList contacts;
        CustomerStore store;
        store.ConnectToDatabase(CustomerStore::connectionText(db.folder() + QLatin1Char('/')));
        for (const QStringList& row : db.rows()) {
            contacts.append(row.mid(1).join(QLatin1Char(';')) + QLatin1Char('|')
                            + ContactCards::load(store, row.first().toInt()).uid);
        }
        store.CloseDatabase();
        contacts.sort();
        return contacts;
    }

    QStringList there()
    {
        CardDavClient phone(m_book, m_server.user(), m_server.password());
        QStringList hrefs;
        for (const CardEntry& entry : phone.listCards(m_book)) {
            hrefs.append(entry.href);
        }
        QStringList contacts;
        for (const Card& card : phone.fetchCards(m_book, hrefs)) {
            ContactFields fields;
            if (fieldsOfCard(card.data, fields)) {
                contacts.append(cardUid(card.data));
            }
        }
        contacts.sort();
        return contacts;
    }

    // Both books hold the same contacts under the same UIDs, the server a card under each, each book exactly
    // `contacts`, and a further sync of either finds nothing to do.
    void verifySame(TestDatabase& a, TestDatabase& b, QStringList contacts)
    {
        contacts.sort();
        QCOMPARE(here(a), contacts);
        QCOMPARE(here(b), contacts);
        const QStringList uids = withUids(a);
        QCOMPARE(withUids(b), uids);
        QStringList uidsOnly;
        for (const QString& contact : uids) {
            uidsOnly.append(contact.section(QLatin1Char('|'), 1));
        }
        uidsOnly.sort();
        QCOMPARE(there(), uidsOnly);
        QCOMPARE(sync(a).summary(), SyncOutcome().summary());
        QCOMPARE(sync(b).summary(), SyncOutcome().summary());
    }

    // The details of the book's only contact.
    static void setDetails(const TestDatabase& db, const CardDetails& details)
    {
        CustomerStore store;
        store.ConnectToDatabase(CustomerStore::connectionText(db.folder() + QLatin1Char('/')));
        const ContactCard kept = ContactCards::load(store, 1);
        const QStringList row = db.rows().first();
        const ContactFields fields {
            row.value(1), row.value(2), row.value(3), row.value(4), row.value(5), row.value(6), row.value(7)};
        ContactCards::save(store, 1, {kept.uid, withDetails(kept.card, fields, details)});
        store.CloseDatabase();
    }

    static CardDetails detailsOf(const TestDatabase& db)
    {
        CustomerStore store;
        store.ConnectToDatabase(CustomerStore::connectionText(db.folder() + QLatin1Char('/')));
        const CardDetails details = cardDetails(ContactCards::load(store, db.rows().first().first().toInt()).card);
        store.CloseDatabase();
        return details;
    }

private slots:
    void initTestCase() { QVERIFY2(m_server.start(), qPrintable(m_server.error())); }

    void twoBooksBecomeOne_data()
    {
        QTest::addColumn<QList<mkdb::ContactRow>>("first");
        QTest::addColumn<QList<mkdb::ContactRow>>("second");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("some in common")
            << QList<mkdb::ContactRow> {rowOf(1, kRossi), rowOf(2, kVerdi), rowOf(3, kBianchi)}
            << QList<mkdb::ContactRow> {rowOf(1, kNeri), rowOf(2, kBianchi), rowOf(5, kRossi)}
            << QStringList {kRossi, kVerdi, kBianchi, kNeri};
        // Typed alike on both, read back from a card a little differently.
        const QString spaced = QStringLiteral("Rossi;Mario;Via Po 1;Torino;TO;333 123 4567;+39 011 123456");
        QTest::newRow("in common, numbers with spaces")
            << QList<mkdb::ContactRow> {rowOf(1, spaced)}
            << QList<mkdb::ContactRow> {rowOf(1, kGialli), rowOf(2, spaced)} << QStringList {spaced, kGialli};
        QTest::newRow("the second one empty") << QList<mkdb::ContactRow> {rowOf(1, kRossi), rowOf(2, kVerdi)}
                                              << QList<mkdb::ContactRow> {} << QStringList {kRossi, kVerdi};
        QTest::newRow("the same contact twice in one of them")
            << QList<mkdb::ContactRow> {rowOf(1, kVerdi), rowOf(2, kVerdi)}
            << QList<mkdb::ContactRow> {rowOf(1, kVerdi), rowOf(2, kGialli)} << QStringList {kVerdi, kVerdi, kGialli};
    }
    void twoBooksBecomeOne()
    {
        QFETCH(QList<mkdb::ContactRow>, first);
        QFETCH(QList<mkdb::ContactRow>, second);
        QFETCH(QStringList, expected);
        m_book = m_server.addAddressBook(QStringLiteral("famiglia%1").arg(++m_books), QStringLiteral("Famiglia"));
        TestDatabase a(first);
        TestDatabase b(second);
        for (int round = 0; round < 2; ++round) {
            sync(a);
            sync(b);
        }
        verifySame(a, b, expected);
    }

    // A contact both computers have, with details typed on each: linked, and the details of both kept on both.
    void detailsOfBothAreKept()
    {
        m_book = m_server.addAddressBook(QStringLiteral("famiglia%1").arg(++m_books), QStringLiteral("Famiglia"));
        TestDatabase a({rowOf(1, kRossi)});
        TestDatabase b({rowOf(1, kRossi)});
        CardDetails onA;
        onA.emails = QStringList {QStringLiteral("mario@casa.it")};
        onA.birthday = QStringLiteral("1970-01-01");
        CardDetails onB;
        onB.emails = QStringList {QStringLiteral("M.Rossi@lavoro.it"), QStringLiteral("MARIO@casa.it")};
        onB.note = QStringLiteral("Cugino di Anna");
        onB.birthday = QStringLiteral("1971-02-02");
        onB.otherPhones = {{QStringLiteral("work"), QStringLiteral("02 555 1234")},
                           {QStringLiteral("cell"), QStringLiteral("+39 333 123 4567")}};
        setDetails(a, onA);
        setDetails(b, onB);
        sync(a);
        sync(b);
        sync(a);
        verifySame(a, b, {kRossi});
        for (TestDatabase* db : {&a, &b}) {
            const CardDetails details = detailsOf(*db);
            QCOMPARE(details.emails,
                     QStringList({QStringLiteral("mario@casa.it"), QStringLiteral("M.Rossi@lavoro.it")}));
            QCOMPARE(details.note, onB.note);
            QCOMPARE(details.birthday, onA.birthday); // the first on the server stands
            QCOMPARE(details.otherPhones, QList<CardPhone>({onB.otherPhones.first()}));
        }
    }

    // Everything one computer does reaches the other through the server; a change made on both is never decided
    // silently.
    void changesPassThroughTheServer()
    {
        m_book = m_server.addAddressBook(QStringLiteral("famiglia%1").arg(++m_books), QStringLiteral("Famiglia"));
        TestDatabase a({rowOf(1, kRossi), rowOf(2, kVerdi), rowOf(3, kGialli)});
        TestDatabase b({rowOf(1, kRossi), rowOf(2, kNeri)});
        sync(a);
        sync(b);
        sync(a);
        verifySame(a, b, {kRossi, kVerdi, kGialli, kNeri});

        // Changed on one, deleted on the other: both reach the other book.
        QCOMPARE(a.exec(QStringLiteral("UPDATE Customer SET City = 'Alba' WHERE LastName = 'Anna'")), QString());
        QCOMPARE(b.exec(QStringLiteral("DELETE FROM Customer WHERE FirstName = 'Gialli'")), QString());
        const SyncOutcome fromA = sync(a);
        QCOMPARE(fromA.changedThere, 1);
        const SyncOutcome atB = sync(b);
        QCOMPARE(atB.changedHere, 1);
        QCOMPARE(atB.deletedThere, 1);
        QCOMPARE(sync(a).deletedHere, 1);
        const QString verdiAlba = replaced(kVerdi, QStringLiteral(";;;;;"), QStringLiteral(";;Alba;;;"));
        verifySame(a, b, {kRossi, verdiAlba, kNeri});

        // The same contact changed on both: the second to sync has nobody to ask and leaves both as they are.
        const QString rossiA = replaced(kRossi, QStringLiteral("Torino"), QStringLiteral("Milano"));
        const QString rossiB = replaced(kRossi, QStringLiteral("3331234567"), QStringLiteral("3400000000"));
        QCOMPARE(a.exec(QStringLiteral("UPDATE Customer SET City = 'Milano' WHERE FirstName = 'Rossi'")), QString());
        QCOMPARE(b.exec(QStringLiteral("UPDATE Customer SET Zip = '3400000000' WHERE FirstName = 'Rossi'")), QString());
        QCOMPARE(sync(a).changedThere, 1);
        const SyncOutcome undecided = sync(b);
        QCOMPARE(undecided.undecided, QStringList {QStringLiteral("Rossi Mario")});
        QCOMPARE(undecided.addedThere + undecided.addedHere + undecided.changedHere + undecided.changedThere, 0);
        QCOMPARE(here(b), sorted({rossiB, verdiAlba, kNeri}));
        QCOMPARE(sync(a).summary(), SyncOutcome().summary());
        QCOMPARE(here(a), sorted({rossiA, verdiAlba, kNeri}));

        // The window asks; the version chosen there reaches the first computer.
        ScriptedResolver resolver(ConflictChoice::KeepHere);
        QCOMPARE(sync(b, &resolver).conflicts, 1);
        QCOMPARE(resolver.asked, QStringList {rossiB + QLatin1String(" | ") + rossiA});
        QCOMPARE(sync(a).changedHere, 1);
        verifySame(a, b, {rossiB, verdiAlba, kNeri});
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int failures = 0;
    for (const DavServer::Kind kind : {DavServer::Kind::Radicale, DavServer::Kind::Xandikos}) {
        tst_TwoBooks test(kind);
        failures += QTest::qExec(&test, argc, argv);
    }
    return failures;
}

#include "tst_twobooks.moc"
