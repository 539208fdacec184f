#pragma once

#include "ExchangeTypes.h"

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

// The contacts of the rows after the heading row, fields as the cells give them, each with a vCard 3.0 card of every
// column understood; nothing when no column has a heading that names a contact's name, address or number. A row
// whose quote never closes is unreadable. The headings of columns with values the import does not read are told.
std::optional<ReadResult> readCsv(const QString& text);
// The headings readCsv() understands, for the message that refuses a file.
QStringList understoodHeadings();
