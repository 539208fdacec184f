// The main window's layout and lifecycle: geometry, captions, tab order, activation, closing, printing, start-up.
#include "common/Twips.h"
#include "core/AppInfo.h"
#include "maint/Startup.h"
#include "print/Visualizza.h"
#include "support/MainWindowDriver.h"
#include "support/ScriptedMessageBox.h"
#include "support/TestDatabase.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void geometry_data();
    void geometry();
    void windowIsFixedWithCloseBoxOnly();
    void captions();
    void tabOrder();
    void firstActivationEntersBrowseState();
    void laterActivationKeepsEditState();
    void shownButNeverActivatedBrowses();
    void emptyTableShowsEmptyBrowseState();
    void closeRefusedWhileEditPending();
    void closeButtonClosesAndReleasesDatabase();
    void printButtonShowsOneWindow();
    void listsAreNamedForScreenReaders();
    void lightLookUnderDarkTheme_data();
    void lightLookUnderDarkTheme();
    void startWithoutDatabase_data();
    void startWithoutDatabase();
    void bothWindowsReadTheProgramsFile_data();
    void bothWindowsReadTheProgramsFile();
};

void TestMainWindow::geometry_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("twips");
    // On the window.
    QTest::newRow("lblPhysMaint") << "lblPhysMaint" << QRect(900, 60, 9345, 420);
    QTest::newRow("lvwCustomer") << "lvwCustomer" << QRect(120, 600, 8895, 3855);
    QTest::newRow("cmdAdd") << "cmdAdd" << QRect(9180, 600, 1155, 855);
    QTest::newRow("cmdUpdate") << "cmdUpdate" << QRect(9180, 1620, 1155, 855);
    QTest::newRow("cmdDelete") << "cmdDelete" << QRect(9180, 2580, 1155, 855);
    QTest::newRow("cmdClose") << "cmdClose" << QRect(9180, 3540, 1155, 855);
    QTest::newRow("fraCurrentRec") << "fraCurrentRec" << QRect(120, 4560, 8895, 2715);
    QTest::newRow("cmdSave") << "cmdSave" << QRect(9180, 4560, 1155, 855);
    QTest::newRow("cmdCancel") << "cmdCancel" << QRect(9180, 5520, 1155, 855);
    QTest::newRow("Command1") << "Command1" << QRect(9180, 6480, 1155, 855);
    QTest::newRow("copyright") << "Label14_0" << QRect(0, 7440, 10695, 255);
    QTest::newRow("Image1") << "Image1" << QRect(180, 60, 480, 480);
    // Inside the frame, relative to it.
    QTest::newRow("Label11") << "Label11" << QRect(180, 240, 1575, 195);
    QTest::newRow("Label3") << "Label3" << QRect(4620, 240, 1215, 195);
    QTest::newRow("txtFirst") << "txtFirst" << QRect(120, 480, 4215, 375);
    QTest::newRow("txtLast") << "txtLast" << QRect(4560, 480, 4215, 375);
    QTest::newRow("Label4") << "Label4_1" << QRect(180, 900, 675, 255);
    QTest::newRow("txtAddr") << "txtAddr" << QRect(120, 1200, 8655, 375);
    QTest::newRow("Label5") << "Label5_1" << QRect(180, 1620, 435, 255);
    QTest::newRow("Label6") << "Label6_1" << QRect(4080, 1620, 495, 255);
    QTest::newRow("Label7") << "Label7_1" << QRect(4680, 1620, 1515, 255);
    QTest::newRow("Label14 Telefono") << "Label14_1" << QRect(6720, 1620, 1695, 255);
    QTest::newRow("txtCity") << "txtCity" << QRect(120, 1920, 3675, 375);
    QTest::newRow("txtState") << "txtState" << QRect(3960, 1920, 555, 375);
    QTest::newRow("txtZip") << "txtZip" << QRect(4680, 1920, 1875, 375);
    QTest::newRow("Label9") << "Label9_1" << QRect(8100, 1920, 75, 270);
    QTest::newRow("Label27") << "Label27" << QRect(6600, 1980, 90, 270);
    QTest::newRow("txtArea") << "txtArea" << QRect(6720, 1920, 795, 375);
    QTest::newRow("txtPrfx") << "txtPrfx" << QRect(7680, 1920, 1155, 375);
    QTest::newRow("Label26") << "Label26" << QRect(7500, 1980, 90, 270);
    QTest::newRow("txtLine") << "txtLine" << QRect(8220, 1920, 555, 375);
}

