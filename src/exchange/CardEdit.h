#pragma once

#include "Statements.h"

#include <QByteArray>
#include <QString>

// Cards as the sync sends them: a new card for a contact, and a card edited in place so that what the program does
// not keep (mail, photo, notes, birthdays) stays on the server as the phone wrote it.

// A vCard 3.0 card of the fields with the given UID.
QByteArray newCard(const ContactFields& fields, const QString& uid);

// The card the program reads (see fieldsOfCard) with the name, the address and the two numbers the program reads from
// it changed to the fields, where they stand; every other line is kept byte for byte, and what lies outside the card
// is left out (a card on the server holds one contact). Reading the result gives the fields back.
QByteArray editedCard(const QByteArray& card, const ContactFields& fields);

// The seven fields of the first contact in a card, read as the import reads a file and with the import rules
// applied; false when the card holds none.
bool fieldsOfCard(const QByteArray& card, ContactFields& fields);

// A digest of the seven fields: equal digests, equal contacts.
QString fieldsDigest(const ContactFields& fields);
