// Typing into the main window's fields: select on entry, the province and number filters, full fields hand on.
#include "support/MainWindowDriver.h"
#include "support/TestDatabase.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QMenu>
#include <QMimeData>
#include <QTest>

using mkdb::ContactRow;

namespace {

QList<ContactRow> oneContact(const QString& state = QStringLiteral("MI"))
{
    return {ContactRow {1, "Rossi", "Anna", "Via Roma 1", "Milano", state, "3331234567", "0212345678"}};
}

// Puts the window in the edit state of an existing contact, with the focus in the given field and all its text
// selected, as a user who tabbed there.
void editField(const MainWindowDriver& main, const char* name)
{
    main.click("cmdUpdate");
    TextBox* f = main.field(name);
    f->setFocus(Qt::TabFocusReason);
    QVERIFY(f->hasFocus());
}

} // namespace

class TestFieldRules : public QObject
{
    Q_OBJECT

private slots:
    void provinceMadeCapitalsAndHandsOn();
    void provinceRefusesOtherCharacters_data();
    void provinceRefusesOtherCharacters();
    void numbersRefuseOtherCharacters_data();
    void numbersRefuseOtherCharacters();
    void fullFieldHandsFocusOn_data();
    void fullFieldHandsFocusOn();
    void typingStopsAtMaximumLength();
    void selectingRowMovesNoFocus();
    void overlongProvinceHandsOnWhenEditedDown();
    void tabbingSelectsWholeText();
    void focusReasonDecidesSelection_data();
    void focusReasonDecidesSelection();
    void composedAndUnusualCharactersAreFiltered_data();
    void composedAndUnusualCharactersAreFiltered();
    void editingKeysStillEdit_data();
    void editingKeysStillEdit();
    void pastedTextIsNotFiltered();
    void everyWayOfPastingFits_data();
    void everyWayOfPastingFits();
    void wholeContactTypedWithoutTab();
    void labelsNameTheirFields_data();
    void labelsNameTheirFields();
};

void TestFieldRules::provinceMadeCapitalsAndHandsOn()
{
    TestDatabase db(oneContact());
    MainWindowDriver main;
    main.click("cmdAdd");
    main.field("txtZip")->setText(QStringLiteral("3330001112")); // so the selection there can be seen
    main.field("txtState")->setFocus();
    typeText(main.field("txtState"), QStringLiteral("mi"));
    QCOMPARE(main.field("txtState")->text(), QStringLiteral("MI"));
    QVERIFY(main.field("txtZip")->hasFocus());
    QCOMPARE(main.field("txtZip")->selectedText(), QStringLiteral("3330001112"));
}

void TestFieldRules::provinceRefusesOtherCharacters_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("expected");
    QTest::newRow("digit") << "1"
                           << "";
    QTest::newRow("full stop") << "."
                               << "";
    QTest::newRow("space") << " "
                           << "";
    QTest::newRow("accented") << "è"
                              << "";
    QTest::newRow("capital accented") << "À"
                                      << "";
    QTest::newRow("capital passes") << "T"
                                    << "T";
    QTest::newRow("letters around junk") << "t-o"
                                         << "TO";
    QTest::newRow("ends of the small letters") << "az"
                                               << "AZ";
    QTest::newRow("ends of the capitals") << "ZA"
                                          << "ZA";
    QTest::newRow("next to the capitals") << "@["
                                          << "";
    QTest::newRow("next to the small letters") << "`{"
                                               << "";
}

void TestFieldRules::provinceRefusesOtherCharacters()
{
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    TestDatabase db(oneContact());
    MainWindowDriver main;
    main.click("cmdAdd");
    main.field("txtState")->setFocus();
    typeText(main.field("txtState"), typed);
    QCOMPARE(main.field("txtState")->text(), expected);
}

void TestFieldRules::numbersRefuseOtherCharacters_data()
{
    QTest::addColumn<QByteArray>("name");
    for (const char* name : {"txtZip", "txtArea", "txtPrfx", "txtLine"}) {
        QTest::newRow(name) << QByteArray(name);
    }
}

