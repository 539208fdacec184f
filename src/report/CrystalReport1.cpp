#include "report/CrystalReport1.h"

#include "core/AppInfo.h"
#include "core/DataLocation.h"
#include "data/Ado.h"
#include "data/Contact.h"
#include "data/Statements.h"

#include <QCollator>
#include <QFile>
#include <QFontMetricsF>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QTextLayout>

#include <algorithm>

namespace {

int g_created = 0;

QTextOption wrappingOption(Qt::Alignment alignment)
{
    QTextOption option(alignment);
    // A word wider than its column is broken rather than spilled into the next one.
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    return option;
}

// Lays text out in width; returns its height. Painting uses the same routine so that measure and print agree.
double layoutText(QTextLayout& layout, double width)
{
    double height = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, height));
        height += line.height();
    }
    layout.endLayout();
    return height;
}

double textHeight(const QString& text, const QFont& font, double width, const QPaintDevice* device)
{
    QTextLayout layout(text.isEmpty() ? QStringLiteral(" ") : text, font, device);
    layout.setTextOption(wrappingOption(Qt::AlignLeft));
    return layoutText(layout, width);
}

// Places the sections of one report on pages of one device.
class PageBuilder
{
public:
    PageBuilder(const CrystalReport1& report, const QFont& baseFont, const QPaintDevice* device)
        : m_report(report)
        , m_base(baseFont)
        , m_device(device)
        , m_area(0, 0, device->width(), device->height())
    {
        const auto& columns = report.DetailSection1.columns;
        double total = 0;
        for (const ReportColumn& column : columns) {
            total += column.width;
        }
        double left = 0;
        for (const ReportColumn& column : columns) {
            const double width = m_area.width() * column.width / total;
            m_columns.append({m_area.left() + left, width});
            left += width;
        }
    }

    QList<ReportPage> build(const QList<QStringList>& records, const QHash<QString, QString>& fields)
    {
        m_fields = fields;
        m_footerTop = m_area.bottom() - placeSection(m_report.PageFooterSection1, 0, nullptr);

        startPage(true);
        for (const QStringList& record : records) {
            const double height = placeRow(record, m_report.DetailSection1.Name(), false, 0, nullptr);
            if (m_y + height > m_footerTop && m_detailsOnPage > 0) {
                finishPage();
                startPage(false);
            }
            m_y = placeRow(record, m_report.DetailSection1.Name(), false, m_y, &m_pages.last());
            ++m_detailsOnPage;
        }
        const double footer = placeSection(m_report.ReportFooterSection1, 0, nullptr);
        if (m_y + footer > m_footerTop) {
            finishPage();
            startPage(false);
        }
        m_y = placeSection(m_report.ReportFooterSection1, m_y, &m_pages.last());
        finishPage();

        numberPages();
        return m_pages;
    }

private:
    struct Column
    {
        double left;
        double width;
    };

    double mm(double millimetres) const { return millimetres * m_device->logicalDpiY() / 25.4; }

    QFont fontFor(double pointSize, bool bold) const
    {
        QFont font = m_base;
        if (pointSize > 0) {
            font.setPointSizeF(pointSize);
        }
        font.setBold(bold);
        return font;
    }

    void startPage(bool first)
    {
        m_pages.append(ReportPage {});
        m_y = m_area.top();
        m_detailsOnPage = 0;
        if (first) {
            m_y = placeSection(m_report.ReportHeaderSection1, m_y, &m_pages.last());
        }
        m_y = placeSection(m_report.PageHeaderSection1, m_y, &m_pages.last());
    }

    void finishPage() { placeSection(m_report.PageFooterSection1, m_footerTop, &m_pages.last()); }

    // Places a section at y (or only measures it when page is null); returns the y below it.
    double placeSection(const ReportSection& section, double y, ReportPage* page) const
    {
        y += mm(section.spaceBeforeMm);
        if (section.ruleAbove) {
            y = placeRule(section.Name(), y, page);
        }
        for (const ReportLine& line : section.lines) {
            const QFont font = fontFor(line.pointSize, line.bold);
            const double height = QFontMetricsF(font, m_device).height();
            const QRectF rect(m_area.left(), y, m_area.width(), height);
            const std::pair<const QString*, Qt::Alignment> parts[]
                = {{&line.left, Qt::AlignLeft}, {&line.center, Qt::AlignHCenter}, {&line.right, Qt::AlignRight}};
            for (const auto& [text, alignment] : parts) {
                if (page && !text->isEmpty()) {
                    page->items.append(ReportItem {section.Name(), rect, expand(*text), font, alignment, false});
                }
            }
            y += height;
        }
        if (section.columnHeadings) {
            QStringList headings;
            for (const ReportColumn& column : m_report.DetailSection1.columns) {
                headings.append(column.heading);
            }
            y = placeRow(headings, section.Name(), true, y, page);
        }
        if (section.ruleBelow) {
            y = placeRule(section.Name(), y, page);
        }
        return y + mm(section.spaceAfterMm);
    }

