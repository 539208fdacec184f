// velmarin --backups and --restore as a user runs them: the real program beside a real Cust.mdb and its Backup
// folder, no display. A restore refused for any reason leaves the book byte for byte as it was.
#include "data/DailyBackup.h"
#include "support/ProgramRun.h"
#include "support/TestDatabase.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

namespace {

ProgramRun run(const TestDatabase& db, const QStringList& arguments)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    return runProgram(programIn(db.folder()), arguments, env);
}

QByteArray digestOf(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

} // namespace

class tst_RestoreCommand : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(QFile::exists(QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/velmarin")));
    }

    void backupsListedNewestFirst()
    {
        TestDatabase db({{1, "Rossi", "Anna", "", "", "", "", ""}});
        QVERIFY(DailyBackup::run(db.path(), QDate(2026, 11, 29)).error.isEmpty());
        QCOMPARE(db.exec(QStringLiteral("INSERT INTO Customer (CustID, FirstName) VALUES (2, 'Neri')")), QString());
        QVERIFY(DailyBackup::run(db.path(), QDate(2026, 12, 1)).error.isEmpty());
        const ProgramRun listed = run(db, {QStringLiteral("--backups")});
        QCOMPARE(listed.status, 0);
        const QStringList lines = listed.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines.at(0).startsWith(QStringLiteral("Cust-2026-12-01.mdb\t1 dicembre 2026 — 2 contatti")),
                 qPrintable(lines.at(0)));
        QVERIFY2(lines.at(1).startsWith(QStringLiteral("Cust-2026-11-29.mdb\t29 novembre 2026 — 1 contatto")),
                 qPrintable(lines.at(1)));
        QVERIFY(run(db, {QStringLiteral("--help")}).out.contains(QStringLiteral("--restore FILE")));
    }

    void restore_data()
    {
        QTest::addColumn<QString>("copy"); // as given on the command line
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");

        QTest::newRow("by its name") << "Cust-2026-12-01.mdb"
                                     << "" << 0 << "Rubrica sostituita con";
        QTest::newRow("by its path") << "Backup/Cust-2026-12-01.mdb"
                                     << "" << 0 << "Rubrica sostituita con";
        QTest::newRow("another program writing") << "Cust-2026-12-01.mdb"
                                                 << "lock" << 1 << "Un altro programma sta modificando la rubrica";
        QTest::newRow("a damaged copy") << "Cust-2026-12-01.mdb"
                                        << "damage" << 1 << "è danneggiata o non è una rubrica";
        QTest::newRow("a book in WAL mode") << "Cust-2026-12-01.mdb"
                                            << "wal" << 1 << "modalità WAL";
        QTest::newRow("no such copy") << "Cust-2020-01-01.mdb"
                                      << "" << 1 << "non esiste";
    }

    // The book becomes the copy, the one before is saved apart from the daily copies; refused, nothing changes.
    void restore()
    {
        QFETCH(QString, copy);
        QFETCH(QString, meanwhile);
        QFETCH(int, status);
        QFETCH(QString, message);

        TestDatabase db({{1, "Rossi", "Anna", "", "", "", "", ""}});
        QVERIFY(DailyBackup::run(db.path(), QDate(2026, 12, 1)).error.isEmpty());
        const QList<QStringList> inCopy = db.rows();
        QCOMPARE(db.exec(QStringLiteral("INSERT INTO Customer (CustID, FirstName) VALUES (2, 'Neri')")), QString());
        if (meanwhile == QLatin1String("wal")) {
            QCOMPARE(db.exec(QStringLiteral("PRAGMA journal_mode = WAL")), QString());
        }
        const QList<QStringList> before = db.rows();
        const QByteArray digest = digestOf(db.path());
        const QString folder = DailyBackup::folderFor(db.path());
        if (meanwhile == QLatin1String("damage")) {
            QFile file(QDir(folder).filePath(QStringLiteral("Cust-2026-12-01.mdb")));
            QVERIFY(file.open(QIODevice::ReadWrite));
            file.seek(2000);
            file.write(QByteArray(3000, 'x'));
        }
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
        other.setDatabaseName(db.path());
        QVERIFY(other.open());
        if (meanwhile == QLatin1String("lock")) {
            QSqlQuery lock(other);
            QVERIFY2(lock.exec(QStringLiteral("BEGIN IMMEDIATE")), qPrintable(lock.lastError().text()));
        }

        const ProgramRun restored
            = run(db,
                  {QStringLiteral("--restore"),
                   copy.startsWith(QLatin1String("Backup/")) ? QDir(db.folder()).filePath(copy) : copy});
        QSqlQuery(other).exec(QStringLiteral("ROLLBACK"));
        other.close();
        other = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("other"));

        QCOMPARE(restored.status, status);
        QVERIFY2((status == 0 ? restored.out : restored.err).contains(message),
                 qPrintable(restored.out + restored.err));
        const QString saved = QDir(folder).filePath(
            QStringLiteral("Cust-%1-prima-del-ripristino.mdb").arg(QDate::currentDate().toString(Qt::ISODate)));
        if (status != 0) {
            QCOMPARE(digestOf(db.path()), digest);
            QVERIFY(!QFile::exists(saved));
            QCOMPARE(QDir(db.folder()).entryList(QDir::Files).size(),
                     3); // the book and the two programs: nothing beside
            return;
        }
        QCOMPARE(db.rows(), inCopy);
        QCOMPARE(QFile::permissions(db.path()) & 0x0077, QFile::Permissions());
        QVERIFY(QFile::exists(saved));
        QCOMPARE(DailyBackup::copiesIn(folder).size(), 1);
        QCOMPARE(QDir(db.folder()).entryList(QDir::Files).size(), 3);
        // The book before is itself a copy the next restore can go back to.
        const ProgramRun back = run(db, {QStringLiteral("--restore"), QFileInfo(saved).fileName()});
        QCOMPARE(back.status, 0);
        QCOMPARE(db.rows(), before);
    }
};

QTEST_GUILESS_MAIN(tst_RestoreCommand)
#include "tst_restorecommand.moc"
