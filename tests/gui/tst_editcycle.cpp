// The edit cycle of the main window over real files: add, change, delete, cancel, sort, and refused saves.
#include "support/MainWindowDriver.h"
#include "support/ScriptedMessageBox.h"
#include "support/TestDatabase.h"

#include <QApplication>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>

using mkdb::ContactRow;

namespace {

ContactRow contact(int id, const QString& surname, const QString& name, const QString& phone = QString())
{
    return ContactRow {id,
                       surname,
                       name,
                       QStringLiteral("Via %1").arg(id),
                       QStringLiteral("Milano"),
                       QStringLiteral("MI"),
                       QStringLiteral("33300000%1").arg(id, 2, 10, QLatin1Char('0')),
                       phone};
}

QList<ContactRow> threeContacts()
{
    return {contact(1, "Rossi", "Anna", "0212345678"), contact(2, "Bianchi", "Bruno"), contact(5, "Verdi", "Carla")};
}

// Types a whole contact into the nine fields, field by field.
void typeContact(const MainWindowDriver& main, const QStringList& values)
{
    const char* names[]
        = {"txtFirst", "txtLast", "txtAddr", "txtCity", "txtState", "txtZip", "txtArea", "txtPrfx", "txtLine"};
    for (int i = 0; i < 9; ++i) {
        main.type(names[i], values.at(i));
    }
}

// Holds a write transaction on the file, as a second program in the middle of a save would.
class WriteLock
{
public:
    explicit WriteLock(const QString& path)
    {
        m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("writelock"));
        m_db.setDatabaseName(path);
        m_db.open();
        QSqlQuery(m_db).exec(QStringLiteral("BEGIN IMMEDIATE"));
    }
    ~WriteLock()
    {
        QSqlQuery(m_db).exec(QStringLiteral("ROLLBACK"));
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("writelock"));
    }

private:
    QSqlDatabase m_db;
};

} // namespace

class TestEditCycle : public QObject
{
    Q_OBJECT

private slots:
    void listShowsContactsInNameOrder();
    void addIntoEmptyTable();
    void addWithAllFieldsEmpty();
    void addKeepsTypedValuesAndNextKey();
    void editRewritesRowInPlace();
    void apostrophesSavedAndShownUnchanged();
    void deleteChoosesNextRow_data();
    void deleteChoosesNextRow();
    void deleteAnsweredNoChangesNothing();
    void focusReturnsToListRow_data();
    void focusReturnsToListRow();
    void deleteConfirmationText();
    void commandsWithoutSelection();
    void cancelRestoresSelectedContact_data();
    void cancelRestoresSelectedContact();
    void cancelAfterAddOnEmptyList();
    void headerClicksSortAndFlip();
    void addIntoListSortedBySubItem();
    void sortKeepsSelectionVisible();
    void keyboardSelectionFillsFields();
    void nullRowShowsEmpty();
    void phoneRoundTrip();

    void saveRefusedWhileLocked_data();
    void saveRefusedWhileLocked();
    void updateOfVanishedContact();
    void deleteRefusedWhileLocked();
};

void TestEditCycle::listShowsContactsInNameOrder()
{
    TestDatabase db(threeContacts());
    MainWindowDriver main;
    QCOMPARE(main.list()->itemCount(), 3);
    // Ordered by LastName ("Nome"), then FirstName.
    QCOMPARE(main.row(1),
             (QStringList {"Rossi", "Anna", "Via 1", "Milano", "MI", "3330000001", "(021) 234-5678", "1"}));
    QCOMPARE(main.list()->itemText(2), QStringLiteral("Bianchi"));
    QCOMPARE(main.list()->itemText(3), QStringLiteral("Verdi"));
    QCOMPARE(main.list()->selectedIndex(), 1);
    QCOMPARE(main.fields(),
             (QStringList {"Rossi", "Anna", "Via 1", "Milano", "MI", "3330000001", "021", "234", "5678"}));
    QCOMPARE(main.list()->itemSmallIcon(1), QStringLiteral("Custs"));
}

