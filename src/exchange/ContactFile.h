#pragma once

#include "data/CustomerStore.h"
#include "exchange/ExchangeTypes.h"

// Contact files on disk: which format a name means, reading one whole for an import, writing one whole for an export.

// The largest file an import reads: far above any address book, well below what would exhaust memory.
constexpr qint64 kLargestContactFile = 100 * 1024 * 1024;

// ".vcf" and ".vcard" are vCard, ".csv" is CSV, without regard to case; anything else is Unknown.
ContactFormat formatOfPath(const QString& path);

// A file read and decoded for an import, every refusal made, its contacts not read yet: they are read one at a time,
// so that memory holds the text and one contact, never a list of them all.
struct DecodedContactFile
{
    QString path;
    ContactFormat format = ContactFormat::Unknown;
    QString text;

    // Calls contact() for each contact in file order with where it starts in the text, until it returns false (and
    // then so does this). The lines that could not be read and, of a CSV file, the unused columns are appended.
    bool forEachContact(const std::function<bool(const ReadContact&, qsizetype)>& contact,
                        QList<int>& unreadable,
                        QStringList& unusedColumns) const;
};

// Reads and decodes a file by its extension, or by its content when the extension says nothing, and checks it whole.
// Throws ado::Error, naming the file, when it cannot be read, is too large, is no regular file, holds no cards, or
// (as CSV) has no heading the program understands or a row of too many cells.
DecodedContactFile openContactFile(const QString& path);

struct FileReading
{
    QString path;
    ContactFormat format = ContactFormat::Unknown;
    ReadResult result;
};

// openContactFile(), then every contact read into one list: for a look at a file, not for an import.
FileReading readContactFile(const QString& path);

// Writes the contacts to path in the format of its extension, whole or not at all: a failure or a stop leaves any
// file already there as it was. Returns false when progress stopped the work; throws ado::Error on failure.
bool writeContactFile(const QString& path, const QList<ExportContact>& contacts, const Progress& progress = {});

// Every contact in the store, in the order the list first shows them, each with its card and UID (read in one query,
// beside the list's).
QList<ExportContact> storedContacts(CustomerStore& store);

// "Esportati 42 contatti in rubrica.vcf."
QString exportSummary(qsizetype count, const QString& path);
