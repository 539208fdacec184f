// Faults from outside the program, over real files: a kill in the middle of a save, a second program adding at the
// same time, the database file made read-only, deleted, replaced or locked while the window is open, a full disk,
// failing printers. After each one the list and the table agree and nothing typed is lost.
#include "data/Contact.h"
#include "data/CustomerStore.h"
#include "data/Statements.h"
#include "print/Visualizza.h"
#include "support/MainWindowDriver.h"
#include "support/RecordingPrinter.h"
#include "support/ScriptedMessageBox.h"
#include "support/ScriptedSaveFileChooser.h"
#include "support/TestDatabase.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPrinterInfo>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <cstdio>

#ifdef Q_OS_LINUX
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// Every column carries n, so a row put together from two different writes shows. The address spans many pages,
// which keeps a save writing long enough for a kill to land in the middle of it.
ContactFields contactFor(qint64 n)
{
    const QString t = QString::number(n);
    return {QStringLiteral("C") + t,
            QStringLiteral("N") + t,
            QStringLiteral("Via %1;").arg(t).repeated(5000),
            QStringLiteral("Città ") + t,
            QStringLiteral("MI"),
            t,
            t.right(10)};
}

bool isWhole(const QStringList& row)
{
    bool ok = false;
    const qint64 n = row.value(1).mid(1).toLongLong(&ok);
    const ContactFields f = contactFor(n);
    return ok && row.mid(1) == QStringList {f.firstName, f.lastName, f.address, f.city, f.state, f.zip, f.phoneNumber};
}

// The child program, run by the parent with "--writer folder mode seed milliseconds". Mode "kill": saves contacts
// through the store with the statements of the save command (inserts up to 60 contacts, then rewrites them) until it
// is killed. Mode "hold": another program caught between choosing a key and committing its contact, which it keeps
// uncommitted for the given milliseconds after saying "ready".
int runWriter(const QStringList& args)
{
    const QString folder = args.value(2);
    const QString mode = args.value(3);
    const quint32 seed = args.value(4).toUInt();
    CustomerStore store;
    try {
        store.ConnectToDatabase(CustomerStore::connectionText(folder + QLatin1Char('/')));
        if (mode == QLatin1String("hold")) {
            store.execute(QStringLiteral("BEGIN IMMEDIATE"));
            store.execute(InsertStatement(store.GetNextCustID(), contactFor(seed)));
        }
        std::printf("ready\n");
        std::fflush(stdout);
        if (mode == QLatin1String("hold")) {
            QThread::msleep(args.value(5).toULong());
            store.execute(QStringLiteral("COMMIT"));
            return 0;
        }
        QRandomGenerator random(seed);
        for (qint64 n = qint64(seed) * 1000000;; ++n) {
            const qint32 key = store.GetNextCustID();
            if (key <= 60) {
                store.execute(InsertStatement(key, contactFor(n)));
            } else {
                store.execute(UpdateStatement(contactFor(n), qint32(random.bounded(1, 61))));
            }
        }
    } catch (const ado::Error& e) {
        std::printf("%s\n", qPrintable(e.description()));
    }
    return 1;
}

QProcess* startWriter(const QString& folder, const QString& mode, quint32 seed, int milliseconds = 0)
{
    auto* p = new QProcess;
    p->setProgram(QCoreApplication::applicationFilePath());
    p->setArguments({QStringLiteral("--writer"), folder, mode, QString::number(seed), QString::number(milliseconds)});
    p->start();
    return p;
}

// The whole table read through the program's own store, after PRAGMA integrity_check said "ok".
QList<QStringList> readThroughStore(const QString& folder, QString* failure)
{
    QList<QStringList> rows;
    CustomerStore store;
    try {
        store.ConnectToDatabase(CustomerStore::connectionText(folder + QLatin1Char('/')));
        const QString check = store.openQuery(QStringLiteral("PRAGMA integrity_check")).Fields(0).toString();
        if (check != QLatin1String("ok")) {
            *failure = QStringLiteral("integrity_check: ") + check;
            return rows;
        }
        ado::Recordset& rs = store.openQuery(QStringLiteral("SELECT CustID, FirstName, LastName, Address, City, "
                                                            "State, Zip, PhoneNumber FROM Customer ORDER BY CustID"));
        for (; !rs.isEOF(); rs.MoveNext()) {
            QStringList row;
            for (int i = 0; i < 8; ++i) {
                row.append(textOf(rs.Fields(i)));
            }
            rows.append(row);
        }
    } catch (const ado::Error& e) {
        *failure = e.description();
    }
    return rows;
}

