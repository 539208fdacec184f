#include "CardEdit.h"

#include "ImportRules.h"
#include "VCard.h"

#include <QCryptographicHash>
#include <QStringList>

namespace {

QStringList unfolded(const QString& text)
{
    QStringList lines;
    for (const QString& physical : text.split(QLatin1Char('\n'))) {
        QString line = physical;
        if (line.endsWith(QLatin1Char('\r'))) {
            line.chop(1);
        }
        if (!lines.isEmpty() && !line.isEmpty()
            && (line.front() == QLatin1Char(' ') || line.front() == QLatin1Char('\t'))) {
            lines.last().append(line.mid(1));
        } else if (!line.isEmpty()) {
            lines.append(line);
        }
    }
    return lines;
}

QString nameOf(const QString& line)
{
    const QString name = vCardHead(line).first().trimmed();
    return name.mid(name.lastIndexOf(QLatin1Char('.')) + 1).toUpper();
}

QString valueOf(const QString& line)
{
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line.at(i) == QLatin1Char('"')) {
            quoted = !quoted;
        } else if (line.at(i) == QLatin1Char(':') && !quoted) {
            return line.mid(i + 1);
        }
    }
    return {};
}

QStringList typesOf(const QString& line)
{
    QStringList types;
    const QStringList head = vCardHead(line).mid(1);
    for (const QString& param : head) {
        const qsizetype equals = param.indexOf(QLatin1Char('='));
        if (equals >= 0 && param.left(equals).trimmed().compare(QLatin1String("TYPE"), Qt::CaseInsensitive) != 0) {
            continue;
        }
        QString values = param.mid(equals + 1);
        values.remove(QLatin1Char('"'));
        for (const QString& type : values.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            types.append(type.trimmed().toLower());
        }
    }
    return types;
}

bool hasParam(const QString& line, const char* name)
{
    for (const QString& param : vCardHead(line).mid(1)) {
        if (param.trimmed().startsWith(QLatin1String(name), Qt::CaseInsensitive)) {
            return true;
        }
    }
    return false;
}

bool isMobile(const QStringList& types)
{
    static const QStringList mobile = {QStringLiteral("cell"),
                                       QStringLiteral("mobile"),
                                       QStringLiteral("cellular"),
                                       QStringLiteral("iphone"),
                                       QStringLiteral("x-mobile")};
    for (const QString& type : types) {
        if (mobile.contains(type)) {
            return true;
        }
    }
    return false;
}

// The lines of the card the program reads its fields from, in the order the reader takes them.
struct ReadLines
{
    QList<qsizetype> names; // every N and FN
    qsizetype address = -1;
    qsizetype mobile = -1;
    qsizetype phone = -1;
};

ReadLines readLines(const QStringList& lines)
{
    ReadLines read;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString name = nameOf(lines.at(i));
        if (name == QLatin1String("N") || name == QLatin1String("FN")) {
            read.names.append(i);
        } else if (name == QLatin1String("ADR") && read.address < 0) {
            read.address = i;
        } else if (name == QLatin1String("TEL") && !valueOf(lines.at(i)).trimmed().isEmpty()) {
            const QStringList types = typesOf(lines.at(i));
            if (isMobile(types)) {
                if (read.mobile < 0) {
                    read.mobile = i;
                }
            } else if (!types.contains(QLatin1String("fax")) && !types.contains(QLatin1String("pager"))
                       && read.phone < 0) {
                read.phone = i;
            }
        }
    }
    return read;
}

// The address line of the fields written over an existing one: post box, postal code and country stay.
QString mergedAddress(const QString& oldLine, const QString& newLine)
{
    if (hasParam(oldLine, "ENCODING") || hasParam(oldLine, "CHARSET") || newLine.isEmpty()) {
        return newLine;
    }
    QStringList parts = splitUnescaped(valueOf(oldLine), QLatin1Char(';'));
    while (parts.size() < 7) {
        parts.append(QString());
    }
    const QStringList fresh = splitUnescaped(valueOf(newLine), QLatin1Char(';'));
    if (parts.at(2).isEmpty()) {
        parts[1].clear(); // the extended address stood for the street
    }
    parts[2] = fresh.value(2);
    parts[3] = fresh.value(3);
    parts[4] = fresh.value(4);
    const qsizetype colon = oldLine.size() - valueOf(oldLine).size() - 1;
    return oldLine.left(colon + 1) + parts.join(QLatin1Char(';'));
}