void TestEditCycle::addIntoEmptyTable()
{
    TestDatabase db;
    MainWindowDriver main;
    main.click("cmdAdd");
    QCOMPARE(main.window()->maintMode(), QStringLiteral("ADD"));
    QVERIFY(main.window()->editPending());
    QVERIFY(main.field("txtFirst")->hasFocus());
    typeContact(main, {"Neri", "Luca", "Via Po 1", "Torino", "TO", "3331234567", "011", "123", "4567"});
    main.click("cmdSave");

    QVERIFY(main.browsing());
    QVERIFY(!main.window()->editPending());
    QCOMPARE(main.list()->itemCount(), 1);
    QCOMPARE(main.list()->selectedIndex(), 1);
    QVERIFY(main.list()->isItemVisible(1));
    QCOMPARE(main.row(1),
             (QStringList {"Neri", "Luca", "Via Po 1", "Torino", "TO", "3331234567", "(011) 123-4567", "1"}));
    QCOMPARE(main.list()->itemSmallIcon(1), QStringLiteral("Custs"));
    QCOMPARE(db.rows(),
             (QList<QStringList> {{"1", "Neri", "Luca", "Via Po 1", "Torino", "TO", "3331234567", "0111234567"}}));
}

void TestEditCycle::addWithAllFieldsEmpty()
{
    TestDatabase db(threeContacts());
    MainWindowDriver main;
    main.click("cmdAdd");
    QCOMPARE(main.fields(), QStringList(9, QString()));
    main.click("cmdSave");
    QCOMPARE(main.list()->itemCount(), 4);
    const int added = main.list()->selectedIndex();
    QCOMPARE(main.row(added), (QStringList {"", "", "", "", "", "", "", "6"}));
    QCOMPARE(db.rows().last(), (QStringList {"6", "", "", "", "", "", "", ""}));
}

void TestEditCycle::addKeepsTypedValuesAndNextKey()
{
    TestDatabase db(threeContacts());
    MainWindowDriver main;
    for (int i = 0; i < 2; ++i) {
        main.click("cmdAdd");
        main.type("txtFirst", QStringLiteral("Nuovo%1").arg(i));
        main.click("cmdSave");
    }
    QCOMPARE(db.count(), 5);
    QCOMPARE(db.rows().at(3).first(), QStringLiteral("6"));
    QCOMPARE(db.rows().at(4).first(), QStringLiteral("7"));
    // Deleting the largest key gives it out again.
    ScriptedMessageBox boxes;
    boxes.expect(MessageBox::Yes);
    main.click("cmdDelete");
    main.click("cmdAdd");
    main.click("cmdSave");
    QCOMPARE(db.rows().last().first(), QStringLiteral("7"));
}

void TestEditCycle::editRewritesRowInPlace()
{
    TestDatabase db(threeContacts());
    MainWindowDriver main;
    main.clickRow(2);
    QCOMPARE(main.field("txtFirst")->text(), QStringLiteral("Bianchi"));
    main.click("cmdUpdate");
    QCOMPARE(main.window()->maintMode(), QStringLiteral("EDIT"));
    QVERIFY(main.field("txtFirst")->hasFocus());
    QCOMPARE(main.field("txtFirst")->selectedText(), QStringLiteral("Bianchi"));
    typeContact(main, {"Bianchini", "Bruna", "Corso Italia 2", "Forlì", "FC", "3470000000", "054", "312", "3456"});
    main.click("cmdSave");

    QVERIFY(main.browsing());
    QCOMPARE(main.list()->itemCount(), 3);
    QCOMPARE(main.list()->selectedIndex(), 2);
    QCOMPARE(
        main.row(2),
        (QStringList {"Bianchini", "Bruna", "Corso Italia 2", "Forlì", "FC", "3470000000", "(054) 312-3456", "2"}));
    QCOMPARE(db.rows().at(1),
             (QStringList {"2", "Bianchini", "Bruna", "Corso Italia 2", "Forlì", "FC", "3470000000", "0543123456"}));
    QCOMPARE(db.count(), 3);
}

void TestEditCycle::apostrophesSavedAndShownUnchanged()
{
    TestDatabase db;
    MainWindowDriver main;
    main.click("cmdAdd");
    typeContact(main, {"D'Angelo", "Lucia", "Via dell'Orso 3", "Sant'Agata", "NA", "", "", "", ""});
    main.click("cmdSave");
    QCOMPARE(db.rows().first().mid(1, 4), (QStringList {"D'Angelo", "Lucia", "Via dell'Orso 3", "Sant'Agata"}));
    main.click("cmdUpdate");
    main.type("txtLast", QStringLiteral("L'ucia"));
    main.click("cmdSave");
    QCOMPARE(db.rows().first().at(2), QStringLiteral("L'ucia"));
    QCOMPARE(main.row(1).mid(0, 2), (QStringList {"D'Angelo", "L'ucia"}));
}

