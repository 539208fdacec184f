// Hostile and odd input through the real window on a real file: pasted texts of every kind, a megabyte of address,
// and rows written by other programs.
#include "data/CustomerStore.h"
#include "print/PrinterDevice.h"
#include "print/Visualizza.h"
#include "support/MainWindowDriver.h"
#include "support/PdfWords.h"
#include "support/RecordingPrinter.h"
#include "support/ScriptedMessageBox.h"
#include "support/TestDatabase.h"

#include <QApplication>
#include <QClipboard>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using mkdb::ContactRow;

Q_DECLARE_METATYPE(ContactRow)

namespace {

const char* const kFields[]
    = {"txtFirst", "txtLast", "txtAddr", "txtCity", "txtState", "txtZip", "txtArea", "txtPrfx", "txtLine"};
constexpr int kLimits[] = {0, 0, 0, 0, 2, 10, 4, 8, 4};
// The printer's rule above the footer, the footer's own line, and a line's height at size 10.
constexpr double kFooterRule = 90;
constexpr double kFooterLine = 93;
constexpr double kLine = 1.8;

// The storage class of each column of a contact but the city, where it holds a value.
QStringList storageClasses(const TestDatabase& db, const QString& key)
{
    CustomerStore store;
    store.ConnectToDatabase(CustomerStore::connectionText(db.folder() + QLatin1Char('/')));
    RecordsetRelease release {store};
    ado::Recordset& rs = store.openQuery(QStringLiteral("SELECT typeof(FirstName), typeof(LastName), typeof(Address), "
                                                        "typeof(State), typeof(Zip), typeof(PhoneNumber) FROM "
                                                        "Customer WHERE CustID = ?"),
                                         {key.toLongLong()});
    QStringList classes;
    for (int i = 0; i < rs.fieldCount(); ++i) {
        const QString type = rs.Fields(i).toString();
        classes.append(type == QLatin1String("null") ? QString() : type);
    }
    return classes;
}

void paste(TextBox* field, const QString& text)
{
    QApplication::clipboard()->setText(text);
    field->setFocus();
    field->selectAll();
    QTest::keySequence(field, QKeySequence::Paste);
}

// What a field of that limit keeps of a pasted text: as much as fits, never half of a character.
QString keptOf(const QString& text, int limit)
{
    if (limit == 0 || text.size() <= limit) {
        return text;
    }
    return text.left(text.at(limit - 1).isHighSurrogate() ? limit - 1 : limit);
}

// The stored row of the fields as they stand: key, six texts, then the joined phone.
QStringList rowOf(const QString& key, const QStringList& fields)
{
    return QStringList {key} + fields.mid(0, 6) + QStringList {fields.at(6) + fields.at(7) + fields.at(8)};
}

// Opens the print window from the main window, waits for its list and presses "Avvia". How long the print takes is
// measured in bench/, not here: a busy machine must not fail a test.
void printFromWindow(const MainWindowDriver& main, int rows)
{
    main.click("Command1");
    Visualizza* print = main.window()->printWindow();
    if (!print || !QTest::qWaitFor([&] { return print->ListView3->itemCount() == rows; })) {
        QTest::qFail("the print window did not list the contacts", __FILE__, __LINE__);
        return;
    }
    QTest::mouseClick(print->Command1, Qt::LeftButton);
    print->close();
}

// Everything printed below the headings and above the footer keeps clear of the footer rule, and each column's lines
// put back together give what the table holds, row after row.
void checkPrinted(const PrinterLog& log, const QList<QStringList>& stored)
{
    QVERIFY(log.ended());
    QList<double> lefts; // taken from the first row, whose cells fit on one line each
    for (const PrinterLog::Op& op : log.prints(1)) {
        if (op.y == 14) {
            lefts.append(op.x);
        }
    }
    QCOMPARE(lefts.size(), 7);
    QList<QString> columns(7);
    for (const PrinterLog::Op& op : log.prints()) {
        if (op.y >= kFooterRule) {
            QCOMPARE(op.y, kFooterLine);
            continue;
        }
        QVERIFY2(op.y + kLine <= kFooterRule + 1e-9, qPrintable(QStringLiteral("line at %1").arg(op.y)));
        if (op.y >= 14) {
            const qsizetype column = lefts.indexOf(op.x);
            QVERIFY2(column >= 0, qPrintable(QStringLiteral("\"%1\" at x %2").arg(op.text).arg(op.x)));
            columns[column] += op.text;
        }
    }
    // The print window lists ID, Cognome, Nome, Indirizzo, PR, Cellulare and the telephone as stored.
    for (int c = 0; c < 7; ++c) {
        QString expected;
        for (const QStringList& row : stored) {
            expected += row.at(QList<int> {0, 1, 2, 3, 5, 6, 7}.at(c));
        }
        QCOMPARE(columns[c], expected);
    }
}

} // namespace

