#include "common/ListView.h"
#include "common/Twips.h"
#include "core/AppInfo.h"
#include "print/PrinterDevice.h"
#include "print/Visualizza.h"
#include "support/ScriptedMessageBox.h"
#include "support/TestDatabase.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTreeView>
#include <QWindow>

namespace {

mkdb::ContactRow contact(int id,
                         const QVariant& surname,
                         const QVariant& name,
                         const QVariant& address,
                         const QVariant& city,
                         const QVariant& state,
                         const QVariant& mobile,
                         const QVariant& phone)
{
    return mkdb::ContactRow {id, surname, name, address, city, state, mobile, phone};
}

// What the list should show for a contact: no city, the telephone as stored, NULL as empty text.
QStringList shown(const mkdb::ContactRow& c)
{
    const auto text = [](const QVariant& v) { return v.isNull() ? QString() : v.toString(); };
    return {text(c.custId),
            text(c.firstName),
            text(c.lastName),
            text(c.address),
            text(c.state),
            text(c.zip),
            text(c.phoneNumber)};
}

QList<QStringList> shown(const QList<mkdb::ContactRow>& contacts)
{
    QList<QStringList> rows;
    for (const auto& c : contacts) {
        rows.append(shown(c));
    }
    return rows;
}

QList<QStringList> listRows(const ListView* list)
{
    QList<QStringList> rows;
    for (int i = 1; i <= list->itemCount(); ++i) {
        QStringList row {list->itemText(i)};
        for (int k = 1; k <= 6; ++k) {
            row.append(list->subItem(i, k));
        }
        rows.append(row);
    }
    return rows;
}

// A printer that keeps what the routine asked of it.
class RecordingPrinter : public PrinterDevice
{
public:
    struct Log
    {
        QStringList boldTexts;
        QStringList regularTexts;
        QString fontName;
        double fontSize = 0;
        int documents = 0;
    };

    explicit RecordingPrinter(Log* log)
        : m_log(log)
    {
    }

    void obtain() override { }
    void setOrientation(int) override { }
    void setFontName(const QString& name) override { m_log->fontName = name; }
    void setFontSize(double points) override { m_log->fontSize = points; }
    void setFontBold(bool bold) override { m_bold = bold; }
    void setScale(double, double) override { }
    double currentX() const override { return m_x; }
    double currentY() const override { return m_y; }
    void setCurrentX(double x) override { m_x = x; }
    void setCurrentY(double y) override { m_y = y; }
    double textWidth(const QString& text) override { return text.size() * 0.5; }
    double textHeight(const QString&) override { return 1.5; }
    void print(const QString& text) override
    {
        (m_bold ? m_log->boldTexts : m_log->regularTexts).append(text);
        m_x = 0;
        m_y += 1.5;
    }
    void line(double, double, double, double) override { }
    void newPage() override { }
    void endDoc() override { ++m_log->documents; }
    void killDoc() override { }

private:
    Log* m_log;
    bool m_bold = false;
    double m_x = 0;
    double m_y = 0;
};

} // namespace

class TestVisualizza : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void layoutStaysPutOnResize_data();
    void layoutStaysPutOnResize();
    void focusGoesFromListToButton();
    void emptyTableGivesSevenHeaders();
    void valuesStandUnderTheirHeaders_data();
    void valuesStandUnderTheirHeaders();
    void eachContactOnceAcrossActivations();
    void refreshOnlyWhenComingFromTheProgram_data();
    void refreshOnlyWhenComingFromTheProgram();
    void unreadableDatabaseKeepsWindowUsable_data();
    void unreadableDatabaseKeepsWindowUsable();
    void generalDate_data();
    void generalDate();
    void avviaPrintsTitledList_data();
    void avviaPrintsTitledList();
    void closeNeverAsks();

private:
    // The print window as the main window's "Stampa" opens it: ownerless, shown, active, list built.
    Visualizza* openPrintWindow();
    void activate(QWidget* window);
    void switchToAnotherProgramAndBack(QWidget* window);

    ScriptedMessageBox* m_boxes = nullptr;
    QWidget* m_main = nullptr;
    QPointer<Visualizza> m_print;
};

void TestVisualizza::init()
{
    m_boxes = new ScriptedMessageBox;
    // Stands in for the main window: another window of the program to come back from.
    m_main = new QWidget;
    m_main->setObjectName(QStringLiteral("frmCustMaint"));
    m_main->resize(300, 200);
    m_main->show();
    activate(m_main);
}

void TestVisualizza::cleanup()
{
    delete m_print;
    delete m_main;
    delete m_boxes;
    AppInfo::setClock({});
    setPrinterFactory({});
}

