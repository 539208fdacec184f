#pragma once

#include "CustomerStore.h"
#include "ExchangeTypes.h"

// Contact files on disk: which format a name means, reading one whole for an import, writing one whole for an export.

// The largest file an import reads: far above any address book, well below what would exhaust memory.
constexpr qint64 kLargestContactFile = 100 * 1024 * 1024;

// ".vcf" and ".vcard" are vCard, ".csv" is CSV, without regard to case; anything else is Unknown.
ContactFormat formatOfPath(const QString& path);

struct FileReading
{
    QString path;
    ContactFormat format = ContactFormat::Unknown;
    ReadResult result;
};

// Reads and decodes a file, then its cards or rows: by its extension, or by its content when the extension says
// nothing. Throws ado::Error, naming the file, when it cannot be read, is too large, holds no cards, or (as CSV) has
// no heading the program understands.
FileReading readContactFile(const QString& path);

// Writes the contacts to path in the format of its extension, whole or not at all: a failure or a stop leaves any
// file already there as it was. Returns false when progress stopped the work; throws ado::Error on failure.
bool writeContactFile(const QString& path, const QList<ExportContact>& contacts, const Progress& progress = {});

// Every contact in the store, in the order the list first shows them, each with its card and UID (read in one query,
// beside the list's).
QList<ExportContact> storedContacts(CustomerStore& store);

// "Esportati 42 contatti in rubrica.vcf."
QString exportSummary(qsizetype count, const QString& path);
