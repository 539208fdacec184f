#include "print/Module5.h"

#include "common/ListView.h"
#include "common/MessageBox.h"
#include "core/AppInfo.h"
#include "print/PrinterDevice.h"
#include "print/SaveFileChooser.h"

#include <QDir>
#include <QLocale>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

// Page layout in units of the 100 x 100 grid over the printable area.
constexpr double kTitleY = 3;
constexpr double kPageNumberX = 90;
constexpr double kSubtitleY = 5;
constexpr double kHeadingsY = 10;
constexpr double kHeadingRuleY = 13;
constexpr double kRowsTop = 14;
constexpr double kFooterRuleY = 90;
constexpr double kFooterY = 93;
constexpr double kFooterTextX = 5;
constexpr double kDateX = 85;
constexpr double kContinuationStep = 1.5;
constexpr int kLinesPerPage = 22;
// Float noise must not push a row that just touches the footer rule onto the next page.
constexpr double kTolerance = 1e-9;

// Halves go to the even neighbour, as the original platform converted to whole numbers.
double nearest(double v)
{
    const double down = std::floor(v);
    const double fraction = v - down;
    if (fraction > 0.5) {
        return down + 1;
    }
    if (fraction < 0.5) {
        return down;
    }
    return std::fmod(down, 2.0) == 0 ? down : down + 1;
}

// Only spaces, as the original platform's Trim removed.
QString trimSpaces(const QString& text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first) == QLatin1Char(' ')) {
        ++first;
    }
    while (last > first && text.at(last - 1) == QLatin1Char(' ')) {
        --last;
    }
    return text.mid(first, last - first);
}

// The characters between the first two fields of the locale's short date format: "/" in Italy, "." in Germany, ". "
// in Hungary. A date is printed with "/", "-" or ".", spaces around it kept as the locale writes them; any other
// separator (the C locale's bare space) gives "/".
QString dateSeparator(const QLocale& locale)
{
    const QString format = locale.dateFormat(QLocale::ShortFormat);
    qsizetype i = 0;
    while (i < format.size() && format.at(i).isLetter()) {
        ++i;
    }
    qsizetype end = i;
    while (end < format.size() && !format.at(end).isLetter()) {
        ++end;
    }
    QString separator = format.mid(i, end - i);
    separator.remove(QLatin1Char('\''));
    const QString mark = QString(separator).remove(QLatin1Char(' '));
    const bool kept = mark == QLatin1String("/") || mark == QLatin1String("-") || mark == QLatin1String(".");
    return kept ? separator : QStringLiteral("/");
}

QString dateText(const QDate& date)
{
    const QString separator = dateSeparator(QLocale());
    return QStringLiteral("%1").arg(date.day(), 2, 10, QLatin1Char('0')) + separator
        + QStringLiteral("%1").arg(date.month(), 2, 10, QLatin1Char('0')) + separator
        + QStringLiteral("%1").arg(date.year(), 4, 10, QLatin1Char('0'));
}

QString footerText()
{
    return AppInfo::title() + QStringLiteral(" v") + QString::number(AppInfo::major()) + QLatin1Char('.')
        + QString::number(AppInfo::minor()) + QLatin1Char('.') + QString::number(AppInfo::revision());
}

struct Column
{
    QString heading;
    double share = 0; // part of the page width
    double left = 0; // left edge of its cells
    bool visible = false;
    int capacity = 0; // characters per printed line
};

// Everything the pages show that does not depend on the printer, read once before the first page.
struct Document
{
    QString title;
    QString subtitle;
    QString fontName;
    double fontSize = 0;
    QString footer;
    QString date;
    std::vector<Column> columns;
};

Document readDocument(
    const ListView& list, const QString& title, const QString& subtitle, const QString& fontName, qint16 fontSize)
{
    Document doc;
    doc.title = trimSpaces(title).toUpper();
    doc.subtitle = subtitle;
    doc.fontName = fontName;
    doc.fontSize = fontSize;
    doc.footer = footerText();
    doc.date = dateText(AppInfo::now().date());

    const int n = list.columnHeaderCount();
    doc.columns.resize(size_t(std::max(n, 0)));
    double total = 0;
    for (int i = 1; i <= n; ++i) {
        Column& column = doc.columns[size_t(i - 1)];
        column.heading = list.columnHeaderText(i);
        const double width = list.columnHeaderWidth(i);
        column.visible = width > 0;
        column.share = width; // turned into the share below, once the total is known
        total = nearest(total + width);
    }
    if (n > 0 && total == 0) {
        throw PrinterError(QStringLiteral("Impossibile stampare l'elenco: la larghezza totale delle colonne è zero."));
    }
    double left = 0;
    for (Column& column : doc.columns) {
        column.share = column.visible ? column.share * 100 / total : 0;
        column.left = left;
        left = nearest(left + column.share);
    }
    return doc;
}

