// The command line as a user starts it: velmarin hands the command to velmarin-cli, whose process maps no widget,
// GUI or printing library. A sync is held on a server that answers nothing, so the process can be looked at while
// it runs.
#include "support/TestDatabase.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

class tst_Headless : public QObject
{
    Q_OBJECT

private slots:
    void commandMapsNoWidgetLibrary()
    {
        TestDatabase db({{1, "Rossi", "Mario", "Via Po 1", "Torino", "TO", "3331234567", "011123456"}});
        const QString built = QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/");
        // Both programs beside the book, so that they open that Cust.mdb.
        for (const QString name : {QStringLiteral("velmarin"), QStringLiteral("velmarin-cli")}) {
            QVERIFY2(QFile::copy(built + name, db.folder() + QLatin1Char('/') + name), qPrintable(name));
        }

        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        QSignalSpy connected(&server, &QTcpServer::newConnection);

        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VELMARIN_CARDDAV_PASSWORD"), QStringLiteral("segreta"));
        env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        process.setProcessEnvironment(env);
        process.start(
            db.folder() + QStringLiteral("/velmarin"),
            {QStringLiteral("--sync"), QStringLiteral("http://anna@127.0.0.1:%1/rubrica/").arg(server.serverPort())});
        QVERIFY(process.waitForStarted());
        // Connected to the server: the command is under way, and stays so until the server lets it go.
        QVERIFY2(connected.wait(60000), process.readAllStandardError().constData());

        const QString proc = QStringLiteral("/proc/%1/").arg(process.processId());
        QCOMPARE(QFileInfo(proc + QStringLiteral("exe")).symLinkTarget(),
                 db.folder() + QStringLiteral("/velmarin-cli"));
        QFile maps(proc + QStringLiteral("maps"));
        QVERIFY(maps.open(QIODevice::ReadOnly));
        const QByteArray mapped = maps.readAll();
        QVERIFY(mapped.contains("libQt6Core.so"));
        QVERIFY(mapped.contains("libQt6Sql.so"));
        for (const char* library : {"libQt6Widgets", "libQt6Gui", "libQt6PrintSupport", "libQt6Svg"}) {
            QVERIFY2(!mapped.contains(library), library);
        }

        // Closed, so that the request is not tried again: the command ends at once.
        QTcpSocket* socket = server.nextPendingConnection();
        QVERIFY(socket);
        server.close();
        socket->abort();
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        QVERIFY(process.readAllStandardError().startsWith("velmarin: "));
    }
};

QTEST_GUILESS_MAIN(tst_Headless)
#include "tst_headless.moc"
