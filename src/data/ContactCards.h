#pragma once

#include "data/CustomerStore.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QSet>
#include <QString>

#include <utility>

// Each contact's whole card, beside Customer in table CustomerCard (CustID, Uid, Card, Agrees): the vCard as it came
// (import, sync) or as the program made it, and the contact's own random UID. Customer keeps its designed columns; its
// seven fields stay the truth for what they show, the card keeps everything else. Triggers give an added contact its
// row and delete a deleted contact's, whichever program adds or deletes it.

struct ContactCard
{
    ContactCard() = default;
    ContactCard(QString uid, QByteArray card = {}, QByteArray agreement = {})
        : uid(std::move(uid))
        , card(std::move(card))
        , agreement(std::move(agreement))
    {
    }

    QString uid; // empty: the contact has no row here
    QByteArray card; // empty: no card kept yet; one is made from the seven fields when needed
    // As read from the book (column Agrees): the card's exportAgreement() with the contact's row as it stood when
    // the card was saved, which save() works out itself (what is given here is not used). Empty: the export reads
    // the card.
    QByteArray agreement;
    // Given to save(): the card was just written together with the contact's seven fields as stored (a save in the
    // window, its details), so no field is applied to it again on export, even where the card reads another value
    // (a cleared number lets it read the next one of its kind).
    bool inStep = false;
    bool isNull() const { return uid.isEmpty(); }
};

namespace ContactCards {

// Creates the table and its triggers where they are missing, and gives each contact without a row its own UID, in
// one transaction (or in the one open). Once they are there every contact added, by whichever program, gets its row
// from the trigger, so this is one look at the schema. A book that cannot be written is left as it is.
void prepare(CustomerStore& store);

// The row of one contact; a null card when it has none (or the book has no cards yet).
ContactCard load(CustomerStore& store, qint32 custId);
// Every row, by key; none when the book has no cards yet.
QHash<qint32, ContactCard> loadAll(CustomerStore& store);
// Every UID the book holds.
QSet<QString> uids(CustomerStore& store);
// Writes the contact's row, replacing the one it had; a card without a UID gets a new one. The card's export
// agreement with the contact's row as Customer holds it now is stored beside it, so that an export copies a card
// that agrees with the contact without reading it: save the card after the contact's row, not before.
void save(CustomerStore& store, qint32 custId, const ContactCard& card);
// The same for many contacts, a hundred rows to a statement: an import of 10,000 cards sends 100 statements.
void saveAll(CustomerStore& store, const QList<QPair<qint32, ContactCard>>& cards);
void remove(CustomerStore& store, qint32 custId);

// A new random UID ("urn:uuid:" left out, as phones write it).
QString newUid();
// The UID of a contact that comes with wanted (an imported card's): wanted itself unless it is empty or taken (held
// by another contact of the book), else a new one. The UID given is added to taken.
QString uidFor(const QString& wanted, QSet<QString>& taken);

} // namespace ContactCards