Visualizza* TestVisualizza::openPrintWindow()
{
    m_print = new Visualizza;
    m_print->show();
    m_print->activateWindow();
    // The callers check what the window shows; here it only gets the time to show it.
    QTest::qWaitForWindowActive(m_print);
    QTest::qWaitFor([this] { return m_print->ListView3->columnHeaderCount() == 7; });
    return m_print;
}

void TestVisualizza::activate(QWidget* window)
{

    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    QCoreApplication::processEvents();
}

// What the platform does when the user leaves for another program and comes back: the program has no focus window
// and no active window for a while, then the same window gets both again.
void TestVisualizza::switchToAnotherProgramAndBack(QWidget* window)
{
    QApplication::setActiveWindow(nullptr);
    emit qGuiApp->focusWindowChanged(nullptr);
    QCoreApplication::processEvents();
    emit qGuiApp->focusWindowChanged(window->windowHandle());
    QApplication::setActiveWindow(window);
    QCOMPARE(QApplication::activeWindow(), window);
    QCoreApplication::processEvents();
}

void TestVisualizza::layoutStaysPutOnResize_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("as designed") << QSize();
    QTest::newRow("larger") << QSize(1000, 800);
    QTest::newRow("smaller") << QSize(200, 150);
}

void TestVisualizza::layoutStaysPutOnResize()
{
    QFETCH(QSize, size);
    TestDatabase db;
    Visualizza* w = openPrintWindow();
    QCOMPARE(w->windowTitle(), QStringLiteral("Stampa"));
    QCOMPARE(w->size(), QSize(twipsToPixels(10455), twipsToPixels(7710)));
    if (size.isValid()) {
        w->resize(size);
        QTRY_COMPARE(w->size(), size);
    }

    QCOMPARE(w->findChild<ListView*>(QStringLiteral("ListView3")), w->ListView3);
    QCOMPARE(w->findChild<QPushButton*>(QStringLiteral("Command1")), w->Command1);
    QCOMPARE(w->findChild<QLabel*>(QStringLiteral("Label14")), w->Label14);
    QCOMPARE(w->ListView3->geometry(), twipsRect(120, 360, 10095, 6135));
    QCOMPARE(w->Command1->geometry(), twipsRect(4320, 6720, 2175, 400));
    QCOMPARE(w->Label14->geometry(), twipsRect(0, 7440, 10695, 255));
    QCOMPARE(w->Command1->text(), QStringLiteral("Avvia"));

    // A tool window without an owner that still keeps the program running when the main window closes.
    QCOMPARE(w->windowType(), Qt::Tool);
    QVERIFY(!w->parentWidget());
    QVERIFY(!(w->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QVERIFY(w->testAttribute(Qt::WA_QuitOnClose));
    QVERIFY(w->testAttribute(Qt::WA_DeleteOnClose));
    QVERIFY(!w->isModal());

    QCOMPARE(w->ListView3->font().family(), QStringLiteral("Arial"));
    QCOMPARE(w->ListView3->font().pointSizeF(), 8.25);
    QCOMPARE(w->ListView3->view()->palette().color(QPalette::Base), QColor(Qt::white));
    QCOMPARE(w->Label14->font().pointSizeF(), 9.75);
    QVERIFY(!w->Label14->text().isEmpty());
}

void TestVisualizza::focusGoesFromListToButton()
{
    TestDatabase db(mkdb::demoContacts());
    Visualizza* w = openPrintWindow();
    w->ListView3->setFocus();
    QTRY_VERIFY(w->ListView3->isAncestorOf(QApplication::focusWidget()) || QApplication::focusWidget() == w->ListView3);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), w->Command1);
}

void TestVisualizza::emptyTableGivesSevenHeaders()
{
    TestDatabase db;
    Visualizza* w = openPrintWindow();
    const ListView* list = w->ListView3;
    const QStringList keys {"uno", "due", "tre", "quattro", "cinque", "sei", "sette"};
    const QStringList headers {"ID", "Cognome", "Nome", "Indirizzo", "PR", "Cellulare", "Telefono"};
    const QList<double> widths {800, 2000, 2000, 2000, 500, 1500, 1500};
    QCOMPARE(list->columnHeaderCount(), 7);
    for (int i = 1; i <= 7; ++i) {
        QCOMPARE(list->columnHeaderKey(i), keys.at(i - 1));
        QCOMPARE(list->columnHeaderText(i), headers.at(i - 1));
        QCOMPARE(list->columnHeaderWidth(i), widths.at(i - 1));
        QCOMPARE(list->columnHeaderSubItemIndex(i), i - 1);
    }
    QCOMPARE(list->itemCount(), 0);
}