// A small RAM disk laid over a folder, keeping the files already there (Linux, as root; otherwise mounted() is
// false). It can be made read-only under open files, by a read-only bind mount over itself, and filled up.
class ScratchDisk
{
public:
    ScratchDisk(const QString& folder, const char* size)
        : m_folder(folder)
    {
#ifdef Q_OS_LINUX
        if (::geteuid() != 0) {
            return;
        }
        QList<std::pair<QString, QByteArray>> files;
        for (const QFileInfo& info : QDir(folder).entryInfoList(QDir::Files)) {
            QFile f(info.filePath());
            f.open(QIODevice::ReadOnly);
            files.append({info.fileName(), f.readAll()});
        }
        const QByteArray options = QByteArray("size=") + size;
        m_mounted = ::mount("tmpfs", path(), "tmpfs", 0, options.constData()) == 0;
        for (const auto& [name, content] : files) {
            QFile f(QDir(folder).filePath(name));
            f.open(QIODevice::WriteOnly);
            f.write(content);
        }
#endif
    }
    ~ScratchDisk()
    {
        setReadOnly(false);
#ifdef Q_OS_LINUX
        if (m_mounted) {
            ::umount2(path(), MNT_DETACH);
        }
#endif
    }

    bool mounted() const
    {
        return m_mounted;
    }

    bool setReadOnly(bool readOnly)
    {
#ifdef Q_OS_LINUX
        if (!m_mounted || readOnly == m_readOnly) {
            return m_mounted;
        }
        if (readOnly) {
            m_readOnly = ::mount(path(), path(), nullptr, MS_BIND, nullptr) == 0;
            return m_readOnly && ::mount(nullptr, path(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
        }
        m_readOnly = ::umount2(path(), MNT_DETACH) != 0;
        return !m_readOnly;
#else
        Q_UNUSED(readOnly);
        return false;
#endif
    }

    // Writes a filler file until no block is left.
    void fill()
    {
        QFile filler(fillerPath());
        filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
        for (qint64 block = 65536; block >= 512; block /= 2) {
            const QByteArray data(block, 'f');
            while (filler.write(data) == block) { }
        }
    }
    void release()
    {
        QFile::remove(fillerPath());
    }

private:
    const char* path()
    {
        m_native = QFile::encodeName(m_folder);
        return m_native.constData();
    }
    QString fillerPath() const
    {
        return QDir(m_folder).filePath(QStringLiteral("filler"));
    }

    QString m_folder;
    QByteArray m_native;
    bool m_mounted = false;
    bool m_readOnly = false;
};

// A second program holding the file in the middle of its own transaction.
class Lock
{
public:
    Lock(const QString& path, const QString& begin)
        : m_db(QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("faults-lock")))
    {
        m_db.setDatabaseName(path);
        m_held = m_db.open() && QSqlQuery(m_db).exec(begin);
    }
    ~Lock()
    {
        QSqlQuery(m_db).exec(QStringLiteral("ROLLBACK"));
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("faults-lock"));
    }
    bool held() const { return m_held; }

private:
    QSqlDatabase m_db;
    bool m_held = false;
};

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeAll(const QString& path, const QByteArray& content)
{
    QFile::remove(path);
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size() && f.flush();
}

QList<mkdb::ContactRow> threeContacts()
{
    return {{1, "Rossi", "Anna", "Via 1", "Milano", "MI", "3330000001", "0212345678"},
            {2, "Bianchi", "Bruno", "Via 2", "Como", "CO", "3330000002", ""},
            {5, "Verdi", "Carla", "Via 5", "Lecco", "LC", "3330000005", ""}};
}

void typeAll(const MainWindowDriver& main, const QStringList& values)
{
    const char* names[]
        = {"txtFirst", "txtLast", "txtAddr", "txtCity", "txtState", "txtZip", "txtArea", "txtPrfx", "txtLine"};
    for (int i = 0; i < 9; ++i) {
        main.type(names[i], values.at(i));
    }
}

// The list and the table hold the same contacts.
void checkListMatchesTable(const MainWindowDriver& main, const TestDatabase& db)
{
    QMap<QString, QStringList> listed;
    for (int i = 1; i <= main.list()->itemCount(); ++i) {
        const QStringList row = main.row(i);
        listed.insert(row.at(7), row.mid(0, 7));
    }
    QMap<QString, QStringList> stored;
    for (const QStringList& row : db.rows()) {
        stored.insert(row.at(0), row.mid(1, 6) << FormatStoredPhone(row.at(7)));
    }
    QCOMPARE(listed, stored);
}

