#include "common/ListView.h"
#include "core/AppInfo.h"
#include "print/Module5.h"
#include "support/RecordingPrinter.h"
#include "support/ScriptedMessageBox.h"
#include "support/ScriptedSaveFileChooser.h"

#include <QDir>
#include <QLocale>
#include <QStandardPaths>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <memory>

using Op = PrinterLog::Op;

namespace {

// At size 10 on the recording printer a line is 1.8 units high and an "A" 0.5 units wide.
constexpr double kLine = 1.8;

struct ColumnSpec
{
    QString heading;
    double width;
};

std::unique_ptr<ListView> makeList(const QList<ColumnSpec>& columns, const QList<QStringList>& rows)
{
    auto list = std::make_unique<ListView>();
    for (const ColumnSpec& column : columns) {
        list->addColumnHeader(column.heading, column.width);
    }
    list->setRows(rows);
    return list;
}

// Column 1 holds 10 characters a line and is not the last; column 2 is wide.
QList<ColumnSpec> narrowThenWide()
{
    return {{QStringLiteral("Uno"), 52}, {QStringLiteral("Due"), 948}};
}

QList<ColumnSpec> contactColumns()
{
    return {{QStringLiteral("ID"), 800},
            {QStringLiteral("Cognome"), 2000},
            {QStringLiteral("Nome"), 2000},
            {QStringLiteral("Indirizzo"), 2000},
            {QStringLiteral("PR"), 500},
            {QStringLiteral("Cellulare"), 1500},
            {QStringLiteral("Telefono"), 1500}};
}

// A text that takes exactly `lines` lines in a column of 10 characters.
QString textOfLines(int lines, const QString& tail)
{
    return QStringLiteral("abcdefghi ").repeated(lines - 1) + tail;
}

void print(ListView& list, const QString& title = QStringLiteral("Elenco"))
{
    ImprimerListView(list, title, QStringLiteral("Velmarin"), QStringLiteral("Arial"), 10);
}

// The print of a given text; fails the test when it is not printed exactly once.
Op printOf(const PrinterLog& log, const QString& text)
{
    Op found(Op::Obtain);
    int count = 0;
    for (const Op& op : log.prints()) {
        if (op.text == text) {
            found = op;
            ++count;
        }
    }
    if (count != 1) {
        QTest::qFail(qPrintable(QStringLiteral("\"%1\" printed %2 times").arg(text).arg(count)), __FILE__, __LINE__);
    }
    return found;
}

bool isHeaderOrFooter(const Op& op)
{
    return op.y < 14 || op.y >= 90;
}

} // namespace

class TestImprimerListView : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void pageFrame();
    void titleIsTrimmedAndUpperCased_data();
    void titleIsTrimmedAndUpperCased();
    void dateUsesLocaleSeparator_data();
    void dateUsesLocaleSeparator();
    void columnPositions_data();
    void columnPositions();
    void wrappedCell_data();
    void wrappedCell();
    void pagination_data();
    void pagination();
    void listWithoutColumns();
    void rowsNeverCrossTheFooter_data();
    void rowsNeverCrossTheFooter();
    void carriedOffsetLeavesNoRoom_data();
    void carriedOffsetLeavesNoRoom();
    void failures_data();
    void failures();
    void narrowColumnWithoutText();
    void noDefaultPrinter_data();
    void noDefaultPrinter();

private:
    PrinterLog m_log;
    std::unique_ptr<ScopedRecordingPrinters> m_printers;
};

void TestImprimerListView::init()
{
    AppInfo::setClock([] { return QDateTime(QDate(2024, 3, 5), QTime(10, 30)); });
    QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
    m_log = PrinterLog();
    m_printers = std::make_unique<ScopedRecordingPrinters>(m_log);
}

void TestImprimerListView::cleanup()
{
    m_printers.reset();
}