void TestVisualizza::valuesStandUnderTheirHeaders_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("insert");
    QTest::addColumn<QList<QStringList>>("expected");

    const QString insertNamed = QStringLiteral(
        "INSERT INTO Customer (CustID, FirstName, LastName, Address, City, State, Zip, PhoneNumber) VALUES ");
    QTest::newRow("usual order, telephone as stored")
        << QString() << insertNamed + "(7, 'Rossi', 'Mario', 'Via Roma 12', 'Milano', 'MI', '3351234567', '0212345678')"
        << QList<QStringList> {{"7", "Rossi", "Mario", "Via Roma 12", "MI", "3351234567", "0212345678"}};
    QTest::newRow("nulls leave their cells empty")
        << QString()
        << insertNamed
            + "(3, 'Gallo', NULL, NULL, 'Roma', 'RM', NULL, NULL), (4, NULL, 'Elena', 'Via Po 1', NULL, NULL, "
              "'3481122334', '0415678901')"
        << QList<QStringList> {{"3", "Gallo", "", "", "RM", "", ""},
                               {"4", "", "Elena", "Via Po 1", "", "3481122334", "0415678901"}};
    QTest::newRow("record order puts the city among them")
        << QStringLiteral(
               "CREATE TABLE Customer (CustID INTEGER PRIMARY KEY, FirstName TEXT, LastName TEXT, Address TEXT, "
               "City TEXT, State TEXT, Zip TEXT, PhoneNumber TEXT)")
        << insertNamed + "(1, 'Conti', 'Paolo', 'Via Sant''Anna 2', 'Cantù', 'CO', '3396677889', '0316789012')"
        << QList<QStringList> {{"1", "Conti", "Paolo", "Via Sant'Anna 2", "CO", "3396677889", "0316789012"}};
    QTest::newRow("reversed order")
        << QStringLiteral("CREATE TABLE Customer (PhoneNumber TEXT, Zip TEXT, State TEXT, City TEXT, Address TEXT, "
                          "LastName TEXT, FirstName TEXT, CustID INTEGER PRIMARY KEY)")
        << insertNamed + "(2, 'Greco', 'Nicolò', 'Via Etnea 250', 'Catania', 'CT', NULL, '0958901234')"
        << QList<QStringList> {{"2", "Greco", "Nicolò", "Via Etnea 250", "CT", "", "0958901234"}};
    QTest::newRow("other names are taken by position")
        << QStringLiteral("CREATE TABLE Customer (a INTEGER, b TEXT, c TEXT, d TEXT, e TEXT, f TEXT, g TEXT, h TEXT)")
        << QStringLiteral("INSERT INTO Customer VALUES (5, 'b', 'c', 'd', 'e', 'f', 'g', 'h')")
        << QList<QStringList> {{"5", "b", "c", "d", "e", "f", "g"}};
    QTest::newRow("a short table fills what it has")
        << QStringLiteral("CREATE TABLE Customer (CustID INTEGER, FirstName TEXT, Street TEXT)")
        << QStringLiteral("INSERT INTO Customer VALUES (9, 'Bruno', NULL)")
        << QList<QStringList> {{"9", "Bruno", "", "", "", "", ""}};
}

void TestVisualizza::valuesStandUnderTheirHeaders()
{
    QFETCH(QString, table);
    QFETCH(QString, insert);
    QFETCH(QList<QStringList>, expected);
    TestDatabase db;
    if (!table.isEmpty()) {
        QCOMPARE(db.exec(QStringLiteral("DROP TABLE Customer")), QString());
        QCOMPARE(db.exec(table), QString());
    }
    QCOMPARE(db.exec(insert), QString());

    Visualizza* w = openPrintWindow();
    QTRY_COMPARE(listRows(w->ListView3), expected);
}

