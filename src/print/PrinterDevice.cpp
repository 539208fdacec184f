#include "print/PrinterDevice.h"

#include "core/AppInfo.h"

#include <QFile>
#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPen>
#include <QPrinter>
#include <QPrinterInfo>

#include <algorithm>
#include <optional>
#include <vector>

namespace {

bool endsWithPdfTrailer(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(std::max<qint64>(0, file.size() - 64))) {
        return false;
    }
    return file.readAll().contains("%%EOF");
}

// Draws through QPainter on a QPrinter. The pages are kept as a list of drawing operations and only sent to the
// printer when the document ends, so that cancelling really prints nothing (Qt cannot withdraw a job it started).
class QtPrinterDevice : public PrinterDevice
{
public:
    // An empty path means the default printer.
    explicit QtPrinterDevice(QString pdfPath)
        : m_pdfPath(std::move(pdfPath))
    {
    }

    ~QtPrinterDevice() override { killDoc(); }

    void obtain() override
    {
        if (m_pdfPath.isEmpty()) {
            const QPrinterInfo info = QPrinterInfo::defaultPrinter();
            if (info.isNull()) {
                throw PrinterError(QStringLiteral("Nessuna stampante predefinita."), PrinterError::NoDefaultPrinter);
            }
            m_printer = std::make_unique<QPrinter>(info, QPrinter::HighResolution);
        } else {
            m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
            m_printer->setOutputFormat(QPrinter::PdfFormat);
            m_printer->setOutputFileName(m_pdfPath);
            m_printer->setPageSize(QPageSize(QPageSize::A4));
            m_printer->setPageMargins(
                QMarginsF(kPdfMarginMillimetres, kPdfMarginMillimetres, kPdfMarginMillimetres, kPdfMarginMillimetres),
                QPageLayout::Millimeter);
        }
        if (!m_printer->isValid()) {
            throw PrinterError(QStringLiteral("La stampante \"%1\" non è disponibile.").arg(m_printer->printerName()));
        }
        m_printer->setDocName(AppInfo::title());
        m_printer->setFullPage(false);
        updateScale();
    }

