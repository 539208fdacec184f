#pragma once

#include <QList>
#include <QString>

// One word of a printed PDF, placed on the 100 x 100 grid over the printable area of its page.
struct PdfWord
{
    int page = 0; // from 1
    QString text;
    double left = 0;
    double top = 0;
    double bottom = 0;
};

// Every word of a PDF written by the PDF printer device, read back with pdftotext -bbox; *pages gets the page count.
// Nothing when pdftotext is missing or fails.
QList<PdfWord> readPdfWords(const QString& pdf, int* pages);
