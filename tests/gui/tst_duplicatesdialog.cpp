// "Trova doppioni…" through the real window: a merge keeps every number and e-mail of both contacts in the kept card
// and the list shows the kept contact; "Non sono doppioni" is remembered across openings.
#include "data/Duplicates.h"
#include "exchange/CardDetails.h"
#include "maint/DuplicatesDialog.h"
#include "support/MainWindowDriver.h"
#include "support/ScriptedMessageBox.h"
#include "support/TestDatabase.h"

#include <QAction>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

namespace {

// A statement on a connection of its own, as another program; the values bound.
QVariant onBook(const TestDatabase& db, const QString& sql, const QVariantList& values = {})
{
    QVariant result;
    {
        QSqlDatabase book = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
        book.setDatabaseName(db.path());
        if (book.open()) {
            QSqlQuery query(book);
            query.prepare(sql);
            for (const QVariant& value : values) {
                query.addBindValue(value);
            }
            if (!query.exec()) {
                qWarning("%s", qPrintable(query.lastError().text()));
            }
            if (query.next()) {
                result = query.value(0);
            }
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("other"));
    return result;
}

const QByteArray kMario = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Rossi;Mario;;;\r\nFN:Mario Rossi\r\n"
                          "TEL;TYPE=CELL:3331234567\r\nEMAIL:mario@example.org\r\n"
                          "TEL;TYPE=FAX:02 5550009\r\nUID:mario-1\r\nEND:VCARD\r\n";
const QByteArray kMarioAgain = "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Mario;Rossi;;;\r\nFN:Rossi Mario\r\n"
                               "TEL;TYPE=CELL:+39 347 9876543\r\nEMAIL:m.rossi@lavoro.it\r\n"
                               "EMAIL:Mario@Example.org\r\nUID:mario-2\r\nEND:VCARD\r\n";

DuplicatesDialog* openDuplicates(const MainWindowDriver& main)
{
    auto* action = main.window()->findChild<QAction*>(QStringLiteral("actDuplicates"));
    if (!action || !action->isEnabled()) {
        return nullptr;
    }
    action->trigger();
    return main.window()->duplicatesDialog();
}

} // namespace

class tst_DuplicatesDialog : public QObject
{
    Q_OBJECT

private slots:
    void mergeKeepsEveryNumberAndEmail()
    {
        TestDatabase db({{1, "Rossi", "Mario", "Via Po 1", "Roma", "RM", "3331234567", ""},
                         {2, "Verdi", "Ugo", "", "Bari", "BA", "", ""},
                         {3, "Mario", "Rossi", "", "Roma", "", "+39 347 9876543", "061234567"},
                         {4, "Conti", "Elena", "", "Bologna", "BO", "", "0511234567"},
                         {5, "Conti", "Piero", "", "Bologna", "BO", "", "0511234567"}});
        ScriptedMessageBox boxes;
        {
            MainWindowDriver opened; // gives the book its cards
        }
        onBook(db, QStringLiteral("UPDATE CustomerCard SET Uid = 'mario-1', Card = ? WHERE CustID = 1"), {kMario});
        onBook(db, QStringLiteral("UPDATE CustomerCard SET Uid = 'mario-2', Card = ? WHERE CustID = 3"), {kMarioAgain});

        MainWindowDriver main;
        DuplicatesDialog* dialog = openDuplicates(main);
        QVERIFY(dialog);
        auto* groups = dialog->findChild<QListWidget*>(QStringLiteral("lstGroups"));
        QCOMPARE(groups->count(), 2);
        QVERIFY2(groups->item(0)->text().contains(QStringLiteral("stessa e-mail")),
                 qPrintable(groups->item(0)->text()));
        // Defaults: the later contact's mobile, the only land line; the user keeps the first one's name order.
        QVERIFY(dialog->findChild<QRadioButton*>(QStringLiteral("optField5_1"))->isChecked());
        QVERIFY(dialog->findChild<QRadioButton*>(QStringLiteral("optField6_1"))->isChecked());
        for (const char* name : {"optField0_0", "optField1_0"}) {
            // On its round mark: a radio button answers on its mark and its text only.
            auto* option = dialog->findChild<QRadioButton*>(QLatin1String(name));
            QTest::mouseClick(option, Qt::LeftButton, {}, QPoint(6, option->height() / 2));
            QVERIFY(option->isChecked());
        }

        boxes.expect(MessageBox::Yes);
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("cmdMerge")), Qt::LeftButton);
        QCOMPARE(boxes.pending(), 0);
        QCOMPARE(boxes.last().buttons, MessageBox::YesNo);