void TestFieldRules::numbersRefuseOtherCharacters()
{
    QFETCH(QByteArray, name);
    TestDatabase db(oneContact());
    MainWindowDriver main;
    main.click("cmdAdd");
    TextBox* f = main.field(name.constData());
    f->setFocus();
    typeText(f, QStringLiteral("a Z.-è1"));
    QCOMPARE(f->text(), QStringLiteral("1"));
    QTest::keyClick(f, Qt::Key_Backspace);
    QCOMPARE(f->text(), QString());
}

void TestFieldRules::fullFieldHandsFocusOn_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("length");
    QTest::addColumn<QByteArray>("next");
    QTest::newRow("mobile") << QByteArray("txtZip") << 10 << QByteArray("txtArea");
    QTest::newRow("area") << QByteArray("txtArea") << 4 << QByteArray("txtPrfx");
    QTest::newRow("prefix") << QByteArray("txtPrfx") << 8 << QByteArray("txtLine");
    QTest::newRow("line stays") << QByteArray("txtLine") << 4 << QByteArray("txtLine");
}

void TestFieldRules::fullFieldHandsFocusOn()
{
    QFETCH(QByteArray, name);
    QFETCH(int, length);
    QFETCH(QByteArray, next);
    TestDatabase db(oneContact());
    MainWindowDriver main;
    main.click("cmdAdd");
    TextBox* f = main.field(name.constData());
    f->setFocus();
    typeText(f, QString(length - 1, QLatin1Char('7')));
    QVERIFY(f->hasFocus());
    QTest::keyClick(f, Qt::Key_8);
    QCOMPARE(f->text(), QString(length - 1, QLatin1Char('7')) + QLatin1Char('8'));
    QVERIFY(main.field(next.constData())->hasFocus());
}

void TestFieldRules::typingStopsAtMaximumLength()
{
    TestDatabase db(oneContact());
    MainWindowDriver main;
    main.click("cmdAdd");
    TextBox* line = main.field("txtLine");
    line->setFocus();
    typeText(line, QStringLiteral("123456"));
    QCOMPARE(line->text(), QStringLiteral("1234"));
}

void TestFieldRules::selectingRowMovesNoFocus()
{
    TestDatabase db({ContactRow {1, "Rossi", "Anna", "", "", "MI", "3331234567", ""},
                     ContactRow {2, "Verdi", "Bruno", "", "", "TO", "3337654321", ""}});
    MainWindowDriver main;
    main.clickRow(2);
    QCOMPARE(main.field("txtState")->text(), QStringLiteral("TO"));
    QCOMPARE(main.field("txtZip")->text(), QStringLiteral("3337654321"));
    QVERIFY(main.list()->isAncestorOf(QApplication::focusWidget()));
}

void TestFieldRules::overlongProvinceHandsOnWhenEditedDown()
{
    TestDatabase db(oneContact(QStringLiteral("ABC")));
    MainWindowDriver main;
    QCOMPARE(main.field("txtState")->text(), QStringLiteral("ABC")); // text set by code is never cut
    editField(main, "txtState");
    TextBox* state = main.field("txtState");
    QTest::keyClick(state, Qt::Key_End);
    QTest::keyClick(state, Qt::Key_X); // still too long to type into
    QCOMPARE(state->text(), QStringLiteral("ABC"));
    QVERIFY(state->hasFocus());
    QTest::keyClick(state, Qt::Key_Backspace);
    QCOMPARE(state->text(), QStringLiteral("AB"));
    QVERIFY(main.field("txtZip")->hasFocus());
}

void TestFieldRules::tabbingSelectsWholeText()
{
    TestDatabase db(oneContact());
    MainWindowDriver main;
    main.click("cmdUpdate");
    const QStringList expected = main.fields();
    QVERIFY(main.field("txtFirst")->hasFocus());
    QCOMPARE(main.field("txtFirst")->selectedText(), expected.at(0));
    const char* names[] = {"txtLast", "txtAddr", "txtCity", "txtState", "txtZip", "txtArea", "txtPrfx", "txtLine"};
    for (int i = 0; i < 8; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        TextBox* f = main.field(names[i]);
        QVERIFY2(f->hasFocus(), names[i]);
        QCOMPARE(f->selectedText(), expected.at(i + 1));
    }
}

