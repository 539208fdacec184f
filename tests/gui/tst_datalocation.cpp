// Where the address book lives, over real folders: the program's own folder when it runs where it was built, the
// user's data folder when a marker says it is installed. The main window, the print window and the report all use
// the same file; an installed program's first start creates it and says so once; every start backs it up.
#include "common/ListView.h"
#include "core/AppInfo.h"
#include "core/DataLocation.h"
#include "data/DailyBackup.h"
#include "maint/Startup.h"
#include "maint/frmCustMaint.h"
#include "mkdb/CustDatabase.h"
#include "print/Visualizza.h"
#include "report/CrystalReport1.h"
#include "support/ScriptedMessageBox.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#ifdef Q_OS_LINUX
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

enum Marker { NoMarker, UserMarker, ProgramMarker, UnknownMarker };
enum UserFolder { Missing, WithFile, Empty, ReadOnly, LinkToNothing };

// One contact whose surname tells which file it came from.
void createBook(const QString& folder, const QString& surname)
{
    QVERIFY(QDir().mkpath(folder));
    const QString path = QDir(folder).filePath(QStringLiteral("Cust.mdb"));
    QCOMPARE(mkdb::createCustomerDatabase(path), QString());
    mkdb::ContactRow row;
    row.custId = 1;
    row.firstName = surname;
    row.lastName = QStringLiteral("Anna");
    QCOMPARE(mkdb::insertContacts(path, {row}), QString());
}

QStringList filesUnder(const QString& folder)
{
    QStringList files;
    const QDir dir(folder);
    for (const QFileInfo& info : dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name)) {
        files.append(info.fileName());
        if (info.isDir()) {
            for (const QString& inner : filesUnder(info.filePath())) {
                files.append(info.fileName() + QLatin1Char('/') + inner);
            }
        }
    }
    return files;
}

// The surnames of every row a list shows.
QStringList listed(const ListView* list)
{
    QStringList texts;
    for (int i = 1; i <= list->itemCount(); ++i) {
        QStringList row {list->itemText(i)};
        for (int k = 1; k <= 7; ++k) {
            row.append(list->subItem(i, k));
        }
        texts.append(row.join(QLatin1Char('|')));
    }
    return texts;
}

// A folder nobody may write, root included: as root a read-only bind mount, otherwise the permissions.
class ReadOnlyFolder
{
public:
    explicit ReadOnlyFolder(const QString& path)
        : m_path(path)
    {
        QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup);
#ifdef Q_OS_LINUX
        if (::geteuid() == 0) {
            const QByteArray p = QFile::encodeName(path);
            m_mounted = ::mount(p.constData(), p.constData(), nullptr, MS_BIND, nullptr) == 0;
            if (m_mounted) {
                ::mount(nullptr, p.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr);
            }
        }
#endif
    }
    ~ReadOnlyFolder()
    {
#ifdef Q_OS_LINUX
        if (m_mounted) {
            ::umount2(QFile::encodeName(m_path).constData(), MNT_DETACH);
        }
#endif
        QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    bool holds() const
    {
        QFile probe(QDir(m_path).filePath(QStringLiteral("probe")));
        if (probe.open(QIODevice::WriteOnly)) {
            probe.remove();
            return false;
        }
        return true;
    }

private:
    QString m_path;
    bool m_mounted = false;
};

} // namespace

class TestDataLocation : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void startsOnTheRightBook_data();
    void startsOnTheRightBook();
    void firstStartCreatesTheBookAndSaysSoOnce();
    void onlyTheOwnerReadsTheBook_data();
    void onlyTheOwnerReadsTheBook();

private:
    // Runs the program until its main window has shown its list; returns the exit code and the rows listed.
    int start(QStringList* rows);

    QTemporaryDir m_root;
    QString m_program;
    QString m_dataHome;
    QString m_user; // the user's data folder of Velmarin
    QByteArray m_savedDataHome;
};

void TestDataLocation::init()
{
    m_program = m_root.filePath(QStringLiteral("program"));
    m_dataHome = m_root.filePath(QStringLiteral("data"));
    m_user = QDir(m_dataHome).filePath(QStringLiteral("Velmarin"));
    QVERIFY(QDir().mkpath(m_program));
    QVERIFY(QDir().mkpath(m_dataHome));
    AppInfo::setFolderOverride(m_program);
    m_savedDataHome = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dataHome));
    AppInfo::setClock([] { return QDateTime(QDate(2026, 12, 7), QTime(9, 0)); });
}

void TestDataLocation::cleanup()
{
    AppInfo::setFolderOverride({});
    AppInfo::setClock({});
    qputenv("XDG_DATA_HOME", m_savedDataHome);
    QDir(m_program).removeRecursively();
    QDir(m_dataHome).removeRecursively();
}

int TestDataLocation::start(QStringList* rows)
{
    // Owned here: a start that fails before its event loop must not leave it to fire into a later test's frame.
    QTimer look;
    look.setSingleShot(true);
    QObject::connect(&look, &QTimer::timeout, [rows] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* form = qobject_cast<frmCustMaint*>(w)) {
                *rows = listed(form->findChild<ListView*>(QStringLiteral("lvwCustomer")));
            }
        }
        QApplication::closeAllWindows();
    });
    look.start(0);
    return runVelmarin();
}

