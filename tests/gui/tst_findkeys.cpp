// Find as you type, the window's keys and the list's context menu, driven through the real main window.
#include "maint/ListContextMenu.h"
#include "print/Visualizza.h"
#include "report/CRViewer91.h"
#include "report/Form1.h"
#include "support/MainWindowDriver.h"
#include "support/ScriptedContactFileDialog.h"
#include "support/ScriptedMessageBox.h"
#include "support/TestDatabase.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QTest>

using mkdb::ContactRow;

namespace {

// Listed by Nome: Anna, Bruno, Carla, Lucia, Marco, Élise. Two addresses as other programs write them: a
// typographic apostrophe, and an accent as a letter followed by its combining mark.
QList<ContactRow> contacts()
{
    return {{1, "Rossi", "Anna", "Via Roma 1", "Milano", "MI", "3330000001", "0212345678"},
            {2, "Rossi", "Marco", QStringLiteral("Largo D\u2019Onofrio 5"), "Forlì", "FC", "3471112222", QVariant()},
            {3, "D'Angelo", "Lucia", "Via dell'Orso 3", "Napoli", "NA", QVariant(), "3331234567"},
            {4, "Bianchi", "Bruno", "Piazza Duomo 2", "Milano", "MI", "3209876543", QVariant()},
            {5, "Verdi", "Carla", QStringLiteral("Via Zu\u0308rich 10"), "Torino", "TO", QVariant(), "0119876543"},
            {6, "Neri", "Élise", "Viale Europa 7", "Cantù", "CO", QVariant(), QVariant()}};
}

QLineEdit* findField(const MainWindowDriver& main)
{
    return main.window()->findChild<QLineEdit*>(QStringLiteral("txtFind"));
}

QString findCount(const MainWindowDriver& main)
{
    return main.window()->findChild<QLabel*>(QStringLiteral("lblFindCount"))->text();
}

// "Cognome Nome" of every row shown, in the list's order.
QStringList shownNames(const MainWindowDriver& main)
{
    QStringList names;
    for (int i = 1; i <= main.list()->itemCount(); ++i)
        names.append(main.list()->itemText(i) + ' ' + main.list()->subItem(i, 1));
    return names;
}

// A key as the user presses it: to whichever widget has the focus.
void press(const QKeySequence& key)
{
    const QKeyCombination combination = key[0];
    QTest::keyClick(QApplication::focusWidget(), combination.key(), combination.keyboardModifiers());
}

void openFind(const MainWindowDriver& main, const QString& text)
{
    press(QKeySequence(QStringLiteral("Ctrl+F")));
    QVERIFY(findField(main)->isVisible());
    QVERIFY(findField(main)->hasFocus());
    typeText(nullptr, text);
}

QMenu* rightClickRow(const MainWindowDriver& main, int index)
{
    QTreeView* view = main.list()->view();
    const QPoint at = view->visualRect(view->model()->index(index - 1, 0)).center();
    QTest::mousePress(view->viewport(), Qt::RightButton, {}, at);
    QTest::mouseRelease(view->viewport(), Qt::RightButton, {}, at);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, view->viewport()->mapToGlobal(at));
    QApplication::sendEvent(view->viewport(), &event);
    return main.window()->listMenu()->menu();
}

QStringList entries(const QMenu* menu)
{
    QStringList texts;
    for (const QAction* action : menu->actions()) {
        if (!action->isSeparator())
            texts.append(action->text() + (action->isEnabled() ? "" : " (off)"));
    }
    return texts;
}

void choose(QMenu* menu, const QString& text)
{
    for (QAction* action : menu->actions()) {
        if (action->text() == text) {
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
            return;
        }
    }
    QFAIL(qPrintable("no entry " + text));
}

} // namespace

class TestFindKeys : public QObject
{
    Q_OBJECT

private slots:
    void findNarrowsAndRestores_data();
    void findNarrowsAndRestores();
    void selectionFollowsTheFind();
    void commandsWorkOnTheShownRows();
    void keysDoWhatTheirButtonDoes_data();
    void keysDoWhatTheirButtonDoes();
    void contextMenu();
};