void TestFieldRules::focusReasonDecidesSelection_data()
{
    QTest::addColumn<int>("reason");
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("selectsAll");
    // A closing context menu gives the focus back before its action runs; coming back from another program the
    // field never lost it. Neither may select the whole text.
    QTest::newRow("popup, selection") << int(Qt::PopupFocusReason) << 4 << false;
    QTest::newRow("popup, caret") << int(Qt::PopupFocusReason) << 0 << false;
    QTest::newRow("other program") << int(Qt::ActiveWindowFocusReason) << 4 << false;
    QTest::newRow("tab") << int(Qt::TabFocusReason) << 4 << true;
    QTest::newRow("backtab") << int(Qt::BacktabFocusReason) << 0 << true;
    QTest::newRow("mouse") << int(Qt::MouseFocusReason) << 4 << true;
    QTest::newRow("other") << int(Qt::OtherFocusReason) << 0 << true;
}

void TestFieldRules::focusReasonDecidesSelection()
{
    QFETCH(int, reason);
    QFETCH(int, length);
    QFETCH(bool, selectsAll);
    TestDatabase db(oneContact());
    MainWindowDriver main;
    editField(main, "txtAddr");
    TextBox* addr = main.field("txtAddr");
    addr->setCursorPosition(4);
    addr->cursorForward(true, length);
    QFocusEvent out(QEvent::FocusOut, Qt::FocusReason(reason));
    QApplication::sendEvent(addr, &out);
    QFocusEvent in(QEvent::FocusIn, Qt::FocusReason(reason));
    QApplication::sendEvent(addr, &in);
    QCOMPARE(addr->selectedText(), selectsAll ? QStringLiteral("Via Roma 1") : QStringLiteral("Roma").left(length));
    if (!selectsAll) {
        QCOMPARE(addr->cursorPosition(), 4 + length);
    }
}

void TestFieldRules::composedAndUnusualCharactersAreFiltered_data()
{
    QTest::addColumn<QByteArray>("name");
    // "commit": finished by an input method (dead key, compose, IME); "key": a key press; "altgr": AltGr as
    // Windows reports it, Ctrl+Alt with the character as text.
    QTest::addColumn<QByteArray>("via");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    const QString emoji = QStringLiteral("\U0001F600");
    const QString none;
    const auto row = [](const char* tag, const char* name, const char* via, const QString& text, const QString& out) {
        QTest::newRow(tag) << QByteArray(name) << QByteArray(via) << text << out;
    };
    row("state, composed è", "txtState", "commit", "è", none);
    row("state, composed 1", "txtState", "commit", "1", none);
    row("state, composed a", "txtState", "commit", "a", "A");
    row("state, composed past the limit", "txtState", "commit", "a1bc", "AB");
    row("zip, composed è", "txtZip", "commit", "è", none);
    row("zip, composed 1", "txtZip", "commit", "1", "1");
    row("zip, composed a", "txtZip", "commit", "a", none);
    row("zip, composed mixed", "txtZip", "commit", "1è2" + emoji + "3", "123");
    row("address, composed", "txtAddr", "commit", "è" + emoji, "è" + emoji);
    row("address, composed lone half", "txtAddr", "commit", QStringLiteral("a") + QChar(0xD83D), "a");
    row("state, emoji key", "txtState", "key", emoji, none);
    row("zip, emoji key", "txtZip", "key", emoji, none);
    row("zip, format character key", "txtZip", "key", QStringLiteral("\u200E"), none);
    row("address, emoji key", "txtAddr", "key", emoji, emoji);
    row("zip, AltGr euro", "txtZip", "altgr", "€", none);
    row("state, AltGr bracket", "txtState", "altgr", "[", none);
}

