#include "exchange/ImportRules.h"

#include <QRegularExpression>

namespace {

bool isSeparator(QChar c)
{
    return c.isSpace() || c == QLatin1Char('-') || c == QLatin1Char('.') || c == QLatin1Char('/')
        || c == QLatin1Char('(') || c == QLatin1Char(')');
}

// The window's fields hold one line: the lines of a multi-line value ("Via Roma 1\nScala B") are joined with ", ".
// A half of a surrogate pair cannot be stored; a file that holds one gets the replacement character there.
QString storable(QString text)
{
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < n && text.at(i + 1).isLowSurrogate()) {
            ++i;
        } else if (c.isSurrogate()) {
            text[i] = QChar::ReplacementCharacter;
        }
    }
    return text;
}

QString oneLine(const QString& value)
{
    const QString text = storable(value);
    static const QRegularExpression lineBreak(QStringLiteral("\\r\\n|\\r|\\n"));
    if (!text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r'))) {
        return text.trimmed();
    }
    QStringList lines = text.split(lineBreak);
    for (QString& line : lines) {
        line = line.trimmed();
    }
    lines.removeAll(QString());
    return lines.join(QLatin1String(", "));
}

} // namespace

QString normalizePhone(const QString& text)
{
    QString number = text.trimmed();
    if (number.startsWith(QLatin1String("tel:"), Qt::CaseInsensitive)) {
        // A tel: address may carry parameters (";ext=12") that are not part of the number dialled.
        number = number.mid(4).section(QLatin1Char(';'), 0, 0);
    }
    QString digits;
    bool plus = false;
    for (const QChar c : std::as_const(number)) {
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            digits.append(c);
        } else if (c == QLatin1Char('+') && digits.isEmpty()) {
            plus = true;
        } else if (!isSeparator(c)) {
            // Letters ("int. 12", "ufficio") are not part of the number; its digits are kept in order.
            continue;
        }
    }
    if (plus) {
        return digits.startsWith(QLatin1String("39")) ? digits.mid(2) : QLatin1Char('+') + digits;
    }
    return digits.startsWith(QLatin1String("0039")) ? digits.mid(4) : digits;
}

namespace {

// Italian area codes are two to four digits long: 02 and 06, the three-digit ones of the large cities, four digits
// for the rest.
int areaCodeLength(const QString& digits)
{
    static const QStringList threeDigits {
        QStringLiteral("010"), QStringLiteral("011"), QStringLiteral("015"), QStringLiteral("019"),
        QStringLiteral("030"), QStringLiteral("031"), QStringLiteral("035"), QStringLiteral("039"),
        QStringLiteral("040"), QStringLiteral("041"), QStringLiteral("045"), QStringLiteral("049"),
        QStringLiteral("050"), QStringLiteral("051"), QStringLiteral("055"), QStringLiteral("059"),
        QStringLiteral("070"), QStringLiteral("071"), QStringLiteral("075"), QStringLiteral("079"),
        QStringLiteral("080"), QStringLiteral("081"), QStringLiteral("085"), QStringLiteral("089"),
        QStringLiteral("090"), QStringLiteral("091"), QStringLiteral("095"), QStringLiteral("099")};
    if (digits.startsWith(QLatin1String("02")) || digits.startsWith(QLatin1String("06"))) {
        return 2;
    }
    return threeDigits.contains(digits.left(3)) ? 3 : 4;
}

bool isNumberText(const QString& text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) {
        return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('+') || isSeparator(c);
    });
}

} // namespace

QString writtenPhone(const QString& number)
{
    const QString digits = normalizePhone(number);
    if (digits.isEmpty() || !isNumberText(number.trimmed()) || digits.startsWith(QLatin1Char('+'))) {
        return digits.isEmpty() || !isNumberText(number.trimmed()) ? number.trimmed() : digits;
    }
    // Landlines after their area code, mobiles (3..) and service numbers (8..) after three digits.
    const int prefix = digits.startsWith(QLatin1Char('0')) ? areaCodeLength(digits) : 3;
    if (digits.size() <= prefix + 2) {
        return digits;
    }
    return digits.left(prefix) + QLatin1Char(' ') + digits.mid(prefix);
}

QString internationalPhone(const QString& number)
{
    const QString written = writtenPhone(number);
    const QString digits = normalizePhone(number);
    if (digits.isEmpty() || digits.startsWith(QLatin1Char('+')) || !isNumberText(number.trimmed())) {
        return written;
    }
    return QStringLiteral("+39 ") + written;
}

PersonName namesFromDisplayName(const QString& displayName)
{
    const QString name = displayName.simplified();
    const qsizetype comma = name.indexOf(QLatin1Char(','));
    if (comma >= 0) {
        return {name.left(comma).trimmed(), name.mid(comma + 1).trimmed()};
    }
    QStringList words = name.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.size() < 2) {
        return {name, QString()};
    }
    // A surname keeps the particles before it: "Lorenzo De Santis", "Anna Maria della Valle".
    static const QStringList particles {QStringLiteral("da"),
                                        QStringLiteral("dal"),
                                        QStringLiteral("dalla"),
                                        QStringLiteral("de"),
                                        QStringLiteral("dei"),
                                        QStringLiteral("degli"),
                                        QStringLiteral("del"),
                                        QStringLiteral("della"),
                                        QStringLiteral("delle"),
                                        QStringLiteral("di"),
                                        QStringLiteral("la"),
                                        QStringLiteral("lo"),
                                        QStringLiteral("van"),
                                        QStringLiteral("von"),
                                        QStringLiteral("der")};
    qsizetype first = words.size() - 1;
    while (first > 1 && particles.contains(words.at(first - 1), Qt::CaseInsensitive)) {
        --first;
    }
    return {words.mid(first).join(QLatin1Char(' ')), words.mid(0, first).join(QLatin1Char(' '))};
}

ContactFields importedFields(const ContactFields& fields)
{
    return {oneLine(fields.firstName),
            oneLine(fields.lastName),
            oneLine(fields.address),
            oneLine(fields.city),
            oneLine(fields.state),
            normalizePhone(fields.zip),
            normalizePhone(fields.phoneNumber)};
}

bool isEmpty(const ContactFields& fields)
{
    return fields.firstName.isEmpty() && fields.lastName.isEmpty() && fields.address.isEmpty() && fields.city.isEmpty()
        && fields.state.isEmpty() && fields.zip.isEmpty() && fields.phoneNumber.isEmpty();
}

// Each field preceded by its length, so no text inside a field can make two different contacts look alike.
QString duplicateKey(const ContactFields& fields)
{
    QString key;
    for (const QString* field : {&fields.firstName,
                                 &fields.lastName,
                                 &fields.address,
                                 &fields.city,
                                 &fields.state,
                                 &fields.zip,
                                 &fields.phoneNumber}) {
        key += QString::number(field->size()) + QLatin1Char(':') + *field;
    }
    return key;
}
