#include "exchange/VCard.h"

#include "exchange/CardEdit.h"
#include "exchange/ImportRules.h"
#include "exchange/TextDecoding.h"

#include <QRegularExpression>
#include <QStringDecoder>

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

bool isCarriageReturn(QChar c)
{
    return c == QLatin1Char('\r');
}

bool isCarriageReturn(char c)
{
    return c == '\r';
}

bool isLineFeed(QChar c)
{
    return c == QLatin1Char('\n');
}

bool isLineFeed(char c)
{
    return c == '\n';
}

// Calls line(start, length, next) for every physical line of the text: a line ends at CRLF, LF or CR, and next is
// where the one after it starts. The bytes and the text of a card are split by this one rule, so that their lines
// are numbered alike.
template<typename Text, typename Line>
void forEachPhysicalLine(const Text& text, Line line, const bool* stop = nullptr)
{
    const qsizetype n = text.size();
    qsizetype at = 0;
    while (at < n && !(stop && *stop)) {
        qsizetype end = at;
        while (end < n && !isLineFeed(text.at(end)) && !isCarriageReturn(text.at(end))) {
            ++end;
        }
        qsizetype next = end;
        if (end < n) {
            next = isCarriageReturn(text.at(end)) && end + 1 < n && isLineFeed(text.at(end + 1)) ? end + 2 : end + 1;
        }
        line(at, end - at, next);
        at = next;
    }
}

struct LogicalLine
{
    QString text;
    int line = 0;
    int lineCount = 1;
    bool quotedPrintable = false; // told by its first physical line, where the parameters are
    qsizetype start = 0; // where its first physical line starts in the text
    qsizetype next = 0; // where the physical line after its last one starts
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
    return colon > 0 && QStringView(line).left(colon).contains(QLatin1String("QUOTED-PRINTABLE"), Qt::CaseInsensitive);
}

// Calls line(LogicalLine) for every content line of the text: a physical line starting with a space or tab
// continues the one before it, and so does the line after a quoted-printable soft break ("=" at the end).
// Stops once *stop is true.
template<typename Line>
void forEachContentLine(const QString& text, Line line, const bool* stop = nullptr)
{
    std::optional<LogicalLine> current;
    bool softBreak = false;
    int number = 0;
    forEachPhysicalLine(
        text,
        [&](qsizetype start, qsizetype length, qsizetype next) {
            const QStringView physical = QStringView(text).mid(start, length);
            ++number;
            if (current && softBreak) {
                current->text.append(physical);
                ++current->lineCount;
            } else if (current && !physical.isEmpty()
                       && (physical.front() == QLatin1Char(' ') || physical.front() == QLatin1Char('\t'))) {
                current->text.append(physical.mid(1));
                ++current->lineCount;
            } else {
                if (current) {
                    line(std::as_const(*current));
                }
                current = LogicalLine {physical.toString(), number, 1, false, start, next};
                current->quotedPrintable = isQuotedPrintable(current->text);
            }
            current->next = next;
            softBreak = current->quotedPrintable && current->text.endsWith(QLatin1Char('='));
            if (softBreak) {
                current->text.chop(1);
            }
        },
        stop);
    if (current && !(stop && *stop)) {
        line(std::as_const(*current));
    }
}