void TestFieldRules::composedAndUnusualCharactersAreFiltered()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, via);
    QFETCH(QString, text);
    QFETCH(QString, expected);
    TestDatabase db(oneContact());
    MainWindowDriver main;
    main.click("cmdAdd");
    TextBox* f = main.field(name.constData());
    f->setFocus();
    if (via == "commit") {
        QInputMethodEvent preedit(QStringLiteral("`"), {});
        QApplication::sendEvent(f, &preedit);
        QInputMethodEvent commit;
        commit.setCommitString(text);
        QApplication::sendEvent(f, &commit);
    } else {
        const bool altGr = via == "altgr";
        const Qt::KeyboardModifiers mods = altGr ? Qt::ControlModifier | Qt::AltModifier : Qt::NoModifier;
        QTest::sendKeyEvent(QTest::Press, f, altGr ? Qt::Key_E : Qt::Key_unknown, text, mods);
        QTest::sendKeyEvent(QTest::Release, f, altGr ? Qt::Key_E : Qt::Key_unknown, text, mods);
    }
    QCOMPARE(f->text(), expected);
}

void TestFieldRules::editingKeysStillEdit_data()
{
    // Keys as the platform delivers them, with the control code some of them carry as text.
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("cursor");
    QTest::newRow("delete") << int(Qt::Key_Delete) << 0 << "\x7F"
                            << "ViaRoma 1" << 3;
    QTest::newRow("backspace") << int(Qt::Key_Backspace) << 0 << "\b"
                               << "Vi Roma 1" << 2;
    QTest::newRow("left") << int(Qt::Key_Left) << 0 << ""
                          << "Via Roma 1" << 2;
    QTest::newRow("home") << int(Qt::Key_Home) << 0 << ""
                          << "Via Roma 1" << 0;
    QTest::newRow("end") << int(Qt::Key_End) << 0 << ""
                         << "Via Roma 1" << 10;
    QTest::newRow("select all") << int(Qt::Key_A) << int(Qt::ControlModifier) << "\x01"
                                << "Via Roma 1" << 10;
    QTest::newRow("cut nothing") << int(Qt::Key_X) << int(Qt::ControlModifier) << "\x18"
                                 << "Via Roma 1" << 3;
}

void TestFieldRules::editingKeysStillEdit()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QFETCH(int, cursor);
    TestDatabase db(oneContact());
    MainWindowDriver main;
    editField(main, "txtAddr");
    TextBox* addr = main.field("txtAddr");
    addr->setCursorPosition(3);
    QTest::sendKeyEvent(QTest::Press, addr, Qt::Key(key), text, Qt::KeyboardModifiers(modifiers));
    QTest::sendKeyEvent(QTest::Release, addr, Qt::Key(key), text, Qt::KeyboardModifiers(modifiers));
    QCOMPARE(addr->text(), expected);
    QCOMPARE(addr->cursorPosition(), cursor);
}

void TestFieldRules::pastedTextIsNotFiltered()
{
    TestDatabase db(oneContact());
    MainWindowDriver main;
    main.click("cmdAdd");
    QApplication::clipboard()->setText(QStringLiteral("mi-9"));
    TextBox* state = main.field("txtState");
    state->setFocus();
    QTest::keySequence(state, QKeySequence::Paste);
    // Only typed keys are filtered; the maximum length still holds.
    QCOMPARE(state->text(), QStringLiteral("mi"));
    TextBox* zip = main.field("txtZip");
    zip->setFocus();
    zip->clear();
    QTest::keySequence(zip, QKeySequence::Paste);
    QCOMPARE(zip->text(), QStringLiteral("mi-9"));
}

void TestFieldRules::everyWayOfPastingFits_data()
{
    QTest::addColumn<QString>("way");
    QTest::newRow("Ctrl+V") << "Ctrl+V";
    QTest::newRow("Shift+Insert") << "Shift+Insert";
    QTest::newRow("menu Incolla") << "menu";
    QTest::newRow("drop") << "drop";
}