QByteArray joined(const QStringList& lines)
{
    QByteArray out;
    for (const QString& line : lines) {
        appendVCardLine(out, line.toUtf8());
    }
    return out;
}

QByteArray edited(const QStringList& old, const ContactFields& fields, bool everyAddressAndNumber)
{
    const QStringList fresh = unfolded(QString::fromUtf8(newCard(fields, QString())));
    QStringList freshNames;
    QString freshAddress;
    QStringList freshNumbers;
    for (const QString& line : fresh) {
        const QString name = nameOf(line);
        if (name == QLatin1String("N") || name == QLatin1String("FN")) {
            freshNames.append(line);
        } else if (name == QLatin1String("ADR")) {
            freshAddress = line;
        } else if (name == QLatin1String("TEL")) {
            freshNumbers.append(line);
        }
    }

    const ReadLines read = readLines(old);
    QStringList lines;
    qsizetype end = -1;
    for (qsizetype i = 0; i < old.size(); ++i) {
        const QString name = nameOf(old.at(i));
        const bool replaced = read.names.contains(i) || i == read.address || i == read.mobile || i == read.phone
            || (everyAddressAndNumber && (name == QLatin1String("ADR") || name == QLatin1String("TEL")));
        if (name == QLatin1String("END") && end < 0) {
            end = lines.size();
        }
        if (i == read.address && !everyAddressAndNumber) {
            const QString address = mergedAddress(old.at(i), freshAddress);
            if (!address.isEmpty()) {
                lines.append(address);
            }
            freshAddress.clear();
        } else if (!replaced) {
            lines.append(old.at(i));
        }
    }
    if (end < 0) {
        end = lines.size();
        lines.append(QStringLiteral("END:VCARD"));
    }
    QStringList added = freshNames;
    if (!freshAddress.isEmpty()) {
        added.append(freshAddress);
    }
    added.append(freshNumbers);
    for (qsizetype i = 0; i < added.size(); ++i) {
        lines.insert(end + i, added.at(i));
    }
    return joined(lines);
}

} // namespace

QByteArray newCard(const ContactFields& fields, const QString& uid)
{
    QByteArray card;
    appendVCard(card, {fields, 0});
    const QStringList lines = unfolded(QString::fromUtf8(card));
    QStringList out;
    for (const QString& line : lines) {
        if (nameOf(line) != QLatin1String("UID")) {
            out.append(line);
        } else if (!uid.isEmpty()) {
            out.append(QLatin1String("UID:") + uid);
        }
    }
    return joined(out);
}

QByteArray editedCard(const QByteArray& card, const ContactFields& fields)
{
    QStringList old = unfolded(QString::fromUtf8(card));
    // Only the first card counts; anything after its end is not the contact's.
    for (qsizetype i = 0; i < old.size(); ++i) {
        if (nameOf(old.at(i)) == QLatin1String("END")) {
            old = old.mid(0, i + 1);
            break;
        }
    }
    const ContactFields wanted = importedFields(fields);
    ContactFields got;
    QByteArray result = edited(old, fields, false);
    if (fieldsOfCard(result, got) && duplicateKey(got) == duplicateKey(wanted)) {
        return result;
    }
    // A card whose other addresses or numbers the reader would take in place of the new ones loses those.
    return edited(old, fields, true);
}

bool fieldsOfCard(const QByteArray& card, ContactFields& fields)
{
    const ReadResult read = readVCards(QString::fromUtf8(card));
    if (read.contacts.isEmpty()) {
        return false;
    }
    fields = importedFields(read.contacts.first().fields);
    return true;
}

QString fieldsDigest(const ContactFields& fields)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(duplicateKey(fields).toUtf8(), QCryptographicHash::Sha256).toHex());
}