void TestDataLocation::startsOnTheRightBook_data()
{
    QTest::addColumn<int>("marker");
    QTest::addColumn<bool>("fileBesideProgram");
    QTest::addColumn<int>("userFolder");
    QTest::addColumn<QString>("expected"); // the surname listed, or the start-up error
    QTest::addColumn<QString>("bookFolder"); // "program" or "user": where the book and its backup are

    QTest::newRow("built: the file beside the program")
        << int(NoMarker) << true << int(WithFile) << QStringLiteral("Accanto") << QStringLiteral("program");
    QTest::newRow("built: no file is the start-up error, nothing is created")
        << int(NoMarker) << false << int(Missing) << QStringLiteral("Impossibile trovare il file") << QString();
    QTest::newRow("installed: the user's file, not the one beside the program")
        << int(UserMarker) << true << int(WithFile) << QStringLiteral("Utente") << QStringLiteral("user");
    QTest::newRow("installed, read-only data folder: the start-up error, nothing is created")
        << int(UserMarker) << false << int(ReadOnly) << QStringLiteral("Impossibile creare") << QString();
    QTest::newRow("marker keeping the data beside the program")
        << int(ProgramMarker) << true << int(WithFile) << QStringLiteral("Accanto") << QStringLiteral("program");
    QTest::newRow("marker with an unknown value: the user's file")
        << int(UnknownMarker) << true << int(WithFile) << QStringLiteral("Utente") << QStringLiteral("user");
    // The book a link to a drive not mounted: creating it fails after the new file was made aside.
    QTest::newRow("installed, the book a link to nothing: the start-up error, nothing half-made is left")
        << int(UserMarker) << false << int(LinkToNothing) << QStringLiteral("Impossibile creare") << QString();
}

