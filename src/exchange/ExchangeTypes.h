#pragma once

#include "Statements.h"

#include <QList>
#include <QString>

#include <functional>

// What the vCard and CSV readers and writers pass around: the seven fields of a contact as the program stores them
// (ContactFields: FirstName is the surname, LastName the given name, State the province, Zip the mobile number).

enum class ContactFormat { Unknown, VCard, Csv };

// A contact read from a file, with the line its card or row starts on (from 1).
struct ReadContact
{
    ContactFields fields;
    int line = 0;
};

// What one file gave: the contacts in file order and the lines of the cards or rows that could not be read.
struct ReadResult
{
    QList<ReadContact> contacts;
    QList<int> unreadableLines;
};

// A contact to write, with the key that keeps its vCard UID the same from one export to the next.
struct ExportContact
{
    ContactFields fields;
    qint32 custId = 0;
};

// Told how far a long piece of work has got; returns false to stop it.
using Progress = std::function<bool(qint64 done, qint64 total)>;
