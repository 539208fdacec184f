// Each contact's whole card through the main window: what "Salva", "Aggiungi" and "Elimina" do to it.
#include "exchange/CardEdit.h"
#include "maint/ContactDetailsDialog.h"
#include "maint/ListContextMenu.h"
#include "support/MainWindowDriver.h"
#include "support/ScriptedMessageBox.h"
#include "support/TestDatabase.h"

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

using mkdb::ContactRow;

namespace {

struct StoredCard
{
    QString uid;
    QByteArray card;
};

// The CustomerCard rows by key, read on a connection of their own.
QMap<int, StoredCard> storedCards(const TestDatabase& db)
{
    QMap<int, StoredCard> cards;
    {
        QSqlDatabase sql = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("cards"));
        sql.setDatabaseName(db.path());
        if (sql.open()) {
            QSqlQuery query(sql);
            query.exec(QStringLiteral("SELECT CustID, Uid, Card FROM CustomerCard"));
            while (query.next()) {
                cards.insert(query.value(0).toInt(), {query.value(1).toString(), query.value(2).toByteArray()});
            }
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("cards"));
    return cards;
}

// Replaces a text field's whole text, typed key by key.
template<typename Field>
void retype(ContactDetailsDialog* dialog, const char* name, const QString& text)
{
    auto* field = dialog->findChild<Field*>(QLatin1String(name));
    QVERIFY2(field, name);
    field->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_Delete);
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        if (i > 0) {
            QTest::keyClick(field, Qt::Key_Return);
        }
        QTest::keyClicks(field, lines.at(i));
    }
}

// The lines of a card, each with its line end.
QList<QByteArray> linesOf(const QByteArray& card)
{
    QList<QByteArray> lines = card.split('\n');
    lines.removeAll(QByteArray());
    return lines;
}

// Writes a card as a sync or an import would have left it.
void keepCard(const TestDatabase& db, int key, const QString& uid, const QByteArray& card)
{
    {
        QSqlDatabase sql = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("cards"));
        sql.setDatabaseName(db.path());
        QVERIFY(sql.open());
        QSqlQuery query(sql);
        query.prepare(QStringLiteral("INSERT OR REPLACE INTO CustomerCard (CustID, Uid, Card) VALUES (?, ?, ?)"));
        query.addBindValue(key);
        query.addBindValue(uid);
        query.addBindValue(card);
        QVERIFY2(query.exec(), qPrintable(query.lastError().text()));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("cards"));
}

const QByteArray kCard = "BEGIN:VCARD\r\n"
                         "VERSION:3.0\r\n"
                         "N:Bianchi;Bruno;;;\r\n"
                         "FN:Bruno Bianchi\r\n"
                         "ADR;TYPE=HOME:;;Via 2;Milano;MI;20121;Italia\r\n"
                         "TEL;TYPE=CELL:3330000002\r\n"
                         "TEL;TYPE=HOME:0212345679\r\n"
                         "EMAIL;TYPE=INTERNET:bruno@example.org\r\n"
                         "TEL;TYPE=WORK:+39 02 1234567\r\n"
                         "NOTE:Collega di Anna\r\n"
                         "X-SCONOSCIUTO;PARAM=1:byte per byte\r\n"
                         "UID:bruno-del-telefono\r\n"
                         "END:VCARD\r\n";

QList<ContactRow> threeContacts()
{
    return {{1, "Rossi", "Anna", "Via 1", "Milano", "MI", "3330000001", "0212345678"},
            {2, "Bianchi", "Bruno", "Via 2", "Milano", "MI", "3330000002", "0212345679"},
            {3, "Verdi", "Carla", "Via 3", "Milano", "MI", "3330000003", QVariant()}};
}

int rowOfKey(const MainWindowDriver& main, int key)
{
    for (int i = 1; i <= main.list()->itemCount(); ++i) {
        if (main.list()->subItem(i, 7) == QString::number(key)) {
            return i;
        }
    }
    return 0;
}

} // namespace

class TestContactDetails : public QObject
{
    Q_OBJECT

private slots:
    void windowKeepsEachCard();
    void detailsDialog_data();
    void detailsDialog();
    void detailsOfAContactWithoutCard();
    void birthdayAsTyped_data();
    void birthdayAsTyped();
};