void TestImprimerListView::pageFrame()
{
    ScriptedMessageBox boxes;
    auto list = makeList(contactColumns(), {});
    print(*list, QStringLiteral("Elenco"));

    QVERIFY(m_log.ended());
    QCOMPARE(m_log.pageCount(), 1);
    QCOMPARE(m_log.ops.first().kind, Op::Obtain);
    QCOMPARE(m_log.count(Op::Orientation), 1);
    for (const Op& op : m_log.ops) {
        if (op.kind == Op::Orientation) {
            QCOMPARE(op.x, 2.0);
        } else if (op.kind == Op::FontName) {
            QCOMPARE(op.text, QStringLiteral("Arial"));
        } else if (op.kind == Op::FontSize) {
            QCOMPARE(op.x, 10.0);
        } else if (op.kind == Op::Scale) {
            QCOMPARE(op.x, 100.0);
            QCOMPARE(op.y, 100.0);
        }
    }

    const QList<Op> prints = m_log.prints();
    QCOMPARE(prints.size(), 3 + 7 + 2);
    const Op title = prints.at(0);
    QCOMPARE(title.text, QStringLiteral("ELENCO"));
    QVERIFY(title.bold);
    QCOMPARE(title.x, 50 - 6 * 0.55 / 2);
    QCOMPARE(title.y, 3.0);
    const Op page = prints.at(1);
    QCOMPARE(page.text, QStringLiteral("Page 1"));
    QVERIFY(!page.bold);
    QCOMPARE(page.x, 90.0);
    QCOMPARE(page.y, 3.0);
    const Op subtitle = prints.at(2);
    QCOMPARE(subtitle.text, QStringLiteral("Velmarin"));
    QVERIFY(!subtitle.bold);
    QCOMPARE(subtitle.x, 50 - 8 * 0.5 / 2);
    QCOMPARE(subtitle.y, 5.0);
    for (int i = 3; i < 10; ++i) {
        QVERIFY(prints.at(i).bold);
        QCOMPARE(prints.at(i).y, 10.0);
    }
    const Op footer = prints.at(10);
    QCOMPARE(footer.text, QStringLiteral("Velmarin v1.0.0"));
    QVERIFY(footer.bold);
    QCOMPARE(footer.x, 5.0);
    QCOMPARE(footer.y, 93.0);
    const Op date = prints.at(11);
    QCOMPARE(date.text, QStringLiteral("05/03/2024"));
    QVERIFY(!date.bold);
    QCOMPARE(date.x, 85.0);
    QCOMPARE(date.y, 93.0);

    const QList<Op> lines = m_log.lines();
    QCOMPARE(lines.size(), 2);
    QCOMPARE(QList<double>({lines[0].x, lines[0].y, lines[0].x2, lines[0].y2}), QList<double>({0, 13, 100, 13}));
    QCOMPARE(QList<double>({lines[1].x, lines[1].y, lines[1].x2, lines[1].y2}), QList<double>({0, 90, 100, 90}));
}

void TestImprimerListView::titleIsTrimmedAndUpperCased_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("printed");
    QTest::newRow("spaces around") << "  elenco  "
                                   << "ELENCO";
    QTest::newRow("inner spaces kept") << "Elenco Velmarin  del 05/03/2024 10:30:00"
                                       << "ELENCO VELMARIN  DEL 05/03/2024 10:30:00";
    QTest::newRow("accents") << " città "
                             << "CITTÀ";
    QTest::newRow("only spaces") << "   "
                                 << "";
}

void TestImprimerListView::titleIsTrimmedAndUpperCased()
{
    QFETCH(QString, title);
    QFETCH(QString, printed);
    ScriptedMessageBox boxes;
    auto list = makeList(narrowThenWide(), {});
    print(*list, title);

    const Op op = m_log.prints().first();
    QCOMPARE(op.text, printed);
    QCOMPARE(op.x, 50 - printed.size() * 0.55 / 2);
}

