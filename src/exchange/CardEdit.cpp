#include "exchange/CardEdit.h"

#include "exchange/ImportRules.h"
#include "exchange/VCard.h"

#include <QCryptographicHash>
#include <QStringList>
#include <QtEndian>

#include <cstring>
#include <optional>

namespace {

using Edit = CardLineEdit;

bool isAscii(const QString& text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; });
}

bool sameText(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

const ReadCard* cardToEdit(const QList<ReadCard>& cards)
{
    for (const ReadCard& card : cards) {
        if (card.ended && !isEmpty(importedFields(card.fields))) {
            return &card;
        }
    }
    for (const ReadCard& card : cards) {
        if (card.ended) {
            return &card;
        }
    }
    return cards.isEmpty() ? nullptr : &cards.first();
}

QString rewrittenLine(const ReadCard& card, const VCardLine& line, const QString& value, const QStringList& stale)
{
    QStringList head = vCardHead(line.text);
    QStringList kept {head.takeFirst()};
    for (const QString& param : std::as_const(head)) {
        const QString name = param.section(QLatin1Char('='), 0, 0).trimmed();
        const bool quotedPrintable = sameText(param.trimmed(), QStringLiteral("QUOTED-PRINTABLE"))
            || (sameText(name, QStringLiteral("ENCODING"))
                && sameText(param.section(QLatin1Char('='), 1).trimmed(), QStringLiteral("QUOTED-PRINTABLE")));
        if (!quotedPrintable && !sameText(name, QStringLiteral("CHARSET"))
            && !stale.contains(name, Qt::CaseInsensitive)) {
            kept.append(param);
        }
    }
    // A 2.1 card is read as ASCII unless a line names its character set.
    if (card.version == QLatin1String("2.1") && !isAscii(value)) {
        kept.append(QStringLiteral("CHARSET=UTF-8"));
    }
    return kept.join(QLatin1Char(';')) + QLatin1Char(':') + value;
}

namespace {

class CardEditor
{
public:
    CardEditor(const ReadCard& card, const ContactFields& fields)
        : m_card(card)
        , m_edits(card.lines.size())
        , m_fresh(readVCardCards(QString::fromUtf8(newCard(fields, QString()))).first())
        , m_fields(fields)
    {
    }

    QList<Edit> edits(QStringList& added)
    {
        const ContactFields wanted = importedFields(m_fields);
        const ContactFields got = importedFields(m_card.fields);
        if (wanted.firstName != got.firstName || wanted.lastName != got.lastName) {
            editNames(added);
        }
        if (wanted.address != got.address || wanted.city != got.city || wanted.state != got.state) {
            editAddress(added);
        }
        if (wanted.zip != got.zip) {
            editNumber(VCardRole::Mobile, m_card.mobile, m_fields.zip, wanted.zip.isEmpty(), added);
        }
        if (wanted.phoneNumber != got.phoneNumber) {
            editNumber(VCardRole::Phone, m_card.phone, m_fields.phoneNumber, wanted.phoneNumber.isEmpty(), added);
        }
        dropLabelsOfDropped();
        return m_edits;
    }

private:
    const VCardLine* freshLine(VCardRole role) const
    {
        for (const VCardLine& line : m_fresh.lines) {
            if (line.role == role) {
                return &line;
            }
        }
        return nullptr;
    }

    QString rewritten(const VCardLine& line, const QString& value, const QStringList& stale = {}) const
    {
        return rewrittenLine(m_card, line, value, stale);
    }

    // Every N and FN gives way to the new ones, written where the first of each stood.
    void editNames(QStringList& added)
    {
        for (const VCardRole role : {VCardRole::Name, VCardRole::DisplayName}) {
            const VCardLine& fresh = *freshLine(role);
            const QString line = rewritten(fresh, fresh.value);
            bool written = false;
            for (qsizetype i = 0; i < m_card.lines.size(); ++i) {
                if (m_card.lines.at(i).role == role) {
                    m_edits[i] = written ? Edit {Edit::Drop, {}} : Edit {Edit::Replace, line};
                    written = true;
                }
            }
            if (!written) {
                added.append(line);
            }
        }
    }

    // The address the program reads is changed where it stands: post box, postal code and country stay.
    void editAddress(QStringList& added)
    {
        const VCardLine* fresh = freshLine(VCardRole::Address);
        const QStringList freshParts = fresh ? splitUnescaped(fresh->value, QLatin1Char(';')) : QStringList();
        if (m_card.address < 0) {
            if (fresh) {
                added.append(rewritten(*fresh, fresh->value));
            }
            return;
        }
        const VCardLine& old = m_card.lines.at(m_card.address);
        QStringList parts = splitUnescaped(*old.decoded, QLatin1Char(';'));
        while (parts.size() < 7) {
            parts.append(QString());
        }
        for (int i = 2; i <= 4; ++i) {
            parts[i] = freshParts.value(i);
        }
        // The reader shows the street followed by the extended part ("Via Po 1, Scala B"), or the extended part alone:
        // where the new address still ends in it, it stays where it was.
        const QString extended = vCardUnescaped(parts.at(1)).trimmed();
        const QString address = importedFields(m_fields).address;
        const QString tail = QStringLiteral(", ") + extended;
        if (!extended.isEmpty() && address == extended) {
            parts[2].clear();
        } else if (!extended.isEmpty() && address.endsWith(tail) && address.size() > tail.size()) {
            parts[2] = vCardEscaped(address.chopped(tail.size()));
        } else {
            parts[1].clear();
        }
        const bool another = std::any_of(m_card.lines.cbegin() + m_card.address + 1,
                                         m_card.lines.cend(),
                                         [](const VCardLine& line) { return line.role == VCardRole::Address; });
        if (!another && std::all_of(parts.cbegin(), parts.cend(), [](const QString& p) { return p.isEmpty(); })) {
            // Nothing is left of it; an empty one is kept only to stand before another address the reader would
            // take instead.
            m_edits[m_card.address] = {Edit::Drop, {}};
            return;
        }
        // A label and a position describe the old address.
        const QString value = parts.join(QLatin1Char(';'));
        m_edits[m_card.address]
            = {Edit::Replace, rewritten(old, value, {QStringLiteral("LABEL"), QStringLiteral("GEO")})};
    }

    // The number the program reads is changed where it stands, keeping its group, types and form (a tel: address
    // stays one). A number cleared takes only its own line: the card's other numbers were never shown to the user.
    void editNumber(VCardRole role, qsizetype taken, const QString& number, bool cleared, QStringList& added)
    {
        if (cleared) {
            if (taken >= 0) {
                m_edits[taken] = {Edit::Drop, {}};
            }
            return;
        }
        const VCardLine& fresh = *freshLine(role);
        if (taken < 0) {
            added.append(rewritten(fresh, fresh.value));
            return;
        }
        const VCardLine& old = m_card.lines.at(taken);
        bool uri = old.decoded->trimmed().startsWith(QLatin1String("tel:"), Qt::CaseInsensitive);
        for (const auto& param : old.params) {
            uri = uri || (param.first == QLatin1String("VALUE") && sameText(param.second, QStringLiteral("uri")));
        }
        m_edits[taken] = {Edit::Replace, rewritten(old, uri ? telUri(number) : fresh.value)};
    }

    // A number as a tel: address: spaces become dashes, and what an address cannot hold goes (the reader drops it
    // from a number too).
    static QString telUri(const QString& number)
    {
        QString uri = QStringLiteral("tel:");
        for (const QChar c : number.trimmed()) {
            if (c.isSpace()) {
                uri.append(QLatin1Char('-'));
            } else if ((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('+')
                       || c == QLatin1Char('-') || c == QLatin1Char('.') || c == QLatin1Char('(')
                       || c == QLatin1Char(')')) {
                uri.append(c);
            }
        }
        return uri;
    }

    // A grouped line dropped takes with it the labels of its group ("item1.X-ABLabel").
    void dropLabelsOfDropped()
    {
        QStringList groups;
        for (qsizetype i = 0; i < m_card.lines.size(); ++i) {
            if (m_edits.at(i).kind == Edit::Drop && !m_card.lines.at(i).group.isEmpty()) {
                groups.append(m_card.lines.at(i).group);
            }
        }
        for (qsizetype i = 0; i < m_card.lines.size(); ++i) {
            const VCardLine& line = m_card.lines.at(i);
            if (line.name.startsWith(QLatin1String("X-")) && groups.contains(line.group, Qt::CaseInsensitive)) {
                m_edits[i] = {Edit::Drop, {}};
            }
        }
    }

    const ReadCard& m_card;
    QList<Edit> m_edits;
    ReadCard m_fresh;
    const ContactFields& m_fields;
};

bool endsLine(QByteArrayView bytes)
{
    return bytes.endsWith('\n') || bytes.endsWith('\r');
}

} // namespace

QByteArray newCard(const ContactFields& fields, const QString& uid)
{
    QByteArray card;
    appendVCard(card, fields, uid);
    return card;
}

QByteArray editedCard(const QByteArray& card, const ContactFields& fields)
{
    const QByteArray out = withLineEdits(
        card, [&](const ReadCard& read, QStringList& added) { return CardEditor(read, fields).edits(added); });
    return out.isEmpty() ? newCard(fields, QString()) : out;
}

QByteArray withLineEdits(const QByteArray& card, const LineEditor& editor)
{
    bool utf8 = false;
    const QString text = vCardText(card, &utf8);
    const QList<ReadCard> cards = readVCardCards(text);
    const ReadCard* read = cardToEdit(cards);
    if (!read) {
        return {};
    }
    // Lines are copied as the bytes hold them; a card that is not UTF-8 is written whole in UTF-8, as a server wants.
    const QByteArray source = utf8 ? card : text.toUtf8();
    const QList<QByteArrayView> physical = vCardPhysicalLines(source);
    const QByteArrayView first = physical.at(read->lines.first().line - 1);
    const QByteArrayView lineEnd = first.endsWith('\n') && !first.endsWith("\r\n") ? "\n" : "\r\n";

    QStringList added;
    const QList<Edit> edits = editor(*read, added);
    QByteArray out;
    const auto addLines = [&] {
        for (const QString& line : std::as_const(added)) {
            appendVCardLine(out, line.toUtf8(), lineEnd);
        }
    };
    for (qsizetype i = 0; i < read->lines.size(); ++i) {
        const VCardLine& line = read->lines.at(i);
        if (read->ended && i == read->lines.size() - 1) {
            addLines();
        }
        if (edits.at(i).kind == Edit::Replace) {
            appendVCardLine(out, edits.at(i).line.toUtf8(), lineEnd);
        } else if (edits.at(i).kind == Edit::Keep) {
            for (int n = 0; n < line.lineCount; ++n) {
                out.append(physical.at(line.line - 1 + n));
            }
            if (!endsLine(out) && i + 1 < read->lines.size()) {
                out.append(lineEnd);
            }
        }
    }
    if (!read->ended) {
        if (!endsLine(out)) {
            out.append(lineEnd);
        }
        addLines();
        out.append("END:VCARD").append(lineEnd);
    }
    return out;
}

namespace {

// Bytes that are UTF-8 throughout, with every CR followed by LF (the reader ends a line at a lone CR too). Eight
// ASCII bytes at a time: most of a card is a photo in base64.
bool isPlainUtf8(QByteArrayView bytes)
{
    const auto* p = reinterpret_cast<const uchar*>(bytes.data());
    const auto* end = p + bytes.size();
    constexpr quint64 high = 0x8080808080808080ULL;
    constexpr quint64 ones = 0x0101010101010101ULL;
    constexpr quint64 carriageReturns = 0x0D0D0D0D0D0D0D0DULL;
    while (p < end) {
        if (end - p >= 8) {
            quint64 word;
            std::memcpy(&word, p, 8);
            const quint64 cr = word ^ carriageReturns;
            if ((word & high) == 0 && ((cr - ones) & ~cr & high) == 0) {
                p += 8;
                continue;
            }
        }
        if (*p < 0x80) {
            if (*p == '\r' && (end - p < 2 || p[1] != '\n')) {
                return false;
            }
            ++p;
            continue;
        }
        const int size = (*p & 0xE0) == 0xC0 ? 2 : (*p & 0xF0) == 0xE0 ? 3 : (*p & 0xF8) == 0xF0 ? 4 : 0;
        if (size == 0 || *p < 0xC2 || end - p < size) {
            return false;
        }
        for (int i = 1; i < size; ++i) {
            if ((p[i] & 0xC0) != 0x80) {
                return false;
            }
        }
        p += size;
    }
    return true;
}

bool sameName(QByteArrayView name, const char* wanted)
{
    return name.compare(QByteArrayView(wanted), Qt::CaseInsensitive) == 0;
}

} // namespace

std::optional<QByteArray> plainCardCore(const QByteArray& card, const QString& uid)
{
    static const char* const kept[] = {
        "BEGIN", "VERSION", "N", "FN", "ADR", "TEL", "ORG", "EMAIL", "X-ABSHOWAS", "BDAY", "NOTE", "X-ABLABEL", "END"};
    const QByteArray wantedUid = uid.toUtf8();
    QByteArray core;
    core.reserve(1024);
    bool keeping = false;
    bool begun = false;
    bool version = false;
    bool uidSeen = false;
    bool ended = false;
    qsizetype at = 0;
    while (at < card.size()) {
        qsizetype end = card.indexOf('\n', at);
        end = end < 0 ? card.size() : end + 1;
        const QByteArrayView line = QByteArrayView(card).sliced(at, end - at);
        at = end;
        if ((line.front() == ' ' || line.front() == '\t') && line.size() > 2 && line.at(line.size() - 2) == '\r') {
            // A fold, most of a photo: nothing to look at but where it ends.
            if (keeping) {
                core.append(line);
            }
            continue;
        }
        const QByteArrayView content = line.endsWith("\r\n") ? line.chopped(2) : line.chopped(line.endsWith('\n'));
        if (content.isEmpty() || ended) {
            return std::nullopt; // a blank line, a lone CR or something after END: the editor sorts it out
        }
        if (content.front() == ' ' || content.front() == '\t') {
            if (keeping) {
                core.append(line);
            }
            continue;
        }
        const qsizetype colon = content.indexOf(':');
        if (colon <= 0 || content.first(colon).contains('"')) {
            return std::nullopt;
        }
        const QByteArrayView head = content.first(colon);
        const QByteArrayView value = content.sliced(colon + 1);
        const qsizetype semicolon = head.indexOf(';');
        QByteArrayView name = semicolon < 0 ? head : head.first(semicolon);
        name = name.sliced(name.lastIndexOf('.') + 1);
        // Parameters in 3.0 form only: NAME=value, no character set, no encoding but b.
        for (qsizetype p = semicolon; p >= 0;) {
            const qsizetype next = head.indexOf(';', p + 1);
            const QByteArrayView param = head.sliced(p + 1, (next < 0 ? head.size() : next) - p - 1);
            const qsizetype equals = param.indexOf('=');
            if (equals < 0 || sameName(param.first(equals), "CHARSET")
                || (sameName(param.first(equals), "ENCODING") && !sameName(param.sliced(equals + 1), "b"))) {
                return std::nullopt;
            }
            p = next;
        }
        if (sameName(name, "BEGIN")) {
            if (begun) {
                return std::nullopt;
            }
            begun = true;
        } else if (!begun) {
            return std::nullopt;
        } else if (sameName(name, "VERSION")) {
            if (version || value != "3.0") {
                return std::nullopt;
            }
            version = true;
        } else if (sameName(name, "UID")) {
            if (uidSeen || (!uid.isEmpty() && (semicolon >= 0 || value != wantedUid))) {
                return std::nullopt;
            }
            uidSeen = true;
        } else if (sameName(name, "END")) {
            ended = true;
        }
        keeping = std::any_of(std::begin(kept), std::end(kept), [&](const char* k) {
            return (name.front() | 0x20) == (k[0] | 0x20) && sameName(name, k);
        });
        if (keeping) {
            core.append(line);
        }
    }
    if (!begun || !version || !ended || (!uid.isEmpty() && !uidSeen) || !isPlainUtf8(card)) {
        return std::nullopt;
    }
    return core;
}

namespace {

// A number the export writes is an Italian number with +39 in front, so that a phone abroad dials it; the reader
// takes it for the same digits, so a card that agrees is left as it is.
ContactFields exportedFields(const ContactFields& contactFields)
{
    ContactFields fields = contactFields;
    fields.zip = internationalPhone(fields.zip);
    fields.phoneNumber = internationalPhone(fields.phoneNumber);
    return fields;
}

// The key of the fields a card reads to, when the export may copy the card as it is.
std::optional<QString> copiedCardKey(const QByteArray& card, const QString& uid)
{
    const std::optional<QByteArray> core = plainCardCore(card, uid);
    if (!core) {
        return std::nullopt;
    }
    ContactFields read;
    const auto has = [&core](const char* line) { return core->contains(line); };
    if ((has("\nN:") || has("\nN;")) && (has("\nFN:") || has("\nFN;")) && fieldsOfCard(*core, read)) {
        return duplicateKey(read);
    }
    return std::nullopt;
}

QByteArray copiedCard(const QByteArray& card)
{
    return card.endsWith('\n') ? card : card + "\r\n";
}

QByteArray editedForExport(const QByteArray& card, const ContactFields& fields, const QString& uid);

// The mark after the digest of a card written in step with its contact: copied as it is, or converted.
constexpr qsizetype kDigestSize = 16;
const QByteArray kCopied = QByteArrayLiteral("c");
const QByteArray kConverted = QByteArrayLiteral("v");

} // namespace

QByteArray exportAgreement(const QByteArray& card, const ContactFields& fields, const QString& uid, bool inStep)
{
    if (card.isEmpty()) {
        return {};
    }
    const std::optional<QString> key = copiedCardKey(card, uid);
    if (inStep) {
        return storedContactDigest(fields, uid) + (key ? kCopied : kConverted);
    }
    return key && *key == duplicateKey(importedFields(exportedFields(fields))) ? storedContactDigest(fields, uid)
                                                                               : QByteArray();
}

QByteArray storedContactDigest(const ContactFields& fields, const QString& uid)
{
    // Two 64-bit hashes of every text preceded by its length, so no text can make two contacts alike; the texts
    // are hashed where they lie, nothing is built.
    quint64 first = 0xcbf29ce484222325ULL;
    quint64 second = 0x9e3779b97f4a7c15ULL;
    const auto add = [&](quint64 unit) {
        first = (first ^ unit) * 0x100000001b3ULL;
        second = (second ^ unit) * 0xff51afd7ed558ccdULL;
        second ^= second >> 32;
    };
    for (const QString* text : {&fields.firstName,
                                &fields.lastName,
                                &fields.address,
                                &fields.city,
                                &fields.state,
                                &fields.zip,
                                &fields.phoneNumber,
                                &uid}) {
        add(quint64(text->size()) | (quint64(1) << 63));
        for (const QChar c : *text) {
            add(c.unicode());
        }
    }
    QByteArray digest(16, Qt::Uninitialized);
    qToLittleEndian(first, digest.data());
    qToLittleEndian(second, digest.data() + 8);
    return digest;
}

QByteArray exportedCard(const QByteArray& card,
                        const ContactFields& contactFields,
                        const QString& uid,
                        const QByteArray& agreement)
{
    if (!agreement.isEmpty() && !card.isEmpty() && agreement.startsWith(storedContactDigest(contactFields, uid))) {
        if (agreement.size() == kDigestSize || agreement.endsWith(kCopied)) {
            return copiedCard(card);
        }
        // In step but not in vCard 3.0 form: converted, its seven read as they stand.
        ContactFields read;
        if (fieldsOfCard(card, read)) {
            return editedForExport(card, read, uid);
        }
    }
    // Another program changed the contact (or its card) since the card was stored: it is read.
    return exportedCard(card, contactFields, uid);
}

QByteArray exportedCard(const QByteArray& card, const ContactFields& contactFields, const QString& uid)
{
    const ContactFields fields = exportedFields(contactFields);
    if (card.isEmpty()) {
        return newCard(fields, uid);
    }
    // Most cards are already what the export writes: their lines are copied, not read and edited.
    if (const std::optional<QString> key = copiedCardKey(card, uid)) {
        if (*key == duplicateKey(importedFields(fields))) {
            return copiedCard(card);
        }
    }
    return editedForExport(card, fields, uid);
}

namespace {

QByteArray editedForExport(const QByteArray& card, const ContactFields& fields, const QString& uid)
{
    const QByteArray out = withLineEdits(card, [&](const ReadCard& read, QStringList& added) {
        QList<Edit> edits = CardEditor(read, fields).edits(added);
        const auto nameOf = [](const QString& line) {
            return line.section(QLatin1Char(':'), 0, 0)
                .section(QLatin1Char(';'), 0, 0)
                .section(QLatin1Char('.'), -1)
                .trimmed()
                .toUpper();
        };
        const bool version21 = read.version == QLatin1String("2.1");
        bool version = false;
        bool name = false;
        bool displayName = false;
        bool uidWritten = false;
        for (qsizetype i = 1; i + 1 < read.lines.size() || (!read.ended && i < read.lines.size()); ++i) {
            const VCardLine& line = read.lines.at(i);
            Edit& edit = edits[i];
            if (edit.kind == Edit::Drop) {
                continue;
            }
            const QString lineName = edit.kind == Edit::Replace ? nameOf(edit.line) : line.name;
            if (lineName.isEmpty()) {
                // A blank line (2.1 ends base64 with one) or text that is no property.
                edit = {Edit::Drop, {}};
            } else if (lineName == QLatin1String("VERSION")) {
                edit = version ? Edit {Edit::Drop, {}} : Edit {Edit::Replace, QStringLiteral("VERSION:3.0")};
                version = true;
            } else if (lineName == QLatin1String("UID") && !uid.isEmpty()) {
                edit = uidWritten ? Edit {Edit::Drop, {}}
                                  : Edit {Edit::Replace, QStringLiteral("UID:") + vCardEscaped(uid)};
                uidWritten = true;
            } else if (edit.kind == Edit::Replace) {
                edit.line = vCard30Form(edit.line);
            } else if (needsVCard30Form(line, version21)) {
                edit = {Edit::Replace, vCard30Form(line, version21)};
            }
            name = name || lineName == QLatin1String("N");
            displayName = displayName || lineName == QLatin1String("FN");
        }
        for (QString& line : added) {
            line = vCard30Form(line);
            name = name || nameOf(line) == QLatin1String("N");
            displayName = displayName || nameOf(line) == QLatin1String("FN");
        }
        // 3.0 wants N and FN; an empty N leaves the card read as it was, from FN or what stands for it.
        if (!version) {
            added.prepend(QStringLiteral("VERSION:3.0"));
        }
        if (!name) {
            added.append(QStringLiteral("N:;;;;"));
        }
        if (!displayName) {
            added.append(QStringLiteral("FN:")
                         + vCardEscaped((fields.lastName + QLatin1Char(' ') + fields.firstName).trimmed()));
        }
        if (!uidWritten && !uid.isEmpty()) {
            added.append(QStringLiteral("UID:") + vCardEscaped(uid));
        }
        return edits;
    });
    return out.isEmpty() ? newCard(fields, uid) : out;
}

} // namespace

QByteArray editedCard(const QByteArray& card, const ContactFields& before, const ContactFields& after)
{
    ContactFields wanted;
    if (!fieldsOfCard(card, wanted)) {
        return editedCard(card, after);
    }
    const ContactFields read = importedFields(wanted);
    const ContactFields was = importedFields(before);
    for (QString ContactFields::*field : {&ContactFields::firstName,
                                          &ContactFields::lastName,
                                          &ContactFields::address,
                                          &ContactFields::city,
                                          &ContactFields::state,
                                          &ContactFields::zip,
                                          &ContactFields::phoneNumber}) {
        if (after.*field == before.*field) {
            continue;
        }
        // Cleared already on the card (it now reads its next line of that kind): that line stays.
        if ((after.*field).isEmpty() && read.*field != was.*field) {
            continue;
        }
        wanted.*field = after.*field;
    }
    return editedCard(card, wanted);
}

bool fieldsOfCard(const QByteArray& card, ContactFields& fields)
{
    const std::optional<ContactFields> read = firstVCardFields(vCardText(card));
    if (read) {
        fields = *read;
    }
    return read.has_value();
}

QString fieldsDigest(const ContactFields& fields)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(duplicateKey(fields).toUtf8(), QCryptographicHash::Sha256).toHex());
}