void TestMainWindow::geometry()
{
    QFETCH(QString, name);
    QFETCH(QRect, twips);
    TestDatabase db(mkdb::demoContacts());
    MainWindowDriver main;
    auto* widget = main.window()->findChild<QWidget*>(name);
    QVERIFY2(widget, qPrintable(name));
    // 15 twips to the pixel: the designed positions are whole pixels.
    QCOMPARE(widget->geometry(), QRect(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15));
}

void TestMainWindow::windowIsFixedWithCloseBoxOnly()
{
    TestDatabase db;
    MainWindowDriver main;
    QWidget* w = main.window();
    QCOMPARE(w->size(), QSize(10485 / 15, 7695 / 15));
    QCOMPARE(w->minimumSize(), w->maximumSize());
    const Qt::WindowFlags flags = w->windowFlags();
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(!w->windowIcon().isNull());
    // The copyright strip runs past the right edge and is clipped there.
    auto* strip = w->findChild<QLabel*>(QStringLiteral("Label14_0"));
    QVERIFY(strip->geometry().right() > w->rect().right());
    QCOMPARE(strip->geometry().bottom(), w->rect().bottom());
}

void TestMainWindow::captions()
{
    TestDatabase db;
    MainWindowDriver main;
    QWidget* w = main.window();
    QVERIFY(w->windowTitle().startsWith(QStringLiteral("Velmarin")));
    const QList<QPair<const char*, QString>> buttons {{"cmdAdd", "Aggiungi"},
                                                      {"cmdUpdate", "Aggiorna"},
                                                      {"cmdDelete", "Elimina"},
                                                      {"cmdClose", "Chiudi"},
                                                      {"cmdSave", "Salva"},
                                                      {"cmdCancel", "Pulisci"},
                                                      {"Command1", "Stampa"}};
    for (const auto& [name, caption] : buttons) {
        QCOMPARE(main.button(name)->text(), caption);
        QVERIFY2(!main.button(name)->icon().isNull(), name);
    }
    const QList<QPair<const char*, QString>> labels {{"lblPhysMaint", "Velmarin"},
                                                     {"Label11", "Cognome"},
                                                     {"Label3", "Nome"},
                                                     {"Label4_1", "Indirizzo"},
                                                     {"Label5_1", "Città"},
                                                     {"Label6_1", "PR"},
                                                     {"Label7_1", "Cellulare"},
                                                     {"Label14_1", "Telefono"},
                                                     {"Label27", "("},
                                                     {"Label26", ")"},
                                                     {"Label9_1", "-"}};
    for (const auto& [name, caption] : labels) {
        QCOMPARE(w->findChild<QLabel*>(QLatin1String(name))->text(), caption);
    }
    QCOMPARE(w->findChild<QGroupBox*>(QStringLiteral("fraCurrentRec"))->title(),
             QStringLiteral("Contatto Selezionato"));
    auto* title = w->findChild<QLabel*>(QStringLiteral("lblPhysMaint"));
    QCOMPARE(title->palette().color(QPalette::WindowText), QColor(0, 0, 192));
    QVERIFY(title->font().bold());
}

void TestMainWindow::tabOrder()
{
    TestDatabase db(mkdb::demoContacts());
    MainWindowDriver main;
    main.click("cmdUpdate"); // the fields take the focus only while editing
    const QStringList expected {"txtFirst",
                                "txtLast",
                                "txtAddr",
                                "txtCity",
                                "txtState",
                                "txtZip",
                                "txtArea",
                                "txtPrfx",
                                "txtLine",
                                "cmdSave",
                                "cmdCancel",
                                "Command1"};
    QCOMPARE(QApplication::focusWidget()->objectName(), expected.first());
    for (int i = 1; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), expected.at(i));
    }
    main.click("cmdCancel");
    // In the browse state the list comes first and the buttons follow it.
    main.list()->view()->setFocus();
    for (const char* name : {"cmdAdd", "cmdUpdate", "cmdDelete", "cmdClose", "Command1"}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QString::fromLatin1(name));
    }
}