void TestFindKeys::findNarrowsAndRestores_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QString>("count");

    QTest::newRow("case") << "ROSSI" << QStringList {"Rossi Anna", "Rossi Marco"} << "2 di 6";
    QTest::newRow("words narrow together") << "rossi milano" << QStringList {"Rossi Anna"} << "1 di 6";
    QTest::newRow("words in any column") << "milano via" << QStringList {"Rossi Anna"} << "1 di 6";
    QTest::newRow("accent ignored") << "forli" << QStringList {"Rossi Marco"} << "1 di 6";
    QTest::newRow("accent typed") << "Cantù" << QStringList {"Neri Élise"} << "1 di 6";
    QTest::newRow("capital accent") << "elise" << QStringList {"Neri Élise"} << "1 di 6";
    QTest::newRow("apostrophe ignored") << "dangelo" << QStringList {"D'Angelo Lucia"} << "1 di 6";
    QTest::newRow("apostrophe typed") << "dell'orso" << QStringList {"D'Angelo Lucia"} << "1 di 6";
    QTest::newRow("typographic apostrophe") << "donofrio" << QStringList {"Rossi Marco"} << "1 di 6";
    QTest::newRow("combining accent") << "zurich" << QStringList {"Verdi Carla"} << "1 di 6";
    QTest::newRow("combining accent typed whole") << "Zürich" << QStringList {"Verdi Carla"} << "1 di 6";
    QTest::newRow("phone digits") << "3331234" << QStringList {"D'Angelo Lucia"} << "1 di 6";
    QTest::newRow("phone as shown") << "(333) 123-45" << QStringList {"D'Angelo Lucia"} << "1 di 6";
    QTest::newRow("phone across the layout") << "0212345" << QStringList {"Rossi Anna"} << "1 di 6";
    QTest::newRow("mobile") << "347111" << QStringList {"Rossi Marco"} << "1 di 6";
    QTest::newRow("no column runs into the next") << "annavia" << QStringList {} << "Nessun contatto";
    QTest::newRow("nothing") << "zzz" << QStringList {} << "Nessun contatto";
}

void TestFindKeys::findNarrowsAndRestores()
{
    QFETCH(QString, typed);
    QFETCH(QStringList, shown);
    QFETCH(QString, count);
    TestDatabase db(contacts());
    MainWindowDriver main;
    const QStringList all = shownNames(main);
    const QRect listRect = main.list()->geometry();

    openFind(main, typed);
    QCOMPARE(shownNames(main), shown);
    QCOMPARE(findCount(main), count);
    // Inside the list's rectangle, along its bottom edge; the list itself has not moved.
    QCOMPARE(main.list()->geometry(), listRect);
    QCOMPARE(findField(main)->geometry().bottom(), main.list()->rect().bottom());
    QCOMPARE(findField(main)->placeholderText(), QStringLiteral("Trova: cognome, nome, città, telefono…"));

    press(QKeySequence(Qt::Key_Escape));
    QVERIFY(!findField(main)->isVisible());
    QVERIFY(main.list()->view()->hasFocus());
    QCOMPARE(shownNames(main), all);
}

void TestFindKeys::selectionFollowsTheFind()
{
    TestDatabase db(contacts());
    MainWindowDriver main;
    main.clickRow(2); // Bianchi Bruno, Milano
    openFind(main, "mi");
    QCOMPARE(shownNames(main), (QStringList {"Rossi Anna", "Bianchi Bruno"}));
    QCOMPARE(main.list()->selectedIndex(), 2); // still shown, still selected
    QCOMPARE(main.field("txtFirst")->text(), QStringLiteral("Bianchi"));

    typeText(nullptr, "lano ro"); // "milano ro": Bianchi goes, the first row shown is selected and shown below
    QCOMPARE(shownNames(main), (QStringList {"Rossi Anna"}));
    QCOMPARE(main.list()->selectedIndex(), 1);
    QCOMPARE(main.fields().mid(0, 4), (QStringList {"Rossi", "Anna", "Via Roma 1", "Milano"}));

    // The arrows move the list's selection; the field keeps the focus.
    QTest::keyClick(findField(main), Qt::Key_Backspace);
    QTest::keyClick(findField(main), Qt::Key_Backspace);
    QTest::keyClick(findField(main), Qt::Key_Backspace);
    QCOMPARE(main.list()->itemCount(), 2);
    QTest::keyClick(findField(main), Qt::Key_Down);
    QCOMPARE(main.list()->selectedIndex(), 2);
    QCOMPARE(main.field("txtFirst")->text(), QStringLiteral("Bianchi"));
    QVERIFY(findField(main)->hasFocus());

    // Return goes to the list, which keeps the find; it does not open the contact as Return on the list does.
    QTest::keyClick(findField(main), Qt::Key_Return);
    QVERIFY(main.browsing());
    QVERIFY(main.list()->view()->hasFocus());
    QVERIFY(findField(main)->isVisible());
    // A click on a shown row selects it and leaves the find as it is.
    main.clickRow(1);
    QCOMPARE(main.field("txtFirst")->text(), QStringLiteral("Rossi"));
    QVERIFY(findField(main)->isVisible());
    QCOMPARE(findField(main)->text(), QStringLiteral("milano"));
    QCOMPARE(main.list()->itemCount(), 2);
    findField(main)->setFocus();
    findField(main)->end(false);

    typeText(nullptr, "x"); // none shown: nothing selected, nothing in the frame
    QCOMPARE(main.list()->itemCount(), 0);
    QCOMPARE(main.list()->selectedIndex(), 0);
    QCOMPARE(main.fields(), QStringList(9, QString()));

    // Emptied and left, the field goes and every contact is back, the first one selected.
    findField(main)->selectAll();
    QTest::keyClick(findField(main), Qt::Key_Delete);
    QCOMPARE(main.list()->itemCount(), 6);
    QCOMPARE(main.list()->selectedIndex(), 1);
    QCOMPARE(main.field("txtFirst")->text(), QStringLiteral("Rossi"));
    main.button("cmdAdd")->setFocus(Qt::TabFocusReason);
    QVERIFY(!findField(main)->isVisible());
}