class TestHostile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void pastedTextsAreStoredShownAndPrinted_data();
    void pastedTextsAreStoredShownAndPrinted();
    void megabyteAddress();
    void unstorableCharactersAreRefused_data();
    void unstorableCharactersAreRefused();
    void foreignRowsSurviveAnEdit_data();
    void foreignRowsSurviveAnEdit();
    void addAfterTheLargestKeyIsRefused();

private:
    PrinterLog m_log;
    std::unique_ptr<ScopedRecordingPrinters> m_printers;
};

void TestHostile::init()
{
    m_log = PrinterLog();
    m_printers = std::make_unique<ScopedRecordingPrinters>(m_log);
}

void TestHostile::cleanup()
{
    m_printers.reset();
}

void TestHostile::pastedTextsAreStoredShownAndPrinted_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("quotes") << QString::fromUtf8("D'Angelo \"il ''Rosso''\" ’ ` '");
    QTest::newRow("injection") << "'); DELETE FROM Customer; --";
    QTest::newRow("percent signs") << "100% %d %s %1 %% _ %'";
    QTest::newRow("backslashes") << "C:\\nuova\\tabella\\\\ \\' \\0 \\x41";
    QTest::newRow("control characters") << QStringLiteral("a\tb\nc\r\nd\x01\x1b[31m\x7f") + QChar(0x85) + QChar(0x2028);
    QTest::newRow("right to left") << QString::fromUtf8("שלום עולם مرحبا \u202Etxet\u202C \u200Fx \u2067אב\u2069");
    QTest::newRow("combining") << QString::fromUtf8("e\u0301a\u0300\u0323 Z\u0351\u0364\u035b\u0307 n\u0303");
    QTest::newRow("emoji") << QString::fromUtf8("a😀b 👩\u200D👩\u200D👧 🇮🇹 ✈\uFE0F");
    QTest::newRow("NUL") << QStringLiteral("a") + QChar(0) + QStringLiteral("'b") + QChar(0);
    QTest::newRow("everything") << QString::fromUtf8("'); DELETE FROM Customer; -- 100% C:\\x\\ \t\x01 שלום e\u0301 😀");
}

// Pasted into every field of a new contact: the table holds what the fields held, the list shows it after a restart,
// and the print window prints it without crossing the footer.
void TestHostile::pastedTextsAreStoredShownAndPrinted()
{
    QFETCH(QString, text);

    TestDatabase db({ContactRow {1, "Rossi", "Anna", "Via Po 1", "Torino", "TO", "3331234567", "0111234567"}});
    const QList<QStringList> before = db.rows();
    ScriptedMessageBox boxes;
    QStringList fields;
    {
        MainWindowDriver main;
        main.click("cmdAdd");
        for (int i = 0; i < 9; ++i) {
            paste(main.field(kFields[i]), text);
            fields.append(keptOf(text, kLimits[i]));
        }
        QCOMPARE(main.fields(), fields);
        main.click("cmdSave");
        QVERIFY(main.browsing());
        QCOMPARE(db.rows(), before + QList<QStringList> {rowOf("2", fields)});
        QCOMPARE(main.row(main.list()->selectedIndex()).mid(0, 6), fields.mid(0, 6));
    }

    MainWindowDriver again;
    int shown = 0;
    for (int i = 1; i <= again.list()->itemCount(); ++i) {
        shown = again.list()->subItem(i, 7) == QStringLiteral("2") ? i : shown;
    }
    QVERIFY(shown > 0);
    again.clickRow(shown);
    QCOMPARE(again.row(shown).mid(0, 6), fields.mid(0, 6));
    QCOMPARE(again.fields().mid(0, 6), fields.mid(0, 6));
    QCOMPARE(rowOf("2", again.fields()), rowOf("2", fields));

    printFromWindow(again, 2);
    QCOMPARE(boxes.asked().size(), 0);
    checkPrinted(m_log, db.rows());
}