void TestMainWindow::firstActivationEntersBrowseState()
{
    TestDatabase db(mkdb::demoContacts());
    MainWindowDriver main;
    QVERIFY(main.window()->activated());
    QVERIFY(main.browsing());
    for (const char* name : {"cmdUpdate", "cmdDelete", "cmdClose", "Command1"}) {
        QVERIFY2(main.button(name)->isEnabled(), name);
    }
    QVERIFY(!main.button("cmdCancel")->isEnabled());
    QVERIFY(main.list()->isAncestorOf(QApplication::focusWidget()));
}

void TestMainWindow::laterActivationKeepsEditState()
{
    TestDatabase db(mkdb::demoContacts());
    MainWindowDriver main;
    main.click("cmdUpdate");
    main.type("txtAddr", QStringLiteral("Via Nuova 1"));

    QWidget other;
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    main.window()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(main.window()));

    QVERIFY(main.editing());
    QVERIFY(main.field("txtAddr")->isEnabled());
    QCOMPARE(main.field("txtAddr")->text(), QStringLiteral("Via Nuova 1"));
    QVERIFY(main.window()->editPending());
}

// Stands for a window manager that never activates the window: the offscreen platform activates every window it
// shows, one event later, so the activation is swallowed on its way in.
class ActivationEater : public QObject
{
public:
    bool eventFilter(QObject*, QEvent* event) override { return event->type() == QEvent::WindowActivate; }
};

void TestMainWindow::shownButNeverActivatedBrowses()
{
    TestDatabase db({mkdb::ContactRow {1, QStringLiteral("Rossi"), {}, {}, {}, {}, {}, {}}});
    frmCustMaint window;
    ActivationEater eater;
    window.installEventFilter(&eater);
    window.Form_Load();
    window.show();
    QVERIFY(QApplication::activeWindow() != &window);
    QVERIFY(window.activated());
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    auto* save = window.findChild<QToolButton*>(QStringLiteral("cmdSave"));
    auto* first = window.findChild<TextBox*>(QStringLiteral("txtFirst"));
    QVERIFY(!save->isEnabled());
    QVERIFY(!first->isEnabled());
    QVERIFY(window.findChild<ListView*>(QStringLiteral("lvwCustomer"))->isEnabled());
    QTest::mouseClick(save, Qt::LeftButton);
    QCOMPARE(db.rows().at(0), (QStringList {"1", "Rossi", "<null>", "<null>", "<null>", "<null>", "<null>", "<null>"}));
    window.hide();
}

void TestMainWindow::emptyTableShowsEmptyBrowseState()
{
    TestDatabase db;
    MainWindowDriver main;
    QCOMPARE(main.list()->itemCount(), 0);
    QCOMPARE(main.list()->columnHeaderCount(), 8);
    QCOMPARE(main.list()->selectedIndex(), 0);
    QCOMPARE(main.fields(), QStringList(9, QString()));
    QVERIFY(main.browsing());
}

void TestMainWindow::closeRefusedWhileEditPending()
{
    TestDatabase db(mkdb::demoContacts());
    ScriptedMessageBox boxes;
    MainWindowDriver main;
    main.click("cmdAdd");
    main.type("txtFirst", QStringLiteral("Nuovo"));

    for (int attempt = 0; attempt < 2; ++attempt) {
        boxes.expect(MessageBox::Ok);
        QVERIFY(!main.window()->close());
        QVERIFY(main.window()->isVisible());
        const MessageBox::Request asked = boxes.last();
        QCOMPARE(asked.text, QStringLiteral("Vuoi procedere ? Chiudi"));
        QCOMPARE(asked.title, QStringLiteral("Chiudi"));
        QCOMPARE(asked.buttons, MessageBox::OkOnly);
        QCOMPARE(asked.icon, MessageBox::Information);
        QCOMPARE(main.field("txtFirst")->text(), QStringLiteral("Nuovo"));
        QVERIFY(main.window()->editPending());
    }
    main.click("cmdCancel");
    QVERIFY(main.window()->close());
    QCOMPARE(boxes.asked().size(), 2);
}