    void setOrientation(int value) override
    {
        requirePrinter();
        m_printer->setPageOrientation(value == Landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
        updateScale();
    }

    void setFontName(const QString& name) override
    {
        m_font.setFamily(name);
        fontChanged();
    }

    void setFontSize(double points) override
    {
        if (points <= 0) {
            throw PrinterError(QStringLiteral("Dimensione del carattere non valida: %1.").arg(points));
        }
        m_font.setPointSizeF(points);
        fontChanged();
    }

    void setFontBold(bool bold) override
    {
        if (m_font.bold() != bold) {
            m_font.setBold(bold);
            fontChanged();
        }
    }

    void setScale(double width, double height) override
    {
        if (width <= 0 || height <= 0) {
            throw PrinterError(QStringLiteral("Scala di stampa non valida."));
        }
        m_scaleWidth = width;
        m_scaleHeight = height;
        updateScale();
    }

    double currentX() const override { return m_x; }
    double currentY() const override { return m_y; }
    void setCurrentX(double x) override { m_x = x; }
    void setCurrentY(double y) override { m_y = y; }

    double textWidth(const QString& text) override { return metrics().horizontalAdvance(text) / m_pixelsPerUnitX; }
    double textHeight(const QString&) override { return metrics().height() / m_pixelsPerUnitY; }

    void print(const QString& text) override
    {
        const QFontMetricsF& fm = metrics();
        if (!text.isEmpty()) {
            if (m_fontIndex < 0) {
                m_fonts.push_back(m_font);
                m_fontIndex = int(m_fonts.size()) - 1;
            }
            m_ops.push_back(Op {Op::Text,
                                QPointF(m_x * m_pixelsPerUnitX, m_y * m_pixelsPerUnitY + fm.ascent()),
                                QPointF(),
                                text,
                                m_fontIndex});
        }
        m_x = 0;
        m_y += fm.height() / m_pixelsPerUnitY;
    }

    void line(double x1, double y1, double x2, double y2) override
    {
        requirePrinter();
        m_ops.push_back(Op {Op::Line,
                            QPointF(x1 * m_pixelsPerUnitX, y1 * m_pixelsPerUnitY),
                            QPointF(x2 * m_pixelsPerUnitX, y2 * m_pixelsPerUnitY),
                            QString(),
                            -1});
    }

    void newPage() override
    {
        requirePrinter();
        m_ops.push_back(Op {Op::NewPage, QPointF(), QPointF(), QString(), -1});
        m_x = 0;
        m_y = 0;
    }

    void endDoc() override
    {
        requirePrinter();
        m_painter = std::make_unique<QPainter>();
        if (!m_painter->begin(m_printer.get())) {
            throw PrinterError(m_pdfPath.isEmpty()
                                   ? QStringLiteral("Impossibile avviare la stampa sulla stampante \"%1\".")
                                         .arg(m_printer->printerName())
                                   : QStringLiteral("Impossibile scrivere il file PDF \"%1\".").arg(m_pdfPath));
        }
        // One device pixel whatever the resolution: the default pen is one unit of a 1200 dpi page, a faint hairline
        // in a viewer.
        QPen rulePen(Qt::black, 0);
        rulePen.setCosmetic(true);
        int currentFont = -1;
        for (const Op& op : m_ops) {
            switch (op.kind) {
            case Op::Text:
                if (op.font != currentFont) {
                    m_painter->setFont(m_fonts[size_t(op.font)]);
                    currentFont = op.font;
                }
                m_painter->drawText(op.p1, op.text);
                break;
            case Op::Line:
                m_painter->setPen(rulePen);
                m_painter->drawLine(op.p1, op.p2);
                break;
            case Op::NewPage:
                if (!m_printer->newPage()) {
                    throw PrinterError(QStringLiteral("La stampante non ha accettato una nuova pagina."));
                }
                break;
            }
        }
        m_ops.clear();
        const bool ended = m_painter->end();
        m_painter.reset();
        if (!ended || m_printer->printerState() == QPrinter::Error) {
            throw PrinterError(QStringLiteral("La stampa non è stata completata."));
        }
        // The PDF writer does not report a failed write (a full disk): a file without its end marker is cut short.
        if (!m_pdfPath.isEmpty() && !endsWithPdfTrailer(m_pdfPath)) {
            QFile::remove(m_pdfPath);
            throw PrinterError(
                QStringLiteral("Impossibile scrivere per intero il file PDF \"%1\": il disco potrebbe essere pieno.")
                    .arg(m_pdfPath));
        }
    }

    void killDoc() override
    {
        m_ops.clear();
        if (m_painter && m_painter->isActive()) {
            m_printer->abort();
            m_painter->end();
            if (!m_pdfPath.isEmpty()) {
                QFile::remove(m_pdfPath); // a half-written PDF is worse than none
            }
        }
        m_painter.reset();
    }

private:
    struct Op
    {
        enum Kind { Text, Line, NewPage } kind;
        QPointF p1;
        QPointF p2;
        QString text;
        int font;
    };

    void requirePrinter() const
    {
        if (!m_printer) {
            throw PrinterError(QStringLiteral("Nessuna stampante in uso."));
        }
    }

    void updateScale()
    {
        const QRectF area = m_printer->pageRect(QPrinter::DevicePixel);
        m_pixelsPerUnitX = area.width() / m_scaleWidth;
        m_pixelsPerUnitY = area.height() / m_scaleHeight;
        if (!(m_pixelsPerUnitX > 0) || !(m_pixelsPerUnitY > 0)) {
            throw PrinterError(QStringLiteral("La pagina della stampante non ha un'area stampabile."));
        }
    }

    void fontChanged()
    {
        m_metrics.reset();
        m_fontIndex = -1;
    }

    const QFontMetricsF& metrics()
    {
        requirePrinter();
        if (!m_metrics) {
            m_metrics.emplace(m_font, m_printer.get());
        }
        return *m_metrics;
    }

    QString m_pdfPath;
    std::unique_ptr<QPrinter> m_printer;
    std::unique_ptr<QPainter> m_painter;
    QFont m_font;
    std::optional<QFontMetricsF> m_metrics;
    std::vector<QFont> m_fonts;
    int m_fontIndex = -1;
    double m_scaleWidth = 0;
    double m_scaleHeight = 0;
    double m_pixelsPerUnitX = 1;
    double m_pixelsPerUnitY = 1;
    double m_x = 0;
    double m_y = 0;
    std::vector<Op> m_ops;
};

PrinterFactory g_printerFactory;
PdfPrinterFactory g_pdfPrinterFactory;

} // namespace

std::unique_ptr<PrinterDevice> createDefaultPrinterDevice()
{
    return std::make_unique<QtPrinterDevice>(QString());
}

std::unique_ptr<PrinterDevice> createPdfPrinterDevice(const QString& filePath)
{
    return std::make_unique<QtPrinterDevice>(filePath);
}

std::unique_ptr<PrinterDevice> makePrinterDevice()
{
    return g_printerFactory ? g_printerFactory() : createDefaultPrinterDevice();
}

std::unique_ptr<PrinterDevice> makePdfPrinterDevice(const QString& filePath)
{
    return g_pdfPrinterFactory ? g_pdfPrinterFactory(filePath) : createPdfPrinterDevice(filePath);
}

void setPrinterFactory(PrinterFactory factory)
{
    g_printerFactory = std::move(factory);
}

void setPdfPrinterFactory(PdfPrinterFactory factory)
{
    g_pdfPrinterFactory = std::move(factory);
}