void TestFindKeys::commandsWorkOnTheShownRows()
{
    TestDatabase db(contacts());
    MainWindowDriver main;
    openFind(main, "milano");
    QCOMPARE(shownNames(main), (QStringList {"Rossi Anna", "Bianchi Bruno"}));

    // Adding keeps the find as it is; the saved contact stays shown although it does not match.
    press(QKeySequence(QStringLiteral("Ctrl+N")));
    QVERIFY(!findField(main)->isEnabled());
    QCOMPARE(findField(main)->text(), QStringLiteral("milano"));
    main.type("txtFirst", "Gialli");
    main.type("txtCity", "Bari");
    press(QKeySequence(QStringLiteral("Ctrl+S")));
    QVERIFY(main.browsing());
    QCOMPARE(shownNames(main), (QStringList {"Rossi Anna", "Bianchi Bruno", "Gialli "}));
    QCOMPARE(main.list()->selectedIndex(), 3);
    QCOMPARE(findCount(main), QStringLiteral("3 di 7"));

    // So does an update that takes a contact out of the find.
    main.clickRow(1);
    press(QKeySequence(Qt::Key_F2));
    main.type("txtCity", "Genova");
    press(QKeySequence(QStringLiteral("Ctrl+Return")));
    QVERIFY(main.browsing());
    QCOMPARE(main.list()->subItem(1, 3), QStringLiteral("Genova"));
    QCOMPARE(main.list()->itemCount(), 3);

    // The sort orders the shown rows; the delete removes the selected one of them.
    main.clickHeader(1);
    QCOMPARE(shownNames(main), (QStringList {"Bianchi Bruno", "Gialli ", "Rossi Anna"}));
    main.clickRow(2);
    main.list()->view()->setFocus();
    ScriptedMessageBox boxes;
    boxes.expect(MessageBox::Yes);
    press(QKeySequence(Qt::Key_Delete));
    QCOMPARE(boxes.last().text, QStringLiteral("Sei sicuro di voler eliminare questo contatto 'Gialli '?"));
    QCOMPARE(shownNames(main), (QStringList {"Bianchi Bruno", "Rossi Anna"}));
    QCOMPARE(main.list()->selectedIndex(), 2);
    QCOMPARE(main.field("txtFirst")->text(), QStringLiteral("Rossi"));
    QCOMPARE(db.count(), 6);

    // A new find text forgets the exceptions; closing the find shows every contact in the order chosen.
    findField(main)->setFocus();
    typeText(nullptr, " ");
    typeText(nullptr, "b");
    QCOMPARE(shownNames(main), (QStringList {"Bianchi Bruno"}));
    press(QKeySequence(Qt::Key_Escape));
    QCOMPARE(main.list()->itemCount(), 6);
    QCOMPARE(main.list()->itemText(1), QStringLiteral("Bianchi"));
    QCOMPARE(main.list()->selectedIndex(), 1);
    // The contact updated during the find is found by what it says now, not by what it said.
    openFind(main, "genova");
    QCOMPARE(shownNames(main), (QStringList {"Rossi Anna"}));
    findField(main)->selectAll();
    typeText(nullptr, "milano");
    QCOMPARE(shownNames(main), (QStringList {"Bianchi Bruno"}));
}

