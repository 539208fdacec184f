#include "exchange/CardDetails.h"

#include "exchange/CardEdit.h"
#include "exchange/VCard.h"

#include <QDate>

#include <optional>

namespace {

bool isName(const VCardLine& line, const char* name)
{
    return line.decoded && line.name == QLatin1String(name);
}

QString textOf(const VCardLine& line)
{
    return vCardUnescaped(*line.decoded).trimmed();
}

// The parts of a structured value (ADR, ORG), each unescaped and trimmed, at least count of them.
QStringList partsOf(const VCardLine& line, int count)
{
    QStringList parts = splitUnescaped(*line.decoded, QLatin1Char(';'));
    for (QString& part : parts) {
        part = vCardUnescaped(part).trimmed();
    }
    while (parts.size() < count) {
        parts.append(QString());
    }
    return parts;
}

QString organisationOf(const VCardLine& line)
{
    QStringList parts = partsOf(line, 1);
    parts.removeAll(QString());
    return parts.join(QLatin1String(", "));
}

// 19800415, 1980-04-15 and either with a time after "T" are dates; "--0415" (no year) and free text stay as written.
QString birthdayOf(const VCardLine& line)
{
    const QString value = textOf(line);
    const QString day = value.section(QLatin1Char('T'), 0, 0);
    for (const char* format : {"yyyy-MM-dd", "yyyyMMdd"}) {
        const QDate date = QDate::fromString(day, QLatin1String(format));
        if (date.isValid()) {
            return date.toString(Qt::ISODate);
        }
    }
    return value;
}

QString numberOf(const VCardLine& line)
{
    QString number = textOf(line);
    if (number.startsWith(QLatin1String("tel:"), Qt::CaseInsensitive)) {
        number = number.mid(4);
    }
    return number;
}

// The label phones give a grouped number ("item1.X-ABLabel:_$!<Mobile>!$_" or a label of the user's own).
QString groupLabel(const ReadCard& card, const VCardLine& line)
{
    if (line.group.isEmpty()) {
        return {};
    }
    for (const VCardLine& other : card.lines) {
        if (other.name == QLatin1String("X-ABLABEL") && other.decoded
            && other.group.compare(line.group, Qt::CaseInsensitive) == 0) {
            QString label = textOf(other);
            if (label.startsWith(QLatin1String("_$!<")) && label.endsWith(QLatin1String(">!$_"))) {
                label = label.mid(4, label.size() - 8).toLower();
            }
            return label;
        }
    }
    return {};
}

QString phoneType(const ReadCard& card, const VCardLine& line)
{
    QStringList types = line.types;
    const QString label = groupLabel(card, line);
    if (!label.isEmpty()) {
        types.append(label.toLower());
    }
    for (const QString& type : std::as_const(types)) {
        if (type == QLatin1String("cell") || type == QLatin1String("mobile") || type == QLatin1String("cellular")
            || type == QLatin1String("iphone") || type == QLatin1String("x-mobile")) {
            return QStringLiteral("cell");
        }
    }
    for (const char* known : {"fax", "pager", "work", "home"}) {
        if (types.contains(QLatin1String(known))) {
            return QLatin1String(known);
        }
    }
    if (!label.isEmpty()) {
        return label;
    }
    for (const QString& type : std::as_const(types)) {
        if (type != QLatin1String("voice") && type != QLatin1String("pref") && !type.startsWith(QLatin1String("x-"))) {
            return type;
        }
    }
    return {};
}

bool isOtherPhone(const ReadCard& card, qsizetype index)
{
    const VCardLine& line = card.lines.at(index);
    return isName(line, "TEL") && index != card.mobile && index != card.phone && !numberOf(line).isEmpty();
}

// Where each detail stands in a card: the lines it was read from.
struct DetailLines
{
    QList<qsizetype> emails;
    QList<qsizetype> phones;
    qsizetype organisation = -1;
    qsizetype birthday = -1;
    qsizetype note = -1;
};

DetailLines detailLines(const ReadCard& card)
{
    DetailLines at;
    for (qsizetype i = 0; i < card.lines.size(); ++i) {
        const VCardLine& line = card.lines.at(i);
        if (isName(line, "EMAIL") && !textOf(line).isEmpty()) {
            at.emails.append(i);
        } else if (isOtherPhone(card, i)) {
            at.phones.append(i);
        } else if (isName(line, "ORG") && at.organisation < 0) {
            at.organisation = i;
        } else if (isName(line, "BDAY") && at.birthday < 0) {
            at.birthday = i;
        } else if (isName(line, "NOTE") && at.note < 0) {
            at.note = i;
        }
    }
    return at;
}

CardDetails detailsOf(const ReadCard& card)
{
    const DetailLines at = detailLines(card);
    CardDetails details;
    for (const qsizetype i : at.emails) {
        details.emails.append(textOf(card.lines.at(i)));
    }
    for (const qsizetype i : at.phones) {
        details.otherPhones.append({phoneType(card, card.lines.at(i)), numberOf(card.lines.at(i))});
    }
    if (card.address >= 0) {
        const QStringList parts = partsOf(card.lines.at(card.address), 7);
        details.postalCode = parts.at(5);
        details.country = parts.at(6);
    }
    if (at.organisation >= 0) {
        details.organisation = organisationOf(card.lines.at(at.organisation));
    }
    if (at.birthday >= 0) {
        details.birthday = birthdayOf(card.lines.at(at.birthday));
    }
    if (at.note >= 0) {
        details.note = textOf(card.lines.at(at.note));
    }
    return details;
}

QString telType(const QString& type)
{
    return type.isEmpty() ? QStringLiteral("VOICE") : type.toUpper().remove(QLatin1Char(';')).remove(QLatin1Char(':'));
}

class DetailsEditor
{
public:
    DetailsEditor(const ReadCard& card, const CardDetails& details)
        : m_card(card)
        , m_edits(card.lines.size())
        , m_wanted(details)
        , m_at(detailLines(card))
    {
    }

