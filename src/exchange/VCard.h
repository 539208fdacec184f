#pragma once

#include "ExchangeTypes.h"

#include <QByteArray>
#include <QStringList>

// vCard 3.0 out (UTF-8, CRLF, folded at 75 octets), vCard 2.1, 3.0 and 4.0 in, as phones and mail programs write
// them.

// The cards of the contacts, in their order. Progress is told every thousand contacts and may stop the work, which
// then returns an empty array.
QByteArray writeVCards(const QList<ExportContact>& contacts, const Progress& progress = {});
// One card, appended to out.
void appendVCard(QByteArray& out, const ExportContact& contact);
// Appends one content line, CRLF ended and folded so that no physical line passes 75 octets and no UTF-8 sequence
// is cut.
void appendVCardLine(QByteArray& out, const QByteArray& bytes);
// The part of a content line before its value (name, then parameters), split on ';' outside quotes.
QStringList vCardHead(const QString& line);
// Splits a value on a separator that is not escaped with a backslash; the parts keep their escapes.
QStringList splitUnescaped(const QString& text, QChar separator);
// The UID of a contact: the same for the same key, whatever else changes.
QString vCardUid(qint32 custId);

// True when the text holds at least one card.
bool holdsVCards(const QString& text);
// The contacts of every card in the text, fields as the cards give them (the import rules are not applied yet).
// A card without END:VCARD, or one with nothing the program keeps, is unreadable.
ReadResult readVCards(const QString& text);