    double placeRule(const QString& section, double y, ReportPage* page) const
    {
        if (page) {
            page->items.append(
                ReportItem {section, QRectF(m_area.left(), y + mm(0.5), m_area.width(), 0), {}, {}, {}, true});
        }
        return y + mm(1);
    }

    // One row of cells in the detail columns; the row is as tall as its tallest wrapped cell.
    double placeRow(const QStringList& cells, const QString& section, bool bold, double y, ReportPage* page) const
    {
        const QFont font = fontFor(0, bold);
        const double padding = mm(m_report.DetailSection1.paddingMm);
        double height = 0;
        for (int i = 0; i < m_columns.size(); ++i) {
            const double width = std::max(1.0, m_columns[i].width - 2 * padding);
            height = std::max(height, textHeight(cells.value(i), font, width, m_device));
        }
        if (page) {
            for (int i = 0; i < m_columns.size(); ++i) {
                const QRectF rect(m_columns[i].left + padding,
                                  y + padding / 2,
                                  std::max(1.0, m_columns[i].width - 2 * padding),
                                  height);
                if (!cells.value(i).isEmpty()) {
                    page->items.append(ReportItem {section, rect, cells.value(i), font, Qt::AlignLeft, false});
                }
            }
        }
        return y + height + padding;
    }

    QString expand(QString text) const
    {
        for (auto it = m_fields.cbegin(); it != m_fields.cend(); ++it) {
            text.replace(QLatin1Char('{') + it.key() + QLatin1Char('}'), it.value());
        }
        return text;
    }

    // Page numbers are known only once every page has been laid out.
    void numberPages()
    {
        const QString pages = QString::number(m_pages.size());
        for (int i = 0; i < m_pages.size(); ++i) {
            for (ReportItem& item : m_pages[i].items) {
                // Contact data is printed as stored, braces included.
                if (item.section == m_report.DetailSection1.Name()) {
                    continue;
                }
                item.text.replace(QLatin1String("{pages}"), pages);
                item.text.replace(QLatin1String("{page}"), QString::number(i + 1));
            }
        }
    }

    const CrystalReport1& m_report;
    QFont m_base;
    const QPaintDevice* m_device;
    QRectF m_area;
    QList<Column> m_columns;
    QHash<QString, QString> m_fields;
    QList<ReportPage> m_pages;
    double m_footerTop = 0;
    double m_y = 0;
    int m_detailsOnPage = 0;
};

QPageLayout pageLayoutOf(const QJsonObject& page)
{
    const QString size = page.value(QStringLiteral("size")).toString(QStringLiteral("A4"));
    QPageSize pageSize(QPageSize::A4);
    if (size.compare(QLatin1String("Letter"), Qt::CaseInsensitive) == 0) {
        pageSize = QPageSize(QPageSize::Letter);
    }
    const auto orientation = page.value(QStringLiteral("orientation")).toString() == QLatin1String("portrait")
        ? QPageLayout::Portrait
        : QPageLayout::Landscape;
    const QJsonObject margins = page.value(QStringLiteral("marginsMm")).toObject();
    return QPageLayout(pageSize,
                       orientation,
                       QMarginsF(margins.value(QStringLiteral("left")).toDouble(10),
                                 margins.value(QStringLiteral("top")).toDouble(10),
                                 margins.value(QStringLiteral("right")).toDouble(10),
                                 margins.value(QStringLiteral("bottom")).toDouble(10)),
                       QPageLayout::Millimeter);
}

} // namespace

QStringList ReportPage::texts(const QString& section) const
{
    QList<const ReportItem*> placed;
    for (const ReportItem& item : items) {
        if (!item.rule && (section.isEmpty() || item.section == section)) {
            placed.append(&item);
        }
    }
    std::stable_sort(placed.begin(), placed.end(), [](const ReportItem* a, const ReportItem* b) {
        return a->rect.top() != b->rect.top() ? a->rect.top() < b->rect.top() : a->rect.left() < b->rect.left();
    });
    QStringList result;
    for (const ReportItem* item : placed) {
        result.append(item->text);
    }
    return result;
}

CrystalReport1::CrystalReport1(const QString& definitionPath)
{
    loadDefinition(definitionPath);
    ++g_created;
}

CrystalReport1::~CrystalReport1() = default;

int CrystalReport1::createdCount()
{
    return g_created;
}

