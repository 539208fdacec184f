// velmarin --duplicates as a user runs it: the real program beside a real Cust.mdb prints the groups, most certain
// first, one line per contact and a blank line between groups, and changes no contact.
#include "support/TestDatabase.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

class tst_DuplicatesCommand : public QObject
{
    Q_OBJECT

private slots:
    void printsGroupsAndChangesNothing()
    {
        TestDatabase db({{1, "Rossi", "Mario", "Via Po 1", "Roma", "RM", "3331234567", "0612345678"},
                         {2, "Conti", "Elena", "", "Bologna", "BO", "", "0511234567"},
                         {3, "Rossi", "Mario", "", "Milano", "MI", "3479876543", ""},
                         {4, "MARIO", "rossi", "", "Roma", "", "+39 333 123 4567", ""},
                         {5, "Conti", "Piero", "Via\tLunga 2", "Bologna", "BO", "", "0511234567"}});
        const QList<QStringList> before = db.rows();
        const QString program = db.folder() + QStringLiteral("/velmarin");
        QVERIFY(QFile::copy(QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/velmarin"), program));

        QProcess run;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        run.setProcessEnvironment(env);
        run.start(program, {QStringLiteral("--duplicates")});
        QVERIFY(run.waitForFinished(60000));
        QCOMPARE(QString::fromUtf8(run.readAllStandardError()), QString());
        QCOMPARE(run.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(run.readAllStandardOutput()),
                 QStringLiteral("1\tRossi\tMario\tVia Po 1\tRoma\tRM\t3331234567\t(061) 234-5678\t"
                                "stesso cellulare, stesso nome e città\n"
                                "4\tMARIO\trossi\t\tRoma\t\t+39 333 123 4567\t\tstesso cellulare, stesso nome e città\n"
                                "\n"
                                "2\tConti\tElena\t\tBologna\tBO\t\t(051) 123-4567\tstesso telefono\n"
                                "5\tConti\tPiero\tVia Lunga 2\tBologna\tBO\t\t(051) 123-4567\tstesso telefono\n"));
        QCOMPARE(db.rows(), before);
    }
};

QTEST_GUILESS_MAIN(tst_DuplicatesCommand)
#include "tst_duplicatescommand.moc"
