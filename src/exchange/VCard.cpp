#include "VCard.h"

#include "ImportRules.h"
#include "TextDecoding.h"

#include <QUuid>

#include <algorithm>
#include <cctype>
#include <optional>

namespace {

constexpr int kFoldOctets = 75;

// ---- writing

// The value in UTF-8 with "\\", "," and ";" escaped and every line break written as "\\n"; all of them are ASCII, so
// the escaping works on the bytes.
QByteArray escaped(const QString& value)
{
    const QByteArray bytes = value.toUtf8();
    const auto special = [](char c) { return c == '\\' || c == ',' || c == ';' || c == '\r' || c == '\n'; };
    if (std::none_of(bytes.cbegin(), bytes.cend(), special)) {
        return bytes;
    }
    QByteArray text;
    text.reserve(bytes.size() + 8);
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes.at(i);
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < bytes.size() && bytes.at(i + 1) == '\n') {
                ++i;
            }
            text.append("\\n");
        } else {
            if (special(c)) {
                text.append('\\');
            }
            text.append(c);
        }
    }
    return text;
}

QString displayName(const ContactFields& fields)
{
    return (fields.lastName + QLatin1Char(' ') + fields.firstName).trimmed();
}

// ---- reading

struct LogicalLine
{
    QString text;
    int line = 0;
    bool quotedPrintable = false; // told by its first physical line, where the parameters are
};

struct Property
{
    QString name; // upper case, group removed
    QList<QPair<QString, QString>> params; // name upper case ("" for a bare 2.1 value), value as written
    QString value;
};

// Position of the first ':' outside double quotes, or -1.
qsizetype valueColon(const QString& line)
{
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
        } else if (c == QLatin1Char(':') && !quoted) {
            return i;
        }
    }
    return -1;
}

bool isQuotedPrintable(const QString& line)
{
    const qsizetype colon = valueColon(line);
    return colon > 0 && line.left(colon).contains(QLatin1String("QUOTED-PRINTABLE"), Qt::CaseInsensitive);
}

// Physical lines joined into content lines: a line starting with a space or tab continues the one before it, and so
// does the line after a quoted-printable soft break ("=" at the end).
QList<LogicalLine> contentLines(const QString& text)
{
    QList<LogicalLine> lines;
    bool softBreak = false;
    int number = 0;
    qsizetype at = 0;
    const qsizetype n = text.size();
    while (at < n) {
        qsizetype end = at;
        while (end < n && text.at(end) != QLatin1Char('\n') && text.at(end) != QLatin1Char('\r')) {
            ++end;
        }
        const QStringView physical = QStringView(text).mid(at, end - at);
        ++number;
        if (end < n && text.at(end) == QLatin1Char('\r') && end + 1 < n && text.at(end + 1) == QLatin1Char('\n')) {
            ++end;
        }
        at = end + 1;

        if (softBreak && !lines.isEmpty()) {
            lines.last().text.append(physical);
        } else if (!lines.isEmpty() && !physical.isEmpty()
                   && (physical.front() == QLatin1Char(' ') || physical.front() == QLatin1Char('\t'))) {
            lines.last().text.append(physical.mid(1));
        } else {
            lines.append({physical.toString(), number, false});
            lines.last().quotedPrintable = isQuotedPrintable(lines.last().text);
        }
        QString& last = lines.last().text;
        softBreak = lines.last().quotedPrintable && last.endsWith(QLatin1Char('='));
        if (softBreak) {
            last.chop(1);
        }
    }
    return lines;
}

QString unescaped(const QString& text)
{
    QString value;
    value.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('\\') || i + 1 >= text.size()) {
            value.append(c);
            continue;
        }
        const QChar next = text.at(++i);
        if (next == QLatin1Char('n') || next == QLatin1Char('N')) {
            value.append(QLatin1Char('\n'));
        } else if (next == QLatin1Char('\\') || next == QLatin1Char(',') || next == QLatin1Char(';')
                   || next == QLatin1Char(':')) {
            value.append(next);
        } else {
            value.append(c).append(next);
        }
    }
    return value;
}

