#include "sync/SyncCards.h"

#include "exchange/CardEdit.h"
#include "exchange/VCard.h"

#include <QCryptographicHash>

namespace {

const VCardLine* uidLine(const ReadCard& card)
{
    for (const VCardLine& line : card.lines) {
        if (line.name == QLatin1String("UID")) {
            return &line;
        }
    }
    return nullptr;
}

} // namespace

QString cardUid(const QByteArray& card)
{
    const QList<ReadCard> cards = readVCardCards(vCardText(card));
    const VCardLine* line = cards.isEmpty() ? nullptr : uidLine(cards.first());
    return line ? line->value.trimmed() : QString();
}

QByteArray cardWithUid(const QByteArray& card, const QString& uid)
{
    bool utf8 = false;
    const QString text = vCardText(card, &utf8);
    const QList<ReadCard> cards = readVCardCards(text);
    if (cards.isEmpty() || cards.first().lines.isEmpty()) {
        return card;
    }
    const ReadCard& read = cards.first();
    const VCardLine* old = uidLine(read);
    if (old && old->value.trimmed() == uid) {
        return card;
    }
    // Without a UID the new line goes after VERSION (or BEGIN), where phones write it.
    int after = read.lines.first().line + read.lines.first().lineCount - 1;
    for (const VCardLine& line : read.lines) {
        if (line.name == QLatin1String("VERSION")) {
            after = line.line + line.lineCount - 1;
        }
    }
    const QByteArray source = utf8 ? card : text.toUtf8();
    const QList<QByteArrayView> physical = vCardPhysicalLines(source);
    const QByteArrayView first = physical.at(read.lines.first().line - 1);
    const QByteArrayView lineEnd = first.endsWith('\n') && !first.endsWith("\r\n") ? "\n" : "\r\n";
    QByteArray out;
    for (qsizetype i = 0; i < physical.size(); ++i) {
        const int number = int(i) + 1;
        if (old && number >= old->line && number < old->line + old->lineCount) {
            if (number == old->line) {
                appendVCardLine(out, "UID:" + uid.toUtf8(), lineEnd);
            }
            continue;
        }
        out.append(physical.at(i));
        if (!old && number == after) {
            appendVCardLine(out, "UID:" + uid.toUtf8(), lineEnd);
        }
    }
    return out;
}

QString cardHash(const QByteArray& card)
{
    return QString::fromLatin1(QCryptographicHash::hash(card, QCryptographicHash::Sha256).toHex());
}

QString cardDigest(const QByteArray& card)
{
    if (card.isEmpty()) {
        return QString();
    }
    // The seven fields' lines made blank: a change to them alone (the window's) leaves the digest as it was.
    return QString::fromLatin1(
        QCryptographicHash::hash(editedCard(card, ContactFields()), QCryptographicHash::Sha256).toHex());
}
