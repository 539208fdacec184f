#pragma once

#include "data/ContactCards.h"
#include "data/CustomerStore.h"
#include "data/Statements.h"
#include "exchange/CardEdit.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <string>

// Contacts that are probably one person, and their merge. Lives beside the store because a merge is a change of the
// book like "Salva" (its checks, its card editing, one transaction), and the search needs nothing but the book.
//
// A pair is proposed when a number (mobile or land line, by its digits, +39 or 0039 aside) or an e-mail of the cards
// ties the two, or when they have the same surname and given name (in either order, case, accents and apostrophes
// aside) and the same city, with no other designed field set differently on both sides. Contacts are grouped by the
// keys they share (sorted keys, never a loop over all pairs); a pair marked "Non sono doppioni" never joins a group.

struct DuplicateContact
{
    qint32 key = 0;
    ContactFields fields; // as stored, PhoneNumber as digits

    bool operator==(const DuplicateContact& other) const
    {
        return key == other.key && fieldsDigest(fields) == fieldsDigest(other.fields);
    }
};

struct DuplicateGroup
{
    QList<DuplicateContact> contacts; // by key
    QStringList reasons; // "stesso cellulare", "nome simile: Rosi / Rossi", ... most telling first
    int certainty = 0; // higher is more certain
};

// Everything a merge changed, to put it back.
struct MergeRecord
{
    struct Contact
    {
        qint32 key = 0;
        ContactFields fields;
        ContactCard card;
    };
    Contact kept; // the kept contact before the merge
    ContactFields keptAfter; // its fields after it
    QList<Contact> removed; // the contacts merged into it, as they were
};

namespace Duplicates {

// The groups of the book, most certain first. Reads each table once; memory stays bounded by a few small values per
// contact.
QList<DuplicateGroup> find(CustomerStore& store);

// Every pair among keys is remembered as not one person. Values bound; one transaction.
void markNotDuplicates(CustomerStore& store, const QList<qint32>& keys);

// The contact a merge keeps: the first added (lowest key), whose card other devices have known longest.
qint32 keptKey(const DuplicateGroup& group);
// For each field, the value a merge proposes: the only one set, or where several are set the latest added contact's
// (highest key): the book keeps no time of change, and a later key is a later addition.
ContactFields proposedFields(const DuplicateGroup& group);

// Merges the group into keep in one transaction: keep gets fields (the designed UPDATE, only the changed card lines
// edited) and its card gains every number, e-mail and detail of the others that it lacks; the others are deleted
// (the designed DELETE). Refused like "Salva" (ado::FileReplaced, ContactChanged, ado::Error) when any contact is
// no longer as the group shows it; nothing changes then.
MergeRecord merge(CustomerStore& store, const DuplicateGroup& group, qint32 keep, const ContactFields& fields);

// Puts back what merge() changed, in one transaction: the kept contact's fields and card, and each merged contact
// with its card and UID, under its old key while that is free (else the next free one). Refused when the kept
// contact was changed or deleted since. Returns the keys the merged contacts have again, in record order.
QList<qint32> undoMerge(CustomerStore& store, const MergeRecord& record);

// The digits of a number as compared: an Italian number keeps no +39 or 0039 in front. Empty under six digits.
std::string comparedNumber(const QString& text);

} // namespace Duplicates