// A text component that may hold several values separated by commas, given as one text.
QString component(const QStringList& parts, int index)
{
    if (index >= parts.size()) {
        return {};
    }
    QStringList values = splitUnescaped(parts.at(index), QLatin1Char(','));
    for (QString& value : values) {
        value = unescaped(value).trimmed();
    }
    values.removeAll(QString());
    return values.join(QLatin1Char(' '));
}

QByteArray fromQuotedPrintable(const QString& text)
{
    const QByteArray raw = text.toUtf8();
    QByteArray bytes;
    bytes.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const char c = raw.at(i);
        if (c == '=' && i + 2 < raw.size() && isxdigit(uchar(raw.at(i + 1))) && isxdigit(uchar(raw.at(i + 2)))) {
            bytes.append(char(QByteArray(raw.constData() + i + 1, 2).toInt(nullptr, 16)));
            i += 2;
        } else {
            bytes.append(c);
        }
    }
    return bytes;
}

std::optional<Property> parseProperty(const QString& line)
{
    const qsizetype colon = valueColon(line);
    if (colon <= 0) {
        return std::nullopt;
    }
    Property property;
    property.value = line.mid(colon + 1);
    QStringList head = vCardHead(line);
    QString name = head.takeFirst().trimmed();
    // A group ("item1.TEL") only ties properties together; the name is what follows the last dot.
    name = name.mid(name.lastIndexOf(QLatin1Char('.')) + 1);
    property.name = name.toUpper();
    for (const QString& param : std::as_const(head)) {
        const qsizetype equals = param.indexOf(QLatin1Char('='));
        if (equals < 0) {
            property.params.append({QString(), param.trimmed()});
        } else {
            QString value = param.mid(equals + 1).trimmed();
            value.remove(QLatin1Char('"'));
            property.params.append({param.left(equals).trimmed().toUpper(), value});
        }
    }
    return property;
}

QString paramValue(const Property& property, const QString& name)
{
    for (const auto& param : property.params) {
        if (param.first == name) {
            return param.second;
        }
    }
    return {};
}

// The types of a property in every spelling: TYPE=CELL, TYPE=cell,voice, TYPE="cell,voice", TYPE=cell;TYPE=voice,
// and the bare 2.1 form TEL;CELL;VOICE.
QStringList typesOf(const Property& property)
{
    QStringList types;
    for (const auto& param : property.params) {
        if (param.first.isEmpty() || param.first == QLatin1String("TYPE")) {
            for (const QString& type : param.second.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                types.append(type.trimmed().toLower());
            }
        }
    }
    return types;
}