    QList<CardLineEdit> edits(QStringList& added)
    {
        const CardDetails got = detailsOf(m_card);
        editEmails(added);
        editPhones(added);
        if (got.postalCode != m_wanted.postalCode || got.country != m_wanted.country) {
            editAddress(added);
        }
        if (got.organisation != m_wanted.organisation) {
            editText(m_at.organisation, QStringLiteral("ORG"), vCardEscaped(m_wanted.organisation), added);
        }
        if (got.birthday != m_wanted.birthday) {
            editText(m_at.birthday, QStringLiteral("BDAY"), vCardEscaped(m_wanted.birthday), added);
        }
        if (got.note != m_wanted.note) {
            editText(m_at.note, QStringLiteral("NOTE"), vCardEscaped(m_wanted.note), added);
        }
        dropLabelsOfGroupsGone();
        return m_edits;
    }

private:
    // Lines whose value is still wanted stay; the rest take, in order, the new values not yet in the card, keeping
    // their parameters; what is left over is dropped or added.
    template<typename Value, typename Same, typename Write, typename Add>
    void editList(const QList<qsizetype>& lines, const QList<Value>& wanted, Same same, Write write, Add add)
    {
        QList<bool> placed(wanted.size(), false);
        QList<qsizetype> free;
        for (const qsizetype i : lines) {
            bool kept = false;
            for (qsizetype w = 0; w < wanted.size() && !kept; ++w) {
                if (!placed.at(w) && same(m_card.lines.at(i), wanted.at(w))) {
                    placed[w] = true;
                    kept = true;
                }
            }
            if (!kept) {
                free.append(i);
            }
        }
        for (qsizetype w = 0; w < wanted.size(); ++w) {
            if (placed.at(w)) {
                continue;
            }
            if (!free.isEmpty()) {
                write(free.takeFirst(), wanted.at(w));
            } else {
                add(wanted.at(w));
            }
        }
        for (const qsizetype i : std::as_const(free)) {
            drop(i);
        }
    }

    void editEmails(QStringList& added)
    {
        QStringList wanted = m_wanted.emails;
        for (QString& email : wanted) {
            email = email.trimmed();
        }
        wanted.removeAll(QString());
        editList(
            m_at.emails,
            wanted,
            [](const VCardLine& line, const QString& email) { return textOf(line) == email; },
            [&](qsizetype i, const QString& email) { replace(i, vCardEscaped(email)); },
            [&](const QString& email) { added.append(QStringLiteral("EMAIL;TYPE=INTERNET:") + vCardEscaped(email)); });
    }

