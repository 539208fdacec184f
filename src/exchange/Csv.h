#pragma once

#include "exchange/ExchangeTypes.h"

#include <QByteArray>
#include <QStringList>

#include <optional>

// CSV as spreadsheets open it: out with a byte-order mark, ";" between cells and quotes by RFC 4180; in with ";",
// "," or tab, and columns found by their heading, ours or the usual English ones of mail programs and phones.

// The headings of the list, the first row of an exported file.
QStringList csvHeadings();
// The headings written after those of the list: what the contact's card carries beside the seven fields.
QStringList csvDetailHeadings();
// The file: heading row and one row per contact, CRLF line ends. Progress as for writeVCards().
QByteArray writeCsv(const QList<ExportContact>& contacts, const Progress& progress = {});

// More cells in one row than any address book has columns: such a file is refused rather than read into memory.
constexpr int kMostCsvColumns = 1000;
struct CsvTooWide
{
    int line; // of the row with too many cells
};

// The contacts of the rows after the heading row, fields as the cells give them, each with a vCard 3.0 card of every
// column understood; nothing when no column has a heading that names a contact's name, address or number. A row
// whose quote never closes is unreadable. The headings of columns with values the import does not read are told.
// Throws CsvTooWide for a row of more than kMostCsvColumns cells.
std::optional<ReadResult> readCsv(const QString& text);
// What readCsv() refuses, found without reading a contact: false when no column names a contact, CsvTooWide thrown
// for a row too wide.
bool checkCsv(const QString& text);
// readCsv() one contact at a time, for a text checkCsv() accepted: contact() gets each with where its row starts in
// the text, until it returns false (and then so does this). The unreadable lines and unused columns are appended.
bool forEachCsvContact(const QString& text,
                       const std::function<bool(const ReadContact&, qsizetype)>& contact,
                       QList<int>& unreadable,
                       QStringList& unused);
// The headings readCsv() understands, for the message that refuses a file.
QStringList understoodHeadings();
