#pragma once

#include "exchange/ExchangeTypes.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QPair>
#include <QStringList>

#include <optional>

// vCard 3.0 out (UTF-8, CRLF, folded at 75 octets), vCard 2.1, 3.0 and 4.0 in, as phones and mail programs write
// them.

// The cards of the contacts, in their order. Progress is told every thousand contacts and may stop the work, which
// then returns an empty array.
QByteArray writeVCards(const QList<ExportContact>& contacts, const Progress& progress = {});
// One card, appended to out: the contact's card as exportedCard() writes it.
void appendVCard(QByteArray& out, const ExportContact& contact);
// One card of the fields with the given UID, or with none when it is empty.
void appendVCard(QByteArray& out, const ContactFields& fields, const QString& uid);
// Appends one content line, ended and folded with lineEnd so that no physical line passes 75 octets and no UTF-8
// sequence is cut.
void appendVCardLine(QByteArray& out, const QByteArray& bytes, QByteArrayView lineEnd = "\r\n");
// The part of a content line before its value (name, then parameters), split on ';' outside quotes.
QStringList vCardHead(const QString& line);
// Splits a value on a separator that is not escaped with a backslash; the parts keep their escapes.
QStringList splitUnescaped(const QString& text, QChar separator);
// A text value as it is written: "\\", "," and ";" escaped, every line break as "\\n".
QString vCardEscaped(const QString& value);
// A text value as it reads: "\\n" and "\\N" are line breaks, "\\," "\\;" "\\:" and "\\\\" the characters.
QString vCardUnescaped(const QString& value);

// The text of vCard bytes, decoded as decodeText() does once every fold that cuts a UTF-8 sequence in two is moved
// past the whole character (the unfolded value is the same either way). utf8, when given, tells whether the bytes were
// read as UTF-8, so that each line of the text is the same line of the bytes.
QString vCardText(const QByteArray& bytes, bool* utf8 = nullptr);
// The physical lines of the bytes, each with its line end, split where the reader splits them (CRLF, LF, CR): the
// n-th is the line the reader numbers n.
QList<QByteArrayView> vCardPhysicalLines(const QByteArray& bytes);

// What the reader may take a content line for.
enum class VCardRole { None, Name, DisplayName, Address, Mobile, Phone };

// One content line as the reader sees it.
struct VCardLine
{
    int line = 0; // its first physical line, from 1
    int lineCount = 1; // the physical lines it spans: folds and quoted-printable soft breaks
    QString text; // unfolded
    QString group; // "item1" of "item1.TEL", as written
    QString name; // upper case, without the group; empty for a line that is no property
    QList<QPair<QString, QString>> params; // name upper case ("" for a bare 2.1 value), value without quotes
    QStringList types; // lower case, from every spelling of TYPE
    QString value; // as written, escapes kept
    std::optional<QString> decoded; // quoted-printable and its CHARSET undone; nothing for binary data
    VCardRole role = VCardRole::None;
};

// True when the line is not in vCard 3.0 form: a bare 2.1 parameter, a character set, a transfer encoding but "b".
// A 2.1 card's commas are text, escaped in 3.0.
bool needsVCard30Form(const VCardLine& line, bool version21);
// The line in vCard 3.0 form: quoted-printable and character sets undone (the value in UTF-8, line breaks as "\\n"),
// bare 2.1 types gathered in TYPE, base64 as ENCODING=b; group, name and every other parameter as written.
QString vCard30Form(const VCardLine& line, bool version21);
QString vCard30Form(const QString& contentLine);

// One card from BEGIN to END, and the lines the reader took the fields from (indexes into lines, -1 for none).
struct ReadCard
{
    QList<VCardLine> lines; // BEGIN:VCARD first, END:VCARD last when the card ended
    bool ended = false;
    QString version;
    ContactFields fields; // as the card gives them, the names taken from FN when N gives none
    qsizetype address = -1;
    qsizetype mobile = -1;
    qsizetype phone = -1;
    QString uid;
    bool details = false; // the card holds more than the seven fields
    qsizetype textStart = 0; // where the card stands in the text it was read from, BEGIN to past END's line end
    qsizetype textEnd = 0;
};

// Every card in the text, in order, whole or cut short.
QList<ReadCard> readVCardCards(const QString& text);

// True when the text holds at least one card.
bool holdsVCards(const QString& text);
// The fields of the first whole card with a contact, the import rules applied, as readVCards() reads it.
std::optional<ContactFields> firstVCardFields(const QString& text);
// The contacts of every card in the text, fields as the cards give them (the import rules are not applied yet).
// A card without END:VCARD, or one with nothing the program keeps, is unreadable.
ReadResult readVCards(const QString& text);
// readVCards() one contact at a time: contact() gets each with where its card starts in the text, until it returns
// false (and then so does this). The lines of unreadable cards are appended.
bool forEachVCardContact(const QString& text,
                         const std::function<bool(const ReadContact&, qsizetype)>& contact,
                         QList<int>& unreadable);
