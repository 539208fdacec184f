#pragma once

#include "data/Statements.h"

#include <QString>

// The rules every imported contact goes through, whatever file it came from.

// A telephone number as a user would type it: digits only for an Italian number (a leading "+39" or "0039" is
// dropped), any other international number kept with its "+"; spaces, dashes, dots, slashes and brackets go, and so
// does a "tel:" in front.
QString normalizePhone(const QString& text);

// A number in the form people write it, for files other programs read: an Italian number with a space after its
// area code or mobile prefix ("06 5550101", "0471 555010", "333 1234567"), any other with its "+" ("+442079460958").
// Text that is not a number (letters, "int. 5") is given back as it is.
QString writtenPhone(const QString& number);
// The same with "+39 " in front of an Italian number, so that a phone abroad dials it.
QString internationalPhone(const QString& number);

struct PersonName
{
    QString surname; // "Cognome"
    QString given; // "Nome"
};
// The names in a display name: "Rossi, Mario" is surname first; otherwise the last word, with the particles before it
// ("De Santis"), is the surname and the words before it the given name. One word is a surname.
PersonName namesFromDisplayName(const QString& displayName);

// Fields trimmed, line breaks inside a field joined with ", ", and both numbers normalised: the form a contact is
// stored and compared in.
ContactFields importedFields(const ContactFields& fields);
bool isEmpty(const ContactFields& fields);

// Equal for two contacts exactly when all seven fields are equal.
QString duplicateKey(const ContactFields& fields);