// Lays out and prints the pages of one document on one printer.
class ListPrinter
{
public:
    ListPrinter(const ListView& list, const Document& doc, PrinterDevice& device)
        : m_list(list)
        , m_doc(doc)
        , m_columns(doc.columns)
        , m_device(device)
    {
    }

    bool obtained() const { return m_obtained; }

    void run()
    {
        m_device.obtain();
        m_obtained = true;
        m_device.setOrientation(PrinterDevice::Landscape);
        m_device.setFontName(m_doc.fontName);
        m_device.setFontSize(m_doc.fontSize);
        m_device.setScale(100, 100);
        measureColumns();

        printHeader();
        m_lineCount = 0;
        m_carried = 0;
        const int count = m_list.itemCount();
        for (int index = 1; index <= count; ++index) {
            printRow(index);
        }
        printFooter();
        m_device.endDoc();
    }

private:
    struct Line
    {
        int start;
        int length;
    };

    struct Cell
    {
        int column; // 0-based
        QString text;
        int firstLine; // into m_lines
        int lineCount;
        int nextLine = 0; // lines already printed, when a row runs over several pages
    };

    // The font does not change between rows, so the capacity of a column is the same for every row.
    void measureColumns()
    {
        m_device.setFontBold(false);
        m_lineHeight = m_device.textHeight(QStringLiteral("A"));
        const double letterWidth = m_device.textWidth(QStringLiteral("A"));
        for (Column& column : m_columns) {
            column.capacity = letterWidth > 0 ? int(std::floor(column.share / letterWidth)) : 0;
        }
    }

    void printHeader()
    {
        m_device.setFontBold(true);
        m_device.setCurrentX(50 - m_device.textWidth(m_doc.title) / 2);
        m_device.setCurrentY(kTitleY);
        m_device.print(m_doc.title);

        m_device.setFontBold(false);
        m_device.setCurrentX(kPageNumberX);
        m_device.setCurrentY(kTitleY);
        m_device.print(QStringLiteral("Page ") + QString::number(m_page));

        m_device.setCurrentX(50 - m_device.textWidth(m_doc.subtitle) / 2);
        m_device.setCurrentY(kSubtitleY);
        m_device.print(m_doc.subtitle);

        // Headings start where the previous column's share ends, before that edge is made whole; the cells below
        // start at the whole edge, so a heading can stand slightly left or right of its cells.
        double x = 0;
        for (const Column& column : m_columns) {
            const double edge = nearest(x);
            m_device.setCurrentX(x);
            m_device.setCurrentY(kHeadingsY);
            if (column.visible) {
                m_device.setFontBold(true);
                m_device.print(column.heading);
                m_device.setFontBold(false);
            }
            x = column.share + edge;
        }
        m_device.setCurrentX(x);

        m_device.line(0, kHeadingRuleY, 100, kHeadingRuleY);
        m_device.setCurrentY(kRowsTop);
    }

    void printFooter()
    {
        m_device.line(0, kFooterRuleY, 100, kFooterRuleY);
        m_device.setCurrentX(kFooterTextX);
        m_device.setCurrentY(kFooterY);
        m_device.setFontBold(true);
        m_device.print(m_doc.footer);
        m_device.setCurrentX(kDateX);
        m_device.setCurrentY(kFooterY);
        m_device.setFontBold(false);
        m_device.print(m_doc.date);
    }

    void pageBreak()
    {
        m_lineCount = 0;
        printFooter();
        m_device.newPage();
        ++m_page;
        printHeader();
    }

    // The next line of text from position start: at most capacity characters, ending after the last space among
    // them when there is one.
    static int nextLineLength(const QString& text, int start, int capacity)
    {
        const int rest = int(text.size()) - start;
        if (rest <= capacity) {
            return rest;
        }
        for (int j = start + capacity - 1; j >= start; --j) {
            if (text.at(j) == QLatin1Char(' ')) {
                return j - start + 1;
            }
        }
        // Never split a character made of two UTF-16 units.
        if (text.at(start + capacity - 1).isHighSurrogate()) {
            return capacity > 1 ? capacity - 1 : capacity + 1;
        }
        return capacity;
    }