void TestImprimerListView::dateUsesLocaleSeparator_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QDate>("date");
    QTest::addColumn<QString>("printed");
    QTest::newRow("Italian") << QLocale(QLocale::Italian, QLocale::Italy) << QDate(2024, 3, 5) << "05/03/2024";
    QTest::newRow("German") << QLocale(QLocale::German, QLocale::Germany) << QDate(2024, 12, 25) << "25.12.2024";
    QTest::newRow("Dutch") << QLocale(QLocale::Dutch, QLocale::Netherlands) << QDate(2031, 1, 9) << "09-01-2031";
    QTest::newRow("US: day first all the same")
        << QLocale(QLocale::English, QLocale::UnitedStates) << QDate(2024, 3, 5) << "05/03/2024";
    QTest::newRow("C: a space is no date separator") << QLocale::c() << QDate(2026, 12, 7) << "07/12/2026";
    // Dot and space, as these locales write their short dates.
    QTest::newRow("Hungarian") << QLocale(QLocale::Hungarian, QLocale::Hungary) << QDate(2026, 3, 7) << "07. 03. 2026";
    QTest::newRow("Slovak") << QLocale(QLocale::Slovak, QLocale::Slovakia) << QDate(2026, 3, 7) << "07. 03. 2026";
    QTest::newRow("Korean") << QLocale(QLocale::Korean, QLocale::SouthKorea) << QDate(2026, 3, 7) << "07. 03. 2026";
}

void TestImprimerListView::dateUsesLocaleSeparator()
{
    QFETCH(QLocale, locale);
    QFETCH(QDate, date);
    QFETCH(QString, printed);
    QLocale::setDefault(locale);
    AppInfo::setClock([date] { return QDateTime(date, QTime(23, 59)); });
    ScriptedMessageBox boxes;
    auto list = makeList(narrowThenWide(), {});
    print(*list);

    const Op op = m_log.prints().last();
    QCOMPARE(op.text, printed);
    QCOMPARE(op.x, 85.0);
    QCOMPARE(op.y, 93.0);
}

void TestImprimerListView::columnPositions_data()
{
    QTest::addColumn<QList<double>>("widths");
    QTest::addColumn<QList<double>>("cells"); // x of each visible column's cell, in column order
    QTest::addColumn<QList<double>>("headings"); // x of each visible column's heading

    QTest::newRow("contact list") << QList<double> {800, 2000, 2000, 2000, 500, 1500, 1500}
                                  << QList<double> {0, 8, 27, 46, 65, 70, 85}
                                  << QList<double> {0, 7.767, 27.417, 46.417, 65.417, 69.854, 84.563};
    QTest::newRow("first column hidden") << QList<double> {0, 500, 500} << QList<double> {0, 50}
                                         << QList<double> {0, 50};
    QTest::newRow("middle column hidden")
        << QList<double> {500, 0, 500} << QList<double> {0, 50} << QList<double> {0, 50};
    // 14.5 goes down to 14 and the heading after it keeps the unrounded 14.5.
    QTest::newRow("edges round halves to even")
        << QList<double> {145, 10, 845} << QList<double> {0, 14, 15} << QList<double> {0, 14.5, 15};
    // The running total is made whole after each width: 2, 4, 5 (not 4 from the plain sum).
    QTest::newRow("total made whole at each step")
        << QList<double> {1.5, 1.5, 1} << QList<double> {0, 30, 60} << QList<double> {0, 30, 60};
}

void TestImprimerListView::columnPositions()
{
    QFETCH(QList<double>, widths);
    QFETCH(QList<double>, cells);
    QFETCH(QList<double>, headings);
    QList<ColumnSpec> columns;
    QStringList row;
    for (int i = 0; i < widths.size(); ++i) {
        columns.append({QStringLiteral("H%1").arg(i + 1), widths[i]});
        row.append(QStringLiteral("c%1").arg(i + 1));
    }
    ScriptedMessageBox boxes;
    auto list = makeList(columns, {row});
    print(*list);
    QVERIFY(m_log.ended());

    QList<double> cellX;
    QList<double> headingX;
    for (const Op& op : m_log.prints()) {
        if (op.text.startsWith(QLatin1Char('c'))) {
            QCOMPARE(op.y, 14.0);
            QVERIFY(!op.bold);
            cellX.append(op.x);
        } else if (op.text.startsWith(QLatin1Char('H'))) {
            headingX.append(std::round(op.x * 1000) / 1000);
        }
    }
    QCOMPARE(cellX, cells);
    QCOMPARE(headingX, headings);
    // A hidden column prints neither heading nor cell.
    for (int i = 0; i < widths.size(); ++i) {
        const bool printed = m_log.printedTexts().contains(QStringLiteral("c%1").arg(i + 1));
        QCOMPARE(printed, widths[i] > 0);
        QCOMPARE(m_log.printedTexts().contains(QStringLiteral("H%1").arg(i + 1)), widths[i] > 0);
    }
}