void TestFindKeys::keysDoWhatTheirButtonDoes_data()
{
    QTest::addColumn<QString>("focus"); // where the key is pressed
    QTest::addColumn<bool>("editing"); // the key is pressed after Aggiungi and a typed Cognome
    QTest::addColumn<QKeySequence>("key");
    QTest::addColumn<int>("boxes"); // message boxes asked (each answered No)
    QTest::addColumn<QString>("after"); // the state the window is in afterwards

    QTest::newRow("Ctrl+N") << "view" << false << QKeySequence("Ctrl+N") << 0 << "ADD";
    QTest::newRow("Ins") << "view" << false << QKeySequence("Ins") << 0 << "ADD";
    QTest::newRow("Ctrl+N while editing") << "txtFirst" << true << QKeySequence("Ctrl+N") << 0 << "ADD, typed";
    QTest::newRow("F2") << "cmdClose" << false << QKeySequence("F2") << 0 << "EDIT";
    QTest::newRow("Enter on the list") << "view" << false << QKeySequence("Return") << 0 << "EDIT";
    QTest::newRow("F2 while editing") << "txtFirst" << true << QKeySequence("F2") << 0 << "ADD, typed";
    QTest::newRow("Del") << "view" << false << QKeySequence("Del") << 1 << "browse";
    QTest::newRow("Del while editing") << "txtFirst" << true << QKeySequence("Del") << 0 << "ADD, typed";
    QTest::newRow("Ctrl+S") << "txtFirst" << true << QKeySequence("Ctrl+S") << 0 << "browse, saved";
    QTest::newRow("Ctrl+Enter") << "txtFirst" << true << QKeySequence("Ctrl+Return") << 0 << "browse, saved";
    QTest::newRow("Ctrl+S while browsing") << "view" << false << QKeySequence("Ctrl+S") << 0 << "browse";
    QTest::newRow("Esc while editing") << "txtFirst" << true << QKeySequence("Esc") << 0 << "browse";
    QTest::newRow("Ctrl+P") << "view" << false << QKeySequence("Ctrl+P") << 0 << "browse, printing";
    QTest::newRow("Ctrl+P while editing")
        << "txtFirst" << true << QKeySequence("Ctrl+P") << 0 << "ADD, typed, printing";
    QTest::newRow("Ctrl+F") << "view" << false << QKeySequence("Ctrl+F") << 0 << "browse, finding";
    QTest::newRow("F3") << "cmdAdd" << false << QKeySequence("F3") << 0 << "browse, finding";
    QTest::newRow("Ctrl+F while editing") << "txtFirst" << true << QKeySequence("Ctrl+F") << 0 << "ADD, typed";
    QTest::newRow("Ctrl+Q") << "view" << false << QKeySequence("Ctrl+Q") << 0 << "closed";
    QTest::newRow("Ctrl+Q while editing") << "txtFirst" << true << QKeySequence("Ctrl+Q") << 0 << "ADD, typed";
}

void TestFindKeys::keysDoWhatTheirButtonDoes()
{
    QFETCH(QString, focus);
    QFETCH(bool, editing);
    QFETCH(QKeySequence, key);
    QFETCH(int, boxes);
    QFETCH(QString, after);
    TestDatabase db(contacts());
    MainWindowDriver main;
    ScriptedMessageBox answers;
    for (int i = 0; i < boxes; ++i)
        answers.expect(MessageBox::No);
    if (editing) {
        main.click("cmdAdd");
        main.type("txtFirst", "Nuovo");
    }
    QWidget* target = focus == "view" ? main.list()->view() : main.window()->findChild<QWidget*>(focus);
    target->setFocus(Qt::OtherFocusReason);

    press(key);

    QStringList state;
    if (!main.window()->isVisible())
        state.append("closed");
    else if (main.browsing())
        state.append("browse");
    else
        state.append(main.window()->maintMode());
    if (!main.browsing() && main.field("txtFirst")->text() == "Nuovo")
        state.append("typed");
    if (db.count() == 7)
        state.append("saved");
    if (main.window()->printWindow() && main.window()->printWindow()->isVisible())
        state.append("printing");
    if (findField(main)->isVisible())
        state.append("finding");
    QCOMPARE(state.join(", "), after);
    QCOMPARE(answers.asked().size(), boxes);
    if (main.window()->printWindow())
        main.window()->printWindow()->close();
}