QString unescaped(const QString& text)
{
    if (!text.contains(QLatin1Char('\\'))) {
        return text;
    }
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

// A text component that may hold several values separated by commas, given as one text; in 2.1 a comma is text.
QString component(const QStringList& parts, int index, bool version21 = false)
{
    if (index >= parts.size()) {
        return {};
    }
    const QString& part = parts.at(index);
    if (version21 || !part.contains(QLatin1Char(','))) {
        return unescaped(part).trimmed();
    }
    QStringList values = splitUnescaped(part, QLatin1Char(','));
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

QString paramValue(const VCardLine& line, const QString& name)
{
    for (const auto& param : line.params) {
        if (param.first == name) {
            return param.second;
        }
    }
    return {};
}

// The types of a property in every spelling: TYPE=CELL, TYPE=cell,voice, TYPE="cell,voice", TYPE=cell;TYPE=voice,
// and the bare 2.1 form TEL;CELL;VOICE.
QStringList typesOf(const VCardLine& line)
{
    QStringList types;
    for (const auto& param : line.params) {
        if (param.first.isEmpty() || param.first == QLatin1String("TYPE")) {
            for (const QString& type : param.second.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                types.append(type.trimmed().toLower());
            }
        }
    }
    return types;
}

bool hasEncoding(const VCardLine& line, const char* encoding)
{
    if (paramValue(line, QStringLiteral("ENCODING")).compare(QLatin1String(encoding), Qt::CaseInsensitive) == 0) {
        return true;
    }
    for (const auto& param : line.params) {
        if (param.first.isEmpty() && param.second.compare(QLatin1String(encoding), Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

// The value with its transfer encoding undone; nothing for binary data, which the program does not keep.
std::optional<QString> decodedValue(const VCardLine& line)
{
    if (hasEncoding(line, "B") || hasEncoding(line, "BASE64")) {
        return std::nullopt;
    }
    if (hasEncoding(line, "QUOTED-PRINTABLE")) {
        return decodeCharset(fromQuotedPrintable(line.value), paramValue(line, QStringLiteral("CHARSET")));
    }
    return line.value;
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

QString telephoneNumber(const VCardLine& line)
{
    return unescaped(*line.decoded).trimmed();
}

VCardRole roleOf(const VCardLine& line)
{
    if (!line.decoded) {
        return VCardRole::None;
    }
    if (line.name == QLatin1String("N")) {
        return VCardRole::Name;
    }
    if (line.name == QLatin1String("FN")) {
        return VCardRole::DisplayName;
    }
    if (line.name == QLatin1String("ADR")) {
        return VCardRole::Address;
    }
    if (line.name != QLatin1String("TEL") || telephoneNumber(line).isEmpty()) {
        return VCardRole::None;
    }
    if (isMobile(line.types)) {
        return VCardRole::Mobile;
    }
    return isNotForCalls(line.types) ? VCardRole::None : VCardRole::Phone;
}

VCardLine parsedLine(const LogicalLine& logical)
{
    VCardLine line;
    line.line = logical.line;
    line.lineCount = logical.lineCount;
    line.text = logical.text;
    const qsizetype colon = valueColon(logical.text);
    if (colon <= 0) {
        return line;
    }
    line.value = logical.text.mid(colon + 1);
    QStringList head = vCardHead(logical.text);
    const QString name = head.takeFirst().trimmed();
    // A group ("item1.TEL") only ties properties together; the name is what follows the last dot.
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    line.group = name.left(std::max<qsizetype>(dot, 0));
    line.name = name.mid(dot + 1).toUpper();
    for (const QString& param : std::as_const(head)) {
        const qsizetype equals = param.indexOf(QLatin1Char('='));
        if (equals < 0) {
            line.params.append({QString(), param.trimmed()});
        } else {
            QString value = param.mid(equals + 1).trimmed();
            value.remove(QLatin1Char('"'));
            line.params.append({param.left(equals).trimmed().toUpper(), value});
        }
    }
    line.types = typesOf(line);
    line.decoded = decodedValue(line);
    line.role = roleOf(line);
    return line;
}

class CardReader
{
public:
    // The import needs only the fields; the card's editing needs its lines too.
    CardReader(VCardLine begin, bool keepLines)
        : m_keepLines(keepLines)
    {
        m_card.lines.append(std::move(begin));
    }

    // The name of a content line, without its group, as written.
    static QStringView nameOf(QStringView text)
    {
        qsizetype end = 0;
        while (end < text.size() && text.at(end) != QLatin1Char(';') && text.at(end) != QLatin1Char(':')) {
            ++end;
        }
        QStringView name = text.first(end).trimmed();
        return name.sliced(name.lastIndexOf(QLatin1Char('.')) + 1);
    }

    // Whether the fields, the UID or what names a card without a name may come from the line; the others (a photo,
    // notes) are only counted as details, unread.
    bool reads(QStringView text) const
    {
        static const char* const read[]
            = {"N", "FN", "ADR", "TEL", "VERSION", "UID", "ORG", "EMAIL", "X-ABSHOWAS", "END"};
        const QStringView name = nameOf(text);
        return name.isEmpty() || std::any_of(std::begin(read), std::end(read), [&](const char* r) {
                   return name.front().toUpper() == QLatin1Char(r[0])
                       && name.compare(QLatin1String(r), Qt::CaseInsensitive) == 0;
               });
    }

    void skip(QStringView text)
    {
        static const char* const structure[] = {"BEGIN", "PRODID", "REV"};
        const QStringView name = nameOf(text);
        ++m_count;
        m_card.details = m_card.details || std::none_of(std::begin(structure), std::end(structure), [&](const char* r) {
                             return name.compare(QLatin1String(r), Qt::CaseInsensitive) == 0;
                         });
    }

    void setText(qsizetype start, qsizetype next)
    {
        m_card.textStart = start;
        m_card.textEnd = next;
    }

    void add(VCardLine line)
    {
        const qsizetype index = m_count++;
        ContactFields& fields = m_card.fields;
        switch (line.role) {
        case VCardRole::Name:
            if (!m_hasName) {
                const QStringList parts = splitUnescaped(*line.decoded, QLatin1Char(';'));
                fields.firstName = part(parts, 0);
                fields.lastName = (part(parts, 1) + QLatin1Char(' ') + part(parts, 2)).trimmed();
                m_hasName = !fields.firstName.isEmpty() || !fields.lastName.isEmpty();
            }
            break;
        case VCardRole::DisplayName:
            if (m_displayName.isEmpty()) {
                m_displayName = unescaped(*line.decoded).trimmed();
            }
            break;
        case VCardRole::Address:
            if (m_card.address < 0) {
                const QStringList parts = splitUnescaped(*line.decoded, QLatin1Char(';'));
                // Programs put the street or its second line ("Scala B, interno 4") in the extended part: both are
                // kept, the street first.
                const QString street = part(parts, 2);
                const QString extended = part(parts, 1);
                fields.address = street.isEmpty()              ? extended
                    : extended.isEmpty() || street == extended ? street
                                                               : street + QStringLiteral(", ") + extended;
                fields.city = part(parts, 3);
                fields.state = part(parts, 4);
                m_card.address = index;
                m_card.details = m_card.details || !part(parts, 5).isEmpty() || !part(parts, 6).isEmpty();
            }
            break;
        case VCardRole::Mobile:
            if (m_card.mobile < 0) {
                fields.zip = telephoneNumber(line);
                m_card.mobile = index;
            }
            break;
        case VCardRole::Phone:
            if (m_card.phone < 0) {
                fields.phoneNumber = telephoneNumber(line);
                m_card.phone = index;
            }
            break;
        case VCardRole::None:
            noted(line);
            break;
        }
        m_card.details = m_card.details || isDetail(line, index);
        if (m_keepLines) {
            m_card.lines.append(std::move(line));
        }
    }

    ReadCard finished(bool ended)
    {
        m_card.ended = ended;
        if (!m_hasName) {
            nameWithoutN();
        }
        return std::move(m_card);
    }

private:
    QString part(const QStringList& parts, int index) const
    {
        return component(parts, index, m_card.version == QLatin1String("2.1"));
    }

    // A line beyond what the seven fields are read from and what every card has.
    bool isDetail(const VCardLine& line, qsizetype index) const
    {
        static const QStringList structure {QStringLiteral("BEGIN"),
                                            QStringLiteral("END"),
                                            QStringLiteral("VERSION"),
                                            QStringLiteral("N"),
                                            QStringLiteral("FN"),
                                            QStringLiteral("UID"),
                                            QStringLiteral("PRODID"),
                                            QStringLiteral("REV"),
                                            QStringLiteral("X-ABSHOWAS")};
        switch (line.role) {
        case VCardRole::Name:
        case VCardRole::DisplayName:
            return false;
        case VCardRole::Address:
            return index != m_card.address;
        case VCardRole::Mobile:
            return index != m_card.mobile;
        case VCardRole::Phone:
            return index != m_card.phone;
        case VCardRole::None:
            return !line.name.isEmpty() && !structure.contains(line.name);
        }
        return false;
    }

    // What the reader notes beside the fields: the version, the UID and what names a card without a person's name.
    void noted(const VCardLine& line)
    {
        if (!line.decoded) {
            return;
        }
        if (line.name == QLatin1String("VERSION") && m_card.version.isEmpty()) {
            m_card.version = line.value.trimmed();
        } else if (line.name == QLatin1String("UID") && m_card.uid.isEmpty()) {
            m_card.uid = unescaped(*line.decoded).trimmed();
        } else if (line.name == QLatin1String("ORG") && m_organisation.isEmpty()) {
            m_organisation = component(splitUnescaped(*line.decoded, QLatin1Char(';')), 0);
        } else if (line.name == QLatin1String("EMAIL") && m_email.isEmpty()) {
            m_email = unescaped(*line.decoded).trimmed();
        } else if (line.name == QLatin1String("X-ABSHOWAS")) {
            m_company = line.decoded->trimmed().compare(QLatin1String("COMPANY"), Qt::CaseInsensitive) == 0;
        }
    }

    // A company's name is one name and stays whole in the surname; a card with nothing but an e-mail address is
    // named by the address's name part.
    void nameWithoutN()
    {
        ContactFields& fields = m_card.fields;
        const bool company = m_company
            || (!m_organisation.isEmpty() && m_displayName.compare(m_organisation, Qt::CaseInsensitive) == 0);
        if (!m_displayName.isEmpty() && !company) {
            const PersonName name = namesFromDisplayName(m_displayName);
            fields.firstName = name.surname;
            fields.lastName = name.given;
        } else if (!m_displayName.isEmpty()) {
            fields.firstName = m_displayName;
        } else if (!m_organisation.isEmpty()) {
            fields.firstName = m_organisation;
        } else if (!m_email.isEmpty() && isEmpty(importedFields(fields))) {
            fields.firstName = m_email.section(QLatin1Char('@'), 0, 0);
        }
    }

    ReadCard m_card;
    qsizetype m_count = 1; // BEGIN is the first
    bool m_keepLines;
    QString m_displayName;
    QString m_organisation;
    QString m_email;
    bool m_company = false;
    bool m_hasName = false;
};

bool isCardBoundary(QStringView line, const char* keyword)
{
    const QStringView trimmed = line.trimmed();
    // Most lines are not: a look at the first letter saves the rest.
    if (trimmed.isEmpty() || trimmed.front().toUpper() != QLatin1Char(keyword[0])) {
        return false;
    }
    const qsizetype colon = trimmed.indexOf(QLatin1Char(':'));
    return colon > 0 && trimmed.left(colon).compare(QLatin1String(keyword), Qt::CaseInsensitive) == 0
        && trimmed.mid(colon + 1).trimmed().compare(QLatin1String("VCARD"), Qt::CaseInsensitive) == 0;
}

// Calls card(ReadCard) for every card of the text, whole or cut short, in order; without keepLines a card holds only
// its BEGIN line. Stops once *stop is true.
template<typename Card>
void forEachCard(const QString& text, bool keepLines, Card card, const bool* stop = nullptr)
{
    std::optional<CardReader> reader;
    qsizetype start = 0;
    forEachContentLine(
        text,
        [&](const LogicalLine& logical) {
            if (isCardBoundary(logical.text, "BEGIN")) {
                if (reader) {
                    // A new card before this one ended: this one is cut short.
                    card(reader->finished(false));
                }
                reader.emplace(parsedLine(logical), keepLines);
                start = logical.start;
            } else if (reader) {
                if (keepLines || reader->reads(logical.text)) {
                    reader->add(parsedLine(logical));
                } else {
                    reader->skip(logical.text);
                }
                if (isCardBoundary(logical.text, "END")) {
                    reader->setText(start, logical.next);
                    card(reader->finished(true));
                    reader.reset();
                }
            }
        },
        stop);
    if (reader && !(stop && *stop)) {
        card(reader->finished(false));
    }
}

// Where a fold cuts a UTF-8 sequence, the start of the character moves past the fold to join the rest of it.
QByteArray withWholeCharacters(const QByteArray& bytes)
{
    QByteArray out;
    qsizetype copied = 0;
    forEachPhysicalLine(bytes, [&](qsizetype start, qsizetype length, qsizetype next) {
        const qsizetype end = start + length;
        if (next >= bytes.size() || (bytes.at(next) != ' ' && bytes.at(next) != '\t') || length == 0) {
            return;
        }
        qsizetype lead = end - 1;
        while (lead > start && lead > end - 4 && (uchar(bytes.at(lead)) & 0xC0) == 0x80) {
            --lead;
        }
        const uchar first = uchar(bytes.at(lead));
        const qsizetype size = first >= 0xF0 ? 4 : first >= 0xE0 ? 3 : first >= 0xC0 ? 2 : 1;
        const qsizetype missing = size - (end - lead);
        if (first < 0xC0 || first > 0xF7 || missing <= 0 || next + missing >= bytes.size()) {
            return;
        }
        for (qsizetype i = 1; i <= missing; ++i) {
            if ((uchar(bytes.at(next + i)) & 0xC0) != 0x80) {
                return;
            }
        }
        out.append(bytes.constData() + copied, lead - copied);
        out.append(bytes.constData() + end, next + 1 - end);
        out.append(bytes.constData() + lead, end - lead);
        copied = next + 1;
    });
    if (copied == 0) {
        return bytes;
    }
    out.append(bytes.constData() + copied, bytes.size() - copied);
    return out;
}

} // namespace

QStringList vCardHead(const QString& line)
{
    const qsizetype colon = valueColon(line);
    const qsizetype end = colon < 0 ? line.size() : colon;
    QStringList head;
    qsizetype start = 0;
    bool quoted = false;
    for (qsizetype i = 0; i < end; ++i) {
        const QChar c = line.at(i);
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
        } else if (c == QLatin1Char(';') && !quoted) {
            head.append(line.mid(start, i - start));
            start = i + 1;
        }
    }
    head.append(line.mid(start, end - start));
    return head;
}

// A comma is text in 2.1 and separates values in 3.0.
bool hasBareComma(const QString& value)
{
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value.at(i) == QLatin1Char('\\')) {
            ++i;
        } else if (value.at(i) == QLatin1Char(',')) {
            return true;
        }
    }
    return false;
}

QString withCommasEscaped(const QString& value)
{
    QString out;
    out.reserve(value.size() + 4);
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value.at(i) == QLatin1Char('\\') && i + 1 < value.size()) {
            out.append(value.at(i)).append(value.at(i + 1));
            ++i;
        } else if (value.at(i) == QLatin1Char(',')) {
            out.append(QLatin1String("\\,"));
        } else {
            out.append(value.at(i));
        }
    }
    return out;
}

bool needsVCard30Form(const VCardLine& line, bool version21)
{
    if (version21 && line.decoded && hasBareComma(*line.decoded)) {
        return true;
    }
    for (const auto& param : line.params) {
        if (param.first.isEmpty() || param.first == QLatin1String("CHARSET")
            || (param.first == QLatin1String("ENCODING")
                && param.second.compare(QLatin1String("b"), Qt::CaseInsensitive))) {
            return true;
        }
    }
    return false;
}

QString vCard30Form(const VCardLine& line, bool version21)
{
    if (line.name.isEmpty()) {
        return line.text;
    }
    QStringList head = vCardHead(line.text);
    QStringList kept {head.takeFirst().trimmed()};
    QStringList types;
    bool binary = false;
    for (const QString& param : std::as_const(head)) {
        const qsizetype equals = param.indexOf(QLatin1Char('='));
        const QString name = (equals < 0 ? QString() : param.left(equals)).trimmed().toUpper();
        const QString value = (equals < 0 ? param : param.mid(equals + 1)).trimmed();
        const QString upper = value.toUpper();
        if (name == QLatin1String("CHARSET")) {
            continue; // everything is written in UTF-8
        }
        if (name.isEmpty() || name == QLatin1String("ENCODING")) {
            if (upper == QLatin1String("BASE64") || upper == QLatin1String("B")) {
                binary = true;
            } else if (upper != QLatin1String("QUOTED-PRINTABLE") && upper != QLatin1String("8BIT")
                       && upper != QLatin1String("7BIT")) {
                if (name.isEmpty()) {
                    types.append(value); // a bare 2.1 type: TEL;CELL;PREF
                } else {
                    kept.append(param);
                }
            }
            continue;
        }
        kept.append(param);
    }
    if (!types.isEmpty()) {
        kept.append(QStringLiteral("TYPE=") + types.join(QLatin1Char(',')));
    }
    QString value;
    if (binary) {
        kept.append(QStringLiteral("ENCODING=b"));
        value = line.value;
        value.remove(QRegularExpression(QStringLiteral("\\s")));
    } else {
        // A quoted-printable value may hold line breaks, which 3.0 writes as "\\n".
        value = line.decoded ? *line.decoded : line.value;
        value.replace(QLatin1String("\r\n"), QLatin1String("\\n"))
            .replace(QLatin1Char('\n'), QLatin1String("\\n"))
            .replace(QLatin1Char('\r'), QLatin1String("\\n"));
        if (version21) {
            value = withCommasEscaped(value);
        }
    }
    return kept.join(QLatin1Char(';')) + QLatin1Char(':') + value;
}

QString vCard30Form(const QString& contentLine)
{
    return vCard30Form(parsedLine(LogicalLine {contentLine, 1, 1, isQuotedPrintable(contentLine), 0, 0}), false);
}

QString vCardEscaped(const QString& value)
{
    return QString::fromUtf8(escaped(value));
}

QString vCardUnescaped(const QString& value)
{
    return unescaped(value);
}

QStringList splitUnescaped(const QString& text, QChar separator)
{
    if (!text.contains(QLatin1Char('\\'))) {
        return text.split(separator);
    }
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

void appendVCardLine(QByteArray& out, const QByteArray& bytes, QByteArrayView lineEnd)
{
    qsizetype at = 0;
    int room = kFoldOctets;
    while (bytes.size() - at > room) {
        qsizetype cut = at + room;
        while (cut > at && (uchar(bytes.at(cut)) & 0xC0) == 0x80) {
            --cut;
        }
        out.append(bytes.constData() + at, cut - at);
        out.append(lineEnd).append(' ');
        at = cut;
        room = kFoldOctets - 1; // the space in front counts
    }
    out.append(bytes.constData() + at, bytes.size() - at);
    out.append(lineEnd);
}

void appendVCard(QByteArray& out, const ExportContact& contact)
{
    out.append(exportedCard(contact.card, contact.fields, contact.uid, contact.agreement));
}

void appendVCard(QByteArray& out, const ContactFields& f, const QString& uid)
{
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
    if (!uid.isEmpty()) {
        appendVCardLine(out, "UID:" + uid.toUtf8());
    }
    out.append("END:VCARD\r\n");
}

QByteArray writeVCards(const QList<ExportContact>& contacts, const Progress& progress)
{
    qsizetype size = 0;
    for (const ExportContact& contact : contacts) {
        size += contact.card.size() + 300;
    }
    QByteArray out;
    out.reserve(size);
    for (qsizetype i = 0; i < contacts.size(); ++i) {
        if (progress && i % 1000 == 0 && !progress(i, contacts.size())) {
            return {};
        }
        appendVCard(out, contacts.at(i));
    }
    return out;
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

QString vCardText(const QByteArray& bytes, bool* utf8)
{
    const QByteArray whole = withWholeCharacters(bytes);
    if (utf8) {
        // Text without a byte-order mark that is UTF-8 reads as UTF-8: one decoding tells both.
        *utf8 = false;
        if (!whole.startsWith("\xEF\xBB\xBF") && !whole.startsWith("\xFF\xFE") && !whole.startsWith("\xFE\xFF")
            && !whole.contains('\0')) {
            QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
            QString text = decoder.decode(whole);
            if (!decoder.hasError()) {
                *utf8 = true;
                return text;
            }
        }
    }
    return decodeText(whole);
}

QList<QByteArrayView> vCardPhysicalLines(const QByteArray& bytes)
{
    QList<QByteArrayView> lines;
    forEachPhysicalLine(bytes, [&](qsizetype start, qsizetype, qsizetype next) {
        lines.append(QByteArrayView(bytes).sliced(start, next - start));
    });
    return lines;
}

QList<ReadCard> readVCardCards(const QString& text)
{
    QList<ReadCard> cards;
    forEachCard(text, true, [&](ReadCard card) { cards.append(std::move(card)); });
    return cards;
}

std::optional<ContactFields> firstVCardFields(const QString& text)
{
    std::optional<ContactFields> first;
    forEachCard(text, false, [&](const ReadCard& card) {
        if (!first && card.ended) {
            const ContactFields fields = importedFields(card.fields);
            if (!isEmpty(fields)) {
                first = fields;
            }
        }
    });
    return first;
}

bool forEachVCardContact(const QString& text,
                         const std::function<bool(const ReadContact&, qsizetype)>& contact,
                         QList<int>& unreadable)
{
    bool stopped = false;
    forEachCard(
        text,
        false,
        [&](const ReadCard& card) {
            const int line = card.lines.first().line;
            if (card.ended && !isEmpty(importedFields(card.fields))) {
                stopped = !contact({card.fields,
                                    line,
                                    QStringView(text).sliced(card.textStart, card.textEnd - card.textStart).toUtf8(),
                                    card.uid,
                                    card.details},
                                   card.textStart);
            } else {
                unreadable.append(line);
            }
        },
        &stopped);
    return !stopped;
}

ReadResult readVCards(const QString& text)
{
    ReadResult result;
    forEachVCardContact(
        text,
        [&](const ReadContact& contact, qsizetype) {
            result.contacts.append(contact);
            return true;
        },
        result.unreadableLines);
    return result;
}