// Whatever way the text comes in, a limited field takes as much as fits, and never half of a two-unit character.
void TestFieldRules::everyWayOfPastingFits()
{
    QFETCH(QString, way);
    TestDatabase db(oneContact());
    MainWindowDriver main;
    main.click("cmdAdd");
    TextBox* zip = main.field("txtZip");
    zip->setFocus();
    zip->setText(QStringLiteral("1234567"));
    QApplication::clipboard()->setText(QStringLiteral("89\U0001F600"));
    const auto paste = [&] {
        if (way == QStringLiteral("Ctrl+V")) {
            QTest::keyClick(zip, Qt::Key_V, Qt::ControlModifier);
        } else if (way == QStringLiteral("Shift+Insert")) {
            QTest::keyClick(zip, Qt::Key_Insert, Qt::ShiftModifier);
        } else if (way == QStringLiteral("menu")) {
            QContextMenuEvent request(QContextMenuEvent::Mouse, QPoint(2, 2), zip->mapToGlobal(QPoint(2, 2)));
            QApplication::sendEvent(zip, &request);
            QWidget* menu = QApplication::activePopupWidget();
            QVERIFY(menu);
            const QList<QAction*> actions = menu->actions();
            const auto action = std::find_if(actions.begin(), actions.end(), [](QAction* a) {
                return a->text().startsWith(QStringLiteral("&Paste"));
            });
            QVERIFY(action != actions.end());
            (*action)->trigger();
            menu->close();
        } else {
            QMimeData dragged;
            dragged.setText(QApplication::clipboard()->text());
            const QPoint at(zip->width() - 2, zip->height() / 2);
            QDragEnterEvent enter(at, Qt::CopyAction, &dragged, Qt::LeftButton, {});
            QApplication::sendEvent(zip, &enter);
            QDropEvent drop(at, Qt::CopyAction, &dragged, Qt::LeftButton, {});
            QApplication::sendEvent(zip, &drop);
        }
    };
    paste();
    QCOMPARE(zip->text(), QStringLiteral("123456789"));
    QApplication::clipboard()->setText(QStringLiteral("0123"));
    paste();
    QCOMPARE(zip->text(), QStringLiteral("1234567890"));
    paste();
    QCOMPARE(zip->text(), QStringLiteral("1234567890"));
}

void TestFieldRules::wholeContactTypedWithoutTab()
{
    TestDatabase db;
    MainWindowDriver main;
    main.click("cmdAdd");
    main.field("txtState")->setFocus();
    typeText(nullptr, QStringLiteral("fc3471234567"));
    typeText(nullptr, QStringLiteral("0543"));
    typeText(nullptr, QStringLiteral("12345678"));
    typeText(nullptr, QStringLiteral("9012"));
    QVERIFY(main.field("txtLine")->hasFocus());
    QCOMPARE(main.fields().mid(4), (QStringList {"FC", "3471234567", "0543", "12345678", "9012"}));
    main.click("cmdSave");
    QCOMPARE(db.rows().first().mid(5), (QStringList {"FC", "3471234567", "0543123456789012"}));
}

void TestFieldRules::labelsNameTheirFields_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("spoken");
    QTest::newRow("txtFirst") << QByteArray("txtFirst") << "Cognome";
    QTest::newRow("txtLast") << QByteArray("txtLast") << "Nome";
    QTest::newRow("txtState") << QByteArray("txtState") << "PR";
    QTest::newRow("txtZip") << QByteArray("txtZip") << "Cellulare";
    QTest::newRow("txtArea") << QByteArray("txtArea") << "Telefono";
}

void TestFieldRules::labelsNameTheirFields()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, spoken);
    TestDatabase db;
    MainWindowDriver main;
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(main.field(name.constData()));
    QVERIFY(accessible);
    QCOMPARE(accessible->text(QAccessible::Name), spoken);
}

QTEST_MAIN(TestFieldRules)
#include "tst_fieldrules.moc"