// A megabyte of address, pasted into the field without a limit: stored and shown whole, printed over hundreds of
// pages, on the recording printer and into a real PDF, never below the footer rule.
void TestHostile::megabyteAddress()
{
    // Words of every kind, then a long run without a space, so that lines are cut both at spaces and hard.
    const QString piece
        = QString::fromUtf8("Via dell'Orso 12 '); DELETE FROM Customer; -- 100% C:\\x\\ \t\r\n\x01 שלום e\u0301 😀 ");
    QString address;
    while (address.size() < (1 << 20) - 100000) {
        address += piece;
    }
    address += QStringLiteral("x").repeated(99999) + QString::fromUtf8("😀");

    TestDatabase db({ContactRow {1, "Rossi", "Anna", "Via Po 1", "Torino", "TO", "3331234567", "0111234567"}});
    ScriptedMessageBox boxes;
    {
        MainWindowDriver main;
        main.click("cmdAdd");
        main.type("txtFirst", QStringLiteral("Bianchi"));
        paste(main.field("txtAddr"), address);
        QCOMPARE(main.field("txtAddr")->text().size(), address.size());
        main.click("cmdSave");
        QVERIFY(main.browsing());
        QCOMPARE(db.rows().at(1), (QStringList {"2", "Bianchi", "", address, "", "", "", ""}));
    }
    MainWindowDriver again;
    again.list()->view()->viewport()->grab();
    QCOMPARE(again.row(1).at(2), address);
    QCOMPARE(again.field("txtAddr")->text().size(), address.size());

    printFromWindow(again, 2);
    QVERIFY(m_log.pageCount() > 100);
    checkPrinted(m_log, db.rows());

    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty()) {
        QFAIL("pdftotext is missing: scripts/install-deps installs poppler-utils");
    }
    QTemporaryDir folder;
    const QString pdf = folder.filePath(QStringLiteral("elenco.pdf"));
    setPrinterFactory([pdf] { return createPdfPrinterDevice(pdf); });
    printFromWindow(again, 2);
    QCOMPARE(boxes.asked().size(), 0);
    int pages = 0;
    const QList<PdfWord> words = readPdfWords(pdf, &pages);
    QVERIFY(pages > 100);
    int deletes = 0;
    for (const PdfWord& word : words) {
        if (word.top < kFooterRule) {
            QVERIFY2(word.bottom <= kFooterRule, qPrintable(QStringLiteral("%1 at %2").arg(word.text).arg(word.top)));
        } else {
            QVERIFY2(qAbs(word.top - kFooterLine) < 0.5, qPrintable(word.text));
        }
        deletes += word.text == QStringLiteral("DELETE") ? 1 : 0;
    }
    QCOMPARE(deletes, address.count(QStringLiteral("DELETE")));
}

void TestHostile::unstorableCharactersAreRefused_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QVariant>("storedAddress"); // of the first contact, as another program wrote it
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QString>("text"); // pasted, or set where the clipboard cannot carry it
    QTest::addColumn<QString>("description");

    const auto half = [](const char* code) {
        return QStringLiteral("Un campo contiene un carattere incompleto (U+%1), che il database non può registrare: "
                              "toglierlo e riprovare.")
            .arg(QLatin1String(code));
    };
    const QVariant plain = QStringLiteral("Via Po 1");
    // SQLite takes the quote after half a pair for the other half: the statement no longer reads as it was built,
    // and the engine's own words for that are "not an error".
    QTest::newRow("half a pair, then a quote and a comment")
        << QByteArray("cmdUpdate") << plain << QByteArray("txtFirst") << QChar(0xD83D) + QStringLiteral("' --")
        << half("D83D");
    QTest::newRow("second half alone") << QByteArray("cmdAdd") << plain << QByteArray("txtCity")
                                       << QStringLiteral("a") + QChar(0xDE00) + QStringLiteral("'") << half("DE00");
}

