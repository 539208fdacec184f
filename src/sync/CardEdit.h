#pragma once

#include "Statements.h"

#include <QByteArray>
#include <QString>

// Cards as the sync sends them: a new card for a contact, and a card edited in place so that what the program does
// not keep (mail, photo, notes, birthdays) stays on the server as the phone wrote it.

// A vCard 3.0 card of the fields with the given UID.
QByteArray newCard(const ContactFields& fields, const QString& uid);

// The card with the name, the address and the two numbers the program reads replaced by the fields; every other
// line is kept as it was. Reading the result gives the fields back.
QByteArray editedCard(const QByteArray& card, const ContactFields& fields);

// The seven fields of the first contact in a card, the import rules applied; false when the card holds none.
bool fieldsOfCard(const QByteArray& card, ContactFields& fields);

// A digest of the seven fields: equal digests, equal contacts.
QString fieldsDigest(const ContactFields& fields);
