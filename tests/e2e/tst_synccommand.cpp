// velmarin --sync as a user runs it: the real program beside a real Cust.mdb, against a real Radicale. The address
// is kept for the next run, failures give one line and a non-zero status, and a sync killed at any moment neither
// loses nor doubles a contact once a later one completes.
#include "data/DailyBackup.h"
#include "support/DavServer.h"
#include "support/HttpRecorder.h"
#include "support/ProgramRun.h"
#include "support/TestDatabase.h"
#include "sync/CardDavClient.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

class tst_SyncCommand : public QObject
{
    Q_OBJECT

private:
    DavServer m_server;
    QUrl m_book;

    // The program copied beside the database, so that it opens that Cust.mdb.
    static QString programIn(const TestDatabase& db) { return ::programIn(db.folder()); }

    static QProcessEnvironment environment(const QString& password)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("VELMARIN_CARDDAV_USER"));
        env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        if (password.isEmpty()) {
            env.remove(QStringLiteral("VELMARIN_CARDDAV_PASSWORD"));
        } else {
            env.insert(QStringLiteral("VELMARIN_CARDDAV_PASSWORD"), password);
        }
        return env;
    }

    ProgramRun
    run(const TestDatabase& db, const QStringList& arguments, const QString& password = QStringLiteral("segreta"))
    {
        return runProgram(programIn(db), arguments, environment(password));
    }

    QString bookAddress(const QString& user = QStringLiteral("anna")) const
    {
        QUrl url = m_book;
        url.setUserName(user);
        return url.toString();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(QFile::exists(QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/velmarin")));
        QVERIFY2(m_server.start(), qPrintable(m_server.error()));
        m_book = m_server.addAddressBook(QStringLiteral("rubrica"), QStringLiteral("Rubrica"));
        m_server.addAddressBook(QStringLiteral("lavoro"), QStringLiteral("Lavoro"));
    }

    void syncsAndKeepsTheAddress()
    {
        TestDatabase db({{1, "Rossi", "Mario", "Via Po 1", "Torino", "TO", "3331234567", "011123456"}});
        ProgramRun first = run(db, {QStringLiteral("--sync"), bookAddress()});
        QCOMPARE(first.err, QString());
        QCOMPARE(first.status, 0);
        QCOMPARE(first.out,
                 QStringLiteral("Sincronizzazione completata: in rubrica 0 aggiunti, 0 modificati, 0 eliminati; sul "
                                "server 1 aggiunto, 0 modificati, 0 eliminati.\n"));
        QCOMPARE(m_server.cardFiles(QStringLiteral("rubrica")).size(), 1);
        // The day's copy was made before the sync, holding the book as it was.
        const QStringList copies = DailyBackup::copiesIn(DailyBackup::folderFor(db.path()));
        QCOMPARE(copies.size(), 1);
        QSqlDatabase copy = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("copy"));
        copy.setDatabaseName(copies.first());
        QVERIFY(copy.open());
        QSqlQuery query(QStringLiteral("SELECT COUNT(*) FROM CustomerSync"), copy);
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toInt(), 0);
        query.finish();
        copy.close();
        copy = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("copy"));

        QCOMPARE(db.exec(QStringLiteral("UPDATE Customer SET City = 'Milano'")), QString());
        const ProgramRun second = run(db, {QStringLiteral("--sync")});
        QCOMPARE(second.status, 0);
        QVERIFY2(second.out.contains(QLatin1String("sul server 0 aggiunti, 1 modificato")), qPrintable(second.out));
    }

    void failuresGiveOneLineAndAStatus_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("password");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("words");
        QTest::newRow("never set up") << QStringList {QStringLiteral("--sync")} << QStringLiteral("segreta") << 1
                                      << QStringLiteral("non è impostata");
        QTest::newRow("wrong password") << QStringList {QStringLiteral("--sync"), QStringLiteral("BOOK")}
                                        << QStringLiteral("sbagliata") << 1 << QStringLiteral("non ha accettato");
        QTest::newRow("no password and no keyring") << QStringList {QStringLiteral("--sync"), QStringLiteral("BOOK")}
                                                    << QString() << 1 << QStringLiteral("password");
        QTest::newRow("two address books, none named")
            << QStringList {QStringLiteral("--sync"), QStringLiteral("ROOT")} << QStringLiteral("segreta") << 1
            << QStringLiteral("più rubriche");
        QTest::newRow("no user") << QStringList {QStringLiteral("--sync"), QStringLiteral("NOUSER")}
                                 << QStringLiteral("segreta") << 1 << QStringLiteral("Indicare l'utente");
        QTest::newRow("plain http to another machine")
            << QStringList {QStringLiteral("--sync"), QStringLiteral("http://anna@192.0.2.1/")}
            << QStringLiteral("segreta") << 1 << QStringLiteral("https://");
        QTest::newRow("two addresses") << QStringList {QStringLiteral("--sync"),
                                                       QStringLiteral("BOOK"),
                                                       QStringLiteral("BOOK")}
                                       << QStringLiteral("segreta") << 2 << QStringLiteral("al più un indirizzo");
    }
    void failuresGiveOneLineAndAStatus()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, password);
        QFETCH(int, status);
        QFETCH(QString, words);
        for (QString& argument : arguments) {
            QUrl root = m_server.url();
            root.setUserName(QStringLiteral("anna"));
            argument.replace(QLatin1String("BOOK"), bookAddress())
                .replace(QLatin1String("ROOT"), root.toString())
                .replace(QLatin1String("NOUSER"), m_book.toString());
        }
        TestDatabase db({{1, "Verdi", "Anna", "", "", "", "", ""}});
        const ProgramRun result = run(db, arguments, password);
        QCOMPARE(result.status, status);
        QCOMPARE(result.out, QString());
        QVERIFY2(result.err.startsWith(QLatin1String("velmarin: ")) && result.err.contains(words)
                     && result.err.count(QLatin1Char('\n')) == (status == 2 ? 2 : 1),
                 qPrintable(result.err));
        QCOMPARE(db.count(), 1);
    }

    // Nobody to ask: a server that leads elsewhere is refused, both addresses named, and nothing is set up.
    void aRedirectToAnotherServerIsRefused()
    {
        QUrl real = m_server.url();
        real.setHost(QStringLiteral("localhost"));
        HttpRecorder front([&](const HttpRecorder::Request& request) {
            return HttpRecorder::redirect(307, real.resolved(QUrl(QString::fromUtf8(request.path))));
        });
        QUrl address = front.url().resolved(QUrl(QStringLiteral("/anna/rubrica/")));
        address.setUserName(QStringLiteral("anna"));
        TestDatabase db({{1, "Verdi", "Anna", "", "", "", "", ""}});
        QProcess process;
        process.setProcessEnvironment(environment(QStringLiteral("segreta")));
        process.start(programIn(db), {QStringLiteral("--sync"), address.toString()});
        // The fake server answers from this test's event loop.
        QTRY_VERIFY_WITH_TIMEOUT(process.state() == QProcess::NotRunning, 60000);
        QCOMPARE(process.exitCode(), 1);
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(err.contains(front.url().authority()) && err.contains(real.authority())
                     && err.contains(QLatin1String("rimanda a un altro server")),
                 qPrintable(err));
        const ProgramRun again = run(db, {QStringLiteral("--sync")});
        QVERIFY2(again.status == 1 && again.err.contains(QStringLiteral("non è impostata")), qPrintable(again.err));
    }

    // Every card deleted on the server: the sync stops before deleting, says how to go ahead, and goes ahead when
    // told to.
    void aWipedServerEmptiesTheBookOnlyWhenTold()
    {
        const QUrl book = m_server.addAddressBook(QStringLiteral("svuotata"), QStringLiteral("Svuotata"));
        QUrl address = book;
        address.setUserName(QStringLiteral("anna"));
        QList<mkdb::ContactRow> rows;
        for (int i = 1; i <= 15; ++i) {
            rows.append({i, QStringLiteral("Cognome%1").arg(i), "Nome", "", "Torino", "TO", "", ""});
        }
        TestDatabase db(rows);
        QCOMPARE(run(db, {QStringLiteral("--sync"), address.toString()}).status, 0);
        CardDavClient phone(book, m_server.user(), m_server.password());
        for (const CardEntry& entry : phone.listCards(book)) {
            phone.deleteCard(entry.href, entry.etag);
        }
        const ProgramRun held = run(db, {QStringLiteral("--sync")});
        QCOMPARE(held.status, 1);
        QCOMPARE(held.out, QString());
        QCOMPARE(held.err,
                 QStringLiteral("velmarin: Il server ha eliminato 15 contatti su 15: per prudenza non sono stati "
                                "eliminati anche qui. Per eliminarli comunque: velmarin --sync --accept-deletions\n"));
        QCOMPARE(db.count(), 15);
        const ProgramRun told = run(db, {QStringLiteral("--sync"), QStringLiteral("--accept-deletions")});
        QCOMPARE(told.status, 0);
        QVERIFY2(told.out.contains(QLatin1String("in rubrica 0 aggiunti, 0 modificati, 15 eliminati")),
                 qPrintable(told.out));
        QCOMPARE(db.count(), 0);
    }

    void aKilledSyncLosesAndDoublesNothing()
    {
        const QUrl book = m_server.addAddressBook(QStringLiteral("kill"), QStringLiteral("Kill"));
        QUrl address = book;
        address.setUserName(QStringLiteral("anna"));
        QList<mkdb::ContactRow> rows;
        for (int i = 1; i <= 60; ++i) {
            rows.append({i, QStringLiteral("Cognome%1").arg(i), "Nome", "", "Torino", "TO", "", ""});
        }
        TestDatabase db(rows);
        QProcess process;
        process.setProcessEnvironment(environment(QStringLiteral("segreta")));
        int kills = 0;
        for (const int after : {200, 500, 900}) {
            process.start(programIn(db), {QStringLiteral("--sync"), address.toString()});
            QVERIFY(process.waitForStarted());
            if (!process.waitForFinished(after)) {
                process.kill();
                process.waitForFinished();
                ++kills;
            }
        }
        const ProgramRun last = run(db, {QStringLiteral("--sync")});
        QCOMPARE(last.status, 0);
        QCOMPARE(db.count(), 60);
        QCOMPARE(m_server.cardFiles(QStringLiteral("kill")).size(), 60);
        const ProgramRun settled = run(db, {QStringLiteral("--sync")});
        QCOMPARE(settled.out,
                 QStringLiteral("Sincronizzazione completata: in rubrica 0 aggiunti, 0 modificati, 0 eliminati; sul "
                                "server 0 aggiunti, 0 modificati, 0 eliminati.\n"));
        qInfo("killed %d times", kills);
    }
};

QTEST_GUILESS_MAIN(tst_SyncCommand)
#include "tst_synccommand.moc"