// "Salva" edits only the card line of the changed field; a deleted contact's card goes with it, and the key given out
// again comes with a new UID.
void TestContactDetails::windowKeepsEachCard()
{
    TestDatabase db(threeContacts());
    ScriptedMessageBox boxes;
    {
        MainWindowDriver opened;
    }
    keepCard(db, 2, QStringLiteral("bruno-del-telefono"), kCard);
    MainWindowDriver main;
    const QMap<int, StoredCard> before = storedCards(db);
    QCOMPARE(before.size(), 3);

    main.clickRow(rowOfKey(main, 2));
    main.click("cmdUpdate");
    main.type("txtAddr", QStringLiteral("Corso Italia 9"));
    main.click("cmdSave");
    QVERIFY(main.browsing());
    const QByteArray edited = storedCards(db).value(2).card;
    QCOMPARE(QString::fromUtf8(edited),
             QString::fromUtf8(kCard).replace(QStringLiteral("Via 2;Milano"), QStringLiteral("Corso Italia 9;Milano")));
    QCOMPARE(storedCards(db).value(2).uid, QStringLiteral("bruno-del-telefono"));

    main.clickRow(rowOfKey(main, 3));
    boxes.expect(MessageBox::Yes);
    main.click("cmdDelete");
    QVERIFY(!storedCards(db).contains(3));

    main.click("cmdAdd");
    main.type("txtFirst", QStringLiteral("Neri"));
    main.click("cmdSave");
    const QMap<int, StoredCard> after = storedCards(db);
    QCOMPARE(after.keys(), (QList<int> {1, 2, 3}));
    QVERIFY(!after.value(3).uid.isEmpty());
    QVERIFY(after.value(3).uid != before.value(3).uid);
    QVERIFY(after.value(3).uid != after.value(1).uid);
    QCOMPARE(after.value(1).uid, before.value(1).uid);
}

void TestContactDetails::detailsDialog_data()
{
    QTest::addColumn<QString>("end");
    QTest::addColumn<bool>("changedMeanwhile");
    QTest::addColumn<bool>("saved");

    QTest::newRow("OK") << "cmdOk" << false << true;
    QTest::newRow("Annulla") << "cmdCancel" << false << false;
    QTest::newRow("Esc") << "Esc" << false << false;
    QTest::newRow("changed by another program meanwhile") << "cmdOk" << true << false;
}

// Ctrl+D opens the selected contact's details; OK writes the e-mail and the postal code into its card and leaves
// every other line as it was; Annulla, Esc and a contact changed meanwhile leave the card as it was.
void TestContactDetails::detailsDialog()
{
    QFETCH(QString, end);
    QFETCH(bool, changedMeanwhile);
    QFETCH(bool, saved);

    TestDatabase db(threeContacts());
    {
        MainWindowDriver opened;
    }
    keepCard(db, 2, QStringLiteral("bruno-del-telefono"), kCard);
    ScriptedMessageBox boxes;
    MainWindowDriver main;
    main.clickRow(rowOfKey(main, 2));
    QTest::keyClick(main.window(), Qt::Key_D, Qt::ControlModifier);
    ContactDetailsDialog* dialog = main.window()->detailsDialog();
    QVERIFY(dialog);
    QVERIFY(dialog->isVisible());
    QCOMPARE(dialog->findChild<QPlainTextEdit*>("txtEmails")->toPlainText(), QStringLiteral("bruno@example.org"));
    QCOMPARE(dialog->findChild<QLineEdit*>("txtPostalCode")->text(), QStringLiteral("20121"));
    QCOMPARE(dialog->findChild<QLineEdit*>("txtCountry")->text(), QStringLiteral("Italia"));
    QCOMPARE(dialog->findChild<QPlainTextEdit*>("txtNote")->toPlainText(), QStringLiteral("Collega di Anna"));
    QCOMPARE(dialog->details().otherPhones, (QList<CardPhone> {{"work", "+39 02 1234567"}}));

    retype<QPlainTextEdit>(dialog, "txtEmails", QStringLiteral("bruno.bianchi@example.org"));
    retype<QLineEdit>(dialog, "txtPostalCode", QStringLiteral("20122"));
    if (changedMeanwhile) {
        QCOMPARE(db.exec(QStringLiteral("UPDATE Customer SET Address = 'Via Nuova 4' WHERE CustID = 2")), QString());
        boxes.expect(MessageBox::Ok);
    }
    if (end == QLatin1String("Esc")) {
        QTest::keyClick(dialog, Qt::Key_Escape);
    } else {
        QTest::mouseClick(dialog->findChild<QPushButton*>(end), Qt::LeftButton);
    }
    QTRY_VERIFY(!main.window()->detailsDialog());
    QVERIFY(main.browsing());

    const QList<QByteArray> before = linesOf(kCard);
    const QList<QByteArray> after = linesOf(storedCards(db).value(2).card);
    QCOMPARE(after.size(), before.size());
    for (int i = 0; i < before.size(); ++i) {
        if (saved && before.at(i).startsWith("EMAIL")) {
            QCOMPARE(after.at(i), QByteArray("EMAIL;TYPE=INTERNET:bruno.bianchi@example.org\r"));
        } else if (saved && before.at(i).startsWith("ADR")) {
            QCOMPARE(after.at(i), QByteArray("ADR;TYPE=HOME:;;Via 2;Milano;MI;20122;Italia\r"));
        } else {
            QCOMPARE(after.at(i), before.at(i));
        }
    }
    QCOMPARE(storedCards(db).value(2).uid, QStringLiteral("bruno-del-telefono"));
    if (changedMeanwhile) {
        // The words "Salva" uses for the same refusal, and the list shows what is stored.
        QCOMPARE(boxes.asked().size(), 1);
        const QString refusal = boxes.last().text;
        QVERIFY2(refusal.startsWith(QStringLiteral("Impossibile salvare il contatto.\nIl contatto è stato modificato "
                                                   "da un altro programma")),
                 qPrintable(refusal));
        QCOMPARE(main.row(main.list()->selectedIndex()).at(2), QStringLiteral("Via Nuova 4"));
        QCOMPARE(db.exec(QStringLiteral("UPDATE Customer SET Address = 'Via Nuova 5' WHERE CustID = 2")), QString());
        boxes.expect(MessageBox::Ok);
        main.click("cmdUpdate");
        main.type("txtCity", QStringLiteral("Monza"));
        main.click("cmdSave");
        QCOMPARE(boxes.last().text, refusal);
        main.click("cmdCancel");
    }

    // While a contact is edited the details stay closed.
    main.click("cmdUpdate");
    QTest::keyClick(main.window(), Qt::Key_D, Qt::ControlModifier);
    QVERIFY(!main.window()->detailsDialog());
    main.click("cmdCancel");
}

