// Contact files opened from the file manager: "velmarin FILE..." offers their import in the window it opens, and a
// second start hands its files to the window already open on the same book.
#include "maint/FileHandOver.h"
#include "maint/Startup.h"
#include "support/ScriptedMessageBox.h"
#include "support/TestDatabase.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {

QString sample(const QString& name)
{
    return qEnvironmentVariable("VELMARIN_SOURCE_DIR") + QStringLiteral("/tests/samples/exchange/") + name;
}

} // namespace

class TestOpenFiles : public QObject
{
    Q_OBJECT

private slots:
    void theWindowOffersTheFilesGiven_data();
    void theWindowOffersTheFilesGiven();
    void aSecondStartHandsTheFilesOver();
};

void TestOpenFiles::theWindowOffersTheFilesGiven_data()
{
    QTest::addColumn<bool>("stale"); // a crashed window's socket file is in the way
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("rows");

    QTest::newRow("imported") << false << int(MessageBox::Yes) << 2;
    QTest::newRow("declined: nothing added") << false << int(MessageBox::No) << 0;
    QTest::newRow("a crashed window's socket is replaced") << true << int(MessageBox::Yes) << 2;
}

// The real start-up on an empty book; while the window runs, the test checks that it listens for other starts.
void TestOpenFiles::theWindowOffersTheFilesGiven()
{
    QFETCH(bool, stale);
    QFETCH(int, answer);
    QFETCH(int, rows);
    TestDatabase db;
    const QString name = FileHandOver::serverName(db.path());
    const QString socketFile = QDir(QDir::tempPath()).filePath(name);
    if (stale) {
        QFile left(socketFile);
        QVERIFY(left.open(QIODevice::WriteOnly));
    }
    ScriptedMessageBox boxes;
    boxes.expect(MessageBox::Answer(answer));
    if (answer == MessageBox::Yes)
        boxes.expect(MessageBox::Ok);
    bool listening = false;
    QTimer look; // owned here, so that it never fires after this test
    look.setSingleShot(true);
    QObject::connect(&look, &QTimer::timeout, [&listening, name] {
        QLocalSocket probe;
        probe.connectToServer(name);
        listening = probe.waitForConnected(5000);
        QApplication::closeAllWindows();
    });
    look.start(0);

    QCOMPARE(runVelmarin({sample("mail-3.0.vcf")}), 0);

    QCOMPARE(boxes.asked().size(), answer == MessageBox::Yes ? 2 : 1);
    QVERIFY2(boxes.asked().first().text.startsWith(QStringLiteral("Importare nella rubrica i contatti di:\n")),
             qPrintable(boxes.asked().first().text));
    QVERIFY(boxes.asked().first().text.endsWith(QDir::toNativeSeparators(sample("mail-3.0.vcf"))));
    QCOMPARE(boxes.asked().first().buttons, MessageBox::YesNo);
    if (answer == MessageBox::Yes)
        QVERIFY(boxes.last().text.startsWith(QStringLiteral("Importati 2 contatti da mail-3.0.vcf")));
    QCOMPARE(db.count(), rows);
    QVERIFY(listening);
    QVERIFY(!QFile::exists(socketFile));
}

// The test is the open window; the real program, started on the same book, hands the files over and exits 0.
void TestOpenFiles::aSecondStartHandsTheFilesOver()
{
    TestDatabase db;
    const QString program = QDir(db.folder()).filePath(QStringLiteral("velmarin"));
    QVERIFY(QFile::copy(QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/velmarin"), program));
    FileHandOver window;
    QVERIFY(window.listen(FileHandOver::serverName(db.path())));
    QSignalSpy arrived(&window, &FileHandOver::filesArrived);

    QProcess second;
    second.setWorkingDirectory(QDir::tempPath());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    second.setProcessEnvironment(env);
    second.start(program, {sample("mail-3.0.vcf"), sample("rubrica.csv")});
    QVERIFY(second.waitForStarted());
    QVERIFY(arrived.wait(30000));
    QVERIFY(second.waitForFinished(30000));

    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    const QString err = QString::fromUtf8(second.readAllStandardError());
    QVERIFY2(!err.contains(QLatin1String("velmarin")), qPrintable(err));
    QCOMPARE(arrived.size(), 1);
    QCOMPARE(arrived.first().first().toStringList(),
             (QStringList {QFileInfo(sample("mail-3.0.vcf")).absoluteFilePath(),
                           QFileInfo(sample("rubrica.csv")).absoluteFilePath()}));
    QCOMPARE(db.count(), 0); // the window imports, not the second start
}

QTEST_MAIN(TestOpenFiles)
#include "tst_openfiles.moc"
