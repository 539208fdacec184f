// The CardDAV client against a real Radicale on this machine: finding the address books, listing, reading, writing
// and deleting cards with version checks, changes since a sync token, and every failure as an error in Italian; and
// against a server that asks for Digest authentication.
#include "support/DavServer.h"
#include "sync/CardDavClient.h"

#include <QTest>

namespace {

QByteArray card(const QString& uid, const QString& name)
{
    return QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\nUID:%1\r\nN:%2;;;;\r\nFN:%2\r\nEND:VCARD\r\n")
        .arg(uid, name)
        .toUtf8();
}

} // namespace

class tst_CardDav : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(m_server.start(), qPrintable(m_server.error()));
        m_book = m_server.addAddressBook(QStringLiteral("rubrica"), QStringLiteral("Rubrica di Anna"));
        m_server.addAddressBook(QStringLiteral("lavoro"), QStringLiteral("Lavoro"));
    }

    void discoversTheUsersAddressBooks_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("server root, through the well-known address")
            << QString() << QStringList {QStringLiteral("Lavoro"), QStringLiteral("Rubrica di Anna")};
        QTest::newRow("the user's principal")
            << QStringLiteral("/anna/") << QStringList {QStringLiteral("Lavoro"), QStringLiteral("Rubrica di Anna")};
        QTest::newRow("one address book")
            << QStringLiteral("/anna/rubrica/") << QStringList {QStringLiteral("Rubrica di Anna")};
    }
    void discoversTheUsersAddressBooks()
    {
        QFETCH(QString, start);
        QFETCH(QStringList, names);
        CardDavClient client(m_server.url().resolved(QUrl(start)), m_server.user(), m_server.password());
        QStringList found;
        for (const AddressBook& book : client.discover()) {
            found.append(book.name);
            QVERIFY(book.hasSyncToken);
            QVERIFY(book.url.path().startsWith(QLatin1String("/anna/")));
        }
        found.sort();
        QCOMPARE(found, names);
    }

    void writesReadsAndFollowsChanges()
    {
        CardDavClient client(m_book, m_server.user(), m_server.password());
        const QString token = client.syncToken(m_book);
        QVERIFY(!token.isEmpty());

        const CardEntry first = client.createCard(m_book, QStringLiteral("uno.vcf"), card("uno", "Rossi"));
        const CardEntry second = client.createCard(m_book, QStringLiteral("due è.vcf"), card("due", "Bianchi"));
        QVERIFY(!first.etag.isEmpty());
        QCOMPARE(client.listCards(m_book).size(), 2);

        // Never over an existing card, never over a card changed since it was read.
        QVERIFY_THROWS_EXCEPTION(CardDavError, client.createCard(m_book, QStringLiteral("uno.vcf"), card("x", "X")));
        const QString changed = client.updateCard(first.href, first.etag, card("uno", "Rossini"));
        QVERIFY(!changed.isEmpty() && changed != first.etag);
        try {
            client.updateCard(first.href, first.etag, card("uno", "Stale"));
            QFAIL("a stale version tag was accepted");
        } catch (const CardDavError& error) {
            QCOMPARE(error.status(), 412);
        }
        QVERIFY_THROWS_EXCEPTION(CardDavError, client.deleteCard(second.href, QStringLiteral("\"stale\"")));

        std::optional<CollectionChanges> changes = client.changesSince(m_book, token);
        QVERIFY(changes);
        QCOMPARE(changes->changed.size(), 2);
        QVERIFY(changes->removed.isEmpty());

        client.deleteCard(second.href, second.etag);
        client.deleteCard(second.href, second.etag); // already gone: no failure
        changes = client.changesSince(m_book, changes->syncToken);
        QVERIFY(changes);
        QCOMPARE(changes->removed, QStringList {second.href});
        QVERIFY(changes->changed.isEmpty());

        const QList<Card> cards = client.fetchCards(m_book, {first.href, second.href});
        QCOMPARE(cards.size(), 1);
        QCOMPARE(cards.first().href, first.href);
        QCOMPARE(cards.first().etag, changed);
        QVERIFY(cards.first().data.contains("N:Rossini;"));

        QVERIFY(!client.changesSince(m_book, QStringLiteral("http://radicale.org/ns/sync/unknown")));
    }

    // New cards go several at once; the first refusal stops the sending, and every card sent is accounted for.
    void createsCardsSideBySide()
    {
        const QUrl book = m_server.addAddressBook(QStringLiteral("insieme"), QStringLiteral("Insieme"));
        CardDavClient client(book, m_server.user(), m_server.password());
        client.createCard(book, QStringLiteral("c.vcf"), card("c", "Già qui"));
        QList<CardDavClient::NewCard> cards;
        for (const char* name : {"a", "b", "c", "d", "e", "f", "g", "h"}) {
            cards.append({QLatin1String(name) + QLatin1String(".vcf"), card(QLatin1String(name), QLatin1String(name))});
        }
        const QList<CardDavClient::Creation> created = client.createCards(book, cards);
        QVERIFY(created.size() >= 3 && created.size() < cards.size());
        QStringList sent;
        for (qsizetype i = 0; i < created.size(); ++i) {
            if (i == 2) {
                QVERIFY(created.at(i).error);
                QCOMPARE(created.at(i).error->status(), 412);
                continue;
            }
            QVERIFY2(!created.at(i).error,
                     qPrintable(created.at(i).error ? created.at(i).error->description() : QString()));
            QVERIFY(created.at(i).entry.href.endsWith(cards.at(i).name));
            QVERIFY(!created.at(i).entry.etag.isEmpty());
            sent.append(cards.at(i).name);
        }
        sent.append(QStringLiteral("c.vcf"));
        sent.sort();
        QCOMPARE(m_server.cardFiles(QStringLiteral("insieme")), sent);
    }

    void failuresAreErrorsInItalian_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("words");
        QTest::newRow("wrong password") << QString() << QStringLiteral("sbagliata") << 401
                                        << QStringLiteral("nome utente e password");
        QTest::newRow("another user's books")
            << QStringLiteral("/bruno/rubrica/") << QString() << 403 << QStringLiteral("non consente");
        QTest::newRow("plain http to another machine")
            << QStringLiteral("http://192.0.2.1/") << QString() << 0 << QStringLiteral("https://");
        QTest::newRow("not a web address")
            << QStringLiteral("ftp://127.0.0.1/") << QString() << 0 << QStringLiteral("https://");
    }
    void failuresAreErrorsInItalian()
    {
        QFETCH(QString, address);
        QFETCH(QString, password);
        QFETCH(int, status);
        QFETCH(QString, words);
        try {
            CardDavClient client(m_server.url().resolved(QUrl(address)),
                                 m_server.user(),
                                 password.isEmpty() ? m_server.password() : password);
            client.discover();
            QFAIL("no error");
        } catch (const CardDavError& error) {
            QCOMPARE(error.status(), status);
            QVERIFY2(error.description().contains(words), qPrintable(error.description()));
        }
    }

    void aServerThatIsGoneIsAnError()
    {
        DavServer server;
        QVERIFY2(server.start(), qPrintable(server.error()));
        const QUrl book = server.addAddressBook(QStringLiteral("rubrica"), QStringLiteral("Rubrica"));
        CardDavClient client(book, server.user(), server.password());
        QCOMPARE(client.listCards(book).size(), 0);
        server.stop();
        try {
            client.listCards(book);
            QFAIL("no error");
        } catch (const CardDavError& error) {
            QCOMPARE(error.status(), 0);
            QCOMPARE(error.description(),
                     QStringLiteral("Impossibile raggiungere il server 127.0.0.1: non accetta collegamenti (è spento, "
                                    "o l'indirizzo o la porta sono sbagliati)."));
        }
    }

    // A certificate no authority vouches for is refused before anything, the password included, is sent.
    void anUntrustedCertificateIsRefusedWithItsReason()
    {
        DavServer server;
        server.setTls(true);
        QVERIFY2(server.start(), qPrintable(server.error()));
        QCOMPARE(server.url().scheme(), QStringLiteral("https"));
        try {
            CardDavClient(server.url(), server.user(), server.password()).discover();
            QFAIL("an untrusted certificate was accepted");
        } catch (const CardDavError& error) {
            QCOMPARE(error.status(), 0);
            QCOMPARE(error.description(),
                     QStringLiteral("Il certificato del server 127.0.0.1 non è valido: è firmato dal server stesso, "
                                    "non da un'autorità riconosciuta."));
        }
        QCOMPARE(server.requests(), QStringList());
    }

    // A server that asks for HTTP Digest authentication is answered with the same user and password.
    void answersADigestChallenge()
    {
        DavServer server(DavServer::Kind::Xandikos);
        server.setDigestAuthentication(true);
        QVERIFY2(server.start(), qPrintable(server.error()));
        const QUrl book = server.addAddressBook(QStringLiteral("rubrica"), QStringLiteral("Rubrica"));
        CardDavClient client(server.url(), server.user(), server.password());
        const QList<AddressBook> books = client.discover();
        QCOMPARE(books.size(), 1);
        QCOMPARE(books.first().url, book);
        client.createCard(book, QStringLiteral("uno.vcf"), card("uno", "Rossi"));
        client.createCard(book, QStringLiteral("due.vcf"), card("due", "Bianchi"));
        QCOMPARE(client.listCards(book).size(), 2);
        try {
            CardDavClient(server.url(), server.user(), QStringLiteral("sbagliata")).discover();
            QFAIL("a wrong password was accepted");
        } catch (const CardDavError& error) {
            QCOMPARE(error.status(), 401);
            QVERIFY2(error.description().contains(QLatin1String("nome utente e password")),
                     qPrintable(error.description()));
        }
    }

private:
    DavServer m_server;
    QUrl m_book;
};

QTEST_GUILESS_MAIN(tst_CardDav)
#include "tst_carddav.moc"
