#pragma once

#include "print/PrinterDevice.h"

#include <QList>
#include <QString>

// What a RecordingPrinter did, kept by the test so it outlives the device the print routine destroys.
struct PrinterLog
{
    struct Op
    {
        enum Kind { Obtain, Orientation, FontName, FontSize, Scale, Print, Line, NewPage, EndDoc, KillDoc };
        Op(Kind k = Print)
            : kind(k)
        {
        }
        Kind kind;
        QString text; // printed text or font name
        double x = 0; // print position, line start, or the value set
        double y = 0;
        double x2 = 0; // line end
        double y2 = 0;
        bool bold = false;
        int page = 1; // page the operation landed on
    };

    QList<Op> ops;
    QList<QString> devicePaths; // the file each device was made for (empty for the printer)

    // Failures to inject: the device throws when the given operation happens for the given time.
    bool noDefaultPrinter = false;
    Op::Kind failKind = Op::Obtain;
    int failOccurrence = 0; // 0: never
    QString failDescription = QStringLiteral("Errore di stampa simulato.");
    // Line height per point of font size; a real PDF device at Arial 10 gives about 0.207.
    double lineHeightPerPoint = 0.18;

    void clear()
    {
        ops.clear();
        devicePaths.clear();
    }
    QList<Op> prints() const;
    QList<Op> prints(int page) const;
    QList<Op> lines() const;
    QStringList printedTexts() const;
    int count(Op::Kind kind) const;
    int pageCount() const { return count(Op::NewPage) + 1; }
    bool ended() const { return count(Op::EndDoc) == 1 && count(Op::KillDoc) == 0; }
    bool cancelled() const { return count(Op::KillDoc) > 0 && count(Op::EndDoc) == 0; }
};

// A printer with exact, predictable metrics: every character is 0.05 units wide per point of font size (10 % more
// in bold) and a line is 0.18 units high per point, so at size 10 an "A" is 0.5 wide and a line 1.8 high.
class RecordingPrinter : public PrinterDevice
{
public:
    static constexpr double kCharWidthPerPoint = 0.05;
    static constexpr double kBoldFactor = 1.1;
    static constexpr double kLineHeightPerPoint = 0.18; // unless the log sets another

    explicit RecordingPrinter(PrinterLog& log, const QString& path = QString());

    void obtain() override;
    void setOrientation(int value) override;
    void setFontName(const QString& name) override;
    void setFontSize(double points) override;
    void setFontBold(bool bold) override;
    void setScale(double width, double height) override;
    double currentX() const override { return m_x; }
    double currentY() const override { return m_y; }
    void setCurrentX(double x) override { m_x = x; }
    void setCurrentY(double y) override { m_y = y; }
    double textWidth(const QString& text) override;
    double textHeight(const QString& text) override;
    void print(const QString& text) override;
    void line(double x1, double y1, double x2, double y2) override;
    void newPage() override;
    void endDoc() override;
    void killDoc() override;

private:
    void record(PrinterLog::Op op);

    PrinterLog& m_log;
    QString m_path;
    double m_size = 0;
    bool m_bold = false;
    double m_x = 0;
    double m_y = 0;
    int m_page = 1;
    int m_failSeen = 0;
};

// Makes the print routine use recording devices (for the printer and for PDF files) while it lives.
class ScopedRecordingPrinters
{
public:
    explicit ScopedRecordingPrinters(PrinterLog& log);
    ~ScopedRecordingPrinters();
};