bool hasEncoding(const Property& property, const char* encoding)
{
    if (paramValue(property, QStringLiteral("ENCODING")).compare(QLatin1String(encoding), Qt::CaseInsensitive) == 0) {
        return true;
    }
    for (const auto& param : property.params) {
        if (param.first.isEmpty() && param.second.compare(QLatin1String(encoding), Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

// The value with its transfer encoding undone; nothing for binary data, which the program does not keep.
std::optional<QString> decodedValue(const Property& property)
{
    if (hasEncoding(property, "B") || hasEncoding(property, "BASE64")) {
        return std::nullopt;
    }
    if (hasEncoding(property, "QUOTED-PRINTABLE")) {
        return decodeCharset(fromQuotedPrintable(property.value), paramValue(property, QStringLiteral("CHARSET")));
    }
    return property.value;
}

bool isMobile(const QStringList& types)
{
    for (const QString& type : types) {
        if (type == QLatin1String("cell") || type == QLatin1String("mobile") || type == QLatin1String("cellular")
            || type == QLatin1String("iphone") || type == QLatin1String("x-mobile")) {
            return true;
        }
    }
    return false;
}

// Fax and pager numbers are not numbers to call.
bool isNotForCalls(const QStringList& types)
{
    return types.contains(QLatin1String("fax")) || types.contains(QLatin1String("pager"));
}

class CardReader
{
public:
    explicit CardReader(int line)
        : m_line(line)
    {
    }

    void add(const Property& property)
    {
        const std::optional<QString> value = decodedValue(property);
        if (!value) {
            return;
        }
        if (property.name == QLatin1String("N") && !m_hasName) {
            const QStringList parts = splitUnescaped(*value, QLatin1Char(';'));
            m_fields.firstName = component(parts, 0);
            m_fields.lastName = (component(parts, 1) + QLatin1Char(' ') + component(parts, 2)).trimmed();
            m_hasName = !m_fields.firstName.isEmpty() || !m_fields.lastName.isEmpty();
        } else if (property.name == QLatin1String("FN") && m_displayName.isEmpty()) {
            m_displayName = unescaped(*value).trimmed();
        } else if (property.name == QLatin1String("ADR") && !m_hasAddress) {
            const QStringList parts = splitUnescaped(*value, QLatin1Char(';'));
            const QString street = component(parts, 2);
            m_fields.address = street.isEmpty() ? component(parts, 1) : street;
            m_fields.city = component(parts, 3);
            m_fields.state = component(parts, 4);
            m_hasAddress = true;
        } else if (property.name == QLatin1String("TEL")) {
            const QStringList types = typesOf(property);
            const QString number = unescaped(*value).trimmed();
            if (number.isEmpty()) {
                return;
            }
            if (isMobile(types)) {
                if (m_fields.zip.isEmpty()) {
                    m_fields.zip = number;
                }
            } else if (!isNotForCalls(types) && m_fields.phoneNumber.isEmpty()) {
                m_fields.phoneNumber = number;
            }
        }
    }

    std::optional<ReadContact> contact() const
    {
        ContactFields fields = m_fields;
        if (!m_hasName && !m_displayName.isEmpty()) {
            const PersonName name = namesFromDisplayName(m_displayName);
            fields.firstName = name.surname;
            fields.lastName = name.given;
        }
        if (isEmpty(importedFields(fields))) {
            return std::nullopt;
        }
        return ReadContact {fields, m_line};
    }

    int line() const { return m_line; }

private:
    int m_line;
    ContactFields m_fields;
    QString m_displayName;
    bool m_hasName = false;
    bool m_hasAddress = false;
};

bool isCardBoundary(const QString& line, const char* keyword)
{
    const QString trimmed = line.trimmed();
    const qsizetype colon = trimmed.indexOf(QLatin1Char(':'));
    return colon > 0 && trimmed.left(colon).compare(QLatin1String(keyword), Qt::CaseInsensitive) == 0
        && trimmed.mid(colon + 1).trimmed().compare(QLatin1String("VCARD"), Qt::CaseInsensitive) == 0;
}

} // namespace

QStringList vCardHead(const QString& line)
{
    const qsizetype colon = valueColon(line);
    QStringList head;
    QString part;
    bool quoted = false;
    for (const QChar c : QStringView(line).left(colon < 0 ? line.size() : colon)) {
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
        } else if (c == QLatin1Char(';') && !quoted) {
            head.append(part);
            part.clear();
            continue;
        }
        part.append(c);
    }
    head.append(part);
    return head;
}

QStringList splitUnescaped(const QString& text, QChar separator)
{
    QStringList parts;
    QString part;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\\') && i + 1 < text.size()) {
            part.append(c).append(text.at(++i));
        } else if (c == separator) {
            parts.append(part);
            part.clear();
        } else {
            part.append(c);
        }
    }
    parts.append(part);
    return parts;
}