// A contact with no card kept yet gets one made from its fields, with its own UID and what the dialog adds.
void TestContactDetails::detailsOfAContactWithoutCard()
{
    TestDatabase db(threeContacts());
    MainWindowDriver main;
    const QString uid = storedCards(db).value(1).uid;
    QVERIFY(storedCards(db).value(1).card.isEmpty());

    main.clickRow(rowOfKey(main, 1));
    QMenu* menu = main.window()->listMenu()->menu();
    QAction* details = main.window()->findChild<QAction*>(QStringLiteral("actDetails"));
    QVERIFY(menu->actions().contains(details));
    QVERIFY(details->toolTip().contains(QStringLiteral("Ctrl+D")));
    details->trigger();
    ContactDetailsDialog* dialog = main.window()->detailsDialog();
    QVERIFY(dialog);
    QCOMPARE(dialog->details(), CardDetails());
    retype<QPlainTextEdit>(dialog, "txtEmails", QStringLiteral("anna@example.org\nanna.rossi@example.com"));
    retype<QLineEdit>(dialog, "txtOrganisation", QStringLiteral("Rossi & Figli"));
    QTest::mouseClick(dialog->findChild<QPushButton*>("cmdOk"), Qt::LeftButton);
    QTRY_VERIFY(!main.window()->detailsDialog());

    const StoredCard stored = storedCards(db).value(1);
    QCOMPARE(stored.uid, uid);
    QVERIFY(stored.card.contains("UID:" + uid.toUtf8()));
    ContactFields fields;
    QVERIFY(fieldsOfCard(stored.card, fields));
    QCOMPARE(fields.firstName, QStringLiteral("Rossi"));
    QCOMPARE(fields.phoneNumber, QStringLiteral("0212345678"));
    const CardDetails read = cardDetails(stored.card);
    QCOMPARE(read.emails, (QStringList {"anna@example.org", "anna.rossi@example.com"}));
    QCOMPARE(read.organisation, QStringLiteral("Rossi & Figli"));
}

void TestContactDetails::birthdayAsTyped_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("typed"); // empty: left as shown
    QTest::addColumn<QString>("saved"); // empty: refused, the dialog stays open

    QTest::newRow("a date, untouched") << "1980-05-17"
                                       << "17/05/1980"
                                       << ""
                                       << "1980-05-17";
    QTest::newRow("a date, typed the Italian way") << ""
                                                   << ""
                                                   << "7/3/1975"
                                                   << "1975-03-07";
    QTest::newRow("a date, typed as a card writes it") << ""
                                                       << ""
                                                       << "1975-03-07"
                                                       << "1975-03-07";
    QTest::newRow("no year, as the phone wrote it, untouched") << "--0517"
                                                               << "--0517"
                                                               << ""
                                                               << "--0517";
    QTest::newRow("not a date") << ""
                                << ""
                                << "domani"
                                << "";
    QTest::newRow("no such day") << "1980-05-17"
                                 << "17/05/1980"
                                 << "31/02/1980"
                                 << "";
}

// The birthday is shown as Italians write it and saved as the card writes it; a typed text that is not a date is
// refused with a box, and one the card brought is kept as it came.
void TestContactDetails::birthdayAsTyped()
{
    QFETCH(QString, stored);
    QFETCH(QString, shown);
    QFETCH(QString, typed);
    QFETCH(QString, saved);

    CardDetails details;
    details.birthday = stored;
    ContactDetailsDialog dialog(QStringLiteral("Anna Rossi"), details);
    dialog.show();
    auto* birthday = dialog.findChild<QLineEdit*>(QStringLiteral("txtBirthday"));
    QCOMPARE(birthday->text(), shown);
    if (!typed.isEmpty()) {
        retype<QLineEdit>(&dialog, "txtBirthday", typed);
    }
    ScriptedMessageBox boxes;
    if (saved.isEmpty()) {
        boxes.expect(MessageBox::Ok);
    }
    QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("cmdOk")), Qt::LeftButton);
    QCOMPARE(dialog.isVisible(), saved.isEmpty());
    QCOMPARE(boxes.asked().size(), saved.isEmpty() ? 1 : 0);
    if (!saved.isEmpty()) {
        QCOMPARE(dialog.details().birthday, saved);
    }
}

QTEST_MAIN(TestContactDetails)
#include "tst_contactdetails.moc"
