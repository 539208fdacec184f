#include "Csv.h"

#include "Contact.h"
#include "ImportRules.h"

namespace {

// Where a column's cells go. The display name only gives the names of a row that has none of its own.
enum Target { Surname, Given, Address, City, State, Mobile, Phone, DisplayName, TargetCount };

struct Heading
{
    Target target;
    const char* text;
};

// For each target, its headings in order of preference: where a row has several of them filled, the first wins.
const Heading kHeadings[] = {
    {Surname, "Cognome"},
    {Surname, "Last Name"},
    {Surname, "Surname"},
    {Surname, "Family Name"},
    {Given, "Nome"},
    {Given, "First Name"},
    {Given, "Given Name"},
    {Address, "Indirizzo"},
    {Address, "Home Street"},
    {Address, "Home Address"},
    {Address, "Street"},
    {Address, "Address"},
    {Address, "Business Street"},
    {City, "Città"},
    {City, "Home City"},
    {City, "City"},
    {City, "Business City"},
    {State, "PR"},
    {State, "Provincia"},
    {State, "Home State"},
    {State, "State"},
    {State, "Province"},
    {State, "Region"},
    {State, "Business State"},
    {Mobile, "Cellulare"},
    {Mobile, "Mobile Phone"},
    {Mobile, "Mobile Number"},
    {Mobile, "Mobile"},
    {Mobile, "Cell Phone"},
    {Mobile, "Cellular"},
    {Phone, "Telefono"},
    {Phone, "Home Phone"},
    {Phone, "Phone"},
    {Phone, "Telephone"},
    {Phone, "Primary Phone"},
    {Phone, "Business Phone"},
    {Phone, "Work Phone"},
    {DisplayName, "Display Name"},
    {DisplayName, "Full Name"},
    {DisplayName, "Name"},
};

// Headings compared by their letters and digits alone, without case or accents: "Home  City", "home_city" and
// "Citta" are understood.
QString headingKey(const QString& text)
{
    QString key;
    for (const QChar c : text.normalized(QString::NormalizationForm_D)) {
        if (c.isLetterOrNumber()) {
            key.append(c.toLower());
        }
    }
    return key;
}

QString cell(const QString& value)
{
    if (!value.contains(QLatin1Char(';')) && !value.contains(QLatin1Char('"')) && !value.contains(QLatin1Char('\n'))
        && !value.contains(QLatin1Char('\r'))) {
        return value;
    }
    QString text = value;
    return QLatin1Char('"') + text.replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
}

struct Row
{
    QStringList cells;
    int line = 0;
    bool complete = true;
};

// The separator most used outside quotes on the first line; ";" when none is.
QChar separatorOf(QStringView text)
{
    int semicolons = 0;
    int commas = 0;
    int tabs = 0;
    bool quoted = false;
    for (const QChar c : text) {
        if (c == QLatin1Char('"')) {
            quoted = !quoted;
        } else if (!quoted && (c == QLatin1Char('\n') || c == QLatin1Char('\r'))) {
            break;
        } else if (!quoted) {
            semicolons += c == QLatin1Char(';');
            commas += c == QLatin1Char(',');
            tabs += c == QLatin1Char('\t');
        }
    }
    if (tabs > semicolons && tabs > commas) {
        return QLatin1Char('\t');
    }
    return commas > semicolons ? QLatin1Char(',') : QLatin1Char(';');
}

// Rows by RFC 4180, leniently: a quote inside an unquoted cell is kept as text, and a row whose quote never closes
// ends the file incomplete. One row at a time, so that memory holds the contacts found, not every cell of the file.
class RowReader
{
public:
    // skippedLines: the lines before text in the file, for the line a refusal names.
    RowReader(QStringView text, QChar separator, int skippedLines)
        : m_text(text)
        , m_separator(separator)
        , m_skippedLines(skippedLines)
    {
    }

    // The next row, false at the end; throws CsvTooWide for a row of more than kMostCsvColumns cells.
    bool next(Row& row)
    {
        const qsizetype n = m_text.size();
        qsizetype i = m_at;
        if (i >= n) {
            return false;
        }
        row = Row();
        row.line = m_line;
        QString value;
        bool atCellStart = true;
        bool quoted = false;
        bool endOfRow = false;
        while (i < n && !endOfRow) {
            const QChar c = m_text.at(i);
            if (quoted) {
                if (c == QLatin1Char('"')) {
                    if (i + 1 < n && m_text.at(i + 1) == QLatin1Char('"')) {
                        value.append(c);
                        ++i;
                    } else {
                        quoted = false;
                    }
                } else {
                    if (c == QLatin1Char('\n')
                        || (c == QLatin1Char('\r') && !(i + 1 < n && m_text.at(i + 1) == QLatin1Char('\n')))) {
                        ++m_line;
                    }
                    value.append(c);
                }
            } else if (c == QLatin1Char('"') && atCellStart) {
                quoted = true;
                atCellStart = false;
            } else if (c == m_separator) {
                if (row.cells.size() + 1 >= kMostCsvColumns) {
                    throw CsvTooWide {row.line + m_skippedLines};
                }
                row.cells.append(value);
                value.clear();
                atCellStart = true;
            } else if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
                if (c == QLatin1Char('\r') && i + 1 < n && m_text.at(i + 1) == QLatin1Char('\n')) {
                    ++i;
                }
                ++m_line;
                endOfRow = true;
            } else {
                value.append(c);
                atCellStart = false;
            }
            ++i;
        }
        row.cells.append(value);
        row.complete = !quoted;
        m_at = i;
        return true;
    }

private:
    QStringView m_text;
    QChar m_separator;
    int m_skippedLines;
    qsizetype m_at = 0;
    int m_line = 1;
};