#define QVERIFY_RETURN(condition)                                                                                      \
    if (!QTest::qVerify(static_cast<bool>(condition), #condition, "", __FILE__, __LINE__)) {                           \
        return {};                                                                                                     \
    }

#define INFLICT(fault)                                                                                                 \
    do {                                                                                                               \
        const QString why = inflict(fault, db, disk);                                                                  \
        if (QTest::currentTestFailed()) {                                                                              \
            return;                                                                                                    \
        }                                                                                                              \
        if (!why.isEmpty()) {                                                                                          \
            QSKIP(qPrintable(why));                                                                                    \
        }                                                                                                              \
    } while (false)

enum Fault { ReadOnlyAtStart, ReadOnly, ReadOnlyFolder, Deleted, Replaced, DiskFull, Locked };
enum Underneath { RenamedOver, CopiedOver, KeyTwice, EditedElsewhere, MobileEditedElsewhere, PhoneEditedElsewhere };
enum Command { Add, Change, Delete, Print };

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void killedInTheMiddleOfSaves();
    void keyTakenByAnotherProgramDuringSave();
    void fileFaultWhileRunning_data();
    void fileFaultWhileRunning();
    void printerFaults_data();
    void printerFaults();
    void changedUnderTheWindow_data();
    void changedUnderTheWindow();
    void foreignBytesKept();

private:
    // Returns why the fault cannot be made here, or nothing.
    QString inflict(Fault fault, const TestDatabase& db, ScratchDisk& disk);
    void heal(Fault fault, const TestDatabase& db, ScratchDisk& disk);

    QByteArray m_original;
    std::unique_ptr<Lock> m_lock;
    std::unique_ptr<QTemporaryDir> m_aside;
};

void TestFaults::cleanup()
{
    m_lock.reset();
#ifdef Q_OS_LINUX
    if (m_aside) {
        ::umount2(QFile::encodeName(m_aside->path()).constData(), MNT_DETACH);
    }
#endif
    m_aside.reset();
    setPrinterFactory({});
}

void TestFaults::killedInTheMiddleOfSaves()
{
    TestDatabase db;
    {
        CustomerStore store;
        store.ConnectToDatabase(CustomerStore::connectionText(db.folder() + QLatin1Char('/')));
        // The rollback journal with full syncs is what makes a killed save harmless; nothing may turn it off.
        QCOMPARE(store.openQuery(QStringLiteral("PRAGMA journal_mode")).Fields(0).toString(), QStringLiteral("delete"));
        QCOMPARE(store.openQuery(QStringLiteral("PRAGMA synchronous")).Fields(0).toInt(), 2);
    }
    QRandomGenerator random(20260307);
    QElapsedTimer clock;
    clock.start();
    int kills = 0;
    int hotJournals = 0;
    for (; kills < 120 && (kills < 40 || clock.elapsed() < 10000); ++kills) {
        std::unique_ptr<QProcess> writer(startWriter(db.folder(), QStringLiteral("kill"), kills + 1));
        QVERIFY(writer->waitForReadyRead(10000));
        QCOMPARE(writer->readLine().trimmed(), QByteArray("ready"));
        QTest::qSleep(int(random.bounded(0, 25)));
        ::kill(pid_t(writer->processId()), SIGKILL);
        QVERIFY(writer->waitForFinished(10000));
        QCOMPARE(writer->exitStatus(), QProcess::CrashExit);
        hotJournals += QFileInfo(db.path() + QStringLiteral("-journal")).size() > 0 ? 1 : 0;

        QString failure;
        const QList<QStringList> rows = readThroughStore(db.folder(), &failure);
        QVERIFY2(failure.isEmpty(), qPrintable(QStringLiteral("after kill %1: %2").arg(kills).arg(failure)));
        for (const QStringList& row : rows) {
            QVERIFY2(isWhole(row), qPrintable(QStringLiteral("after kill %1: row %2 torn").arg(kills).arg(row[0])));
        }
    }
    qInfo("%d kills in %lld ms, %d left a journal to roll back, %lld rows",
          kills,
          clock.elapsed(),
          hotJournals,
          qlonglong(db.count()));
}

void TestFaults::keyTakenByAnotherProgramDuringSave()
{
    TestDatabase db(threeContacts());
    const QList<QStringList> before = db.rows();
    ScriptedMessageBox boxes;
    MainWindowDriver main;
    main.click("cmdAdd");
    const QStringList typed {"Gialli", "Dario", "Via Lunga 9", "Bari", "BA", "3201234567", "080", "555", "1234"};
    typeAll(main, typed);
    // The other program has chosen key 6 and is writing it: this save chooses 6 as well, waits for the lock, and
    // the database refuses the second 6.
    std::unique_ptr<QProcess> other(startWriter(db.folder(), QStringLiteral("hold"), 77, 2000));
    QVERIFY(other->waitForReadyRead(10000));
    QCOMPARE(other->readLine().trimmed(), QByteArray("ready"));
    boxes.expect(MessageBox::Ok);
    main.click("cmdSave");
    QVERIFY(other->waitForFinished(10000));
    QCOMPARE(other->exitCode(), 0);
    QCOMPARE(boxes.pending(), 0);
    QCOMPARE(boxes.last().title, QStringLiteral("Salva"));
    QCOMPARE(boxes.last().icon, MessageBox::Critical);
    QVERIFY(boxes.last().text.startsWith(QStringLiteral("Impossibile salvare il contatto.\n")));
    QVERIFY(main.window()->editPending());
    QCOMPARE(main.fields(), typed);
    QCOMPARE(main.list()->itemCount(), 3);

    // Pressed again, the save takes the next key; the other program's contact stays as it wrote it.
    main.click("cmdSave");
    QVERIFY(main.browsing());
    const QList<QStringList> rows = db.rows();
    QCOMPARE(rows.size(), 5);
    QCOMPARE(rows.mid(0, 3), before);
    QCOMPARE(rows.at(3).at(0), QStringLiteral("6"));
    QVERIFY(isWhole(rows.at(3)));
    QCOMPARE(rows.at(4).mid(0, 7), (QStringList {"7"} + typed.mid(0, 6)));
    QCOMPARE(main.row(main.list()->selectedIndex()).at(7), QStringLiteral("7"));
}