    void cutCell(int column, const QString& text)
    {
        const int first = int(m_lines.size());
        const int length = int(text.size());
        if (length == 0) {
            m_lines.push_back(Line {0, 0});
        } else {
            const int capacity = m_columns[size_t(column)].capacity;
            if (capacity <= 0) {
                throw PrinterError(QStringLiteral("La colonna \"%1\" è troppo stretta per stamparne il testo.")
                                       .arg(m_columns[size_t(column)].heading));
            }
            int p = 0;
            while (p < length) {
                const int lineLength = nextLineLength(text, p, capacity);
                m_lines.push_back(Line {p, lineLength});
                p += lineLength;
            }
        }
        m_cells.push_back(Cell {column, text, first, int(m_lines.size()) - first});
    }

    bool isLastColumn(const Cell& cell) const { return cell.column == int(m_columns.size()) - 1; }

    // Top of line k of a cell relative to the row top: the last column runs on one font line at a time, the others
    // step down a fixed amount.
    double lineOffset(const Cell& cell, int k) const
    {
        return isLastColumn(cell) ? k * m_lineHeight : k * kContinuationStep;
    }

    QString lineText(const Cell& cell, int k) const
    {
        const Line& line = m_lines[size_t(cell.firstLine + k)];
        return line.start == 0 && line.length == cell.text.size() ? cell.text : cell.text.mid(line.start, line.length);
    }

    void printRow(int index)
    {
        m_cells.clear();
        m_lines.clear();
        double rowHeight = 0;
        for (int i = 0; i < int(m_columns.size()); ++i) {
            if (!m_columns[size_t(i)].visible) {
                continue;
            }
            cutCell(i, i == 0 ? m_list.itemText(index) : m_list.subItem(index, i));
            const Cell& cell = m_cells.back();
            rowHeight = std::max(rowHeight, lineOffset(cell, cell.lineCount - 1) + m_lineHeight);
        }

        double top = nearest(m_device.currentY() + m_carried);
        if (top + rowHeight > kFooterRuleY + kTolerance && m_lineCount > 0) {
            pageBreak();
            top = nearest(m_device.currentY() + m_carried);
        }
        // A tall row's offset, carried over a page break, can leave no room for a single line above the footer of
        // the page just begun: the row then starts at the top of its rows rather than leave that page blank. Only a
        // line taller than a whole page fails.
        if (!m_cells.empty() && top + m_lineHeight > kFooterRuleY + kTolerance && top > kRowsTop) {
            top = nearest(m_device.currentY());
        }
        if (top + rowHeight <= kFooterRuleY + kTolerance) {
            printWholeRow(top);
        } else {
            printRowOverPages(top);
        }
        if (m_lineCount >= kLinesPerPage) {
            pageBreak();
        }
    }

    // A row that fits above the footer: exactly the original layout.
    void printWholeRow(double top)
    {
        m_carried = 0;
        int maxContinuations = 0;
        for (const Cell& cell : m_cells) {
            const Column& column = m_columns[size_t(cell.column)];
            m_device.setFontBold(false);
            m_device.setCurrentX(column.left);
            m_device.setCurrentY(top);
            m_device.print(lineText(cell, 0));
            double offset = 0;
            for (int k = 1; k < cell.lineCount; ++k) {
                if (!isLastColumn(cell)) {
                    offset += kContinuationStep;
                    m_device.setCurrentY(top + offset);
                }
                m_device.setCurrentX(column.left);
                m_device.print(lineText(cell, k));
            }
            m_carried = std::max(m_carried, offset);
            maxContinuations = std::max(maxContinuations, cell.lineCount - 1);
        }
        m_lineCount += 1 + maxContinuations;
    }

