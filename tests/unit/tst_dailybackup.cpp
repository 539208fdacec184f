// The daily backup over real files: when a copy is due, which copies the rotation keeps, what it never touches,
// that each copy opens as a database with the book's rows, and that a failure is reported, never half-done.
#include "data/DailyBackup.h"
#include "mkdb/CustDatabase.h"

#include <QAtomicInt>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include "../support/SmallDisk.h"

namespace {

const QDate today(2026, 12, 7);

QString copyName(int day)
{
    return QStringLiteral("Cust-%1.mdb").arg(today.addDays(day).toString(Qt::ISODate));
}

void writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

// Every row of table Customer, or the error; a second program's connection.
QStringList rowsOf(const QString& path)
{
    static QAtomicInt counter;
    const QString name = QStringLiteral("backup-test-%1").arg(counter.fetchAndAddRelaxed(1));
    QStringList rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        QSqlQuery query(db);
        if (!db.open() || !query.exec(QStringLiteral("SELECT * FROM Customer ORDER BY CustID"))) {
            rows.append(QStringLiteral("<no table>"));
        }
        while (query.next()) {
            QStringList row;
            for (int i = 0; i < 8; ++i) {
                row.append(query.value(i).toString());
            }
            rows.append(row.join(QLatin1Char('|')));
        }
    }
    QSqlDatabase::removeDatabase(name);
    return rows;
}

} // namespace

using Days = QList<int>;

class TestDailyBackup : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void rotation_data();
    void rotation();
    void copyIsConsistentWhileAnotherProgramWrites();
    void failureIsReportedAndLeavesNothing_data();
    void failureIsReportedAndLeavesNothing();
    void fullDiskIsSaidInItalian();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_folder; // holding the book
    QString m_book;
    QString m_backup;
};

void TestDailyBackup::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    // Italian folder names have apostrophes: the copy's path is quoted in its statement.
    m_folder = m_dir->filePath(QStringLiteral("l'ufficio"));
    QVERIFY(QDir().mkpath(m_folder));
    m_book = QDir(m_folder).filePath(QStringLiteral("Cust.mdb"));
    m_backup = QDir(m_folder).filePath(QStringLiteral("Backup"));
    QCOMPARE(mkdb::createCustomerDatabase(m_book), QString());
    QCOMPARE(mkdb::insertContacts(m_book, mkdb::demoContacts()), QString());
}

void TestDailyBackup::rotation_data()
{
    QTest::addColumn<Days>("before"); // copies there, by day relative to today
    QTest::addColumn<QStringList>("others"); // other files in the Backup folder
    QTest::addColumn<bool>("made");
    QTest::addColumn<Days>("after");

    const QStringList none;
    QTest::newRow("first start") << Days {} << none << true << Days {0};
    QTest::newRow("already copied today") << Days {-1, 0} << none << false << Days {-1, 0};
    QTest::newRow("last copy yesterday") << Days {-1} << none << true << Days {-1, 0};
    QTest::newRow("a copy a week old") << Days {-7} << none << true << Days {-7, 0};
    QTest::newRow("nine kept, the tenth added")
        << Days {-9, -8, -7, -6, -5, -4, -3, -2, -1} << none << true << Days {-9, -8, -7, -6, -5, -4, -3, -2, -1, 0};
    QTest::newRow("ten kept, the oldest goes") << Days {-10, -9, -8, -7, -6, -5, -4, -3, -2, -1} << none << true
                                               << Days {-9, -8, -7, -6, -5, -4, -3, -2, -1, 0};
    QTest::newRow("many old copies: the oldest all go")
        << Days {-400, -60, -50, -40, -30, -20, -16, -15, -14, -13, -12, -11, -3} << none << true
        << Days {-30, -20, -16, -15, -14, -13, -12, -11, -3, 0};
    QTest::newRow("a copy dated later by a wrong clock does not stop the copies")
        << Days {5} << none << true << Days {0, 5};
    QTest::newRow("other files are never touched")
        << Days {-10, -9, -8, -7, -6, -5, -4, -3, -2, -1}
        << QStringList {"note.txt", "Cust-2026-02-30.mdb", "Cust-vecchio.mdb", "cust-2020-01-01.mdb", "Cust.mdb"}
        << true << Days {-9, -8, -7, -6, -5, -4, -3, -2, -1, 0};
    QTest::newRow("copies cut short on earlier days are removed")
        << Days {-2} << QStringList {copyName(-1) + ".parziale-4242", copyName(-5) + ".parziale-17"} << true
        << Days {-2, 0};
    QTest::newRow("a copy being written today by another start is left alone")
        << Days {-1} << QStringList {copyName(0) + ".parziale-4242"} << true << Days {-1, 0};
}