void TestEditCycle::deleteChoosesNextRow_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("deleted");
    QTest::addColumn<int>("selectedAfter");
    QTest::addColumn<QString>("shownAfter");
    QTest::newRow("only row") << 1 << 1 << 0 << QString();
    QTest::newRow("last row") << 3 << 3 << 2 << QStringLiteral("Bianchi");
    QTest::newRow("middle row") << 3 << 2 << 2 << QStringLiteral("Verdi");
    QTest::newRow("first row") << 3 << 1 << 1 << QStringLiteral("Bianchi");
}

void TestEditCycle::deleteChoosesNextRow()
{
    QFETCH(int, rows);
    QFETCH(int, deleted);
    QFETCH(int, selectedAfter);
    QFETCH(QString, shownAfter);
    TestDatabase db(threeContacts().mid(0, rows));
    ScriptedMessageBox boxes;
    MainWindowDriver main;
    main.clickRow(deleted);
    const QString key = main.list()->subItem(deleted, 7);
    boxes.expect(MessageBox::Yes);
    main.click("cmdDelete");

    QCOMPARE(main.list()->itemCount(), rows - 1);
    QCOMPARE(db.count(), rows - 1);
    for (const QStringList& row : db.rows()) {
        QVERIFY(row.first() != key);
    }
    QCOMPARE(main.list()->selectedIndex(), selectedAfter);
    QCOMPARE(main.field("txtFirst")->text(), shownAfter);
    QVERIFY(main.browsing());
    if (rows == 1) {
        QCOMPARE(main.fields(), QStringList(9, QString()));
        boxes.expect(MessageBox::Ok);
        main.click("cmdUpdate");
        QCOMPARE(boxes.last().title, QStringLiteral("Aggiorna"));
    }
}

void TestEditCycle::deleteAnsweredNoChangesNothing()
{
    TestDatabase db(threeContacts());
    ScriptedMessageBox boxes;
    MainWindowDriver main;
    main.clickRow(2);
    boxes.expect(MessageBox::No);
    main.click("cmdDelete");
    QCOMPARE(main.list()->itemCount(), 3);
    QCOMPARE(db.count(), 3);
    QCOMPARE(main.list()->selectedIndex(), 2);
    QCOMPARE(main.field("txtFirst")->text(), QStringLiteral("Bianchi"));
}

void TestEditCycle::focusReturnsToListRow_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::addColumn<int>("selected");
    QTest::addColumn<int>("stored");
    QTest::newRow("edit saved") << "cmdUpdate"
                                << "cmdSave" << 2 << 3;
    QTest::newRow("add saved") << "cmdAdd"
                               << "cmdSave" << 4 << 4;
    QTest::newRow("edit cleared") << "cmdUpdate"
                                  << "cmdCancel" << 2 << 3;
    QTest::newRow("add cleared") << "cmdAdd"
                                 << "cmdCancel" << 2 << 3;
    QTest::newRow("delete confirmed") << ""
                                      << "cmdDelete" << 2 << 2;
}

// With the focus left on the button, a Space would print or delete the next contact.
void TestEditCycle::focusReturnsToListRow()
{
    QFETCH(QString, start);
    QFETCH(QString, end);
    QFETCH(int, selected);
    QFETCH(int, stored);
    TestDatabase db(threeContacts());
    ScriptedMessageBox boxes;
    MainWindowDriver main;
    main.clickRow(2);
    if (!start.isEmpty()) {
        main.click(qPrintable(start));
        main.type("txtFirst", QStringLiteral("Zeta"));
    } else {
        boxes.expect(MessageBox::Yes);
    }
    main.click(qPrintable(end));

    QTreeView* view = main.list()->view();
    QCOMPARE(QApplication::focusWidget(), view);
    QCOMPARE(main.list()->selectedIndex(), selected);
    QCOMPARE(view->currentIndex().row(), selected - 1);
    QTest::keyClick(view, Qt::Key_Space);
    QTest::keyClick(view, Qt::Key_Up);
    QCOMPARE(main.list()->selectedIndex(), selected - 1);
    QCOMPARE(main.field("txtFirst")->text(), main.list()->itemText(selected - 1));
    QVERIFY(!main.window()->printWindow());
    QCOMPARE(db.count(), stored);
}