    void editPhones(QStringList& added)
    {
        QList<CardPhone> wanted;
        for (const CardPhone& phone : m_wanted.otherPhones) {
            if (!phone.number.trimmed().isEmpty()) {
                wanted.append({phone.type.trimmed(), phone.number.trimmed()});
            }
        }
        editList(
            m_at.phones,
            wanted,
            [&](const VCardLine& line, const CardPhone& phone) {
                return numberOf(line) == phone.number && phoneType(m_card, line) == phone.type;
            },
            [&](qsizetype i, const CardPhone& phone) {
                const VCardLine& line = m_card.lines.at(i);
                const bool uri = textOf(line).startsWith(QLatin1String("tel:"), Qt::CaseInsensitive);
                const QString value = (uri ? QStringLiteral("tel:") : QString()) + vCardEscaped(phone.number);
                if (phoneType(m_card, line) == phone.type) {
                    replace(i, value);
                } else {
                    // Another kind of number: its old types and label no longer hold.
                    m_edits[i] = {CardLineEdit::Replace,
                                  QStringLiteral("TEL;TYPE=") + telType(phone.type) + QLatin1Char(':') + value};
                    m_groupsGone.append(line.group);
                }
            },
            [&](const CardPhone& phone) {
                added.append(QStringLiteral("TEL;TYPE=") + telType(phone.type) + QLatin1Char(':')
                             + vCardEscaped(phone.number));
            });
    }

    // Postal code and country belong to the address the program reads; a label and a position describe the old one.
    void editAddress(QStringList& added)
    {
        const QString code = vCardEscaped(m_wanted.postalCode.trimmed());
        const QString country = vCardEscaped(m_wanted.country.trimmed());
        if (m_card.address < 0) {
            if (!code.isEmpty() || !country.isEmpty()) {
                added.append(QStringLiteral("ADR:;;;;;") + code + QLatin1Char(';') + country);
            }
            return;
        }
        const VCardLine& line = m_card.lines.at(m_card.address);
        QStringList parts = splitUnescaped(*line.decoded, QLatin1Char(';'));
        while (parts.size() < 7) {
            parts.append(QString());
        }
        parts[5] = code;
        parts[6] = country;
        if (std::all_of(parts.cbegin(), parts.cend(), [](const QString& p) { return p.trimmed().isEmpty(); })) {
            drop(m_card.address);
            return;
        }
        m_edits[m_card.address]
            = {CardLineEdit::Replace,
               rewrittenLine(
                   m_card, line, parts.join(QLatin1Char(';')), {QStringLiteral("LABEL"), QStringLiteral("GEO")})};
    }

    void editText(qsizetype at, const QString& name, const QString& value, QStringList& added)
    {
        if (value.isEmpty()) {
            if (at >= 0) {
                drop(at);
            }
        } else if (at >= 0) {
            replace(at, value);
        } else {
            added.append(name + QLatin1Char(':') + value);
        }
    }

    void replace(qsizetype i, const QString& value)
    {
        m_edits[i] = {CardLineEdit::Replace, rewrittenLine(m_card, m_card.lines.at(i), value)};
    }

    void drop(qsizetype i)
    {
        m_edits[i] = {CardLineEdit::Drop, {}};
        m_groupsGone.append(m_card.lines.at(i).group);
    }

    // The labels of a group go with its line ("item1.X-ABLabel" with "item1.EMAIL").
    void dropLabelsOfGroupsGone()
    {
        for (qsizetype i = 0; i < m_card.lines.size(); ++i) {
            const VCardLine& line = m_card.lines.at(i);
            if (!line.group.isEmpty() && line.name.startsWith(QLatin1String("X-"))
                && m_groupsGone.contains(line.group, Qt::CaseInsensitive)) {
                m_edits[i] = {CardLineEdit::Drop, {}};
            }
        }
    }

    const ReadCard& m_card;
    QList<CardLineEdit> m_edits;
    const CardDetails& m_wanted;
    const DetailLines m_at;
    QStringList m_groupsGone;
};

} // namespace

bool CardDetails::operator==(const CardDetails& other) const
{
    return emails == other.emails && postalCode == other.postalCode && country == other.country
        && organisation == other.organisation && birthday == other.birthday && note == other.note
        && otherPhones == other.otherPhones;
}

bool hasDetails(const CardDetails& details)
{
    return details != CardDetails();
}

CardDetails cardDetails(const ReadCard& card)
{
    return detailsOf(card);
}

CardDetails cardDetails(const QByteArray& card)
{
    const QList<ReadCard> cards = readVCardCards(vCardText(card));
    const ReadCard* read = cardToEdit(cards);
    return read ? detailsOf(*read) : CardDetails();
}

QByteArray withDetails(const QByteArray& card, const ContactFields& fields, const CardDetails& details)
{
    const QByteArray edited = editedCard(card, fields);
    const QByteArray out = withLineEdits(
        edited, [&](const ReadCard& read, QStringList& added) { return DetailsEditor(read, details).edits(added); });
    return out.isEmpty() ? edited : out;
}