void TestMainWindow::closeButtonClosesAndReleasesDatabase()
{
    TestDatabase db(mkdb::demoContacts());
    MainWindowDriver main;
    main.click("cmdClose");
    QVERIFY(!main.window()->isVisible());
    // With the connection closed the file can be replaced, as nobody holds it any more.
    QVERIFY(QFile::remove(db.path()));
}

void TestMainWindow::printButtonShowsOneWindow()
{
    TestDatabase db(mkdb::demoContacts());
    MainWindowDriver main;
    main.click("cmdAdd"); // printing works while editing too
    main.click("Command1");
    QPointer<Visualizza> first = main.window()->printWindow();
    QVERIFY(first);
    QVERIFY(first->isVisible());
    QVERIFY(!first->parentWidget());
    QVERIFY(!first->isModal());

    main.window()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(main.window()));
    main.click("Command1");
    QCOMPARE(main.window()->printWindow(), first.data());
    int printWindows = 0;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        printWindows += (qobject_cast<Visualizza*>(w) && w->isVisible()) ? 1 : 0;
    }
    QCOMPARE(printWindows, 1);

    first->close();
    QTRY_VERIFY(!first); // closing destroys it; the next press creates it afresh
    main.click("Command1");
    QVERIFY(main.window()->printWindow());
    main.window()->printWindow()->close();
}

void TestMainWindow::listsAreNamedForScreenReaders()
{
    TestDatabase db(mkdb::demoContacts());
    MainWindowDriver main;
    main.click("Command1");
    const QList<QPair<QWidget*, QString>> lists {
        {main.list()->view(), QStringLiteral("Elenco dei contatti")},
        {main.window()->printWindow()->findChild<ListView*>(QStringLiteral("ListView3"))->view(),
         QStringLiteral("Elenco dei contatti da stampare")}};
    for (const auto& [view, name] : lists) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(view);
        QVERIFY(accessible);
        QCOMPARE(accessible->text(QAccessible::Name), name);
    }
    main.window()->printWindow()->close();
}

namespace {

// Relative luminance and contrast ratio as the accessibility guidelines define them.
double luminance(QRgb c)
{
    const auto channel = [](int v) {
        const double s = v / 255.0;
        return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
}

double contrast(QRgb a, QRgb b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The contrast of a label's text with its background in a picture of its window: the background is the commonest
// colour in the label's box, the text its pixel that stands out most.
double textContrast(QWidget* window, QWidget* label)
{
    const QImage shot = window->grab().toImage();
    const QRect box = QRect(label->mapTo(window, QPoint(0, 0)), label->size()).intersected(window->rect());
    QHash<QRgb, int> counts;
    for (int y = box.top(); y <= box.bottom(); ++y) {
        for (int x = box.left(); x <= box.right(); ++x) {
            ++counts[shot.pixel(x, y)];
        }
    }
    const QRgb background = std::max_element(counts.cbegin(), counts.cend()).key();
    double best = 1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        best = std::max(best, contrast(background, it.key()));
    }
    return best;
}

} // namespace

void TestMainWindow::lightLookUnderDarkTheme_data()
{
    QTest::addColumn<bool>("printWindow");
    QTest::addColumn<QString>("label");
    QTest::newRow("copyright strip") << false << "Label14_0";
    QTest::newRow("black frame label") << false << "Label5_1";
    QTest::newRow("frame label") << false << "Label11";
    QTest::newRow("title") << false << "lblPhysMaint";
    QTest::newRow("field shown while browsing") << false << "txtFirst";
    QTest::newRow("print window strip") << true << "Label14";
}

// A dark desktop theme must not put the window's forced colours beside its own: every text stays readable.
void TestMainWindow::lightLookUnderDarkTheme()
{
    QFETCH(bool, printWindow);
    QFETCH(QString, label);
    struct RestorePalette
    {
        QPalette desktop = QApplication::palette();
        ~RestorePalette() { QApplication::setPalette(desktop); }
    } restore;
    // From a dark button colour Qt derives a whole dark theme: light text on dark grey.
    const QPalette dark(QColor(0x35, 0x35, 0x35));
    QApplication::setPalette(dark);
    TestDatabase db(mkdb::demoContacts());
    MainWindowDriver main;
    QWidget* window = main.window();
    if (printWindow) {
        main.click("Command1");
        window = main.window()->printWindow();
    }
    auto* shown = window->findChild<QWidget*>(label);
    QVERIFY(shown);
    const double ratio = textContrast(window, shown);
    if (printWindow) {
        window->close();
    }
    QVERIFY2(ratio >= 4.5, qPrintable(QStringLiteral("contrast %1:1").arg(ratio)));
}

void TestMainWindow::startWithoutDatabase_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("expected");
    QTest::newRow("missing") << QByteArray() << QStringLiteral("Impossibile trovare il file");
    QTest::newRow("not a database") << QByteArray("indirizzi\n") << QString();
}