void TestFaults::fileFaultWhileRunning_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("command");
    QTest::addColumn<QString>("expected"); // part of the description shown; empty: no box at all

    const QString readOnly = QStringLiteral("Il file del database è di sola lettura");
    const QString gone = QStringLiteral("non è più disponibile: è stato spostato o eliminato.");
    const QString foreign = QStringLiteral("non è un database SQLite.");
    const QString full = QStringLiteral("Il disco è pieno");
    QTest::newRow("read-only from the start: add") << int(ReadOnlyAtStart) << int(Add) << readOnly;
    QTest::newRow("read-only from the start: print window lists") << int(ReadOnlyAtStart) << int(Print) << QString();
    QTest::newRow("made read-only: add") << int(ReadOnly) << int(Add) << readOnly;
    QTest::newRow("made read-only: change") << int(ReadOnly) << int(Change) << readOnly;
    QTest::newRow("made read-only: delete") << int(ReadOnly) << int(Delete) << readOnly;
    QTest::newRow("read-only folder, writable file: change")
        << int(ReadOnlyFolder) << int(Change) << QStringLiteral("La cartella '%1' del database è di sola lettura");
    QTest::newRow("deleted: add") << int(Deleted) << int(Add) << gone;
    QTest::newRow("deleted: change") << int(Deleted) << int(Change) << gone;
    QTest::newRow("deleted: delete") << int(Deleted) << int(Delete) << gone;
    QTest::newRow("replaced by a text file: add") << int(Replaced) << int(Add) << foreign;
    QTest::newRow("replaced by a text file: delete") << int(Replaced) << int(Delete) << foreign;
    QTest::newRow("disk full: add") << int(DiskFull) << int(Add) << full;
    QTest::newRow("disk full: change") << int(DiskFull) << int(Change) << full;
    QTest::newRow("disk full: delete") << int(DiskFull) << int(Delete) << full;
    QTest::newRow("locked by another writer: print window")
        << int(Locked) << int(Print) << QStringLiteral("in uso da parte di un altro programma");
}

