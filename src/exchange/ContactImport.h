#pragma once

#include "exchange/ContactFile.h"

// An import into Cust.mdb: the contacts of one or more files, added in one transaction with the main window's insert
// statement and key rule, every duplicate skipped. Each added contact keeps its whole card and its card's UID (a new
// one when the card has none or another contact holds it), stored beside it in the same transaction.

struct FileOutcome
{
    QString path;
    ContactFormat format = ContactFormat::Unknown;
    int added = 0;
    int duplicates = 0;
    int withDetails = 0; // of those added, the ones whose card carries more than the seven fields
    QList<int> unreadableLines;
    QStringList unusedColumns;
};

struct ImportOutcome
{
    QList<FileOutcome> files;
    QList<qint32> addedKeys; // in the order they were added
    bool cancelled = false;

    // "Importati 42 contatti da rubrica.vcf; 3 già presenti; 1 scheda non leggibile (riga 118)." One sentence per
    // file.
    QString summary() const;
};

// Adds the contacts of the files, the import rules applied, skipping every one whose seven fields equal those of a
// contact already stored or added just before. Lands whole or not at all: on a failure the transaction is rolled
// back and ado::Error thrown; when progress stops the work it is rolled back and the outcome says cancelled.
// The contacts are read from each file's text one at a time, checked and added as they come. Progress goes by the
// share of the files' text read.
ImportOutcome
importContacts(CustomerStore& store, const QList<DecodedContactFile>& files, const Progress& progress = {});
// The same for contacts already read into lists; progress goes by contacts.
ImportOutcome importContacts(CustomerStore& store, const QList<FileReading>& files, const Progress& progress = {});