void TestImprimerListView::wrappedCell_data()
{
    QTest::addColumn<bool>("lastColumn");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<double>("nextRowTop");

    // Outside the last column further lines step 1.5 and the step carries into the next row's top; in the last
    // column they follow one font line apart and carry nothing.
    const QList<bool> where {false, true};
    for (bool last : where) {
        const char* tag = last ? "last column" : "inner column";
        auto row = [&](const char* name) -> QTestData& { return QTest::addRow("%s: %s", tag, name); };
        row("short text unchanged") << last << "Via Roma" << QStringList {"Via Roma"} << 16.0;
        row("spaces kept") << last << "  a  b  " << QStringList {"  a  b  "} << 16.0;
        row("exactly the capacity") << last << "0123456789" << QStringList {"0123456789"} << 16.0;
        row("empty") << last << "" << QStringList {""} << 16.0;
        row("cut after the last space") << last << "Via Roma 12 bis" << QStringList {"Via Roma ", "12 bis"}
                                        << (last ? 18.0 : 17.0);
        row("space as the last character that fits")
            << last << "abcdefghi jk" << QStringList {"abcdefghi ", "jk"} << (last ? 18.0 : 17.0);
        row("long word cut hard") << last << "Precipitevolissimevolmente"
                                  << QStringList {"Precipitev", "olissimevo", "lmente"} << 19.0;
        row("short word then a long one")
            << last << "ab Precipitevolissimo" << QStringList {"ab ", "Precipitev", "olissimo"} << 19.0;
        row("hard cut never halves an emoji")
            << last << "Precipite\U0001F600volissimo" << QStringList {"Precipite", "\U0001F600volissim", "o"} << 19.0;
    }
}

void TestImprimerListView::wrappedCell()
{
    QFETCH(bool, lastColumn);
    QFETCH(QString, text);
    QFETCH(QStringList, lines);
    QFETCH(double, nextRowTop);

    // The 10-character column is either the first of two or the last of two.
    const QList<ColumnSpec> columns
        = lastColumn ? QList<ColumnSpec> {{QStringLiteral("Uno"), 948}, {QStringLiteral("Due"), 52}} : narrowThenWide();
    const double left = lastColumn ? 95 : 0;
    const QStringList first = lastColumn ? QStringList {"first", text} : QStringList {text, "first"};
    const QStringList second = lastColumn ? QStringList {"x", "second"} : QStringList {"second", "x"};
    ScriptedMessageBox boxes;
    auto list = makeList(columns, {first, second});
    print(*list);
    QVERIFY(m_log.ended());

    QList<Op> cell;
    for (const Op& op : m_log.prints()) {
        if (!isHeaderOrFooter(op) && op.x == left && op.text != QStringLiteral("second")
            && op.text != QStringLiteral("x")) {
            cell.append(op);
        }
    }
    QCOMPARE(cell.size(), lines.size());
    for (int k = 0; k < cell.size(); ++k) {
        QCOMPARE(cell[k].text, lines[k]);
        QVERIFY(!cell[k].bold);
        QVERIFY(qFuzzyCompare(cell[k].y, 14 + k * (lastColumn ? kLine : 1.5)));
    }
    QCOMPARE(printOf(m_log, QStringLiteral("second")).y, nextRowTop);
}

