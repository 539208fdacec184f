#include "support/RecordingPrinter.h"

QList<PrinterLog::Op> PrinterLog::prints() const
{
    QList<Op> result;
    for (const Op& op : ops) {
        if (op.kind == Op::Print) {
            result.append(op);
        }
    }
    return result;
}

QList<PrinterLog::Op> PrinterLog::prints(int page) const
{
    QList<Op> result;
    for (const Op& op : ops) {
        if (op.kind == Op::Print && op.page == page) {
            result.append(op);
        }
    }
    return result;
}

QList<PrinterLog::Op> PrinterLog::lines() const
{
    QList<Op> result;
    for (const Op& op : ops) {
        if (op.kind == Op::Line) {
            result.append(op);
        }
    }
    return result;
}

QStringList PrinterLog::printedTexts() const
{
    QStringList result;
    for (const Op& op : ops) {
        if (op.kind == Op::Print) {
            result.append(op.text);
        }
    }
    return result;
}

int PrinterLog::count(Op::Kind kind) const
{
    int n = 0;
    for (const Op& op : ops) {
        n += op.kind == kind ? 1 : 0;
    }
    return n;
}

RecordingPrinter::RecordingPrinter(PrinterLog& log, const QString& path)
    : m_log(log)
    , m_path(path)
{
    m_log.devicePaths.append(path);
}

void RecordingPrinter::record(PrinterLog::Op op)
{
    op.page = m_page;
    m_log.ops.append(op);
    if (m_log.failOccurrence > 0 && op.kind == m_log.failKind && ++m_failSeen == m_log.failOccurrence) {
        throw PrinterError(m_log.failDescription);
    }
}

void RecordingPrinter::obtain()
{
    if (m_log.noDefaultPrinter && m_path.isEmpty()) {
        throw PrinterError(QStringLiteral("Nessuna stampante predefinita."), PrinterError::NoDefaultPrinter);
    }
    record({PrinterLog::Op::Obtain});
}

void RecordingPrinter::setOrientation(int value)
{
    PrinterLog::Op op {PrinterLog::Op::Orientation};
    op.x = value;
    record(op);
}

void RecordingPrinter::setFontName(const QString& name)
{
    PrinterLog::Op op {PrinterLog::Op::FontName};
    op.text = name;
    record(op);
}

void RecordingPrinter::setFontSize(double points)
{
    m_size = points;
    PrinterLog::Op op {PrinterLog::Op::FontSize};
    op.x = points;
    record(op);
}

void RecordingPrinter::setFontBold(bool bold)
{
    m_bold = bold;
}

void RecordingPrinter::setScale(double width, double height)
{
    PrinterLog::Op op {PrinterLog::Op::Scale};
    op.x = width;
    op.y = height;
    record(op);
}

double RecordingPrinter::textWidth(const QString& text)
{
    return text.size() * kCharWidthPerPoint * m_size * (m_bold ? kBoldFactor : 1.0);
}

double RecordingPrinter::textHeight(const QString&)
{
    return m_log.lineHeightPerPoint * m_size;
}

void RecordingPrinter::print(const QString& text)
{
    PrinterLog::Op op {PrinterLog::Op::Print};
    op.text = text;
    op.x = m_x;
    op.y = m_y;
    op.bold = m_bold;
    m_x = 0;
    m_y += m_log.lineHeightPerPoint * m_size;
    record(op);
}

void RecordingPrinter::line(double x1, double y1, double x2, double y2)
{
    PrinterLog::Op op {PrinterLog::Op::Line};
    op.x = x1;
    op.y = y1;
    op.x2 = x2;
    op.y2 = y2;
    record(op);
}

void RecordingPrinter::newPage()
{
    record({PrinterLog::Op::NewPage});
    ++m_page;
    m_x = 0;
    m_y = 0;
}

void RecordingPrinter::endDoc()
{
    record({PrinterLog::Op::EndDoc});
}

void RecordingPrinter::killDoc()
{
    m_log.ops.append(PrinterLog::Op(PrinterLog::Op::KillDoc));
}

ScopedRecordingPrinters::ScopedRecordingPrinters(PrinterLog& log)
{
    setPrinterFactory([&log] { return std::make_unique<RecordingPrinter>(log); });
    setPdfPrinterFactory([&log](const QString& path) { return std::make_unique<RecordingPrinter>(log, path); });
}

ScopedRecordingPrinters::~ScopedRecordingPrinters()
{
    setPrinterFactory({});
    setPdfPrinterFactory({});
}
