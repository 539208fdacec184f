// Installing and housekeeping over real folders: the install rules into a temporary prefix (with a space in it),
// the desktop validators on what they installed, the installed program started as a user with a home of their own,
// the uninstall, and the build folder's clean, none of which may cost a contact.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString appId = QStringLiteral("org.velmarin.Velmarin");

// Files and links under folder, relative and sorted; with their size and time when stamped.
QStringList filesUnder(const QString& folder, bool stamped = false)
{
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::System | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        QString entry = QDir(folder).relativeFilePath(info.filePath());
        if (stamped) {
            entry += QStringLiteral(" %1 %2").arg(info.size()).arg(info.lastModified().toMSecsSinceEpoch());
        }
        files.append(entry);
    }
    files.sort();
    return files;
}

void writeFile(const QString& path, const QByteArray& content = "contenuto")
{
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

// A user of their own: HOME in a temporary folder, nothing else pointing at data or settings, no display.
QProcessEnvironment userEnvironment(const QString& home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"}) {
        env.remove(QString::fromLatin1(name));
    }
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return env;
}

// Runs sql on the book, then lists "FirstName|LastName" of every contact; "<no book>" when it does not open.
QStringList rowsOf(const QString& path, const QString& sql = {})
{
    QStringList rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("book"));
        db.setDatabaseName(path);
        db.setConnectOptions(sql.isEmpty() ? QStringLiteral("QSQLITE_OPEN_READONLY") : QString());
        const bool open = QFileInfo::exists(path) && db.open();
        QSqlQuery query(db);
        if (!open || (!sql.isEmpty() && !query.exec(sql))
            || !query.exec(QStringLiteral("SELECT FirstName, LastName FROM Customer ORDER BY CustID"))) {
            rows.append(QStringLiteral("<no book>"));
        }
        while (query.next()) {
            rows.append(query.value(0).toString() + QLatin1Char('|') + query.value(1).toString());
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("book"));
    return rows;
}

struct Run
{
    int code = -1;
    QString output;
};

// Runs a program to its end; as a user with that home when one is given.
Run run(const QString& program, const QStringList& args, const QString& home = {})
{
    QProcess p;
    if (!home.isEmpty()) {
        p.setProcessEnvironment(userEnvironment(home));
    }
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(60000)) {
        return {-1, program + QStringLiteral(" did not finish: ") + p.errorString()};
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromLocal8Bit(p.readAll())};
}

QString script(const char* name)
{
    return QDir(qEnvironmentVariable("VELMARIN_SOURCE_DIR")).filePath(QStringLiteral("scripts/") + name);
}

} // namespace

class TestInstall : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void installsProgramMenuEntryAndIcons();
    void desktopFilesPassTheValidators_data();
    void desktopFilesPassTheValidators();
    void installedProgramKeepsTheBookInTheUsersFolder();
    void uninstallRemovesWhatWasInstalledOnly();
    void cleanKeepsTheAddressBook_data();
    void cleanKeepsTheAddressBook();

private:
    QString installed() const { return QDir(m_prefix).filePath(QStringLiteral("bin/velmarin")); }

    QTemporaryDir m_root;
    QTemporaryDir m_home;
    QString m_prefix;
};

void TestInstall::initTestCase()
{
    QVERIFY(m_root.isValid() && m_home.isValid());
    m_prefix = m_root.filePath(QStringLiteral("Programmi utente"));
    const Run install = run(qEnvironmentVariable("CMAKE_COMMAND"),
                            {"--install", qEnvironmentVariable("VELMARIN_BUILD_DIR"), "--prefix", m_prefix});
    QVERIFY2(install.code == 0, qPrintable(install.output));
}