void TestImprimerListView::pagination_data()
{
    QTest::addColumn<QList<int>>("rowLines"); // lines of each row's first cell
    QTest::addColumn<int>("pages");
    QTest::addColumn<QList<int>>("rowPages"); // page of each row
    QTest::addColumn<QList<double>>("rowTops"); // top of each row

    auto ones = [](int n) { return QList<int>(n, 1); };
    auto tops = [](int n) {
        QList<double> result;
        for (int i = 0; i < n; ++i) {
            result.append(14 + 2 * i);
        }
        return result;
    };

    QTest::newRow("empty list") << QList<int> {} << 1 << QList<int> {} << QList<double> {};
    QTest::newRow("22 rows fill a page, the next one is empty") << ones(22) << 2 << QList<int>(22, 1) << tops(22);
    QTest::newRow("23rd row alone on page 2")
        << ones(23) << 2 << QList<int>(22, 1) + QList<int> {2} << tops(22) + QList<double> {14};
    QTest::newRow("a row taking the count from 21 to 23 stays whole")
        << ones(20) + QList<int> {3, 1} << 2 << QList<int>(21, 1) + QList<int> {2} << tops(21) + QList<double> {17};
    QTest::newRow("page starts at 16 after a carried 1.5")
        << ones(21) + QList<int> {2, 1} << 2 << QList<int>(22, 1) + QList<int> {2} << tops(22) + QList<double> {16};
    QTest::newRow("three pages") << ones(45) << 3 << QList<int>(22, 1) + QList<int>(22, 2) + QList<int> {3}
                                 << tops(22) + tops(22) + QList<double> {14};
}

void TestImprimerListView::pagination()
{
    QFETCH(QList<int>, rowLines);
    QFETCH(int, pages);
    QFETCH(QList<int>, rowPages);
    QFETCH(QList<double>, rowTops);

    QList<QStringList> rows;
    for (int i = 0; i < rowLines.size(); ++i) {
        rows.append({textOfLines(rowLines[i], QStringLiteral("r")), QStringLiteral("row %1").arg(i + 1)});
    }
    ScriptedMessageBox boxes;
    auto list = makeList(narrowThenWide(), rows);
    print(*list);

    QVERIFY(m_log.ended());
    QCOMPARE(m_log.pageCount(), pages);
    for (int i = 0; i < rowLines.size(); ++i) {
        const Op op = printOf(m_log, QStringLiteral("row %1").arg(i + 1));
        QCOMPARE(op.page, rowPages[i]);
        QCOMPARE(op.y, rowTops[i]);
    }
    // Every page has its header and its footer.
    for (int page = 1; page <= pages; ++page) {
        const QStringList texts = [&] {
            QStringList result;
            for (const Op& op : m_log.prints(page)) {
                result.append(op.text);
            }
            return result;
        }();
        QCOMPARE(texts.mid(0, 5),
                 QStringList({"ELENCO", QStringLiteral("Page %1").arg(page), "Velmarin", "Uno", "Due"}));
        QCOMPARE(texts.mid(texts.size() - 2), QStringList({"Velmarin v1.0.0", "05/03/2024"}));
    }
    QCOMPARE(m_log.lines().size(), 2 * pages);
}

void TestImprimerListView::listWithoutColumns()
{
    ScriptedMessageBox boxes;
    auto list = makeList({}, {});
    for (int i = 0; i < 45; ++i) {
        list->addItem(QStringLiteral("item %1").arg(i));
    }
    print(*list);

    QVERIFY(m_log.ended());
    // One line counted per item: pages break after items 22 and 44.
    QCOMPARE(m_log.pageCount(), 3);
    for (int page = 1; page <= 3; ++page) {
        QCOMPARE(m_log.prints(page).size(), 5); // title, page number, subtitle, footer, date
    }
}

