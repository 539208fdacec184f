#pragma once

#include "data/Statements.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <utility>

// What the vCard and CSV readers and writers pass around: the seven fields of a contact as the program stores them
// (ContactFields: FirstName is the surname, LastName the given name, State the province, Zip the mobile number).

enum class ContactFormat { Unknown, VCard, Csv };

// A contact read from a file, with the line its card or row starts on (from 1). card is the whole vCard it came as
// (for a CSV row, a card made of every column understood), uid the card's UID (empty when it has none).
struct ReadContact
{
    ContactFields fields;
    int line = 0;
    QByteArray card;
    QString uid;
    bool details = false; // the card carries more than the seven fields (e-mail, photo, notes, other numbers...)
};

// What one file gave: the contacts in file order and the lines of the cards or rows that could not be read.
struct ReadResult
{
    QList<ReadContact> contacts;
    QList<int> unreadableLines;
    QStringList unusedColumns; // of a CSV file: headings of the columns with values the import does not read
};

// A contact to write: the seven fields, which are the truth for what they show, and the contact's whole card and
// UID as stored beside it (the card may be empty for a contact that has none yet).
struct ExportContact
{
    ExportContact() = default;
    ExportContact(
        ContactFields fields, qint32 custId = 0, QByteArray card = {}, QString uid = {}, QByteArray agreement = {})
        : fields(std::move(fields))
        , custId(custId)
        , card(std::move(card))
        , uid(std::move(uid))
        , agreement(std::move(agreement))
    {
    }

    ContactFields fields;
    qint32 custId = 0;
    QByteArray card;
    QString uid;
    QByteArray agreement; // the card's export agreement as stored beside it; empty: the card is read
};

// Told how far a long piece of work has got; returns false to stop it.
using Progress = std::function<bool(qint64 done, qint64 total)>;
