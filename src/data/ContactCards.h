#pragma once

#include "CustomerStore.h"

#include <QByteArray>
#include <QHash>
#include <QString>

// Each contact's whole card, beside Customer in table CustomerCard (CustID, Uid, Card): the vCard as it came (import,
// sync) or as the program made it, and the contact's own random UID. Customer keeps its designed columns; its seven
// fields stay the truth for what they show, the card keeps everything else. A trigger deletes the card of a deleted
// contact, whichever program deletes it.

struct ContactCard
{
    QString uid; // empty: the contact has no row here
    QByteArray card; // empty: no card kept yet; one is made from the seven fields when needed
    bool isNull() const { return uid.isEmpty(); }
};

namespace ContactCards {

// Creates the table and its trigger where they are missing, and gives each contact without a row its own UID, in
// one transaction (or in the one open). A book that cannot be written is left as it is.
void prepare(CustomerStore& store);

// The row of one contact; a null card when it has none.
ContactCard load(CustomerStore& store, qint32 custId);
// Every row, by key.
QHash<qint32, ContactCard> loadAll(CustomerStore& store);
// Writes the contact's row, replacing the one it had.
void save(CustomerStore& store, qint32 custId, const ContactCard& card);
void remove(CustomerStore& store, qint32 custId);

// A new random UID ("urn:uuid:" left out, as phones write it).
QString newUid();

} // namespace ContactCards
