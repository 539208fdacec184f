#pragma once

#include "data/Statements.h"
#include "exchange/VCard.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// What a card carries beside the seven fields, for the details dialog and the CSV export.

struct CardPhone
{
    QString type; // "cell", "home", "work", "fax", "pager", a label of the card's own, or empty
    QString number; // as the card writes it ("tel:" taken off)

    bool operator==(const CardPhone& other) const { return type == other.type && number == other.number; }
    bool operator!=(const CardPhone& other) const { return !(*this == other); }
};

struct CardDetails
{
    QStringList emails;
    QString postalCode; // of the address the program reads
    QString country; // of the same address
    QString organisation; // its units after the name, ", " between them
    QString birthday; // yyyy-MM-dd when the card gives a date, else as written
    QString note;
    QList<CardPhone> otherPhones; // every number but the two the seven fields were read from, in card order

    bool operator==(const CardDetails& other) const;
    bool operator!=(const CardDetails& other) const { return !(*this == other); }
};

// True when there is anything in the details.
bool hasDetails(const CardDetails& details);

// The details of the card the program reads from the bytes (see fieldsOfCard); none for bytes with no card.
CardDetails cardDetails(const QByteArray& card);

// The details of a card already read (see readVCardCards).
CardDetails cardDetails(const ReadCard& card);

// The card with the seven fields applied as editedCard() applies them and then the details: a line whose value
// changed is rewritten where it stands, a new value gets a line before END, a value taken away loses its line, and
// every other line stays byte for byte. An empty card becomes a new one. Reading the result gives the fields back,
// and the details too, but for a mobile or home number added among the other phones while Cellulare or Telefono is
// empty: the reader takes it for that field.
QByteArray withDetails(const QByteArray& card, const ContactFields& fields, const CardDetails& details);