// A text the database cannot hold is refused whole with a clear box: nothing is stored, nothing typed is lost.
void TestHostile::unstorableCharactersAreRefused()
{
    QFETCH(QByteArray, command);
    QFETCH(QVariant, storedAddress);
    QFETCH(QByteArray, field);
    QFETCH(QString, text);
    QFETCH(QString, description);

    TestDatabase db({ContactRow {1, "Rossi", "Anna", storedAddress, "Torino", "TO", "3331234567", "0111234567"},
                     ContactRow {2, "Bianchi", "Luca", "Via Roma 2", "Roma", "RM", "3337654321", "0612345678"}});
    const QList<QStringList> before = db.rows();
    ScriptedMessageBox boxes;
    MainWindowDriver main;
    QCOMPARE(main.field("txtAddr")->text(), storedAddress.toString());
    main.click(command.constData());
    TextBox* edited = main.field(field.constData());
    paste(edited, text);
    if (edited->text() != text) {
        edited->setText(text);
    }
    const QStringList typed = main.fields();
    boxes.expect(MessageBox::Ok);
    main.click("cmdSave");

    QCOMPARE(boxes.asked().size(), 1);
    QCOMPARE(boxes.last().text, QStringLiteral("Impossibile salvare il contatto.\n") + description);
    QCOMPARE(boxes.last().icon, MessageBox::Critical);
    QVERIFY(main.window()->editPending());
    QCOMPARE(main.fields(), typed);
    QCOMPARE(db.rows(), before);
}

void TestHostile::foreignRowsSurviveAnEdit_data()
{
    QTest::addColumn<ContactRow>("stored");

    const ContactRow plain {7, "Rossi", "Anna", "Via Po 1", "Torino", "TO", "3331234567", "0111234567"};
    auto with = [&plain](auto member, const QVariant& value) {
        ContactRow row = plain;
        row.*member = value;
        return row;
    };
    QTest::newRow("every text column NULL") << ContactRow {7, {}, {}, {}, {}, {}, {}, {}};
    QTest::newRow("largest key") << with(&ContactRow::custId, 2147483647);
    QTest::newRow("smallest key") << with(&ContactRow::custId, qlonglong(-2147483647) - 1);
    const QString digits = QStringLiteral("0123456789").repeated(4);
    for (int n = 0; n <= 40; ++n) {
        QTest::addRow("phone of %d digits", n) << with(&ContactRow::phoneNumber, digits.left(n));
    }
    for (const char* phone : {"+39 02 1234 5678",
                              "(045) 123-4567",
                              "'(045) 123-4567",
                              "'",
                              "''",
                              "045 123 4567",
                              "(0451) 23456789-0123",
                              "12345678a",
                              "  0212345678  ",
                              "0451234567\n",
                              "(",
                              ") -",
                              "٠٤٥١٢٣٤٥٦٧",
                              "０４５１２３４５６７",
                              "interno 12",
                              "'); DELETE FROM Customer; --"}) {
        QTest::addRow("phone \"%s\"", phone) << with(&ContactRow::phoneNumber, QString::fromUtf8(phone));
    }
    // Stored by another program as numbers: an edit of another field keeps them numbers.
    QTest::newRow("telephone stored as a number") << with(&ContactRow::phoneNumber, qlonglong(3331234567));
    QTest::newRow("mobile and telephone stored as numbers")
        << ContactRow {7, "Rossi", "Anna", "Via Po 1", "Torino", "TO", qlonglong(3331234567), qlonglong(5551234567)};
    QTest::newRow("NUL in the address") << with(&ContactRow::address,
                                                QStringLiteral("Via") + QChar(0) + QStringLiteral("Po"));
    QTest::newRow("province of many letters") << with(&ContactRow::state, "Provincia autonoma di Bolzano");
    QTest::newRow("province in small letters and digits") << with(&ContactRow::state, "m1");
    QTest::newRow("mobile with words") << with(&ContactRow::zip, "+39 333 123 4567 (casa, dopo le 18)");
    QTest::newRow("spaces and line breaks")
        << ContactRow {7, " D'Angelo ", "\t", "  Via Roma 1\nScala B\r\n  ", "Roma", " ", "\n", "0612345678"};
    QTest::newRow("every odd character") << ContactRow {7,
                                                        QString::fromUtf8("'); DELETE FROM Customer; -- 100%"),
                                                        QString::fromUtf8("שלום e\u0301 😀 👩\u200D👩\u200D👧"),
                                                        QStringLiteral("C:\\x\\ \x01\x1b[0m\x7f"),
                                                        "Bari",
                                                        QString::fromUtf8("😀"),
                                                        QString::fromUtf8("\u202E12"),
                                                        QString::fromUtf8("0٤٥")};
}