void TestVisualizza::eachContactOnceAcrossActivations()
{
    QList<mkdb::ContactRow> contacts {
        contact(1, "Rossi", "Mario", "Via Roma 12", "Milano", "MI", "3351234567", "0212345678"),
        contact(2, "D'Angelo", "Lucia", "Corso Garibaldi 4", "Napoli", "NA", "3387654321", "0815551234"),
    };
    TestDatabase db(contacts);
    Visualizza* w = openPrintWindow();
    QTRY_COMPARE(listRows(w->ListView3), shown(contacts));

    for (int round = 0; round < 3; ++round) {
        // The main window adds one contact and changes the first while the print window stays open.
        const int id = 10 + round;
        const QString surname = QStringLiteral("Nuovo%1").arg(round);
        QCOMPARE(db.exec(QStringLiteral("INSERT INTO Customer (CustID, FirstName, LastName, Address, City, State, Zip, "
                                        "PhoneNumber) VALUES (%1, '%2', 'Anna', 'Via Po %1', 'Torino', 'TO', '', '')")
                             .arg(id)
                             .arg(surname)),
                 QString());
        contacts.append(contact(id, surname, "Anna", QStringLiteral("Via Po %1").arg(id), "Torino", "TO", "", ""));
        const QString address = QStringLiteral("Via Roma %1").arg(100 + round);
        QCOMPARE(db.exec(QStringLiteral("UPDATE Customer SET Address = '%1' WHERE CustID = 1").arg(address)),
                 QString());
        contacts[0].address = address;

        activate(m_main);
        activate(w);
        QTRY_COMPARE(listRows(w->ListView3), shown(contacts));
    }
    QCOMPARE(m_boxes->asked().size(), 0);
}

void TestVisualizza::refreshOnlyWhenComingFromTheProgram_data()
{
    QTest::addColumn<QString>("route");
    QTest::addColumn<bool>("refreshed");
    QTest::newRow("back from the main window") << "main" << true;
    QTest::newRow("Stampa pressed again") << "stampa" << true;
    QTest::newRow("another program and back") << "other" << false;
    QTest::newRow("another program, then the main window, then back") << "other-main" << true;
}

void TestVisualizza::refreshOnlyWhenComingFromTheProgram()
{
    QFETCH(QString, route);
    QFETCH(bool, refreshed);
    const QList<mkdb::ContactRow> before {
        contact(1, "Rossi", "Mario", "Via Roma 12", "Milano", "MI", "3351234567", "")};
    TestDatabase db(before);
    Visualizza* w = openPrintWindow();
    QTRY_COMPARE(listRows(w->ListView3), shown(before));

    QCOMPARE(db.exec(QStringLiteral("UPDATE Customer SET FirstName = 'Bianchi' WHERE CustID = 1")), QString());
    QList<mkdb::ContactRow> after = before;
    after[0].firstName = QStringLiteral("Bianchi");

    if (route == QLatin1String("main")) {
        activate(m_main);
        activate(w);
    } else if (route == QLatin1String("stampa")) {
        activate(m_main);
        // What the main window's print button does with the window it already has.
        w->show();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
    } else if (route == QLatin1String("other")) {
        switchToAnotherProgramAndBack(w);
    } else {
        QApplication::setActiveWindow(nullptr);
        emit qGuiApp->focusWindowChanged(nullptr);
        activate(m_main);
        activate(w);
    }

    if (refreshed) {
        QTRY_COMPARE(listRows(w->ListView3), shown(after));
    } else {
        QTest::qWait(50);
        QCOMPARE(listRows(w->ListView3), shown(before));
        // Coming back from the main window afterwards still refreshes.
        activate(m_main);
        activate(w);
        QTRY_COMPARE(listRows(w->ListView3), shown(after));
    }
}

void TestVisualizza::unreadableDatabaseKeepsWindowUsable_data()
{
    QTest::addColumn<QString>("damage");
    QTest::newRow("no file") << "remove";
    QTest::newRow("not a database") << "garbage";
    QTest::newRow("no Customer table") << "drop";
}

void TestVisualizza::unreadableDatabaseKeepsWindowUsable()
{
    QFETCH(QString, damage);
    const QList<mkdb::ContactRow> contacts {contact(1, "Rossi", "Mario", "Via Roma 12", "Milano", "MI", "", "")};
    TestDatabase db(contacts);
    Visualizza* w = openPrintWindow();
    QTRY_COMPARE(listRows(w->ListView3), shown(contacts));

    if (damage == QLatin1String("drop")) {
        QCOMPARE(db.exec(QStringLiteral("DROP TABLE Customer")), QString());
    } else {
        QVERIFY(QFile::remove(db.path()));
        if (damage == QLatin1String("garbage")) {
            QFile file(db.path());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QByteArray(4096, 'x'));
        }
    }

    m_boxes->expect(MessageBox::Ok);
    activate(m_main);
    activate(w);
    QTRY_COMPARE(m_boxes->asked().size(), 1);
    const MessageBox::Request box = m_boxes->last();
    QCOMPARE(box.title, QStringLiteral("Stampa"));
    QCOMPARE(box.icon, MessageBox::Critical);
    QCOMPARE(box.buttons, MessageBox::OkOnly);
    QVERIFY(!box.text.isEmpty());
    QCOMPARE(w->ListView3->itemCount(), 0);
    QVERIFY(w->isVisible());
    QVERIFY(m_main->isVisible());

    // Once the file is back, the next return to the window fills the list again.
    QFile::remove(db.path());
    QCOMPARE(mkdb::createCustomerDatabase(db.path()), QString());
    QCOMPARE(mkdb::insertContacts(db.path(), contacts), QString());
    activate(m_main);
    activate(w);
    QTRY_COMPARE(listRows(w->ListView3), shown(contacts));
    QCOMPARE(m_boxes->asked().size(), 1);
}

