#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <stdexcept>

// A failure of the printer, carrying the Italian description the user is shown.
class PrinterError : public std::runtime_error
{
public:
    enum Kind { Failure, NoDefaultPrinter };

    explicit PrinterError(const QString& description, Kind kind = Failure)
        : std::runtime_error(description.toStdString())
        , m_description(description)
        , m_kind(kind)
    {
    }

    const QString& description() const { return m_description; }
    Kind kind() const { return m_kind; }

private:
    QString m_description;
    Kind m_kind;
};

// The printer as the list printing routine sees it: one document on one printer, drawn in user units with a
// current position, the way the original platform's Printer object worked. Every operation may throw PrinterError.
class PrinterDevice
{
public:
    enum Orientation { Portrait = 1, Landscape = 2 };

    virtual ~PrinterDevice() = default;

    // Takes hold of the printer (the default one, or a file); throws NoDefaultPrinter when there is none.
    virtual void obtain() = 0;
    virtual void setOrientation(int value) = 0;
    virtual void setFontName(const QString& name) = 0;
    virtual void setFontSize(double points) = 0;
    virtual void setFontBold(bool bold) = 0;
    // Maps the printable area of every page onto width x height units.
    virtual void setScale(double width, double height) = 0;

    virtual double currentX() const = 0;
    virtual double currentY() const = 0;
    virtual void setCurrentX(double x) = 0;
    virtual void setCurrentY(double y) = 0;

    // In units, in the current font and style.
    virtual double textWidth(const QString& text) = 0;
    virtual double textHeight(const QString& text) = 0;

    // Draws text with its top-left corner at the current position, then moves to x = 0, one line of the
    // current font down. The first output opens the document.
    virtual void print(const QString& text) = 0;
    virtual void line(double x1, double y1, double x2, double y2) = 0;
    virtual void newPage() = 0;
    // Hands the document over for printing.
    virtual void endDoc() = 0;
    // Abandons the document: nothing of it comes out. Never throws.
    virtual void killDoc() = 0;
};

// Margins of the PDF output; a printer uses its own.
constexpr double kPdfMarginMillimetres = 10.0;

using PrinterFactory = std::function<std::unique_ptr<PrinterDevice>()>;
using PdfPrinterFactory = std::function<std::unique_ptr<PrinterDevice>(const QString& filePath)>;

// The system's default printer through QPrinter and QPainter.
std::unique_ptr<PrinterDevice> createDefaultPrinterDevice();
// The same drawing, written to a PDF file instead of a printer.
std::unique_ptr<PrinterDevice> createPdfPrinterDevice(const QString& filePath);

// What the print routine uses. Tests install recording or PDF devices; an empty function restores production.
std::unique_ptr<PrinterDevice> makePrinterDevice();
std::unique_ptr<PrinterDevice> makePdfPrinterDevice(const QString& filePath);
void setPrinterFactory(PrinterFactory factory);
void setPdfPrinterFactory(PdfPrinterFactory factory);