void TestFindKeys::contextMenu()
{
    TestDatabase db(contacts());
    MainWindowDriver main;

    // The further commands in the menu's own section (import and export), with keys that work anywhere in the
    // window.
    ScriptedContactFileDialog files;

    QMenu* menu = rightClickRow(main, 4); // D'Angelo Lucia
    QVERIFY(menu->isVisible());
    QCOMPARE(main.list()->selectedIndex(), 4);
    QCOMPARE(main.field("txtFirst")->text(), QStringLiteral("D'Angelo"));
    QCOMPARE(entries(menu),
             (QStringList {"Aggiungi",
                           "Aggiorna",
                           "Elimina",
                           "Copia contatto",
                           "Trova…",
                           "Annulla (off)",
                           "Dettagli…",
                           "Trova doppioni…",
                           "Importa contatti…",
                           "Esporta contatti…",
                           "Ripristina da una copia…",
                           "Sincronizzazione…",
                           "Sincronizza ora",
                           "Stampa…",
                           "Anteprima rubrica…"}));
    choose(menu, "Copia contatto");
    QCOMPARE(QGuiApplication::clipboard()->text(),
             QStringLiteral("Lucia D'Angelo\nVia dell'Orso 3\nNapoli (NA)\nTelefono: (333) 123-4567"));

    rightClickRow(main, 1);
    choose(menu, "Copia contatto");
    QCOMPARE(QGuiApplication::clipboard()->text(),
             QStringLiteral("Anna Rossi\nVia Roma 1\nMilano (MI)\nCellulare: 3330000001\nTelefono: (021) 234-5678"));

    rightClickRow(main, 2);
    choose(menu, "Trova…");
    QVERIFY(findField(main)->hasFocus());
    files.expect({}); // the export's file dialog, cancelled
    press(QKeySequence(QStringLiteral("Ctrl+E")));
    QCOMPARE(files.asked().size(), 1);
    QCOMPARE(files.asked().first().mode, ContactFileDialog::Save);

    rightClickRow(main, 2);
    choose(menu, "Anteprima rubrica…");
    QPointer<Form1> preview = main.window()->listMenu()->previewWindow();
    QVERIFY(preview);
    QVERIFY(preview->isVisible());
    QCOMPARE(preview->CRViewer91->pageCount(), 1);
    main.window()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(main.window()));
    rightClickRow(main, 2);
    choose(menu, "Anteprima rubrica…");
    QCOMPARE(main.window()->listMenu()->previewWindow(), preview.data()); // one viewer, brought forward
    preview->close();
    QTRY_VERIFY(!preview);

    rightClickRow(main, 3); // Verdi Carla
    choose(menu, "Aggiorna");
    QCOMPARE(main.window()->maintMode(), QStringLiteral("EDIT"));
    QCOMPARE(main.field("txtFirst")->text(), QStringLiteral("Verdi"));
    main.click("cmdCancel");
    QTreeView* view = main.list()->view();
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(view->model()->index(1, 0)).center());
    QCOMPARE(main.window()->maintMode(), QStringLiteral("EDIT"));
    QCOMPARE(main.field("txtFirst")->text(), QStringLiteral("Bianchi"));
    main.click("cmdCancel");

    ScriptedMessageBox boxes;
    boxes.expect(MessageBox::Yes);
    rightClickRow(main, 3);
    choose(menu, "Elimina");
    QCOMPARE(boxes.asked().size(), 1);
    QCOMPARE(db.count(), 5);
    QVERIFY(!menu->isVisible());

    // Shift+F10 opens the menu as the Menu key does; "Stampa…" and "Aggiungi" do what their buttons do.
    main.clickRow(2);
    main.window()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(main.window()));
    main.list()->view()->setFocus();
    QTest::keyClick(main.list()->view(), Qt::Key_F10, Qt::ShiftModifier);
    QVERIFY(menu->isVisible());
    choose(menu, "Stampa…");
    QVERIFY(main.window()->printWindow());
    QVERIFY(main.window()->printWindow()->isVisible());
    main.window()->printWindow()->close();
    main.window()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(main.window()));
    main.list()->view()->setFocus();
    QTest::keyClick(main.list()->view(), Qt::Key_F10, Qt::ShiftModifier);
    QVERIFY(menu->isVisible());
    choose(menu, "Aggiungi");
    QCOMPARE(main.window()->maintMode(), QStringLiteral("ADD"));
    QCOMPARE(main.field("txtFirst")->text(), QString());
}

QTEST_MAIN(TestFindKeys)
#include "tst_findkeys.moc"