void TestFaults::fileFaultWhileRunning()
{
    QFETCH(int, fault);
    QFETCH(int, command);
    QFETCH(QString, expected);

    TestDatabase db(threeContacts());
    expected.replace(QStringLiteral("%1"), QDir::toNativeSeparators(db.folder()));
    ScratchDisk disk(db.folder(), "1m");
    ScriptedMessageBox boxes;
    PrinterLog printed;
    ScopedRecordingPrinters printers(printed);
    m_original = readAll(db.path());
    if (fault == ReadOnlyAtStart) {
        INFLICT(ReadOnly);
    }
    MainWindowDriver main;
    QCOMPARE(main.list()->itemCount(), 3);

    if (command == Print) {
        if (fault == Locked) {
            INFLICT(Locked);
        }
        if (!expected.isEmpty()) {
            boxes.expect(MessageBox::Ok);
        }
        main.click("Command1");
        Visualizza* print = main.window()->printWindow();
        QVERIFY(print);
        QTRY_VERIFY(print->ListView3->columnHeaderCount() == 7);
        QTRY_COMPARE(boxes.asked().size(), expected.isEmpty() ? 0 : 1);
        if (!expected.isEmpty()) {
            QCOMPARE(boxes.last().title, QStringLiteral("Stampa"));
            QCOMPARE(boxes.last().icon, MessageBox::Critical);
            QVERIFY2(boxes.last().text.contains(expected), qPrintable(boxes.last().text));
            QCOMPARE(print->ListView3->itemCount(), 0);
            heal(Fault(fault), db, disk);
            main.window()->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(main.window()));
            print->activateWindow();
        }
        QTRY_COMPARE(print->ListView3->itemCount(), 3);
        QTest::mouseClick(print->Command1, Qt::LeftButton);
        QVERIFY(printed.ended());
        QVERIFY(printed.printedTexts().contains(QStringLiteral("Verdi")));
        print->close();
        return;
    }

    const QStringList typed {"Gialli", "Dario", "Via Lunga 9", "Bari", "BA", "3201234567", "080", "555", "1234"};
    const char* button = command == Delete ? "cmdDelete" : "cmdSave";
    main.clickRow(2);
    const QList<QStringList> before = db.rows();
    const QStringList rowBefore = main.row(2);
    if (command != Delete) {
        main.click(command == Add ? "cmdAdd" : "cmdUpdate");
        typeAll(main, typed);
    }
    if (fault != ReadOnlyAtStart) {
        INFLICT(Fault(fault));
    }
    if (command == Delete) {
        boxes.expect(MessageBox::Yes);
    }
    boxes.expect(MessageBox::Ok);
    main.click(button);

    QCOMPARE(boxes.pending(), 0);
    QCOMPARE(boxes.last().title, QString::fromLatin1(command == Delete ? "Elimina" : "Salva"));
    QCOMPARE(boxes.last().icon, MessageBox::Critical);
    const QString lead = command == Delete ? QStringLiteral("Impossibile eliminare il contatto.\n")
                                           : QStringLiteral("Impossibile salvare il contatto.\n");
    QVERIFY2(boxes.last().text.startsWith(lead) && boxes.last().text.contains(expected), qPrintable(boxes.last().text));
    QCOMPARE(main.list()->itemCount(), 3);
    QCOMPARE(main.row(2), rowBefore);
    if (command == Delete) {
        QVERIFY(main.browsing());
        QCOMPARE(main.list()->selectedIndex(), 2);
    } else {
        QVERIFY(main.window()->editPending());
        QCOMPARE(main.fields(), typed);
    }
    if (fault == Deleted) {
        QVERIFY(!QFileInfo::exists(db.path()));
    } else if (fault == Replaced) {
        QCOMPARE(readAll(db.path()), QByteArray(4096, 'x'));
    } else {
        QCOMPARE(db.rows(), before); // nothing half written
    }

    // Once the cause is gone the same command goes through. A copy put back is another file than the one the list
    // was read from: that is said once, with the list read from the copy and the edit kept.
    heal(Fault(fault), db, disk);
    if (fault == Deleted || fault == Replaced) {
        if (command == Delete) {
            boxes.expect(MessageBox::Yes);
        }
        boxes.expect(MessageBox::Ok);
        main.click(button);
        QCOMPARE(boxes.pending(), 0);
        QVERIFY2(boxes.last().text.contains(QStringLiteral("sostituito o modificato da un altro programma")),
                 qPrintable(boxes.last().text));
        QCOMPARE(main.list()->itemCount(), 3);
        QCOMPARE(main.row(2), rowBefore);
        QCOMPARE(main.browsing(), command == Delete);
        if (command != Delete) {
            QCOMPARE(main.fields(), typed);
        }
    }
    if (command == Delete) {
        boxes.expect(MessageBox::Yes);
    }
    main.click(button);
    QVERIFY(main.browsing());
    QCOMPARE(main.list()->itemCount(), command == Add ? 4 : command == Delete ? 2 : 3);
    checkListMatchesTable(main, db);
    if (command != Delete) {
        QCOMPARE(main.row(main.list()->selectedIndex()).mid(0, 6), typed.mid(0, 6));
    }
}