void TestInstall::installsProgramMenuEntryAndIcons()
{
    // What uninstall must remove is checked there: nothing but the files it keeps may be left.
    QVERIFY(QFileInfo(QDir(m_prefix).filePath(QStringLiteral("lib/velmarin/velmarin.ini"))).isFile());
    // The manual pages and the copyright go everywhere; the Debian changelog only in the package.
    for (const char* page : {"velmarin.1.gz", "velmarin-mkdb.1.gz"}) {
        QVERIFY(QFileInfo(QDir(m_prefix).filePath(QStringLiteral("share/man/man1/") + page)).size() > 0);
    }
    QVERIFY(QFileInfo(QDir(m_prefix).filePath(QStringLiteral("share/doc/velmarin/copyright"))).isFile());
    QVERIFY(!QFileInfo::exists(QDir(m_prefix).filePath(QStringLiteral("share/doc/velmarin/changelog.Debian.gz"))));
    const QList<int> sizes {16, 22, 24, 32, 48, 64, 128, 256};
    QCOMPARE(QFileInfo(QDir(m_prefix).filePath(QStringLiteral("bin/velmarin"))).symLinkTarget(),
             QDir(m_prefix).filePath(QStringLiteral("lib/velmarin/velmarin")));
    for (int size : sizes) {
        const QImage icon(
            QDir(m_prefix).filePath(QStringLiteral("share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(appId)));
        QCOMPARE(icon.size(), QSize(size, size));
        QVERIFY(icon.pixelColor(size / 2, size / 2).alpha() > 0);
    }
    // The menu starts the program by its full path, quoted as the format asks for a path with a space, with the
    // contact files the file manager opens with it.
    QFile entry(QDir(m_prefix).filePath(QStringLiteral("share/applications/") + appId + ".desktop"));
    QVERIFY(entry.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(entry.readAll());
    const QString exec
        = QStringLiteral("Exec=\"%1\" %F\n").arg(QDir(m_prefix).filePath(QStringLiteral("bin/velmarin")));
    QVERIFY2(text.contains(exec), qPrintable(exec));
    QVERIFY(text.contains(QLatin1String("\nMimeType=text/vcard;text/x-vcard;text/directory;text/csv;\n")));
}

void TestInstall::desktopFilesPassTheValidators_data()
{
    QTest::addColumn<QString>("validator");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("allowed"); // findings that may stay, as "tag" or "tag first-word"
    QTest::newRow("menu entry") << "desktop-file-validate" << QStringList()
                                << "share/applications/" + appId + ".desktop" << QStringList();
    // A reverse-DNS id keeps the capital of the program's name; AppStream before 1.0 does not know <developer>.
    QTest::newRow("AppStream metainfo") << "appstreamcli" << QStringList {"validate", "--pedantic", "--no-net"}
                                        << "share/metainfo/" + appId + ".metainfo.xml"
                                        << QStringList {"cid-contains-uppercase-letter", "unknown-tag developer"};
}

void TestInstall::desktopFilesPassTheValidators()
{
    QFETCH(QString, validator);
    QFETCH(QStringList, args);
    QFETCH(QString, file);
    QFETCH(QStringList, allowed);
    const Run check = run(validator, args << QDir(m_prefix).filePath(file));
    QVERIFY2(check.code == 0, qPrintable(validator + QStringLiteral(": ") + check.output));
    // "P: id:3: tag details": every finding, down to the pedantic ones, is one of those allowed.
    static const QRegularExpression finding(QStringLiteral("^[EWIP]: \\S+ (\\S+)(?: (\\S+))?"),
                                            QRegularExpression::MultilineOption);
    for (auto it = finding.globalMatch(check.output); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        QVERIFY2(allowed.contains(match.captured(1)) || allowed.contains(match.captured(1) + ' ' + match.captured(2)),
                 qPrintable(validator + QStringLiteral(": ") + check.output));
    }
}

void TestInstall::installedProgramKeepsTheBookInTheUsersFolder()
{
    const QString programFolder = QDir(m_prefix).filePath(QStringLiteral("lib/velmarin"));
    const QString book = m_home.filePath(QStringLiteral(".local/share/Velmarin/Cust.mdb"));
    const QStringList before = filesUnder(m_prefix, true);
    QFile::setPermissions(programFolder, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup);

    QProcess program;
    program.setProcessEnvironment(userEnvironment(m_home.path()));
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(installed(), {});
    QVERIFY(program.waitForStarted());
    // The day's backup is made once the book has been opened and read; the program then waits on its notice.
    const QDir backup(QFileInfo(book).absoluteDir().filePath(QStringLiteral("Backup")));
    QTRY_VERIFY_WITH_TIMEOUT(!backup.entryList({"Cust-*.mdb"}).isEmpty() || program.state() == QProcess::NotRunning,
                             20000);
    QCOMPARE(program.state(), QProcess::Running);
    program.kill();
    program.waitForFinished();
    const QString output = QString::fromLocal8Bit(program.readAll());
    QVERIFY2(!output.contains(QStringLiteral("non riuscita")), qPrintable(output));
    QCOMPARE(rowsOf(book), QStringList());

    // The command line uses the same book: an export from it, imported by another user whose book it creates.
    QCOMPARE(rowsOf(book, "INSERT INTO Customer (CustID, FirstName, LastName) VALUES (1, 'Rossi', 'Mario')"),
             QStringList {"Rossi|Mario"});
    const QString csv = m_root.filePath(QStringLiteral("rubrica.csv"));
    const Run exported = run(installed(), {"--export", csv}, m_home.path());
    QVERIFY2(exported.code == 0, qPrintable(exported.output));
    QTemporaryDir otherHome;
    const Run imported = run(installed(), {"--import", csv}, otherHome.path());
    QVERIFY2(imported.code == 0, qPrintable(imported.output));
    const QString otherBook = otherHome.filePath(QStringLiteral(".local/share/Velmarin/Cust.mdb"));
    QCOMPARE(rowsOf(otherBook), QStringList {"Rossi|Mario"});
    // The day's backup was made before the import changed the book.
    const QDir otherBackup(QFileInfo(otherBook).absoluteDir().filePath(QStringLiteral("Backup")));
    const QStringList copies = otherBackup.entryList({"Cust-*.mdb"});
    QCOMPARE(copies.size(), 1);
    QCOMPARE(rowsOf(otherBackup.filePath(copies.first())), QStringList());

    QFile::setPermissions(programFolder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QCOMPARE(filesUnder(m_prefix, true), before);
}

void TestInstall::uninstallRemovesWhatWasInstalledOnly()
{
    // Contacts someone kept beside the installed program stay, and so does the program's folder holding them.
    const QStringList kept {"lib/velmarin/Backup/Cust-2026-12-01.mdb", "lib/velmarin/Cust.mdb"};
    for (const QString& file : kept) {
        writeFile(QDir(m_prefix).filePath(file));
    }
    const QStringList userBook = filesUnder(m_home.path(), true);
    QCOMPARE(userBook.filter(QStringLiteral("/Velmarin/Cust.mdb ")).size(), 1);

    const Run uninstall = run(script("uninstall"), {m_prefix});
    QVERIFY2(uninstall.code == 0, qPrintable(uninstall.output));
    QCOMPARE(filesUnder(m_prefix), kept);
    QCOMPARE(filesUnder(m_home.path(), true), userBook);

    const Run again = run(script("uninstall"), {m_prefix});
    QVERIFY2(again.code == 0 && again.output.contains(QStringLiteral("not installed")), qPrintable(again.output));
}

void TestInstall::cleanKeepsTheAddressBook_data()
{
    QTest::addColumn<QStringList>("built"); // what the build folder holds besides the kept files
    QTest::addColumn<QStringList>("kept");
    const QStringList built {
        "CMakeCache.txt", "bin/velmarin", "bin/velmarin-mkdb", "src/CMakeFiles/x.o", "tests/tst_x"};
    QTest::newRow("the book filled through make run, its journal and backups")
        << built << QStringList {"bin/Backup/Cust-2026-12-01.mdb", "bin/Cust.mdb", "bin/Cust.mdb-journal"};
    QTest::newRow("a name in other letter case") << built << QStringList {"bin/cust.mdb"};
    QTest::newRow("a name with pattern characters") << built << QStringList {"bin/Cust.mdb [copia]"};
    QTest::newRow("no book: the whole folder goes") << built << QStringList();
}

void TestInstall::cleanKeepsTheAddressBook()
{
    QFETCH(QStringList, built);
    QFETCH(QStringList, kept);
    QTemporaryDir dir;
    const QString build = dir.filePath(QStringLiteral("build"));
    for (const QString& file : built + kept) {
        writeFile(QDir(build).filePath(file));
    }

    const Run clean = run(script("clean-build"), {build});

    QVERIFY2(clean.code == 0, qPrintable(clean.output));
    QCOMPARE(QFileInfo::exists(build), !kept.isEmpty());
    QCOMPARE(filesUnder(build), kept);
    for (const QString& file : kept) {
        if (!file.contains(QLatin1String("Backup/"))) {
            QVERIFY2(clean.output.contains(QStringLiteral("kept ") + QDir(build).filePath(file)),
                     qPrintable(clean.output));
        }
    }
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