void TestImprimerListView::rowsNeverCrossTheFooter_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("rowsBefore");
    QTest::addColumn<int>("firstPage"); // page of the address's first line

    // 40 lines reach 60.3 units below their top: too low after ten rows, so the row opens page 2 whole.
    QString forty;
    for (int i = 0; i < 40; ++i) {
        forty += QStringLiteral("Via_dei_Mille_%1").arg(i).leftJustified(37, QLatin1Char('.')) + QLatin1Char(' ');
    }
    QTest::newRow("tall row moves to the next page") << forty << 10 << 2;

    // About a megabyte of address runs over hundreds of pages.
    QString huge;
    huge.reserve(1 << 20);
    while (huge.size() < (1 << 20)) {
        huge += QStringLiteral("Via Roma 12 bis ");
        huge += QStringLiteral("Lungotevere%1 ").arg(huge.size());
    }
    QTest::newRow("one megabyte address continues over pages") << huge << 3 << 2;
}

void TestImprimerListView::rowsNeverCrossTheFooter()
{
    QFETCH(QString, address);
    QFETCH(int, rowsBefore);
    QFETCH(int, firstPage);

    QList<QStringList> rows;
    for (int i = 0; i < rowsBefore; ++i) {
        rows.append({QString::number(i + 1), "Rossi", "Anna", "Via Po 1", "TO", "3331234567", "011123456"});
    }
    rows.append({"99", "Bianchi", "Luca", address, "RM", "3337654321", "06123456"});
    rows.append({"100", "Verdi", "Ada", "Corso Italia 3", "MI", "3330000000", "02123456"});
    ScriptedMessageBox boxes;
    auto list = makeList(contactColumns(), rows);
    print(*list);
    QVERIFY(m_log.ended());

    // Nothing but the footer at or below the rule, and every address character printed once, in order.
    QString reassembled;
    Op firstLine(Op::Obtain);
    Op lastLine(Op::Obtain);
    int page = 0;
    for (const Op& op : m_log.prints()) {
        if (op.y < 90) {
            QVERIFY2(op.y + kLine <= 90 + 1e-9, qPrintable(QStringLiteral("\"%1\" at %2").arg(op.text).arg(op.y)));
        } else {
            QCOMPARE(op.y, 93.0);
        }
        if (op.x == 46.0 && op.y >= 14 && op.y < 90) {
            reassembled += op.text;
            if (address.startsWith(op.text) && firstLine.kind != Op::Print) {
                firstLine = op;
            }
            if (op.text != QStringLiteral("Corso Italia 3")) {
                lastLine = op;
            }
        }
        if (op.text.startsWith(QLatin1String("Page "))) {
            QCOMPARE(op.text, QStringLiteral("Page %1").arg(++page));
        }
    }
    QCOMPARE(reassembled, QStringLiteral("Via Po 1").repeated(rowsBefore) + address + QStringLiteral("Corso Italia 3"));
    QCOMPARE(firstLine.page, firstPage);
    QCOMPARE(page, m_log.pageCount());
    // The rest of the row stands beside the address's first line; the next row follows below its last line.
    QCOMPARE(printOf(m_log, QStringLiteral("Bianchi")).page, firstPage);
    QCOMPARE(printOf(m_log, QStringLiteral("Bianchi")).y, firstLine.y);
    const Op next = printOf(m_log, QStringLiteral("Corso Italia 3"));
    QVERIFY(next.page > lastLine.page || next.y >= lastLine.y + kLine - 0.5);
    QVERIFY(next.page <= lastLine.page + 1);
}

void TestImprimerListView::carriedOffsetLeavesNoRoom_data()
{
    QTest::addColumn<double>("lineHeight");
    QTest::addColumn<int>("nextPage"); // page of the row after the tall one; 0: the print fails
    QTest::addColumn<double>("nextTop");

    // A 50-line first cell carries 73.5 over the page break, so the next row's top is nearest(87.5) = 88.
    QTest::newRow("a short line still fits at 88") << 1.8 << 2 << 88.0;
    QTest::newRow("PDF-like line starts at the top of the rows") << 2.1 << 2 << 14.0;
    QTest::newRow("tall row touching the rule") << 2.5 << 2 << 14.0;
    QTest::newRow("line taller than a page fails") << 80.0 << 0 << 0.0;
}