QString TestFaults::inflict(Fault fault, const TestDatabase& db, ScratchDisk& disk)
{
    switch (fault) {
    case ReadOnlyAtStart:
    case ReadOnly:
        if (!disk.setReadOnly(true)) {
            QFile::setPermissions(db.path(), QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
        }
        if (QFileInfo(db.path()).isWritable()) {
            return QStringLiteral("the file stays writable: root without the right to mount a file system");
        }
        break;
    case ReadOnlyFolder:
#ifdef Q_OS_LINUX
        if (!disk.mounted()) {
            return QStringLiteral("a read-only folder needs a RAM disk, which only root can mount");
        }
        // A writable view of the folder, set aside first, lends the same file back once the folder is read-only.
        m_aside = std::make_unique<QTemporaryDir>();
        QVERIFY_RETURN(::mount(QFile::encodeName(db.folder()).constData(),
                               QFile::encodeName(m_aside->path()).constData(),
                               nullptr,
                               MS_BIND,
                               nullptr)
                       == 0);
        QVERIFY_RETURN(disk.setReadOnly(true));
        QVERIFY_RETURN(
            ::mount(QFile::encodeName(QDir(m_aside->path()).filePath(QStringLiteral("Cust.mdb"))).constData(),
                    QFile::encodeName(db.path()).constData(),
                    nullptr,
                    MS_BIND,
                    nullptr)
            == 0);
        QVERIFY_RETURN(QFileInfo(db.path()).isWritable() && !QFileInfo(db.folder()).isWritable());
        break;
#else
        return QStringLiteral("needs Linux mounts");
#endif
    case Deleted:
        QVERIFY_RETURN(QFile::remove(db.path()));
        break;
    case Replaced:
        QVERIFY_RETURN(writeAll(db.path(), QByteArray(4096, 'x')));
        break;
    case DiskFull:
        if (!disk.mounted()) {
            return QStringLiteral("a full disk needs a small RAM disk, which only root can mount");
        }
        disk.fill();
        break;
    case Locked:
        m_lock = std::make_unique<Lock>(db.path(), QStringLiteral("BEGIN EXCLUSIVE"));
        QVERIFY_RETURN(m_lock->held());
        break;
    }
    return {};
}

void TestFaults::heal(Fault fault, const TestDatabase& db, ScratchDisk& disk)
{
    switch (fault) {
    case ReadOnlyAtStart:
    case ReadOnly:
        if (!disk.setReadOnly(false)) {
            QFile::setPermissions(db.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        }
        break;
    case ReadOnlyFolder:
#ifdef Q_OS_LINUX
        ::umount2(QFile::encodeName(db.path()).constData(), MNT_DETACH);
        disk.setReadOnly(false);
        ::umount2(QFile::encodeName(m_aside->path()).constData(), MNT_DETACH);
        m_aside.reset();
#endif
        break;
    case Deleted:
    case Replaced:
        QVERIFY(writeAll(db.path(), m_original)); // a copy from a backup: another file than the one opened
        break;
    case DiskFull:
        disk.release();
        break;
    case Locked:
        m_lock.reset();
        break;
    }
}

void TestFaults::printerFaults_data()
{
    QTest::addColumn<QString>("printer");
    QTest::newRow("fails on the third new page") << "third page";
    QTest::newRow("no default printer, PDF on a full disk") << "full disk";
    QTest::newRow("no default printer, PDF in a read-only folder") << "read-only";
    QTest::newRow("no default printer at all") << "none";
}

void TestFaults::printerFaults()
{
    QFETCH(QString, printer);
    TestDatabase db(mkdb::generatedContacts(70));
    ScratchDisk disk(db.folder(), "2m");
    ScriptedMessageBox boxes;
    ScriptedSaveFileChooser files;
    PrinterLog log;
    const QString pdf = QDir(db.folder()).filePath(QStringLiteral("Elenco.pdf"));
    if (printer == QLatin1String("none")) {
        if (!QPrinterInfo::defaultPrinter().isNull()) {
            QSKIP("this machine has a default printer");
        }
    } else {
        // The list printer is a recording one; the PDF file is written for real.
        setPrinterFactory([&log] { return std::make_unique<RecordingPrinter>(log); });
        log.noDefaultPrinter = printer != QLatin1String("third page");
    }
    log.failKind = PrinterLog::Op::NewPage;
    log.failOccurrence = printer == QLatin1String("third page") ? 3 : 0;
    if (printer == QLatin1String("full disk")) {
        if (!disk.mounted()) {
            QSKIP("a full disk needs a small RAM disk, which only root can mount");
        }
        disk.fill();
    } else if (printer == QLatin1String("read-only") && !disk.setReadOnly(true)) {
        QSKIP("a read-only folder needs a RAM disk, which only root can mount");
    }

    MainWindowDriver main;
    main.click("Command1");
    Visualizza* print = main.window()->printWindow();
    QTRY_COMPARE(print->ListView3->itemCount(), 70);
    const bool toPdf = printer != QLatin1String("third page");
    // A failing printer is tried twice: the fault, then again once it is gone.
    for (int attempt = printer == QLatin1String("none") ? 1 : 0; attempt < 2; ++attempt) {
        if (toPdf) {
            boxes.expect(MessageBox::Yes);
            files.expect(pdf);
        }
        if (attempt == 0) {
            boxes.expect(MessageBox::Ok);
        }
        QTest::mouseClick(print->Command1, Qt::LeftButton);
        QCOMPARE(boxes.pending(), 0);
        QCOMPARE(files.pending(), 0);
        if (attempt == 0) {
            // Cancelled and said so; nothing half made is left behind.
            QCOMPARE(boxes.last().title, QStringLiteral("Velmarin"));
            QCOMPARE(boxes.last().icon, MessageBox::Critical);
            QVERIFY(!boxes.last().text.isEmpty());
            QVERIFY2(!QFileInfo::exists(pdf), qPrintable(boxes.last().text));
            if (!toPdf) {
                QVERIFY(log.cancelled());
                QCOMPARE(log.count(PrinterLog::Op::NewPage), 3);
            }
            log.clear();
            log.failOccurrence = 0;
            disk.release();
            disk.setReadOnly(false);
        } else if (toPdf) {
            const QByteArray written = readAll(pdf);
            QVERIFY(written.startsWith("%PDF"));
            QVERIFY(written.trimmed().endsWith("%%EOF"));
        } else {
            QVERIFY(log.ended());
            QCOMPARE(log.pageCount(), 4);
        }
    }
    print->close();
}

void TestFaults::changedUnderTheWindow_data()
{
    QTest::addColumn<int>("change");
    QTest::addColumn<int>("command");
    QTest::addColumn<QString>("expected"); // part of the description shown
    QTest::addColumn<bool>("narrowed"); // a find shows only contact 7

    const QString replaced = QStringLiteral("sostituito o modificato da un altro programma");
    const QString twice = QStringLiteral("più contatti hanno lo stesso codice");
    const QString edited = QStringLiteral("Il contatto è stato modificato da un altro programma");
    QTest::newRow("another book renamed over it: change") << int(RenamedOver) << int(Change) << replaced << false;
    QTest::newRow("another book renamed over it: delete") << int(RenamedOver) << int(Delete) << replaced << false;
    QTest::newRow("another book copied into it, same change counter: add")
        << int(CopiedOver) << int(Add) << replaced << false;
    QTest::newRow("another book copied into it, same change counter: change")
        << int(CopiedOver) << int(Change) << replaced << false;
    QTest::newRow("a key held twice: change") << int(KeyTwice) << int(Change) << twice << false;
    QTest::newRow("a key held twice: delete") << int(KeyTwice) << int(Delete) << twice << false;
    QTest::newRow("contact edited by another program: change")
        << int(EditedElsewhere) << int(Change) << edited << false;
    QTest::newRow("contact edited by another program: delete")
        << int(EditedElsewhere) << int(Delete) << edited << false;
    QTest::newRow("mobile edited by another program, city changed here")
        << int(MobileEditedElsewhere) << int(Change) << edited << false;
    QTest::newRow("telephone edited by another program, city changed here")
        << int(PhoneEditedElsewhere) << int(Change) << edited << false;
    QTest::newRow("telephone edited by another program: delete")
        << int(PhoneEditedElsewhere) << int(Delete) << edited << false;
    QTest::newRow("another book renamed over it, list narrowed by a find: change")
        << int(RenamedOver) << int(Change) << replaced << true;
}

// Another program changes the file while the window shows contact 7: nothing is sent, the box says why, the list
// shows what is stored and an edit keeps what was typed; the command repeated on purpose then goes through on what
// is stored now, except for a key held twice, which stays refused.
void TestFaults::changedUnderTheWindow()
{
    QFETCH(int, change);
    QFETCH(int, command);
    QFETCH(QString, expected);
    QFETCH(bool, narrowed);

    TestDatabase db(mkdb::generatedContacts(20));
    const QString otherBook = QDir(db.folder()).filePath(QStringLiteral("other.mdb"));
    QCOMPARE(mkdb::createCustomerDatabase(otherBook), QString());
    QCOMPARE(mkdb::insertContacts(otherBook, mkdb::generatedContacts(40, 2)), QString());
    if (change == KeyTwice) {
        // A table without a primary key, as another program may write it.
        QCOMPARE(db.exec(QStringLiteral("CREATE TABLE Copy AS SELECT * FROM Customer")), QString());
        QCOMPARE(db.exec(QStringLiteral("DROP TABLE Customer")), QString());
        QCOMPARE(db.exec(QStringLiteral("ALTER TABLE Copy RENAME TO Customer")), QString());
        QCOMPARE(db.exec(QStringLiteral("INSERT INTO Customer(CustID, FirstName, LastName) VALUES (7, 'Doppio', "
                                        "'Secondo')")),
                 QString());
    }
    ScriptedMessageBox boxes;
    MainWindowDriver main;
    int index = 0;
    for (int i = main.list()->itemCount(); i >= 1; --i) {
        index = main.list()->subItem(i, 7) == QLatin1String("7") ? i : index;
    }
    QVERIFY(index > 0);
    main.clickRow(index);
    if (narrowed) {
        QTest::keyClick(main.window(), Qt::Key_F, Qt::ControlModifier);
        QTest::keyClicks(QApplication::focusWidget(), main.list()->itemText(index));
        QCOMPARE(main.list()->subItem(main.list()->selectedIndex(), 7), QStringLiteral("7"));
        QVERIFY(main.list()->filtered());
    }
    if (command != Delete) {
        main.click(command == Add ? "cmdAdd" : "cmdUpdate");
        if (change == EditedElsewhere) {
            main.type("txtZip", QStringLiteral("3209998877"));
        } else if (change == MobileEditedElsewhere || change == PhoneEditedElsewhere) {
            main.type("txtCity", QStringLiteral("Altrove"));
        } else {
            typeAll(main, {"Gialli", "Dario", "Via Lunga 9", "Bari", "BA", "3201234567", "080", "555", "1234"});
        }
    }
    const QStringList typed = main.fields();

    switch (Underneath(change)) {
    case RenamedOver:
        QCOMPARE(std::rename(QFile::encodeName(otherBook).constData(), QFile::encodeName(db.path()).constData()), 0);
        break;
    case CopiedOver: {
        // Written into the same file, with the change counter it had: the engine itself sees no change.
        QByteArray copy = readAll(otherBook);
        const QByteArray now = readAll(db.path());
        copy.replace(24, 4, now.mid(24, 4));
        struct stat before, after;
        QCOMPARE(::stat(QFile::encodeName(db.path()).constData(), &before), 0);
        QFile file(db.path());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::ExistingOnly));
        QCOMPARE(file.write(copy), copy.size());
        file.close();
        QCOMPARE(::stat(QFile::encodeName(db.path()).constData(), &after), 0);
        QCOMPARE(after.st_ino, before.st_ino);
        break;
    }
    case KeyTwice:
        break;
    case EditedElsewhere:
        QCOMPARE(db.exec(QStringLiteral("UPDATE Customer SET City = 'Altrove' WHERE CustID = 7")), QString());
        break;
    case MobileEditedElsewhere:
        QCOMPARE(db.exec(QStringLiteral("UPDATE Customer SET Zip = '3471112233' WHERE CustID = 7")), QString());
        break;
    case PhoneEditedElsewhere:
        QCOMPARE(db.exec(QStringLiteral("UPDATE Customer SET PhoneNumber = '0498765432' WHERE CustID = 7")), QString());
        break;
    }
    const QList<QStringList> stored = db.rows();
    const char* button = command == Delete ? "cmdDelete" : "cmdSave";
    if (command == Delete) {
        boxes.expect(MessageBox::Yes);
    }
    boxes.expect(MessageBox::Ok);
    main.click(button);

    QCOMPARE(boxes.pending(), 0);
    QCOMPARE(boxes.last().title, QString::fromLatin1(command == Delete ? "Elimina" : "Salva"));
    QCOMPARE(boxes.last().icon, MessageBox::Critical);
    QVERIFY2(boxes.last().text.contains(expected), qPrintable(boxes.last().text));
    QCOMPARE(db.rows(), stored);
    QCOMPARE(db.exec(QStringLiteral("PRAGMA integrity_check")), QString());
    if (command == Delete) {
        QVERIFY(main.browsing());
    } else {
        QVERIFY(main.window()->editPending());
        QCOMPARE(main.fields(), typed);
    }
    if (change == KeyTwice) {
        QCOMPARE(main.list()->itemCount(), 21);
    } else {
        checkListMatchesTable(main, db);
    }

    if (command == Delete) {
        boxes.expect(MessageBox::Yes);
    }
    if (change == KeyTwice) {
        boxes.expect(MessageBox::Ok);
    }
    main.click(button);
    QCOMPARE(boxes.pending(), 0);
    if (change == KeyTwice) {
        QCOMPARE(db.rows(), stored);
        return;
    }
    QVERIFY(main.browsing());
    checkListMatchesTable(main, db);
    const QList<QStringList> rows = db.rows();
    QCOMPARE(rows.size(), stored.size() + (command == Add ? 1 : command == Delete ? -1 : 0));
    if (command == Change) {
        const QStringList seven = rows.at(6);
        QCOMPARE(seven.at(0), QStringLiteral("7"));
        QCOMPARE(seven.mid(1, 6), typed.mid(0, 6));
        QCOMPARE(seven.at(7), typed.mid(6).join(QString()));
    }
}