bool isBlank(const QStringList& cells)
{
    for (const QString& c : cells) {
        if (!c.trimmed().isEmpty()) {
            return false;
        }
    }
    return true;
}

} // namespace

QStringList csvHeadings()
{
    return {QStringLiteral("Cognome"),
            QStringLiteral("Nome"),
            QStringLiteral("Indirizzo"),
            QStringLiteral("Città"),
            QStringLiteral("PR"),
            QStringLiteral("Cellulare"),
            QStringLiteral("Telefono")};
}

QByteArray writeCsv(const QList<ExportContact>& contacts, const Progress& progress)
{
    QString text;
    text.reserve(contacts.size() * 90 + 64);
    text.append(csvHeadings().join(QLatin1Char(';'))).append(QLatin1String("\r\n"));
    for (qsizetype i = 0; i < contacts.size(); ++i) {
        if (progress && i % 1000 == 0 && !progress(i, contacts.size())) {
            return {};
        }
        const ContactFields& f = contacts.at(i).fields;
        // The telephone as the list shows it: a spreadsheet would read bare digits as a number and drop the 0 in front.
        text.append(cell(f.firstName)).append(QLatin1Char(';'));
        text.append(cell(f.lastName)).append(QLatin1Char(';'));
        text.append(cell(f.address)).append(QLatin1Char(';'));
        text.append(cell(f.city)).append(QLatin1Char(';'));
        text.append(cell(f.state)).append(QLatin1Char(';'));
        text.append(cell(f.zip)).append(QLatin1Char(';'));
        text.append(cell(ReadablePhone(f.phoneNumber))).append(QLatin1String("\r\n"));
    }
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

std::optional<ReadResult> readCsv(const QString& text)
{
    qsizetype start = 0;
    int skippedLines = 0;
    // Blank lines before the heading row are passed over.
    while (start < text.size()) {
        const qsizetype end = text.indexOf(QLatin1Char('\n'), start);
        const QStringView line = QStringView(text).mid(start, end < 0 ? -1 : end - start);
        if (!line.trimmed().isEmpty()) {
            break;
        }
        ++skippedLines;
        start = end < 0 ? text.size() : end + 1;
    }
    const QStringView body = QStringView(text).mid(start);
    RowReader reader(body, separatorOf(body), skippedLines);
    Row headingRow;
    if (!reader.next(headingRow)) {
        return std::nullopt;
    }

    // Column of each heading found, by target and preference.
    QList<QPair<int, int>> columns[TargetCount]; // (preference, column)
    const QStringList& headings = headingRow.cells;
    bool known = false;
    for (int column = 0; column < headings.size(); ++column) {
        const QString key = headingKey(headings.at(column));
        for (int preference = 0; preference < int(std::size(kHeadings)); ++preference) {
            if (key == headingKey(QString::fromUtf8(kHeadings[preference].text))) {
                columns[kHeadings[preference].target].append({preference, column});
                known = true;
                break;
            }
        }
    }
    if (!known) {
        return std::nullopt;
    }
    for (auto& list : columns) {
        std::sort(list.begin(), list.end());
    }

    ReadResult result;
    Row row;
    while (reader.next(row)) {
        const int line = row.line + skippedLines;
        if (!row.complete) {
            result.unreadableLines.append(line);
            continue;
        }
        if (isBlank(row.cells)) {
            continue;
        }
        QString values[TargetCount];
        for (int t = 0; t < TargetCount; ++t) {
            for (const auto& column : std::as_const(columns[t])) {
                const QString value = row.cells.value(column.second).trimmed();
                if (!value.isEmpty()) {
                    values[t] = QString(value.constData(), value.size()); // no spare room: many are kept
                    break;
                }
            }
        }
        ContactFields fields {values[Surname],
                              values[Given],
                              values[Address],
                              values[City],
                              values[State],
                              values[Mobile],
                              values[Phone]};
        if (fields.firstName.isEmpty() && fields.lastName.isEmpty() && !values[DisplayName].isEmpty()) {
            const PersonName name = namesFromDisplayName(values[DisplayName]);
            fields.firstName = name.surname;
            fields.lastName = name.given;
        }
        if (isEmpty(importedFields(fields))) {
            // Cells only in columns the program does not keep (an e-mail address alone): nothing to add.
            result.unreadableLines.append(line);
            continue;
        }
        result.contacts.append({fields, line});
    }
    return result;
}

QStringList understoodHeadings()
{
    QStringList list = csvHeadings();
    for (const Heading& heading : kHeadings) {
        if (!list.contains(QString::fromUtf8(heading.text))) {
            list.append(QString::fromUtf8(heading.text));
        }
    }
    return list;
}