void TestEditCycle::deleteConfirmationText()
{
    TestDatabase db({contact(1, "Rossi", "Anna"), ContactRow {2, "", "", "", "", "", "", ""}});
    ScriptedMessageBox boxes;
    MainWindowDriver main;
    const int rossi = main.list()->itemText(1) == QStringLiteral("Rossi") ? 1 : 2;
    main.clickRow(rossi);
    boxes.expect(MessageBox::No);
    main.click("cmdDelete");
    QCOMPARE(boxes.last().text, QStringLiteral("Sei sicuro di voler eliminare questo contatto 'Rossi Anna'?"));
    QCOMPARE(boxes.last().title, QStringLiteral("Conferma Eliminazione"));
    QCOMPARE(boxes.last().buttons, MessageBox::YesNo);
    QCOMPARE(boxes.last().icon, MessageBox::Question);
    QCOMPARE(boxes.last().defaultButton, MessageBox::Yes);

    main.clickRow(3 - rossi);
    boxes.expect(MessageBox::No);
    main.click("cmdDelete");
    QCOMPARE(boxes.last().text, QStringLiteral("Sei sicuro di voler eliminare questo contatto ' '?"));
}

void TestEditCycle::commandsWithoutSelection()
{
    TestDatabase db;
    ScriptedMessageBox boxes;
    MainWindowDriver main;
    boxes.expect(MessageBox::Ok);
    main.click("cmdUpdate");
    QCOMPARE(boxes.last().text, QStringLiteral("Non  hai selezionato alcun contatto."));
    QCOMPARE(boxes.last().title, QStringLiteral("Aggiorna"));
    QCOMPARE(boxes.last().icon, MessageBox::Exclamation);
    QCOMPARE(boxes.last().buttons, MessageBox::OkOnly);
    boxes.expect(MessageBox::Ok);
    main.click("cmdDelete");
    QCOMPARE(boxes.last().text, QStringLiteral("Non hai selezionato alcun contatto."));
    QCOMPARE(boxes.last().title, QStringLiteral("Elimina"));
    QCOMPARE(boxes.last().icon, MessageBox::Exclamation);
    QVERIFY(main.browsing());
    QVERIFY(!main.window()->editPending());
    QCOMPARE(main.window()->maintMode(), QString());
}

void TestEditCycle::cancelRestoresSelectedContact_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::newRow("after Aggiungi") << QByteArray("cmdAdd");
    QTest::newRow("after Aggiorna") << QByteArray("cmdUpdate");
}

void TestEditCycle::cancelRestoresSelectedContact()
{
    QFETCH(QByteArray, command);
    TestDatabase db(threeContacts());
    const QList<QStringList> stored = db.rows();
    MainWindowDriver main;
    main.clickRow(3);
    const QStringList before = main.fields();
    main.click(command.constData());
    main.type("txtFirst", QStringLiteral("Scartato"));
    main.type("txtZip", QStringLiteral("999"));
    main.click("cmdCancel");
    QCOMPARE(main.fields(), before);
    QVERIFY(main.browsing());
    QVERIFY(!main.window()->editPending());
    QCOMPARE(db.rows(), stored);
    QCOMPARE(main.list()->itemCount(), 3);
}

void TestEditCycle::cancelAfterAddOnEmptyList()
{
    TestDatabase db;
    MainWindowDriver main;
    main.click("cmdAdd");
    main.type("txtFirst", QStringLiteral("Nessuno"));
    main.click("cmdCancel");
    QCOMPARE(main.fields(), QStringList(9, QString()));
    QVERIFY(main.browsing());
    QCOMPARE(db.count(), 0);
}