void TestDataLocation::startsOnTheRightBook()
{
    QFETCH(int, marker);
    QFETCH(bool, fileBesideProgram);
    QFETCH(int, userFolder);
    QFETCH(QString, expected);
    QFETCH(QString, bookFolder);

    if (marker != NoMarker) {
        QFile ini(QDir(m_program).filePath(QStringLiteral("velmarin.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write(marker == UserMarker          ? "[Data]\nLocation=user\n"
                      : marker == UnknownMarker ? "[Data]\nLocation=altrove\n"
                                                : "[Data]\nLocation=program\n");
    }
    if (fileBesideProgram) {
        createBook(m_program, QStringLiteral("Accanto"));
    }
    if (userFolder == WithFile) {
        createBook(m_user, QStringLiteral("Utente"));
    }
    if (userFolder == LinkToNothing) {
        QVERIFY(QDir().mkpath(m_user));
        QVERIFY(QFile::link(m_root.filePath(QStringLiteral("smontato/Cust.mdb")),
                            QDir(m_user).filePath(QStringLiteral("Cust.mdb"))));
    }
    std::unique_ptr<ReadOnlyFolder> readOnly;
    if (userFolder == ReadOnly) {
        readOnly = std::make_unique<ReadOnlyFolder>(m_dataHome);
        if (!readOnly->holds()) {
            QSKIP("this system cannot make a folder read-only for the test's user");
        }
    }
    const QStringList programBefore = filesUnder(m_program);
    const QStringList userBefore = filesUnder(m_dataHome);
    ScriptedMessageBox boxes;
    if (bookFolder.isEmpty()) {
        boxes.expect(MessageBox::Ok);
    }

    QStringList rows;
    const int code = start(&rows);

    if (bookFolder.isEmpty()) {
        QCOMPARE(code, 1);
        QCOMPARE(boxes.asked().size(), 1);
        QCOMPARE(boxes.last().icon, MessageBox::Critical);
        QVERIFY2(boxes.last().text.contains(expected), qPrintable(boxes.last().text));
        QCOMPARE(filesUnder(m_program), programBefore);
        readOnly.reset();
        QCOMPARE(filesUnder(m_dataHome), userBefore);
        return;
    }
    QCOMPARE(code, 0);
    QCOMPARE(boxes.asked().size(), 0);
    QCOMPARE(rows.size(), 1);
    QVERIFY2(rows.first().contains(expected), qPrintable(rows.first()));

    // The print window and the report read the same book.
    Visualizza print;
    print.show();
    print.activateWindow();
    QVERIFY(QTest::qWaitFor([&print] { return print.ListView3->itemCount() == 1; }));
    QVERIFY(listed(print.ListView3).first().contains(expected));
    print.close();
    CrystalReport1 report;
    report.ReadRecords();
    QCOMPARE(report.records().size(), 1);
    QVERIFY(report.records().first().join(QLatin1Char('|')).contains(expected));

    // The day's backup lies beside the book used, and nothing was written beside the other one.
    const QString used = bookFolder == QLatin1String("program") ? m_program : m_user;
    QCOMPARE(DailyBackup::copiesIn(QDir(used).filePath(QStringLiteral("Backup"))),
             QStringList {QDir(used).filePath(QStringLiteral("Backup/Cust-2026-12-07.mdb"))});
    if (used == m_user) {
        QCOMPARE(filesUnder(m_program), programBefore);
    } else {
        QCOMPARE(filesUnder(m_dataHome), userBefore);
    }
}

void TestDataLocation::firstStartCreatesTheBookAndSaysSoOnce()
{
    QFile ini(QDir(m_program).filePath(QStringLiteral("velmarin.ini")));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[Data]\nLocation=user\n");
    ini.close();
    const QStringList programBefore = filesUnder(m_program);
    ScriptedMessageBox boxes;
    boxes.expect(MessageBox::Ok);

    QStringList rows {QStringLiteral("not listed")};
    QCOMPARE(start(&rows), 0);

    const QString book = QDir(m_user).filePath(QStringLiteral("Cust.mdb"));
    QCOMPARE(rows, QStringList());
    QCOMPARE(boxes.asked().size(), 1);
    QCOMPARE(boxes.last().icon, MessageBox::Information);
    QCOMPARE(boxes.last().title, QStringLiteral("Velmarin"));
    QVERIFY2(boxes.last().text.contains(QDir::toNativeSeparators(book)), qPrintable(boxes.last().text));
    QCOMPARE(filesUnder(m_user), QStringList({"Backup", "Backup/Cust-2026-12-07.mdb", "Cust.mdb"}));
    QCOMPARE(filesUnder(m_program), programBefore);

    // A contact added since is there at the next start, and nothing more is said.
    mkdb::ContactRow row;
    row.custId = 1;
    row.firstName = QStringLiteral("Nuovo");
    QCOMPARE(mkdb::insertContacts(book, {row}), QString());
    QCOMPARE(start(&rows), 0);
    QCOMPARE(boxes.asked().size(), 1);
    QCOMPARE(rows.size(), 1);
    QVERIFY(rows.first().contains(QStringLiteral("Nuovo")));
}

#ifdef Q_OS_LINUX
namespace {

int modeOf(const QString& path)
{
    struct stat st
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

} // namespace
#endif

void TestDataLocation::onlyTheOwnerReadsTheBook_data()
{
    QTest::addColumn<int>("mask");
    QTest::addColumn<bool>("installed");
    QTest::addColumn<int>("bookMode"); // set by hand before the start, or 0

    QTest::newRow("installed, umask 022") << 022 << true << 0;
    QTest::newRow("installed, umask 002") << 002 << true << 0;
    QTest::newRow("beside the program, umask 022: the book's mode is left alone") << 022 << false << 0;
    QTest::newRow("beside the program, umask 002: the book's mode is left alone") << 002 << false << 0;
    QTest::newRow("beside the program, book set to 0600 by hand") << 002 << false << 0600;
    QTest::newRow("beside the program, book its owner may only read") << 022 << false << 0400;
}

// Each start's files under the umasks users have: the per-user folder and Backup/ 0700, the book and each copy 0600,
// a copy never readable by more than the book.
void TestDataLocation::onlyTheOwnerReadsTheBook()
{
#ifndef Q_OS_LINUX
    QSKIP("modes are checked where they mean something");
#else
    QFETCH(int, mask);
    QFETCH(bool, installed);
    QFETCH(int, bookMode);

    const mode_t saved = ::umask(mode_t(mask));
    const auto restore = qScopeGuard([saved] { ::umask(saved); });
    QString folder = m_user;
    int expectedBook = 0600;
    if (installed) {
        QFile ini(QDir(m_program).filePath(QStringLiteral("velmarin.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[Data]\nLocation=user\n");
        ini.close();
        QVERIFY(QDir().mkpath(m_dataHome));
        QVERIFY(!QFileInfo::exists(m_user));
    } else {
        folder = m_program;
        createBook(folder, QStringLiteral("Accanto"));
        if (bookMode != 0) {
            QCOMPARE(::chmod(QFile::encodeName(QDir(folder).filePath(QStringLiteral("Cust.mdb"))).constData(),
                             mode_t(bookMode)),
                     0);
        }
        expectedBook = modeOf(QDir(folder).filePath(QStringLiteral("Cust.mdb")));
        QVERIFY(bookMode == 0 || expectedBook == bookMode);
    }
    ScriptedMessageBox boxes;
    if (installed) {
        boxes.expect(MessageBox::Ok);
    }
    QStringList rows;
    QCOMPARE(start(&rows), 0);

    const QDir dir(folder);
    if (installed) {
        QCOMPARE(modeOf(folder), 0700);
    }
    QCOMPARE(modeOf(dir.filePath(QStringLiteral("Cust.mdb"))), expectedBook);
    QCOMPARE(modeOf(dir.filePath(QStringLiteral("Backup"))), 0700);
    QCOMPARE(modeOf(dir.filePath(QStringLiteral("Backup/Cust-2026-12-07.mdb"))), expectedBook & 0600);
#endif
}

QTEST_MAIN(TestDataLocation)
#include "tst_datalocation.moc"
