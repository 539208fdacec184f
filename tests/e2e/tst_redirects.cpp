// The password goes only to the scheme, host and port the user set up: a server that leads elsewhere (a redirect,
// an address book's address on another server) is refused unless the user accepts it, and never from https to http.
// The server elsewhere records every request it gets, with its headers.
#include "support/HttpRecorder.h"
#include "sync/CardDavClient.h"

#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QTest>

namespace {

// An addressbook-home-set pointing at an absolute address.
QByteArray homeSetAt(const QUrl& home)
{
    return "<?xml version=\"1.0\"?><d:multistatus xmlns:d=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:carddav\">"
           "<d:response><d:href>/</d:href><d:propstat><d:prop><c:addressbook-home-set><d:href>"
        + home.toEncoded()
        + "</d:href></c:addressbook-home-set></d:prop><d:status>HTTP/1.1 200 OK</d:status></d:propstat>"
          "</d:response></d:multistatus>";
}

} // namespace

class tst_Redirects : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QProcess openssl;
        openssl.setProcessChannelMode(QProcess::MergedChannels);
        openssl.start(QStringLiteral("openssl"),
                      QStringLiteral("req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 -addext "
                                     "subjectAltName=IP:127.0.0.1")
                              .split(QLatin1Char(' '))
                          << QStringLiteral("-keyout") << m_dir.filePath(QStringLiteral("key.pem"))
                          << QStringLiteral("-out") << m_dir.filePath(QStringLiteral("cert.pem")));
        QVERIFY(openssl.waitForFinished(60000));
        QVERIFY2(openssl.exitCode() == 0, openssl.readAll().constData());
        // This process trusts the test's own certificate, as a system would trust a real one.
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.addCaCertificates(m_dir.filePath(QStringLiteral("cert.pem")));
        QSslConfiguration::setDefaultConfiguration(configuration);
    }

    void nothingGoesElsewhereUnlessAccepted_data()
    {
        QTest::addColumn<QString>("lead");
        QTest::addColumn<bool>("accept");
        QTest::addColumn<int>("reachingElsewhere"); // requests carrying the password
        for (const bool accept : {false, true}) {
            const char* answer = accept ? "accepted" : "refused";
            QTest::addRow("307 to another port, %s", answer) << "307 port" << accept << (accept ? 1 : 0);
            QTest::addRow("308 to another host name, %s", answer) << "308 host" << accept << (accept ? 1 : 0);
            QTest::addRow("address book home on another server, %s", answer) << "home" << accept << (accept ? 1 : 0);
        }
        QTest::newRow("from https to http, even accepted") << "https to http" << true << 0;
    }
    void nothingGoesElsewhereUnlessAccepted()
    {
        QFETCH(QString, lead);
        QFETCH(bool, accept);
        QFETCH(int, reachingElsewhere);
        HttpRecorder elsewhere([](const HttpRecorder::Request&) { return HttpRecorder::answer(404); });
        QUrl target = elsewhere.url().resolved(QUrl(QStringLiteral("/anna/")));
        if (lead.contains(QLatin1String("host"))) {
            target.setHost(QStringLiteral("localhost"));
        }
        const bool tls = lead.startsWith(QLatin1String("https"));
        HttpRecorder server(
            [&](const HttpRecorder::Request& request) {
                if (lead == QLatin1String("home")) {
                    return HttpRecorder::answer(207, homeSetAt(target), "application/xml");
                }
                return HttpRecorder::redirect(lead.startsWith(QLatin1String("308")) ? 308 : 307,
                                              target.resolved(QUrl(QString::fromUtf8(request.path))));
            },
            tls ? m_dir.filePath(QStringLiteral("cert.pem")) : QString(),
            tls ? m_dir.filePath(QStringLiteral("key.pem")) : QString());

        CardDavClient client(
            server.url().resolved(QUrl(QStringLiteral("/anna/"))), QStringLiteral("anna"), QStringLiteral("segreta"));
        QStringList asked;
        client.setRedirectApproval([&](const QUrl& from, const QUrl& to) {
            asked.append(CardDavClient::origin(from) + QLatin1String(" > ") + CardDavClient::origin(to));
            return accept;
        });
        QString failure;
        try {
            client.discover();
        } catch (const CardDavError& error) {
            failure = error.description();
        }
        QVERIFY(!failure.isEmpty()); // elsewhere has no address book either way
        QVERIFY(!server.requests().isEmpty());
        QVERIFY(server.requests().first().headers.value("authorization").startsWith("Basic "));
        int withPassword = 0;
        for (const HttpRecorder::Request& request : elsewhere.requests()) {
            withPassword += request.headers.contains("authorization") ? 1 : 0;
        }
        QCOMPARE(withPassword, reachingElsewhere);
        if (tls) {
            QCOMPARE(asked, QStringList());
            QCOMPARE(elsewhere.requests().size(), 0);
            QVERIFY2(failure.contains(QLatin1String("mai da https:// a http://")), qPrintable(failure));
            return;
        }
        QCOMPARE(
            asked,
            QStringList {CardDavClient::origin(server.url()) + QLatin1String(" > ") + CardDavClient::origin(target)});
        if (accept) {
            QCOMPARE(client.accepted(), QList<QUrl> {QUrl(CardDavClient::origin(target) + QLatin1Char('/'))});
        } else {
            QCOMPARE(elsewhere.requests().size(), 0);
            // Both addresses named, so the user sees where it was going.
            QVERIFY2(failure.contains(server.url().authority()) && failure.contains(target.authority()),
                     qPrintable(failure));
        }
    }

    void aRedirectLoopIsNamedAsSuch()
    {
        HttpRecorder server([](const HttpRecorder::Request& request) {
            const int n = request.path.mid(request.path.lastIndexOf('/') + 1).toInt();
            return HttpRecorder::redirect(302, QUrl(QStringLiteral("/giro/%1").arg(n + 1)));
        });
        CardDavClient client(server.url(), QStringLiteral("anna"), QStringLiteral("segreta"));
        try {
            client.listCards(server.url().resolved(QUrl(QStringLiteral("/giro/0"))));
            QFAIL("no error");
        } catch (const CardDavError& error) {
            QVERIFY2(error.description().contains(QLatin1String("rimanda da un indirizzo all'altro")),
                     qPrintable(error.description()));
            QVERIFY(!error.description().contains(QLatin1String("non accettato")));
        }
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(tst_Redirects)
#include "tst_redirects.moc"