void TestEditCycle::headerClicksSortAndFlip()
{
    TestDatabase db(threeContacts());
    MainWindowDriver main;
    const auto names = [&main] {
        QStringList n;
        for (int i = 1; i <= main.list()->itemCount(); ++i) {
            n.append(main.list()->subItem(i, 1));
        }
        return n;
    };
    main.clickHeader(2); // "Nome"
    QCOMPARE(names(), (QStringList {"Anna", "Bruno", "Carla"}));
    main.clickHeader(2);
    QCOMPARE(names(), (QStringList {"Carla", "Bruno", "Anna"}));
    QCOMPARE(main.list()->sortOrder(), int(ListView::lvwDescending));
    main.clickHeader(2);
    QCOMPARE(names(), (QStringList {"Anna", "Bruno", "Carla"}));
    main.clickHeader(1); // "Cognome" starts again ascending
    QCOMPARE(main.list()->sortKey(), 0);
    QCOMPARE(main.list()->sortOrder(), int(ListView::lvwAscending));
    QCOMPARE(main.list()->itemText(1), QStringLiteral("Bianchi"));
    QCOMPARE(main.list()->itemText(3), QStringLiteral("Verdi"));
    main.clickHeader(1);
    QCOMPARE(main.list()->itemText(1), QStringLiteral("Verdi"));
    main.clickHeader(2); // a new column after a descending order starts ascending too
    QCOMPARE(main.list()->sortOrder(), int(ListView::lvwAscending));
    QCOMPARE(names(), (QStringList {"Anna", "Bruno", "Carla"}));
    // Sorting never touches the fields.
    QCOMPARE(main.field("txtFirst")->text(), QStringLiteral("Rossi"));
    QCOMPARE(main.list()->itemText(main.list()->selectedIndex()), QStringLiteral("Rossi"));
}

// A contact added to a list sorted by another column is placed by that column, and stays the selected row.
void TestEditCycle::addIntoListSortedBySubItem()
{
    TestDatabase db(threeContacts());
    MainWindowDriver main;
    main.clickHeader(2); // "Nome": Anna, Bruno, Carla
    main.click("cmdAdd");
    main.type("txtFirst", QStringLiteral("Aaron"));
    main.type("txtLast", QStringLiteral("Bz"));
    main.click("cmdSave");
    QStringList names;
    for (int i = 1; i <= main.list()->itemCount(); ++i) {
        names.append(main.list()->subItem(i, 1));
    }
    QCOMPARE(names, (QStringList {"Anna", "Bruno", "Bz", "Carla"}));
    QCOMPARE(main.list()->selectedIndex(), 3);
    QCOMPARE(main.list()->itemText(3), QStringLiteral("Aaron"));
}

void TestEditCycle::sortKeepsSelectionVisible()
{
    TestDatabase db(mkdb::generatedContacts(400));
    MainWindowDriver main;
    main.list()->setSelectedIndex(1);
    const QString key = main.list()->subItem(1, 7);
    main.clickHeader(7); // "Telefono": random digits, so the row moves far away
    main.clickHeader(7);
    const int now = main.list()->selectedIndex();
    QCOMPARE(main.list()->subItem(now, 7), key);
    QVERIFY(main.list()->isItemVisible(now));
}

void TestEditCycle::keyboardSelectionFillsFields()
{
    TestDatabase db(threeContacts());
    MainWindowDriver main;
    QWidget* view = main.list()->view();
    view->setFocus();
    QTest::keyClick(view, Qt::Key_Down);
    QCOMPARE(main.field("txtFirst")->text(), QStringLiteral("Bianchi"));
    QTest::keyClick(view, Qt::Key_End);
    QCOMPARE(main.field("txtFirst")->text(), QStringLiteral("Verdi"));
    QTest::keyClick(view, Qt::Key_Home);
    QCOMPARE(main.field("txtFirst")->text(), QStringLiteral("Rossi"));
}

void TestEditCycle::nullRowShowsEmpty()
{
    TestDatabase db({contact(1, "Rossi", "Anna", "0212345678"), ContactRow {2, {}, {}, {}, {}, {}, {}, {}}});
    MainWindowDriver main;
    const int nullRow = main.list()->subItem(1, 7) == QStringLiteral("2") ? 1 : 2;
    main.clickRow(3 - nullRow);
    main.clickRow(nullRow);
    QCOMPARE(main.row(nullRow), (QStringList {"", "", "", "", "", "", "", "2"}));
    QCOMPARE(main.fields(), QStringList(9, QString()));
    // Saving it unchanged stores empty texts where the user saw empty fields.
    main.click("cmdUpdate");
    main.click("cmdSave");
    QCOMPARE(db.rows().at(1), (QStringList {"2", "", "", "", "", "", "", ""}));
}