// Appends one content line, folded so that no physical line passes 75 octets and no UTF-8 sequence is cut.
void appendVCardLine(QByteArray& out, const QByteArray& bytes)
{
    qsizetype at = 0;
    int room = kFoldOctets;
    while (bytes.size() - at > room) {
        qsizetype cut = at + room;
        while (cut > at && (uchar(bytes.at(cut)) & 0xC0) == 0x80) {
            --cut;
        }
        out.append(bytes.constData() + at, cut - at);
        out.append("\r\n ");
        at = cut;
        room = kFoldOctets - 1; // the space in front counts
    }
    out.append(bytes.constData() + at, bytes.size() - at);
    out.append("\r\n");
}

void appendVCard(QByteArray& out, const ExportContact& contact)
{
    const ContactFields& f = contact.fields;
    out.append("BEGIN:VCARD\r\nVERSION:3.0\r\n");
    // N and FN are required in 3.0, so they are written even when empty.
    appendVCardLine(out, "N:" + escaped(f.firstName) + ';' + escaped(f.lastName) + ";;;");
    appendVCardLine(out, "FN:" + escaped(displayName(f)));
    if (!f.address.isEmpty() || !f.city.isEmpty() || !f.state.isEmpty()) {
        appendVCardLine(out, "ADR:;;" + escaped(f.address) + ';' + escaped(f.city) + ';' + escaped(f.state) + ";;");
    }
    if (!f.zip.isEmpty()) {
        appendVCardLine(out, "TEL;TYPE=CELL:" + escaped(f.zip));
    }
    if (!f.phoneNumber.isEmpty()) {
        appendVCardLine(out, "TEL;TYPE=HOME,VOICE:" + escaped(f.phoneNumber));
    }
    appendVCardLine(out, "UID:" + vCardUid(contact.custId).toLatin1());
    out.append("END:VCARD\r\n");
}

QByteArray writeVCards(const QList<ExportContact>& contacts, const Progress& progress)
{
    QByteArray out;
    out.reserve(contacts.size() * 200);
    for (qsizetype i = 0; i < contacts.size(); ++i) {
        if (progress && i % 1000 == 0 && !progress(i, contacts.size())) {
            return {};
        }
        appendVCard(out, contacts.at(i));
    }
    return out;
}

QString vCardUid(qint32 custId)
{
    static const QUuid space(QStringLiteral("{6d1f0c4e-9b1a-4f57-8a0e-3c2b7d5e9f10}"));
    return QUuid::createUuidV5(space, QString::number(custId)).toString(QUuid::WithoutBraces);
}

bool holdsVCards(const QString& text)
{
    qsizetype at = 0;
    while ((at = text.indexOf(QLatin1String("BEGIN"), at, Qt::CaseInsensitive)) >= 0) {
        // A boundary line is short: looking at most this far keeps a file of "BEGIN"s without line ends linear.
        constexpr qsizetype longestBoundary = 64;
        const QString head = text.mid(at, longestBoundary);
        if (isCardBoundary(head.left(head.indexOf(QLatin1Char('\n'))), "BEGIN")) {
            return true;
        }
        at += 5;
    }
    return false;
}

ReadResult readVCards(const QString& text)
{
    ReadResult result;
    std::optional<CardReader> card;
    for (const LogicalLine& line : contentLines(text)) {
        if (isCardBoundary(line.text, "BEGIN")) {
            if (card) {
                // A new card before this one ended: this one is incomplete and is not taken.
                result.unreadableLines.append(card->line());
            }
            card.emplace(line.line);
        } else if (isCardBoundary(line.text, "END")) {
            if (card) {
                if (const std::optional<ReadContact> contact = card->contact()) {
                    result.contacts.append(*contact);
                } else {
                    result.unreadableLines.append(card->line());
                }
                card.reset();
            }
        } else if (card) {
            if (const std::optional<Property> property = parseProperty(line.text)) {
                card->add(*property);
            }
        }
    }
    if (card) {
        result.unreadableLines.append(card->line());
    }
    return result;
}
