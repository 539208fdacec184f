#pragma once

#include <QByteArray>
#include <QString>

// What the sync needs to know of a card beyond its seven fields.

// The UID of the card's first contact, empty when it has none.
QString cardUid(const QByteArray& card);

// The card with its UID set to uid: the UID line replaced, or one added after VERSION when it has none. Every other
// line is kept byte for byte.
QByteArray cardWithUid(const QByteArray& card, const QString& uid);

// A digest of what the card holds beyond the seven fields (mail, notes, other numbers, unknown lines): equal
// digests, the same details, whatever the seven fields say. Empty for an empty card.
QString cardDigest(const QByteArray& card);
// A digest of the card's bytes, quick to take: equal bytes, equal details.
QString cardHash(const QByteArray& card);