void TestImprimerListView::carriedOffsetLeavesNoRoom()
{
    QFETCH(double, lineHeight);
    QFETCH(int, nextPage);
    QFETCH(double, nextTop);
    m_log.lineHeightPerPoint = lineHeight / 10;

    const QString tall = textOfLines(50, QStringLiteral("r"));
    ScriptedMessageBox boxes;
    if (nextPage == 0) {
        boxes.expect(MessageBox::Ok);
    }
    auto list = makeList(narrowThenWide(), {{tall, "tall"}, {"next", "after"}});
    print(*list);

    if (nextPage == 0) {
        QCOMPARE(boxes.last().text, QStringLiteral("Il carattere è troppo grande per la pagina."));
        QVERIFY(m_log.cancelled());
        return;
    }
    QVERIFY(boxes.asked().isEmpty());
    QVERIFY(m_log.ended());
    QCOMPARE(m_log.pageCount(), nextPage);
    QString reassembled;
    for (const Op& op : m_log.prints()) {
        if (op.y < 90) {
            QVERIFY2(op.y + lineHeight <= 90 + 1e-9, qPrintable(QStringLiteral("\"%1\" at %2").arg(op.text).arg(op.y)));
        } else {
            QCOMPARE(op.y, 93.0);
        }
        if (op.x == 0 && op.y >= 14 && op.y < 90 && op.page == 1) {
            reassembled += op.text;
        }
    }
    QCOMPARE(reassembled, tall);
    QCOMPARE(printOf(m_log, QStringLiteral("tall")).page, 1);
    const Op next = printOf(m_log, QStringLiteral("next"));
    QCOMPARE(next.page, nextPage);
    QCOMPARE(next.y, nextTop);
    QCOMPARE(printOf(m_log, QStringLiteral("after")).y, nextTop);
    QCOMPARE(m_log.lines().size(), 2 * nextPage);
}

void TestImprimerListView::failures_data()
{
    QTest::addColumn<QList<double>>("widths");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("failKind");
    QTest::addColumn<int>("failOccurrence");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("obtained");

    const QString simulated = QStringLiteral("Errore di stampa simulato.");
    QTest::newRow("all widths 0") << QList<double> {0, 0, 0} << 1 << -1 << 0
                                  << "Impossibile stampare l'elenco: la larghezza totale delle colonne è zero."
                                  << false;
    QTest::newRow("column too narrow for its text")
        << QList<double> {1, 999} << 1 << -1 << 0 << "La colonna \"H1\" è troppo stretta per stamparne il testo."
        << true;
    QTest::newRow("printer refuses to start")
        << QList<double> {500, 500} << 1 << int(Op::Obtain) << 1 << simulated << false;
    QTest::newRow("first print fails") << QList<double> {500, 500} << 1 << int(Op::Print) << 1 << simulated << true;
    QTest::newRow("new page fails") << QList<double> {500, 500} << 30 << int(Op::NewPage) << 1 << simulated << true;
    QTest::newRow("end of document fails")
        << QList<double> {500, 500} << 3 << int(Op::EndDoc) << 1 << simulated << true;
}

void TestImprimerListView::failures()
{
    QFETCH(QList<double>, widths);
    QFETCH(int, rows);
    QFETCH(int, failKind);
    QFETCH(int, failOccurrence);
    QFETCH(QString, message);
    QFETCH(bool, obtained);

    QList<ColumnSpec> columns;
    for (int i = 0; i < widths.size(); ++i) {
        columns.append({QStringLiteral("H%1").arg(i + 1), widths[i]});
    }
    QList<QStringList> items(rows, QStringList(widths.size(), QStringLiteral("x")));
    if (failKind >= 0) {
        m_log.failKind = Op::Kind(failKind);
        m_log.failOccurrence = failOccurrence;
    }

    ScriptedMessageBox boxes;
    boxes.expect(MessageBox::Ok);
    auto list = makeList(columns, items);
    print(*list);

    QCOMPARE(boxes.asked().size(), 1);
    QCOMPARE(boxes.last().text, message);
    QCOMPARE(boxes.last().title, QStringLiteral("Velmarin"));
    QCOMPARE(boxes.last().buttons, MessageBox::OkOnly);
    QCOMPARE(boxes.last().icon, MessageBox::Critical);
    QCOMPARE(m_log.count(Op::EndDoc) > 0 && failKind != int(Op::EndDoc), false);
    QCOMPARE(m_log.count(Op::KillDoc), obtained ? 1 : 0);
    QCOMPARE(m_log.count(Op::Obtain) > 0, obtained || failKind == int(Op::Obtain));
}