    // A row taller than the room left on a page that starts empty: each page takes the lines that end above the
    // footer rule, and the rest continues below the next header with the same spacing.
    void printRowOverPages(double top)
    {
        double base = top; // where the line at offset skipped lands on this page
        double skipped = 0; // offset of the first line on this page
        for (;;) {
            int linesHere = 0;
            double bottom = base;
            bool done = true;
            for (Cell& cell : m_cells) {
                const Column& column = m_columns[size_t(cell.column)];
                int cellLinesHere = 0;
                while (cell.nextLine < cell.lineCount) {
                    const double y = base + lineOffset(cell, cell.nextLine) - skipped;
                    if (y + m_lineHeight > kFooterRuleY + kTolerance) {
                        break;
                    }
                    m_device.setFontBold(false);
                    m_device.setCurrentX(column.left);
                    m_device.setCurrentY(y);
                    m_device.print(lineText(cell, cell.nextLine));
                    ++cell.nextLine;
                    ++cellLinesHere;
                    bottom = std::max(bottom, y + m_lineHeight);
                }
                linesHere = std::max(linesHere, cellLinesHere);
                done = done && cell.nextLine == cell.lineCount;
            }
            if (done) {
                m_lineCount = linesHere;
                m_carried = 0;
                m_device.setCurrentY(bottom);
                return;
            }
            if (linesHere == 0) {
                throw PrinterError(QStringLiteral("Il carattere è troppo grande per la pagina."));
            }
            skipped = std::numeric_limits<double>::max();
            for (const Cell& cell : m_cells) {
                if (cell.nextLine < cell.lineCount) {
                    skipped = std::min(skipped, lineOffset(cell, cell.nextLine));
                }
            }
            pageBreak();
            base = m_device.currentY();
        }
    }

    const ListView& m_list;
    const Document& m_doc;
    std::vector<Column> m_columns;
    PrinterDevice& m_device;
    bool m_obtained = false;
    int m_page = 1;
    int m_lineCount = 0;
    double m_carried = 0;
    double m_lineHeight = 0;
    std::vector<Cell> m_cells;
    std::vector<Line> m_lines;
};

void showFailure(QWidget* parent, const QString& description)
{
    MessageBox::show(parent, description, AppInfo::title(), MessageBox::OkOnly, MessageBox::Critical);
}

// Prints the document on one device; on any failure cancels what was started and tells the user. Returns the
// failure kind so that a missing printer can be handled by the caller instead.
bool printOn(PrinterDevice& device, const ListView& list, const Document& doc, bool offerPdf, QWidget* parent)
{
    ListPrinter printer(list, doc, device);
    QString description;
    try {
        printer.run();
        return true;
    } catch (const PrinterError& error) {
        if (offerPdf && error.kind() == PrinterError::NoDefaultPrinter && !printer.obtained()) {
            return false;
        }
        description = error.description();
    } catch (const std::exception& error) {
        description = QStringLiteral("Errore durante la stampa: %1").arg(QString::fromLocal8Bit(error.what()));
    }
    if (printer.obtained()) {
        device.killDoc();
    }
    showFailure(parent, description);
    return true;
}

void saveAsPdf(const ListView& list, const Document& doc, QWidget* parent)
{
    const MessageBox::Answer answer
        = MessageBox::show(parent,
                           QStringLiteral("Nessuna stampante predefinita. Salvare l'elenco in un file PDF?"),
                           AppInfo::title(),
                           MessageBox::YesNo,
                           MessageBox::Question);
    if (answer != MessageBox::Yes) {
        return;
    }
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty() || !QDir(folder).exists()) {
        // A dialog asked for a folder that is not there opens in the working folder, wherever that is.
        folder = QDir::homePath();
    }
    SaveFileChooser::Request request;
    request.caption = QStringLiteral("Salva l'elenco come PDF");
    request.proposedPath = QDir(folder).filePath(QStringLiteral("Elenco Velmarin.pdf"));
    request.filter = QStringLiteral("Documenti PDF (*.pdf)");
    request.defaultSuffix = QStringLiteral("pdf");
    const QString path = SaveFileChooser::choose(parent, request);
    if (path.isEmpty()) {
        return;
    }
    const std::unique_ptr<PrinterDevice> pdf = makePdfPrinterDevice(path);
    printOn(*pdf, list, doc, false, parent);
}

} // namespace

void ImprimerListView(ListView& lvwList,
                      const QString& strTitle,
                      const QString& strSubtitle,
                      const QString& strFontName,
                      qint16 intFontSize)
{
    QWidget* parent = lvwList.window();
    Document doc;
    try {
        doc = readDocument(lvwList, strTitle, strSubtitle, strFontName, intFontSize);
    } catch (const PrinterError& error) {
        showFailure(parent, error.description());
        return;
    }
    const std::unique_ptr<PrinterDevice> device = makePrinterDevice();
    if (!printOn(*device, lvwList, doc, true, parent)) {
        saveAsPdf(lvwList, doc, parent);
    }
}
