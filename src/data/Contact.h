#pragma once

#include <QString>
#include <QVariant>

// The telephone number's two forms: the stored digits (column PhoneNumber) and the phone text of the list,
// "(" area ") " prefix "-" line. The 3+3+4 shape and the empty number round-trip exactly; every other shape is
// shown so that splitting it back and saving it gives the same stored digits.

struct PhoneFields
{
    QString area;
    QString prefix;
    QString line;
};

// area + prefix + line.
QString JoinPhoneFields(const QString& area, const QString& prefix, const QString& line);
// Phone text of the three fields; empty when area is empty and nothing else would be lost.
QString FormatPhoneFields(const QString& area, const QString& prefix, const QString& line);
// Phone text of stored digits; a null value counts as empty.
QString FormatStoredPhone(const QVariant& storedDigits);
QString FormatStoredPhone(const QString& storedDigits);
// Phone text for reading only, as on a printed report: laid out like the list, but without the marker the list
// needs to split a text back into the fields.
QString ReadablePhone(const QVariant& storedDigits);
// The three fields of a phone text.
PhoneFields SplitPhoneText(const QString& phoneText);

// Text of a column value: null becomes the empty text.
QString textOf(const QVariant& value);