// Bytes another program wrote that are not UTF-8 stay as they were when only the city is edited; the edited column
// is stored as typed.
void TestFaults::foreignBytesKept()
{
    TestDatabase db(threeContacts());
    QCOMPARE(db.exec(QStringLiteral("UPDATE Customer SET Address = CAST(X'56696120C328FF41' AS TEXT), Zip = "
                                    "X'33C3' WHERE CustID = 2")),
             QString());
    ScriptedMessageBox boxes;
    MainWindowDriver main;
    main.clickRow(2);
    QCOMPARE(main.row(2).at(7), QStringLiteral("2"));
    main.click("cmdUpdate");
    main.type("txtCity", QStringLiteral("Città Nuova"));
    main.click("cmdSave");
    QCOMPARE(boxes.asked().size(), 0);
    QVERIFY(main.browsing());
    QCOMPARE(db.rows().at(1).at(4), QStringLiteral("Città Nuova"));
    CustomerStore store;
    store.ConnectToDatabase(CustomerStore::connectionText(db.folder() + QLatin1Char('/')));
    ado::Recordset& rs = store.openQuery(QStringLiteral("SELECT hex(Address) || typeof(Address) || ' ' || hex(Zip) || "
                                                        "typeof(Zip) FROM Customer WHERE CustID = 2"));
    QCOMPARE(rs.Fields(0).toString(), QStringLiteral("56696120C328FF41text 33C3blob"));
}

int main(int argc, char** argv)
{
    if (argc > 1 && qstrcmp(argv[1], "--writer") == 0) {
        QCoreApplication app(argc, argv);
        return runWriter(app.arguments());
    }
#ifdef Q_OS_LINUX
    // As root, the RAM disks of these tests are mounted in a namespace of this process only: nothing outlives it.
    if (::geteuid() == 0 && ::unshare(CLONE_NEWNS) == 0) {
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
    }
#endif
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestFaults test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_faults.moc"