void TestMainWindow::startWithoutDatabase()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("Cust.mdb"));
    if (!content.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    AppInfo::setFolderOverride(dir.path());
    ScriptedMessageBox boxes;
    boxes.expect(MessageBox::Ok);

    QCOMPARE(runVelmarin(), 1);

    AppInfo::setFolderOverride({});
    QCOMPARE(boxes.asked().size(), 1);
    QCOMPARE(boxes.last().title, QStringLiteral("Velmarin"));
    QCOMPARE(boxes.last().icon, MessageBox::Critical);
    QVERIFY(boxes.last().text.contains(expected));
    QVERIFY(boxes.last().text.contains(QStringLiteral("Cust.mdb"), Qt::CaseInsensitive));
    QCOMPARE(QFileInfo::exists(path), !content.isEmpty());
    for (QWidget* w : QApplication::topLevelWidgets()) {
        QVERIFY(!(qobject_cast<frmCustMaint*>(w) && w->isVisible()));
    }
}

void TestMainWindow::bothWindowsReadTheProgramsFile_data()
{
    QTest::addColumn<QString>("folder"); // the program's folder, inside a temporary one
    QTest::addColumn<QStringList>("emptyBeside"); // empty address books in the same folder

    QTest::newRow("a folder name holding ';' and '='") << "semi;b=c" << QStringList();
    QTest::newRow("a folder name ending in a backslash") << "bs\\" << QStringList();
    QTest::newRow("other spellings beside Cust.mdb") << "rubrica" << QStringList {"CUST.MDB", "cust.mdb"};
    QTest::newRow("all three together") << "x;Data Source=y\\" << QStringList {"CUST.MDB"};
}

// The main window and the print window both list the contacts of Cust.mdb in the program's folder, whatever the
// folder's name holds and whatever other spellings of the file lie beside it.
void TestMainWindow::bothWindowsReadTheProgramsFile()
{
    QFETCH(QString, folder);
    QFETCH(QStringList, emptyBeside);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(folder));
    const QDir programFolder(QDir(dir.path()).filePath(folder));
    for (const QString& name : emptyBeside) {
        QCOMPARE(mkdb::createCustomerDatabase(programFolder.filePath(name)), QString());
    }
    const QString path = programFolder.filePath(QStringLiteral("Cust.mdb"));
    QCOMPARE(mkdb::createCustomerDatabase(path), QString());
    QCOMPARE(mkdb::insertContacts(path, mkdb::demoContacts()), QString());
    AppInfo::setFolderOverride(programFolder.path());
    const int count = int(mkdb::demoContacts().size());
    {
        ScriptedMessageBox boxes;
        MainWindowDriver main;
        QCOMPARE(main.list()->itemCount(), count);
        main.click("Command1");
        Visualizza* print = main.window()->printWindow();
        QVERIFY(print);
        QTRY_COMPARE(print->ListView3->itemCount(), count);
        QCOMPARE(boxes.asked().size(), 0);
        print->close();
    }
    AppInfo::setFolderOverride({});
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