// Rows written by another program: shown, then only the city changed and saved. Every other column keeps what it
// held, in the form it held it; a NULL counts as the empty text and is written back as one.
void TestHostile::foreignRowsSurviveAnEdit()
{
    QFETCH(ContactRow, stored);

    const ContactRow neighbour {3, "Bianchi", "Luca", "Via Roma 2", "Roma", "RM", "3337654321", "0612345678"};
    TestDatabase db;
    if (stored.zip.typeId() == QMetaType::LongLong || stored.phoneNumber.typeId() == QMetaType::LongLong) {
        // Numbers stay numbers only in another program's table whose mobile and telephone columns take any type.
        QCOMPARE(db.exec(QStringLiteral("DROP TABLE Customer")), QString());
        QCOMPARE(db.exec(QStringLiteral("CREATE TABLE Customer (CustID INTEGER PRIMARY KEY, FirstName TEXT, LastName "
                                        "TEXT, Address TEXT, State TEXT, Zip, PhoneNumber, City TEXT)")),
                 QString());
    }
    QCOMPARE(mkdb::insertContacts(db.path(), {neighbour, stored}), QString());
    QList<QStringList> expected = db.rows();
    const int at = expected.first().first() == QStringLiteral("3") ? 1 : 0;
    for (QString& value : expected[at]) {
        value.replace(QStringLiteral("<null>"), QString());
    }
    expected[at][4] = QStringLiteral("Città Nuova");

    const QStringList classes = storageClasses(db, expected[at].first());
    ScriptedMessageBox boxes;
    MainWindowDriver main;
    int index = 0;
    for (int i = 1; i <= main.list()->itemCount(); ++i) {
        index = main.list()->subItem(i, 7) == expected[at].first() ? i : index;
    }
    QVERIFY(index > 0);
    main.clickRow(index);
    QStringList shown = main.row(index);
    main.click("cmdUpdate");
    main.type("txtCity", QStringLiteral("Città Nuova"));
    main.click("cmdSave");

    QCOMPARE(boxes.asked().size(), 0);
    QVERIFY(main.browsing());
    QCOMPARE(db.rows(), expected);
    QStringList after = storageClasses(db, expected[at].first());
    for (int i = 0; i < after.size(); ++i) {
        after[i] = classes.at(i).isEmpty() ? QString() : after.at(i);
    }
    QCOMPARE(after, classes);
    shown[3] = QStringLiteral("Città Nuova");
    QCOMPARE(main.row(main.list()->selectedIndex()), shown);
}

// The largest key leaves no key for a new contact: the save says so and keeps what was typed.
void TestHostile::addAfterTheLargestKeyIsRefused()
{
    TestDatabase db({ContactRow {1, "Rossi", "Anna", "Via Po 1", "Torino", "TO", "", ""},
                     ContactRow {2147483647, "Bianchi", "Luca", "", "", "", "", ""}});
    const QList<QStringList> before = db.rows();
    ScriptedMessageBox boxes;
    MainWindowDriver main;
    main.click("cmdAdd");
    main.type("txtFirst", QStringLiteral("Verdi"));
    boxes.expect(MessageBox::Ok);
    main.click("cmdSave");

    QCOMPARE(boxes.asked().size(), 1);
    QCOMPARE(boxes.last().text,
             QStringLiteral("Impossibile salvare il contatto.\nImpossibile assegnare un nuovo codice al contatto."));
    QCOMPARE(boxes.last().title, QStringLiteral("Salva"));
    QVERIFY(main.window()->editPending());
    QCOMPARE(main.field("txtFirst")->text(), QStringLiteral("Verdi"));
    QCOMPARE(main.list()->itemCount(), 2);
    QCOMPARE(db.rows(), before);
}

QTEST_MAIN(TestHostile)
#include "tst_hostile.moc"
