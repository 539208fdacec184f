#pragma once

#include "data/Statements.h"
#include "exchange/VCard.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

// Cards as the sync sends them: a new card for a contact, and a card edited in place so that what the program does
// not keep (mail, photo, notes, birthdays) stays on the server as the phone wrote it.

// A vCard 3.0 card of the fields with the given UID.
QByteArray newCard(const ContactFields& fields, const QString& uid);

// The card the program reads (see fieldsOfCard) with the name, the address and the two numbers the program reads from
// it changed to the fields, where they stand; every other line is kept byte for byte, and what lies outside the card
// is left out (a card on the server holds one contact). Reading the result gives the fields back.
QByteArray editedCard(const QByteArray& card, const ContactFields& fields);
// The card with the fields that differ between before and after applied, every other field left as the card reads
// it. Cleared, a number lets the card read its next line of the same kind: an editor given the whole record again
// would take that line too.
QByteArray editedCard(const QByteArray& card, const ContactFields& before, const ContactFields& after);

// The card as an export writes it: the fields applied as editedCard() applies them, the UID line the given uid
// (added when missing), and whatever is not vCard 3.0 converted to it (VERSION, quoted-printable and character
// sets, bare 2.1 types, N and FN added when missing), every property kept. An empty card becomes newCard(fields, uid).
QByteArray exportedCard(const QByteArray& card, const ContactFields& fields, const QString& uid);

// Whether the export copies a card as it is can be told once, when the card is stored, instead of at every export:
// for a card it would copy for a contact with these fields (as the book holds them) and this uid, the contact's
// storedContactDigest(); empty for any other card. A card written in step with the fields (inStep) agrees with them
// whatever it reads: its digest is kept, marked as copied or, for a card not in vCard 3.0 form, converted only.
QByteArray
exportAgreement(const QByteArray& card, const ContactFields& fields, const QString& uid, bool inStep = false);

// A digest of a contact as the book holds it, its seven fields and its UID: equal digests, the same texts. Cheap
// enough to take for every contact of an export.
QByteArray storedContactDigest(const ContactFields& fields, const QString& uid);

// exportedCard() for a card stored with its exportAgreement(): while the contact is the one it was made for, the card
// is copied without being read, otherwise it is read and edited as above. An empty agreement says nothing.
QByteArray
exportedCard(const QByteArray& card, const ContactFields& fields, const QString& uid, const QByteArray& agreement);

// When the card is one whole vCard 3.0 card in UTF-8 that an export writes as it is (parameters in 3.0 form, its UID
// the given one unless that is empty, nothing after END), the lines the fields and the details are read from, with
// their folds; nothing otherwise. Reading these few lines is reading the card, for a fraction of the work.
std::optional<QByteArray> plainCardCore(const QByteArray& card, const QString& uid);

// The seven fields of the first contact in a card, read as the import reads a file and with the import rules
// applied; false when the card holds none.
bool fieldsOfCard(const QByteArray& card, ContactFields& fields);

// A digest of the seven fields: equal digests, equal contacts.
QString fieldsDigest(const ContactFields& fields);

// What becomes of one line of a card being edited: kept byte for byte, replaced by a content line, or dropped.
struct CardLineEdit
{
    enum Kind { Keep, Replace, Drop } kind = Keep;
    QString line; // the content line written in place of the old one
};

// The card the program reads the contact from: the first whole one with a contact, or else the first whole one, or
// else the first; nullptr when there is none.
const ReadCard* cardToEdit(const QList<ReadCard>& cards);

// The line with a new value (escaped as it is to stand): its group, name and parameters as they were, but for the
// encoding and character set of the old value (the new one is plain UTF-8) and the parameters named in stale.
QString rewrittenLine(const ReadCard& card, const VCardLine& line, const QString& value, const QStringList& stale = {});

// Tells, for the card the program reads, what becomes of each of its lines (one edit per line) and which lines are
// added before its END.
using LineEditor = std::function<QList<CardLineEdit>(const ReadCard& card, QStringList& added)>;

// The card the program reads with the editor's edits made, every line kept copied byte for byte and the line ends of
// the card kept; empty when the bytes hold no card.
QByteArray withLineEdits(const QByteArray& card, const LineEditor& editor);