        QCOMPARE(db.count(), 4);
        QCOMPARE(main.list()->subItem(main.list()->selectedIndex(), 7), QStringLiteral("1"));
        QCOMPARE(main.fields().mid(0, 6), QStringList({"Rossi", "Mario", "Via Po 1", "Roma", "RM", "+39 347 9876543"}));
        const QByteArray card
            = onBook(db, QStringLiteral("SELECT Card FROM CustomerCard WHERE CustID = 1")).toByteArray();
        QCOMPARE(onBook(db, QStringLiteral("SELECT Uid FROM CustomerCard WHERE CustID = 1")).toString(),
                 QStringLiteral("mario-1"));
        const CardDetails details = cardDetails(card);
        QCOMPARE(details.emails, QStringList({"mario@example.org", "m.rossi@lavoro.it"}));
        QStringList numbers;
        for (const CardPhone& phone : details.otherPhones) {
            numbers.append(QString::fromStdString(Duplicates::comparedNumber(phone.number)));
        }
        QCOMPARE(numbers, QStringList({"025550009", "3331234567"}));
        // The one group left is the other one.
        QCOMPARE(groups->count(), 1);

        // "Non sono doppioni": gone now, and at the next opening.
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("cmdNotDuplicates")), Qt::LeftButton);
        QCOMPARE(groups->count(), 0);
        QVERIFY(!dialog->findChild<QPushButton*>(QStringLiteral("cmdMerge"))->isEnabled());
        dialog->close();
        QTRY_VERIFY(!main.window()->duplicatesDialog());
        dialog = openDuplicates(main);
        QVERIFY(dialog);
        QCOMPARE(dialog->findChild<QListWidget*>(QStringLiteral("lstGroups"))->count(), 0);
        QCOMPARE(boxes.asked().size(), 1);
        dialog->close();
        QTRY_VERIFY(!main.window()->duplicatesDialog());

        // Ctrl+Z takes the merge back: both contacts as they were, each with its own card.
        auto* undo = main.window()->findChild<QAction*>(QStringLiteral("actUndo"));
        QCOMPARE(undo->text(), QStringLiteral("Annulla unione di Rossi Mario (2 contatti)"));
        main.window()->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(main.window()));
        QTest::keyClick(main.list()->view(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(boxes.asked().size(), 1);
        QCOMPARE(db.count(), 5);
        QCOMPARE(main.list()->itemCount(), 5);
        QCOMPARE(main.list()->subItem(main.list()->selectedIndex(), 7), QStringLiteral("1"));
        QCOMPARE(main.fields().mid(0, 6), QStringList({"Rossi", "Mario", "Via Po 1", "Roma", "RM", "3331234567"}));
        QCOMPARE(onBook(db, QStringLiteral("SELECT Card FROM CustomerCard WHERE CustID = 1")).toByteArray(), kMario);
        QCOMPARE(onBook(db, QStringLiteral("SELECT Card FROM CustomerCard WHERE CustID = 3")).toByteArray(),
                 kMarioAgain);
        QCOMPARE(onBook(db, QStringLiteral("SELECT PhoneNumber FROM Customer WHERE CustID = 3")).toString(),
                 QStringLiteral("061234567"));
    }
};

QTEST_MAIN(tst_DuplicatesDialog)
#include "tst_duplicatesdialog.moc"
