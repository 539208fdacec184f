#include "data/Contact.h"

#include <optional>

// Display rules. Stored digits of 8 to 16 characters are laid out as "(" 3 digits ") " the middle "-" the last 4
// digits (4 + 8 + 4 for 16 digits, so the parts always fit the three fields); 10 digits give the familiar
// "(045) 123-4567". Anything else (shorter or longer digit runs, text written by other programs) is shown as it is
// stored. A stored value that would read as a laid-out number, or that starts with the marker "'", is shown with the
// marker in front, so that splitting the text always gives back exactly the stored value.

namespace {

const QChar literalMarker = QLatin1Char('\'');
constexpr int lineLength = 4;

bool isDigits(QStringView text)
{
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) {
            return false;
        }
    }
    return true;
}

// Area and line lengths for a run of digits laid out as a phone text; 0 when the run is shown as it stands.
int areaLength(qsizetype digitCount)
{
    if (digitCount < 8 || digitCount > 16) {
        return 0;
    }
    return digitCount == 16 ? 4 : 3;
}

QString layout(const QString& digits)
{
    const int area = areaLength(digits.size());
    return QLatin1Char('(') + digits.left(area) + QLatin1String(") ")
        + digits.mid(area, digits.size() - area - lineLength) + QLatin1Char('-') + digits.right(lineLength);
}

// The fields of a phone text that layout() produced, or nothing when the text is not exactly such a text.
std::optional<PhoneFields> parseLayout(const QString& text)
{
    const qsizetype close = text.indexOf(QLatin1String(") "));
    const qsizetype dash = text.lastIndexOf(QLatin1Char('-'));
    if (!text.startsWith(QLatin1Char('(')) || close < 0 || dash < close + 2) {
        return std::nullopt;
    }
    PhoneFields fields {text.mid(1, close - 1), text.mid(close + 2, dash - close - 2), text.mid(dash + 1)};
    const QString digits = JoinPhoneFields(fields.area, fields.prefix, fields.line);
    if (!isDigits(digits) || areaLength(digits.size()) == 0 || layout(digits) != text) {
        return std::nullopt;
    }
    return fields;
}

} // namespace

QString JoinPhoneFields(const QString& area, const QString& prefix, const QString& line)
{
    return area + prefix + line;
}

// Laid out from the joined value, so a saved row shows exactly what it will show when the list is read again.
QString FormatPhoneFields(const QString& area, const QString& prefix, const QString& line)
{
    return FormatStoredPhone(JoinPhoneFields(area, prefix, line));
}

QString FormatStoredPhone(const QVariant& storedDigits)
{
    return FormatStoredPhone(textOf(storedDigits));
}

QString FormatStoredPhone(const QString& storedDigits)
{
    if (storedDigits.isEmpty()) {
        return {};
    }
    if (isDigits(storedDigits) && areaLength(storedDigits.size()) > 0) {
        return layout(storedDigits);
    }
    if (storedDigits.startsWith(literalMarker) || parseLayout(storedDigits)) {
        return literalMarker + storedDigits;
    }
    return storedDigits;
}

QString ReadablePhone(const QVariant& storedDigits)
{
    const QString stored = textOf(storedDigits);
    return isDigits(stored) && areaLength(stored.size()) > 0 ? layout(stored) : stored;
}

// A text shown as stored goes whole into the prefix, the widest of the three fields.
PhoneFields SplitPhoneText(const QString& phoneText)
{
    if (phoneText.startsWith(literalMarker)) {
        return {QString(), phoneText.mid(1), QString()};
    }
    if (const auto fields = parseLayout(phoneText)) {
        return *fields;
    }
    return {QString(), phoneText, QString()};
}

QString textOf(const QVariant& value)
{
    return value.isNull() ? QString() : value.toString();
}