void CrystalReport1::loadDefinition(const QString& definitionPath)
{
    QFile file(definitionPath);
    if (!file.open(QIODevice::ReadOnly)) {
        throw ReportError(
            QStringLiteral("Impossibile leggere il report %1: %2").arg(definitionPath, file.errorString()));
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (!document.isObject()) {
        throw ReportError(
            QStringLiteral("Il report %1 non è valido: %2").arg(definitionPath, parseError.errorString()));
    }
    const QJsonObject root = document.object();

    m_title = root.value(QStringLiteral("title")).toString();
    m_pageLayout = pageLayoutOf(root.value(QStringLiteral("page")).toObject());
    const QJsonObject font = root.value(QStringLiteral("font")).toObject();
    m_font = QFont(font.value(QStringLiteral("family")).toString(QStringLiteral("Arial")));
    m_font.setPointSizeF(font.value(QStringLiteral("pointSize")).toDouble(9));
    m_sortBy.clear();
    for (const QJsonValue& field : root.value(QStringLiteral("sortBy")).toArray()) {
        m_sortBy.append(field.toString());
    }

    QHash<QString, QJsonObject> stored;
    for (const QJsonValue& value : root.value(QStringLiteral("sections")).toArray()) {
        const QJsonObject section = value.toObject();
        stored.insert(section.value(QStringLiteral("name")).toString(), section);
    }
    for (ReportSection* section :
         {&ReportHeaderSection1, &PageHeaderSection1, &DetailSection1, &PageFooterSection1, &ReportFooterSection1}) {
        if (!stored.contains(section->Name())) {
            throw ReportError(QStringLiteral("Il report %1 non ha la sezione %2").arg(definitionPath, section->Name()));
        }
        section->load(stored.value(section->Name()));
    }
    if (DetailSection1.columns.isEmpty()) {
        throw ReportError(QStringLiteral("Il report %1 non ha colonne").arg(definitionPath));
    }
}

void CrystalReport1::ReadRecords()
{
    m_records.clear();
    m_recordsRead = false;

    struct Row
    {
        QStringList sortKeys;
        QStringList cells;
    };
    QList<Row> rows;
    {
        auto connection = std::make_shared<ado::Connection>();
        connection->Open(DataLocation::connectionText());
        ado::Recordset recordset;
        recordset.Open(ListQuery(), connection);
        while (!recordset.isEOF()) {
            Row row;
            for (const QString& field : m_sortBy) {
                row.sortKeys.append(textOf(recordset.Fields(field)));
            }
            for (const ReportColumn& column : DetailSection1.columns) {
                const QVariant value = recordset.Fields(column.field);
                row.cells.append(column.phone ? ReadablePhone(value) : textOf(value));
            }
            rows.append(row);
            recordset.MoveNext();
        }
    }

    // The list query orders by given name; a directory is read by surname, so the report orders its own rows.
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(rows.begin(), rows.end(), [&collator](const Row& a, const Row& b) {
        for (int i = 0; i < a.sortKeys.size(); ++i) {
            const int order = collator.compare(a.sortKeys[i], b.sortKeys[i]);
            if (order != 0) {
                return order < 0;
            }
        }
        return false;
    });
    for (const Row& row : rows) {
        m_records.append(row.cells);
    }
    m_recordsRead = true;
}

QList<ReportPage> CrystalReport1::layoutPages(const QPaintDevice* device) const
{
    if (!m_recordsRead) {
        return {};
    }
    const QHash<QString, QString> fields {
        {QStringLiteral("title"), m_title},
        {QStringLiteral("date"), QLocale().toString(AppInfo::now().date(), QLocale::ShortFormat)},
        {QStringLiteral("app"),
         QStringLiteral("%1 %2.%3.%4")
             .arg(AppInfo::title())
             .arg(AppInfo::major())
             .arg(AppInfo::minor())
             .arg(AppInfo::revision())},
        {QStringLiteral("count"), QString::number(m_records.size())},
    };
    return PageBuilder(*this, m_font, device).build(m_records, fields);
}

int CrystalReport1::render(QPagedPaintDevice* device) const
{
    if (!m_recordsRead) {
        return 0;
    }
    if (!device->paintingActive()) {
        device->setPageLayout(m_pageLayout);
    }
    const QList<ReportPage> pages = layoutPages(device);
    QPainter painter;
    if (!painter.begin(device)) {
        return 0;
    }
    for (int i = 0; i < pages.size(); ++i) {
        if (i > 0) {
            device->newPage();
        }
        paintPage(painter, pages[i]);
    }
    painter.end();
    return int(pages.size());
}

void CrystalReport1::paintPage(QPainter& painter, const ReportPage& page)
{
    for (const ReportItem& item : page.items) {
        if (item.rule) {
            painter.setPen(QPen(Qt::black, 0));
            painter.drawLine(item.rect.topLeft(), item.rect.topRight());
            continue;
        }
        QTextLayout layout(item.text, item.font, painter.device());
        layout.setTextOption(wrappingOption(item.alignment));
        layoutText(layout, item.rect.width());
        painter.setPen(Qt::black);
        layout.draw(&painter, item.rect.topLeft());
    }
}
