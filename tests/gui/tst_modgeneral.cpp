#include "common/modGeneral.h"
#include "core/AppInfo.h"
#include "core/DataLocation.h"

#include <QTest>

// The application folder is joined straight to "Cust.mdb": it must end in exactly one separator.
class TestModGeneral : public QObject
{
    Q_OBJECT

private slots:
    void withTrailingSeparator_data();
    void withTrailingSeparator();
    void appPathFollowsTheFolder();
};

void TestModGeneral::withTrailingSeparator_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("expected");

    QTest::newRow("drive root") << "C:\\"
                                << "C:\\";
    QTest::newRow("windows folder") << "C:\\Prog"
                                    << "C:\\Prog\\";
    QTest::newRow("windows folder with separator") << "C:\\Prog\\"
                                                   << "C:\\Prog\\";
    QTest::newRow("unix folder") << "/opt/velmarin"
                                 << "/opt/velmarin/";
    QTest::newRow("unix folder with separator") << "/opt/velmarin/"
                                                << "/opt/velmarin/";
    QTest::newRow("unix root") << "/"
                               << "/";
    QTest::newRow("qt style windows folder") << "C:/Prog"
                                             << "C:/Prog/";
#ifndef Q_OS_WIN
    QTest::newRow("unix folder ending in a backslash") << "/srv/bs\\"
                                                       << "/srv/bs\\/";
#endif
}

void TestModGeneral::withTrailingSeparator()
{
    QFETCH(QString, folder);
    QFETCH(QString, expected);
    QCOMPARE(::withTrailingSeparator(folder), expected);
}

void TestModGeneral::appPathFollowsTheFolder()
{
    AppInfo::setFolderOverride(QStringLiteral("/srv/rubrica"));
    QCOMPARE(GetAppPath(), QStringLiteral("/srv/rubrica/"));
    AppInfo::setFolderOverride({});
    QCOMPARE(GetAppPath(), ::withTrailingSeparator(AppInfo::folder()));
    QVERIFY(GetAppPath().endsWith(QLatin1Char('/')));
    QVERIFY(!GetAppPath().endsWith(QLatin1String("//")));
}

QTEST_GUILESS_MAIN(TestModGeneral)
#include "tst_modgeneral.moc"