void TestVisualizza::generalDate_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<QString>("expected");
    const QLocale italian(QLocale::Italian, QLocale::Italy);
    const QLocale american(QLocale::English, QLocale::UnitedStates);
    const QDate day(2026, 12, 7);
    QTest::newRow("it, morning") << italian << QDateTime(day, QTime(9, 5, 3)) << "07/12/26 09:05:03";
    QTest::newRow("it, midnight") << italian << QDateTime(day, QTime(0, 0)) << "07/12/26";
    QTest::newRow("it, a second past midnight") << italian << QDateTime(day, QTime(0, 0, 1)) << "07/12/26 00:00:01";
    QTest::newRow("it, a minute to midnight") << italian << QDateTime(day, QTime(23, 59, 0)) << "07/12/26 23:59:00";
    QTest::newRow("en, afternoon") << american << QDateTime(day, QTime(15, 30, 0)) << "12/7/26 3:30:00 PM";
}

void TestVisualizza::generalDate()
{
    QFETCH(QLocale, locale);
    QFETCH(QDateTime, when);
    QFETCH(QString, expected);
    QCOMPARE(Visualizza::generalDateText(when, locale), expected);
}

void TestVisualizza::avviaPrintsTitledList_data()
{
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("dateText");
    const QDate day(2026, 12, 7);
    QTest::newRow("daytime") << QDateTime(day, QTime(9, 5, 3))
                             << Visualizza::generalDateText(QDateTime(day, QTime(9, 5, 3)), QLocale::system());
    QTest::newRow("midnight") << QDateTime(day, QTime(0, 0)) << QLocale::system().toString(day, QLocale::ShortFormat);
}

void TestVisualizza::avviaPrintsTitledList()
{
    QFETCH(QDateTime, now);
    QFETCH(QString, dateText);
    const QList<mkdb::ContactRow> contacts {contact(1, "Rossi", "Mario", "Via Roma 12", "Milano", "MI", "", "021234")};
    TestDatabase db(contacts);
    AppInfo::setClock([now] { return now; });
    RecordingPrinter::Log log;
    setPrinterFactory([&log] { return std::make_unique<RecordingPrinter>(&log); });
    Visualizza* w = openPrintWindow();
    QTRY_COMPARE(w->ListView3->itemCount(), 1);

    QTest::mouseClick(w->Command1, Qt::LeftButton);

    QCOMPARE(log.documents, 1);
    QVERIFY(!log.boldTexts.isEmpty());
    // The routine prints the title in capitals; the two spaces before "del" survive.
    QCOMPARE(log.boldTexts.first(), (QStringLiteral("Elenco Velmarin  del ") + dateText).toUpper());
    QVERIFY(log.regularTexts.contains(QStringLiteral("Velmarin")));
    QCOMPARE(log.fontName, QStringLiteral("Arial"));
    QCOMPARE(log.fontSize, 10.0);
    QVERIFY(log.boldTexts.contains(QStringLiteral("Cognome")));
    QVERIFY(log.regularTexts.contains(QStringLiteral("021234")));
    // Nothing follows the print: no box, the window and its list stay as they were.
    QCOMPARE(m_boxes->asked().size(), 0);
    QVERIFY(w->isVisible());
    QCOMPARE(listRows(w->ListView3), shown(contacts));
}

void TestVisualizza::closeNeverAsks()
{
    TestDatabase db(mkdb::demoContacts());
    Visualizza* w = openPrintWindow();
    QVERIFY(w->close());
    QTRY_VERIFY(m_print.isNull());
    QCOMPARE(m_boxes->asked().size(), 0);
    QVERIFY(m_main->isVisible());

    // Opened again, it is a new window with a freshly read list.
    QCOMPARE(db.exec(QStringLiteral("DELETE FROM Customer WHERE CustID > 1")), QString());
    Visualizza* again = openPrintWindow();
    QTRY_COMPARE(again->ListView3->itemCount(), 1);
}

QTEST_MAIN(TestVisualizza)
#include "tst_visualizza.moc"