void TestEditCycle::phoneRoundTrip()
{
    TestDatabase db({contact(1, "Rossi", "Anna", "0123456789")});
    MainWindowDriver main;
    QCOMPARE(main.list()->subItem(1, 6), QStringLiteral("(012) 345-6789"));
    QCOMPARE(main.fields().mid(6), (QStringList {"012", "345", "6789"}));
    main.click("cmdUpdate");
    main.click("cmdSave");
    QCOMPARE(db.rows().first().at(7), QStringLiteral("0123456789"));
    QCOMPARE(main.list()->subItem(1, 6), QStringLiteral("(012) 345-6789"));
}

void TestEditCycle::saveRefusedWhileLocked_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::newRow("insert") << QByteArray("cmdAdd");
    QTest::newRow("update") << QByteArray("cmdUpdate");
}

void TestEditCycle::saveRefusedWhileLocked()
{
    QFETCH(QByteArray, command);
    TestDatabase db(threeContacts());
    const QList<QStringList> stored = db.rows();
    ScriptedMessageBox boxes;
    MainWindowDriver main;
    const QStringList listBefore = main.row(1);
    main.click(command.constData());
    const QStringList typed {"Gialli", "Dario", "Via Lunga 9", "Bari", "BA", "3201234567", "080", "555", "1234"};
    typeContact(main, typed);
    {
        WriteLock lock(db.path());
        boxes.expect(MessageBox::Ok);
        main.click("cmdSave");
    }
    QCOMPARE(boxes.last().title, QStringLiteral("Salva"));
    QCOMPARE(boxes.last().icon, MessageBox::Critical);
    QVERIFY(boxes.last().text.startsWith(QStringLiteral("Impossibile salvare il contatto.")));
    QVERIFY(boxes.last().text.size() > QStringLiteral("Impossibile salvare il contatto.").size() + 2);
    // Nothing typed is lost, nothing changed, and the user can simply try again.
    QVERIFY(main.editing());
    QVERIFY(main.window()->editPending());
    QCOMPARE(main.fields(), typed);
    QCOMPARE(main.list()->itemCount(), 3);
    QCOMPARE(main.row(1), listBefore);
    QCOMPARE(db.rows(), stored);

    main.click("cmdSave");
    QVERIFY(main.browsing());
    QCOMPARE(db.count(), command == "cmdAdd" ? 4 : 3);
    const int selected = main.list()->selectedIndex();
    QCOMPARE(main.row(selected).mid(0, 6), typed.mid(0, 6));
}

void TestEditCycle::updateOfVanishedContact()
{
    TestDatabase db(threeContacts());
    ScriptedMessageBox boxes;
    MainWindowDriver main;
    main.click("cmdUpdate");
    main.type("txtAddr", QStringLiteral("Via Cambiata 1"));
    QCOMPARE(db.exec(QStringLiteral("DELETE FROM Customer WHERE CustID = 1")), QString());
    boxes.expect(MessageBox::Ok);
    main.click("cmdSave");
    QCOMPARE(boxes.last().title, QStringLiteral("Salva"));
    QVERIFY(boxes.last().text.startsWith(QStringLiteral("Impossibile salvare il contatto.")));
    QVERIFY(main.window()->editPending());
    QCOMPARE(main.field("txtAddr")->text(), QStringLiteral("Via Cambiata 1"));
    QCOMPARE(main.list()->subItem(1, 2), QStringLiteral("Via 1"));
    QCOMPARE(db.count(), 2);
}

void TestEditCycle::deleteRefusedWhileLocked()
{
    TestDatabase db(threeContacts());
    ScriptedMessageBox boxes;
    MainWindowDriver main;
    main.clickRow(2);
    {
        WriteLock lock(db.path());
        boxes.expect(MessageBox::Yes);
        boxes.expect(MessageBox::Ok);
        main.click("cmdDelete");
    }
    QCOMPARE(boxes.last().title, QStringLiteral("Elimina"));
    QCOMPARE(boxes.last().icon, MessageBox::Critical);
    QCOMPARE(main.list()->itemCount(), 3);
    QCOMPARE(main.list()->selectedIndex(), 2);
    QCOMPARE(main.field("txtFirst")->text(), QStringLiteral("Bianchi"));
    QCOMPARE(db.count(), 3);
    QVERIFY(main.browsing());

    boxes.expect(MessageBox::Yes);
    main.click("cmdDelete");
    QCOMPARE(db.count(), 2);
    QCOMPARE(main.list()->itemCount(), 2);
}

QTEST_MAIN(TestEditCycle)
#include "tst_editcycle.moc"