void TestDailyBackup::rotation()
{
    QFETCH(Days, before);
    QFETCH(QStringList, others);
    QFETCH(bool, made);
    QFETCH(Days, after);

    QVERIFY(QDir().mkpath(m_backup));
    for (int day : before) {
        writeFile(QDir(m_backup).filePath(copyName(day)), QByteArray::number(day));
    }
    for (const QString& other : others) {
        writeFile(QDir(m_backup).filePath(other), "altro");
    }

    const DailyBackup::Result result = DailyBackup::run(m_book, today);

    QCOMPARE(result.error, QString());
    QCOMPARE(result.made, made ? QDir(m_backup).filePath(copyName(0)) : QString());
    QStringList expected;
    for (int day : after) {
        expected.append(QDir(m_backup).filePath(copyName(day)));
    }
    QCOMPARE(DailyBackup::copiesIn(m_backup), expected);
    QStringList left = QDir(m_backup).entryList(QDir::Files);
    QStringList expectedLeft;
    for (const QString& other : others) {
        if (!other.contains(QLatin1String(".parziale-")) || other.startsWith(copyName(0))) {
            expectedLeft.append(other);
        }
    }
    for (int day : after) {
        expectedLeft.append(copyName(day));
    }
    left.sort();
    expectedLeft.sort();
    QCOMPARE(left, expectedLeft);
    if (made) {
        QCOMPARE(rowsOf(result.made), rowsOf(m_book));
        QCOMPARE(rowsOf(result.made).size(), mkdb::demoContacts().size());
    }
}

void TestDailyBackup::copyIsConsistentWhileAnotherProgramWrites()
{
    const QStringList committed = rowsOf(m_book);
    const QString name = QStringLiteral("other-program");
    {
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        other.setDatabaseName(m_book);
        QVERIFY(other.open());
        QSqlQuery query(other);
        QVERIFY(query.exec(QStringLiteral("BEGIN IMMEDIATE")));
        QVERIFY(query.exec(QStringLiteral("INSERT INTO Customer (CustID, FirstName) VALUES (999, 'Mezzo')")));
        QVERIFY(query.exec(QStringLiteral("DELETE FROM Customer WHERE CustID = 1")));

        const DailyBackup::Result result = DailyBackup::run(m_book, today);

        QCOMPARE(result.error, QString());
        QCOMPARE(rowsOf(result.made), committed);
        QVERIFY(query.exec(QStringLiteral("COMMIT")));
    }
    QSqlDatabase::removeDatabase(name);
    QCOMPARE(rowsOf(m_book).size(), committed.size());
}

void TestDailyBackup::failureIsReportedAndLeavesNothing_data()
{
    QTest::addColumn<QByteArray>("book"); // replaces Cust.mdb when given; "-" removes it
    QTest::addColumn<bool>("backupIsAFile");
    QTest::addColumn<QString>("reason"); // Italian, the system's words after it in parentheses
    QTest::newRow("the Backup folder is a file") << QByteArray() << true << "impossibile creare la cartella";
    QTest::newRow("the book is not a database")
        << QByteArray("indirizzi, non un database\n") << false << "il file non è un database (file is not a database)";
    QTest::newRow("the book is missing") << QByteArray("-") << false << "non esiste";
}

void TestDailyBackup::failureIsReportedAndLeavesNothing()
{
    QFETCH(QByteArray, book);
    QFETCH(bool, backupIsAFile);
    QFETCH(QString, reason);
    if (book == "-") {
        QVERIFY(QFile::remove(m_book));
    } else if (!book.isEmpty()) {
        writeFile(m_book, book);
    }
    if (backupIsAFile) {
        writeFile(m_backup, "un file");
    }
    const QStringList before = QDir(m_folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);

    const DailyBackup::Result result = DailyBackup::run(m_book, today);

    QVERIFY2(result.error.contains(reason), qPrintable(result.error));
    QCOMPARE(result.made, QString());
    QCOMPARE(DailyBackup::copiesIn(m_backup), QStringList());
    if (!backupIsAFile) {
        QCOMPARE(QDir(m_backup).entryList(QDir::Files), QStringList());
    }
    QCOMPARE(QDir(m_folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
}

// The book fits on its disk, its copy does not: SQLite's "database or disk is full" comes with Italian words.
void TestDailyBackup::fullDiskIsSaidInItalian()
{
    const QString folder = m_dir->filePath(QStringLiteral("piccolo"));
    SmallDisk disk(folder, 64);
    if (!disk.mounted()) {
        QSKIP("only root can mount a small disk");
    }
    const QString book = QDir(folder).filePath(QStringLiteral("Cust.mdb"));
    QVERIFY(QFile::copy(m_book, book));
    QFile filler(QDir(folder).filePath(QStringLiteral("riempitivo")));
    QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    const QByteArray block(512, 'x');
    while (filler.write(block) == block.size()) { }
    filler.close();

    const DailyBackup::Result result = DailyBackup::run(book, today);

    QVERIFY2(result.error.contains(QStringLiteral("spazio esaurito sul disco (database or disk is full)")),
             qPrintable(result.error));
    QCOMPARE(result.made, QString());
    QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), (QStringList {"Cust.mdb", "riempitivo"}));
}

QTEST_GUILESS_MAIN(TestDailyBackup)
#include "tst_dailybackup.moc"