void TestImprimerListView::narrowColumnWithoutText()
{
    ScriptedMessageBox boxes;
    auto list = makeList({{QStringLiteral("H1"), 1}, {QStringLiteral("H2"), 999}}, {{"", "y"}});
    print(*list);

    QVERIFY(m_log.ended());
    const QList<Op> prints = m_log.prints();
    auto empty = std::find_if(prints.begin(), prints.end(), [](const Op& op) { return op.text.isEmpty(); });
    QVERIFY(empty != prints.end());
    QCOMPARE(empty->x, 0.0);
    QCOMPARE(empty->y, 14.0);
    QCOMPARE(printOf(m_log, QStringLiteral("y")).x, 0.0); // share 0.1 makes the second edge 0 as well
}

void TestImprimerListView::noDefaultPrinter_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("chosenPath"); // empty: the dialog is cancelled
    QTest::addColumn<bool>("printed");

    QTest::newRow("no") << int(MessageBox::No) << QString() << false;
    QTest::newRow("yes, dialog cancelled") << int(MessageBox::Yes) << QString() << false;
    QTest::newRow("yes, file chosen") << int(MessageBox::Yes) << QStringLiteral("/tmp/elenco.pdf") << true;
}

void TestImprimerListView::noDefaultPrinter()
{
    QFETCH(int, answer);
    QFETCH(QString, chosenPath);
    QFETCH(bool, printed);

    const QList<QStringList> rows(30, QStringList {"1", "Rossi", "Anna", "Via Roma 12 bis", "RM", "333", "06"});
    auto list = makeList(contactColumns(), rows);

    // What a printer would have been given.
    {
        ScriptedMessageBox boxes;
        print(*list);
    }
    const QList<Op> onPrinter = m_log.ops;
    m_log.clear();

    m_log.noDefaultPrinter = true;
    ScriptedMessageBox boxes;
    boxes.expect(MessageBox::Answer(answer));
    ScriptedSaveFileChooser files;
    if (answer == MessageBox::Yes) {
        files.expect(chosenPath);
    }
    print(*list);

    QCOMPARE(boxes.asked().size(), 1);
    QCOMPARE(boxes.last().text, QStringLiteral("Nessuna stampante predefinita. Salvare l'elenco in un file PDF?"));
    QCOMPARE(boxes.last().title, QStringLiteral("Velmarin"));
    QCOMPARE(boxes.last().buttons, MessageBox::YesNo);
    QCOMPARE(boxes.last().icon, MessageBox::Question);
    QCOMPARE(files.asked().size(), answer == MessageBox::Yes ? 1 : 0);
    if (!files.asked().isEmpty()) {
        QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        if (documents.isEmpty() || !QDir(documents).exists()) {
            documents = QDir::homePath();
        }
        QCOMPARE(files.asked().first().proposedPath, QDir(documents).filePath(QStringLiteral("Elenco Velmarin.pdf")));
    }
    if (printed) {
        QCOMPARE(m_log.devicePaths, QList<QString>({QString(), chosenPath}));
        QCOMPARE(m_log.ops.size(), onPrinter.size());
        for (int i = 0; i < onPrinter.size(); ++i) {
            QCOMPARE(m_log.ops[i].kind, onPrinter[i].kind);
            QCOMPARE(m_log.ops[i].text, onPrinter[i].text);
            QCOMPARE(m_log.ops[i].x, onPrinter[i].x);
            QCOMPARE(m_log.ops[i].y, onPrinter[i].y);
        }
    } else {
        QVERIFY(m_log.ops.isEmpty());
    }
}

QTEST_MAIN(TestImprimerListView)
#include "tst_imprimerlistview.moc"
