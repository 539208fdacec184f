#include "support/PdfWords.h"

#include "print/PrinterDevice.h"

#include <QProcess>
#include <QRegularExpression>

QList<PdfWord> readPdfWords(const QString& pdf, int* pages)
{
    *pages = 0;
    QProcess run;
    run.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, QStringLiteral("-")});
    if (!run.waitForFinished(120000) || run.exitCode() != 0) {
        return {};
    }
    const QString html = QString::fromUtf8(run.readAllStandardOutput());
    static const QRegularExpression pageRe(QStringLiteral(R"re(<page width="([\d.]+)" height="([\d.]+)">)re"));
    static const QRegularExpression wordRe(
        QStringLiteral(R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="[\d.]+" yMax="([\d.]+)">([^<]*)</word>)re"));
    const double margin = kPdfMarginMillimetres * 72.0 / 25.4;
    QList<PdfWord> words;
    double width = 1;
    double height = 1;
    qsizetype at = 0;
    for (;;) {
        const auto page = pageRe.match(html, at);
        const qsizetype end = page.hasMatch() ? page.capturedStart() : html.size();
        for (auto it = wordRe.globalMatch(html, at); *pages > 0 && it.hasNext();) {
            const auto m = it.next();
            if (m.capturedStart() >= end) {
                break;
            }
            words.append({*pages,
                          m.captured(4),
                          (m.captured(1).toDouble() - margin) * 100 / width,
                          (m.captured(2).toDouble() - margin) * 100 / height,
                          (m.captured(3).toDouble() - margin) * 100 / height});
        }
        if (!page.hasMatch()) {
            break;
        }
        ++*pages;
        width = page.captured(1).toDouble() - 2 * margin;
        height = page.captured(2).toDouble() - 2 * margin;
        at = page.capturedEnd();
    }
    return words;
}
