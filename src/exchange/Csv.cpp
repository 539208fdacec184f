#include "exchange/Csv.h"

#include "exchange/CardDetails.h"
#include "exchange/CardEdit.h"
#include "exchange/ImportRules.h"
#include "exchange/VCard.h"

#include <QDate>
#include <QRegularExpression>

namespace {

// Where a column's cells go. The display name only gives the names of a row that has none of its own; the company
// names a row that has no person's name.
enum Target {
    Surname,
    Given,
    Middle,
    Address,
    Address2,
    City,
    State,
    PostalCode,
    Country,
    Mobile, // numbers: the first filled of each kind fills its field, the rest are kept as other numbers
    Phone,
    ExtraPhone,
    OtherPhones, // ours: "tipo: numero" separated by "; "
    DisplayName,
    Organisation,
    Birthday,
    BirthYear,
    BirthMonth,
    BirthDay,
    Note,
    Email,
    Redundant, // repeats what other columns hold (a formatted address, the kind of an e-mail)
    TargetCount
};

// The targets that fill the seven fields: a file needs one of them to be a list of contacts.
bool isFieldTarget(Target target)
{
    return target <= State || target == Mobile || target == Phone || target == DisplayName;
}

struct Heading
{
    Target target;
    const char* text;
    const char* type = nullptr; // of a number: the vCard type it is written with
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
    {Middle, "Middle Name"},
    {Middle, "Additional Name"},
    {Address, "Indirizzo"},
    {Address, "Home Street"},
    {Address, "Home Address"},
    {Address, "Street"},
    {Address, "Address"},
    {Address, "Business Street"},
    {Address, "Work Address"},
    {Address2, "Home Street 2"},
    {Address2, "Home Address 2"},
    {Address2, "Street 2"},
    {Address2, "Business Street 2"},
    {Address2, "Work Address 2"},
    {City, "Città"},
    {City, "Home City"},
    {City, "City"},
    {City, "Business City"},
    {City, "Work City"},
    {State, "PR"},
    {State, "Provincia"},
    {State, "Home State"},
    {State, "State"},
    {State, "Province"},
    {State, "Region"},
    {State, "Business State"},
    {State, "Work State"},
    {PostalCode, "CAP"},
    {PostalCode, "Home Postal Code"},
    {PostalCode, "Home ZipCode"},
    {PostalCode, "Postal Code"},
    {PostalCode, "ZIP Code"},
    {PostalCode, "Business Postal Code"},
    {PostalCode, "Work ZipCode"},
    {Country, "Paese"},
    {Country, "Home Country/Region"},
    {Country, "Home Country"},
    {Country, "Country/Region"},
    {Country, "Country"},
    {Country, "Business Country/Region"},
    {Country, "Work Country"},
    {Mobile, "Cellulare", "CELL"},
    {Mobile, "Mobile Phone", "CELL"},
    {Mobile, "Mobile Number", "CELL"},
    {Mobile, "Mobile", "CELL"},
    {Mobile, "Cell Phone", "CELL"},
    {Mobile, "Cellular", "CELL"},
    {Phone, "Telefono", "HOME,VOICE"},
    {Phone, "Home Phone", "HOME,VOICE"},
    {Phone, "Phone", "VOICE"},
    {Phone, "Telephone", "VOICE"},
    {Phone, "Primary Phone", "VOICE"},
    {Phone, "Business Phone", "WORK,VOICE"},
    {Phone, "Work Phone", "WORK,VOICE"},
    {ExtraPhone, "Home Phone 2", "HOME,VOICE"},
    {ExtraPhone, "Business Phone 2", "WORK,VOICE"},
    {ExtraPhone, "Company Main Phone", "WORK,VOICE"},
    {ExtraPhone, "Other Phone", "VOICE"},
    {ExtraPhone, "Car Phone", "CAR"},
    {ExtraPhone, "Business Fax", "WORK,FAX"},
    {ExtraPhone, "Home Fax", "HOME,FAX"},
    {ExtraPhone, "Other Fax", "FAX"},
    {ExtraPhone, "Fax Number", "FAX"},
    {ExtraPhone, "Fax", "FAX"},
    {ExtraPhone, "Pager", "PAGER"},
    {ExtraPhone, "Pager Number", "PAGER"},
    {OtherPhones, "Altri telefoni"},
    {DisplayName, "Display Name"},
    {DisplayName, "Full Name"},
    {DisplayName, "Name"},
    {Organisation, "Organizzazione"},
    {Organisation, "Company"},
    {Organisation, "Organization"},
    {Organisation, "Organisation"},
    {Organisation, "Organization Name"},
    {Birthday, "Compleanno"},
    {Birthday, "Birthday"},
    {BirthYear, "Birth Year"},
    {BirthMonth, "Birth Month"},
    {BirthDay, "Birth Day"},
    {Note, "Note"},
    {Note, "Notes"},
    {Email, "E-mail"},
    {Email, "E-mail Address"},
    {Email, "Email"},
    {Email, "Email Address"},
    {Email, "Primary Email"},
    {Email, "E-mail 2 Address"},
    {Email, "E-mail 3 Address"},
    {Email, "Secondary Email"},
    {Redundant, "E-mail Type"},
    {Redundant, "E-mail Display Name"},
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

// A numbered column of the mail services' exports: "Phone 1 - Type", "E-mail 2 - Value", "Address 1 - Street".
enum class Numbered { None, PhoneType, PhoneValue, EmailValue, AddressPart, OrganisationName, Redundant };

struct Column
{
    Target target = TargetCount; // TargetCount: not a column the import reads
    int preference = 0;
    const char* type = nullptr;
    Numbered numbered = Numbered::None;
    int number = 0; // of a numbered column
    Target part = TargetCount; // of an address part
};

Column numberedColumn(const QString& heading)
{
    static const QRegularExpression pattern(
        QStringLiteral("^\\s*(phone|e-?mail|address|organi[sz]ation)\\s*(\\d+)\\s*-\\s*(.+?)\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(heading);
    Column column;
    if (!match.hasMatch()) {
        return column;
    }
    const QString kind = headingKey(match.captured(1));
    const QString what = headingKey(match.captured(3));
    column.number = match.captured(2).toInt();
    column.preference = 1000 + column.number;
    if (kind == QLatin1String("phone")) {
        column.numbered = what == QLatin1String("value")                      ? Numbered::PhoneValue
            : what == QLatin1String("type") || what == QLatin1String("label") ? Numbered::PhoneType
                                                                              : Numbered::None;
    } else if (kind == QLatin1String("email")) {
        column.numbered = what == QLatin1String("value") ? Numbered::EmailValue : Numbered::Redundant;
    } else if (kind == QLatin1String("organization") || kind == QLatin1String("organisation")) {
        column.numbered = what == QLatin1String("name") ? Numbered::OrganisationName : Numbered::None;
    } else {
        static const QList<QPair<const char*, Target>> parts {{"formatted", Redundant},
                                                              {"type", Redundant},
                                                              {"label", Redundant},
                                                              {"street", Address},
                                                              {"extendedaddress", Address2},
                                                              {"city", City},
                                                              {"region", State},
                                                              {"postalcode", PostalCode},
                                                              {"country", Country}};
        for (const auto& part : parts) {
            if (what == QLatin1String(part.first)) {
                column.numbered = Numbered::AddressPart;
                column.part = part.second;
            }
        }
    }
    return column;
}

Column columnOf(const QString& heading)
{
    const QString key = headingKey(heading);
    for (int preference = 0; preference < int(std::size(kHeadings)); ++preference) {
        if (key == headingKey(QString::fromUtf8(kHeadings[preference].text))) {
            return {kHeadings[preference].target, preference, kHeadings[preference].type};
        }
    }
    return numberedColumn(heading);
}

// A cell a spreadsheet would run as a formula starts with one of these; such a cell is written after a "'", which
// spreadsheets take for "text follows" and the import takes off again.
bool startsFormula(const QString& value)
{
    if (value.isEmpty()) {
        return false;
    }
    const QChar c = value.front();
    return c == QLatin1Char('=') || c == QLatin1Char('+') || c == QLatin1Char('-') || c == QLatin1Char('@')
        || c == QLatin1Char('\t') || c == QLatin1Char('\r');
}

QString cell(const QString& content)
{
    const QString value = startsFormula(content) ? QLatin1Char('\'') + content : content;
    if (!value.contains(QLatin1Char(';')) && !value.contains(QLatin1Char('"')) && !value.contains(QLatin1Char('\n'))
        && !value.contains(QLatin1Char('\r'))) {
        return value;
    }
    QString text = value;
    return QLatin1Char('"') + text.replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
}

QString cellText(const QString& cell)
{
    return cell.startsWith(QLatin1Char('\'')) && startsFormula(cell.mid(1)) ? cell.mid(1) : cell;
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

    // Rows only counted from now on, their cells not kept: the check of a file's width costs no memory.
    void countOnly() { m_keepCells = false; }

    // Where the next row starts in the text.
    qsizetype position() const { return m_at; }

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
        int cells = 0;
        while (i < n && !endOfRow) {
            const QChar c = m_text.at(i);
            if (quoted) {
                if (c == QLatin1Char('"')) {
                    if (i + 1 < n && m_text.at(i + 1) == QLatin1Char('"')) {
                        if (m_keepCells) {
                            value.append(c);
                        }
                        ++i;
                    } else {
                        quoted = false;
                    }
                } else {
                    if (c == QLatin1Char('\n')
                        || (c == QLatin1Char('\r') && !(i + 1 < n && m_text.at(i + 1) == QLatin1Char('\n')))) {
                        ++m_line;
                    }
                    if (m_keepCells) {
                        value.append(c);
                    }
                }
            } else if (c == QLatin1Char('"') && atCellStart) {
                quoted = true;
                atCellStart = false;
            } else if (c == m_separator) {
                if (++cells >= kMostCsvColumns) {
                    throw CsvTooWide {row.line + m_skippedLines};
                }
                if (m_keepCells) {
                    row.cells.append(value);
                    value.clear();
                }
                atCellStart = true;
            } else if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
                if (c == QLatin1Char('\r') && i + 1 < n && m_text.at(i + 1) == QLatin1Char('\n')) {
                    ++i;
                }
                ++m_line;
                endOfRow = true;
            } else {
                if (m_keepCells) {
                    value.append(c);
                }
                atCellStart = false;
            }
            ++i;
        }
        if (m_keepCells) {
            row.cells.append(value);
        }
        row.complete = !quoted;
        m_at = i;
        return true;
    }

private:
    QStringView m_text;
    QChar m_separator;
    int m_skippedLines;
    bool m_keepCells = true;
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

struct RowPhone
{
    QString type; // the vCard TYPE it is written with
    QString label; // a label of the user's own, kept beside it
    QString number;
    int rank = 0; // the lower, the more it is the contact's number of its kind
};

bool typeIs(const QString& type, const char* word)
{
    return type.split(QLatin1Char(',')).contains(QLatin1String(word), Qt::CaseInsensitive);
}

bool isMobileType(const QString& type)
{
    return typeIs(type, "CELL");
}

bool isCallableType(const QString& type)
{
    return !typeIs(type, "FAX") && !typeIs(type, "PAGER") && !isMobileType(type);
}

// The vCard type of a number from its kind as the mail services and our own export write it ("Mobile", "* Work",
// "Work Fax", "cell", "fax"); a label of the user's own is kept as a label.
RowPhone phoneOfKind(const QString& kindText, const QString& number, int rank)
{
    QString kind = kindText.trimmed();
    if (kind.startsWith(QLatin1String("* "))) {
        kind = kind.mid(2); // the primary number
    }
    const QString key = kind.toLower();
    RowPhone phone {QStringLiteral("VOICE"), QString(), number.trimmed(), rank};
    if (key.contains(QLatin1String("mobile")) || key.contains(QLatin1String("cell"))) {
        phone.type = QStringLiteral("CELL");
    } else if (key.contains(QLatin1String("fax"))) {
        phone.type = key.contains(QLatin1String("work")) ? QStringLiteral("WORK,FAX")
            : key.contains(QLatin1String("home"))        ? QStringLiteral("HOME,FAX")
                                                         : QStringLiteral("FAX");
    } else if (key.contains(QLatin1String("pager"))) {
        phone.type = QStringLiteral("PAGER");
    } else if (key == QLatin1String("work")) {
        phone.type = QStringLiteral("WORK,VOICE");
    } else if (key == QLatin1String("home")) {
        phone.type = QStringLiteral("HOME,VOICE");
    } else if (!key.isEmpty() && key != QLatin1String("main") && key != QLatin1String("other")
               && key != QLatin1String("voice")) {
        phone.label = kind;
    }
    return phone;
}

// The cells of one row gathered by what they are.
struct RowValues
{
    QString single[TargetCount];
    int preference[TargetCount];
    QList<RowPhone> phones;
    QStringList emails;

    RowValues() { std::fill(std::begin(preference), std::end(preference), std::numeric_limits<int>::max()); }

    void offer(Target target, int rank, const QString& value)
    {
        if (!value.isEmpty() && rank < preference[target]) {
            single[target] = value;
            preference[target] = rank;
        }
    }

    void addEmails(const QString& cell)
    {
        static const QRegularExpression separators(QStringLiteral("\\s*(?::::|[;,])\\s*"));
        for (const QString& email : cell.split(separators, Qt::SkipEmptyParts)) {
            if (!emails.contains(email.trimmed())) {
                emails.append(email.trimmed());
            }
        }
    }
};

// Google writes several values of one kind in a cell, " ::: " between them.
QStringList valuesOf(const QString& cell)
{
    QStringList values;
    for (const QString& value : cell.split(QStringLiteral(":::"), Qt::SkipEmptyParts)) {
        if (!value.trimmed().isEmpty()) {
            values.append(value.trimmed());
        }
    }
    return values;
}

QString birthdayOf(const QString& value)
{
    // Outlook writes "0/0/00" for no birthday.
    if (value.isEmpty() || QString(value).remove(QRegularExpression(QStringLiteral("[0/.-]"))).isEmpty()) {
        return {};
    }
    for (const char* format : {"yyyy-MM-dd", "yyyyMMdd"}) {
        const QDate date = QDate::fromString(value, QLatin1String(format));
        if (date.isValid()) {
            return date.toString(Qt::ISODate);
        }
    }
    return value;
}

class ColumnMap
{
public:
    explicit ColumnMap(const QStringList& headings)
    {
        for (const QString& heading : headings) {
            m_columns.append(columnOf(heading));
        }
    }

    bool knowsContacts() const
    {
        return std::any_of(m_columns.cbegin(), m_columns.cend(), [](const Column& c) {
            return (c.target != TargetCount && isFieldTarget(c.target))
                || (c.numbered == Numbered::AddressPart && isFieldTarget(c.part)) || c.numbered == Numbered::PhoneValue;
        });
    }

    bool isUsed(int column) const
    {
        const Column& c = m_columns.at(column);
        return c.target != TargetCount || c.numbered != Numbered::None;
    }

    RowValues values(const QStringList& cells) const
    {
        RowValues row;
        for (int i = 0; i < m_columns.size(); ++i) {
            const Column& column = m_columns.at(i);
            const QString value = cellText(cells.value(i).trimmed()).trimmed();
            if (value.isEmpty()) {
                continue;
            }
            switch (column.numbered) {
            case Numbered::None:
                offerColumn(row, column, value);
                break;
            case Numbered::PhoneValue:
                for (const QString& number : valuesOf(value)) {
                    row.phones.append(phoneOfKind(kindOf(cells, column.number), number, column.preference));
                }
                break;
            case Numbered::EmailValue:
                row.addEmails(valuesOf(value).join(QLatin1Char(',')));
                break;
            case Numbered::AddressPart:
                row.offer(column.part, column.preference, value);
                break;
            case Numbered::OrganisationName:
                row.offer(Organisation, column.preference, value);
                break;
            case Numbered::PhoneType:
            case Numbered::Redundant:
                break;
            }
        }
        std::stable_sort(
            row.phones.begin(), row.phones.end(), [](const RowPhone& a, const RowPhone& b) { return a.rank < b.rank; });
        return row;
    }

private:
    void offerColumn(RowValues& row, const Column& column, const QString& value) const
    {
        switch (column.target) {
        case Mobile:
        case Phone:
            row.phones.append({QLatin1String(column.type), QString(), value, column.preference});
            break;
        case ExtraPhone:
            row.phones.append({QLatin1String(column.type), QString(), value, 500 + column.preference});
            break;
        case OtherPhones:
            // "cell: 333 1234567; fax: 06 1234567", as the export writes them.
            for (const QString& phone : value.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
                const qsizetype colon = phone.indexOf(QLatin1Char(':'));
                row.phones.append(phoneOfKind(
                    colon < 0 ? QString() : phone.left(colon), colon < 0 ? phone : phone.mid(colon + 1), 2000));
            }
            break;
        case Email:
            row.addEmails(value);
            break;
        case Redundant:
        case TargetCount:
            break;
        default:
            row.offer(column.target, column.preference, value);
        }
    }

    QString kindOf(const QStringList& cells, int number) const
    {
        for (int i = 0; i < m_columns.size(); ++i) {
            if (m_columns.at(i).numbered == Numbered::PhoneType && m_columns.at(i).number == number) {
                return cellText(cells.value(i).trimmed());
            }
        }
        return {};
    }

    QList<Column> m_columns;
};

// The seven fields of a row and the card made of everything in it that the program understands.
struct RowContact
{
    ContactFields fields;
    QByteArray card;
    bool details = false;
};

RowContact contactOf(RowValues& row)
{
    QString* v = row.single;
    ContactFields fields;
    fields.firstName = v[Surname];
    fields.lastName = (v[Given] + QLatin1Char(' ') + v[Middle]).trimmed();
    fields.city = v[City];
    fields.state = v[State];
    const QString street = v[Address].isEmpty() ? v[Address2] : v[Address];
    const QString extended = v[Address].isEmpty() ? QString() : v[Address2];
    fields.address = extended.isEmpty() ? street : street + QStringLiteral(", ") + extended;

    // The first mobile number fills Cellulare, the first number to call Telefono; the rest stay on the card.
    qsizetype mobile = -1;
    qsizetype phone = -1;
    for (qsizetype i = 0; i < row.phones.size(); ++i) {
        if (mobile < 0 && isMobileType(row.phones.at(i).type)) {
            mobile = i;
        } else if (phone < 0 && isCallableType(row.phones.at(i).type)) {
            phone = i;
        }
    }
    fields.zip = mobile < 0 ? QString() : row.phones.at(mobile).number;
    fields.phoneNumber = phone < 0 ? QString() : row.phones.at(phone).number;

    bool company = false;
    const QString& organisation = v[Organisation];
    if (fields.firstName.isEmpty() && fields.lastName.isEmpty()) {
        const QString& display = v[DisplayName];
        if (!display.isEmpty() && display.compare(organisation, Qt::CaseInsensitive) != 0) {
            const PersonName name = namesFromDisplayName(display);
            fields.firstName = name.surname;
            fields.lastName = name.given;
        } else if (!display.isEmpty() || !organisation.isEmpty()) {
            fields.firstName = display.isEmpty() ? organisation : display;
            company = true;
        } else if (!row.emails.isEmpty() && isEmpty(importedFields(fields))) {
            fields.firstName = row.emails.first().section(QLatin1Char('@'), 0, 0);
        }
    }

    QByteArray card = "BEGIN:VCARD\r\nVERSION:3.0\r\n";
    const auto add = [&card](const QString& line) { appendVCardLine(card, line.toUtf8()); };
    const auto e = [](const QString& value) { return vCardEscaped(value); };
    if (company) {
        add(QStringLiteral("N:;;;;"));
        add(QStringLiteral("FN:") + e(fields.firstName));
        add(QStringLiteral("X-ABShowAs:COMPANY"));
    } else {
        const bool fromColumns = !v[Surname].isEmpty() || !v[Given].isEmpty() || !v[Middle].isEmpty();
        add(QStringLiteral("N:") + e(fields.firstName) + QLatin1Char(';') + e(fromColumns ? v[Given] : fields.lastName)
            + QLatin1Char(';') + e(fromColumns ? v[Middle] : QString()) + QStringLiteral(";;"));
        const QString display = v[DisplayName].isEmpty() || fromColumns
            ? (fields.lastName + QLatin1Char(' ') + fields.firstName).trimmed()
            : v[DisplayName];
        add(QStringLiteral("FN:") + e(display));
    }
    if (!organisation.isEmpty()) {
        add(QStringLiteral("ORG:") + e(organisation));
    }
    if (!street.isEmpty() || !fields.city.isEmpty() || !fields.state.isEmpty() || !v[PostalCode].isEmpty()
        || !v[Country].isEmpty()) {
        add(QStringLiteral("ADR:;") + e(extended) + QLatin1Char(';') + e(street) + QLatin1Char(';') + e(fields.city)
            + QLatin1Char(';') + e(fields.state) + QLatin1Char(';') + e(v[PostalCode]) + QLatin1Char(';')
            + e(v[Country]));
    }
    // The two numbers of the fields first, so that the card reads as the row.
    int group = 0;
    const auto addPhone = [&](const RowPhone& p) {
        if (p.label.isEmpty()) {
            add(QStringLiteral("TEL;TYPE=") + p.type + QLatin1Char(':') + e(p.number));
        } else {
            const QString item = QStringLiteral("item%1.").arg(++group);
            add(item + QStringLiteral("TEL;TYPE=") + p.type + QLatin1Char(':') + e(p.number));
            add(item + QStringLiteral("X-ABLabel:") + e(p.label));
        }
    };
    for (const qsizetype i : {mobile, phone}) {
        if (i >= 0) {
            addPhone(row.phones.at(i));
        }
    }
    for (qsizetype i = 0; i < row.phones.size(); ++i) {
        if (i != mobile && i != phone && !row.phones.at(i).number.isEmpty()) {
            addPhone(row.phones.at(i));
        }
    }
    for (const QString& email : std::as_const(row.emails)) {
        add(QStringLiteral("EMAIL;TYPE=INTERNET:") + e(email));
    }
    QString birthday = birthdayOf(v[Birthday]);
    const QDate parts(v[BirthYear].toInt(), v[BirthMonth].toInt(), v[BirthDay].toInt());
    if (birthday.isEmpty() && parts.isValid()) {
        birthday = parts.toString(Qt::ISODate);
    }
    if (!birthday.isEmpty()) {
        add(QStringLiteral("BDAY:") + e(birthday));
    }
    if (!v[Note].isEmpty()) {
        add(QStringLiteral("NOTE:") + e(v[Note]));
    }
    card.append("END:VCARD\r\n");
    const bool details = !row.emails.isEmpty() || row.phones.size() > (mobile >= 0) + (phone >= 0)
        || !organisation.isEmpty() || !birthday.isEmpty() || !v[Note].isEmpty() || !v[PostalCode].isEmpty()
        || !v[Country].isEmpty();
    return {fields, card, details};
}

// Outlook fills columns nobody set with these.
bool isUnsetCell(const QString& cell)
{
    const QString value = cell.trimmed();
    return value.isEmpty() || value == QLatin1String("Unspecified") || value == QLatin1String("Normal")
        || value == QLatin1String("False") || value == QLatin1String("0/0/00");
}

QString phonesCell(const QList<CardPhone>& phones)
{
    QStringList cells;
    for (const CardPhone& phone : phones) {
        const QString number = writtenPhone(phone.number);
        cells.append(phone.type.isEmpty() ? number : phone.type + QStringLiteral(": ") + number);
    }
    return cells.join(QStringLiteral("; "));
}

// The details of the card as the export writes it; a card that already agrees with the fields is read from the few
// lines that hold them.
CardDetails detailsOf(const ExportContact& contact)
{
    if (contact.card.isEmpty()) {
        return {};
    }
    if (const std::optional<QByteArray> core = plainCardCore(contact.card, QString())) {
        const QList<ReadCard> cards = readVCardCards(vCardText(*core));
        const ReadCard* read = cardToEdit(cards);
        if (read && duplicateKey(importedFields(read->fields)) == duplicateKey(importedFields(contact.fields))) {
            return cardDetails(*read);
        }
    }
    return cardDetails(editedCard(contact.card, contact.fields));
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

QStringList csvDetailHeadings()
{
    return {QStringLiteral("E-mail"),
            QStringLiteral("CAP"),
            QStringLiteral("Paese"),
            QStringLiteral("Organizzazione"),
            QStringLiteral("Compleanno"),
            QStringLiteral("Note"),
            QStringLiteral("Altri telefoni")};
}

QByteArray writeCsv(const QList<ExportContact>& contacts, const Progress& progress)
{
    QString text;
    text.reserve(contacts.size() * 120 + 128);
    text.append((csvHeadings() + csvDetailHeadings()).join(QLatin1Char(';'))).append(QLatin1String("\r\n"));
    for (qsizetype i = 0; i < contacts.size(); ++i) {
        if (progress && i % 1000 == 0 && !progress(i, contacts.size())) {
            return {};
        }
        const ExportContact& contact = contacts.at(i);
        const ContactFields& f = contact.fields;
        // Numbers in their written form: a spreadsheet keeps "06 5550101" as text, with its 0 in front.
        const CardDetails d = detailsOf(contact);
        for (const QString& value : {f.firstName,
                                     f.lastName,
                                     f.address,
                                     f.city,
                                     f.state,
                                     writtenPhone(f.zip),
                                     writtenPhone(f.phoneNumber),
                                     d.emails.join(QStringLiteral(", ")),
                                     d.postalCode,
                                     d.country,
                                     d.organisation,
                                     d.birthday,
                                     d.note}) {
            text.append(cell(value)).append(QLatin1Char(';'));
        }
        text.append(cell(phonesCell(d.otherPhones))).append(QLatin1String("\r\n"));
    }
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

namespace {

// The rows of a file from its heading row on: blank lines before it are passed over.
struct CsvBody
{
    QStringView text;
    qsizetype start = 0; // of text in the whole text
    int skippedLines = 0;
    QChar separator;
};

CsvBody csvBody(const QString& text)
{
    qsizetype start = 0;
    int skippedLines = 0;
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
    return {body, start, skippedLines, separatorOf(body)};
}

} // namespace

bool checkCsv(const QString& text)
{
    const CsvBody body = csvBody(text);
    RowReader reader(body.text, body.separator, body.skippedLines);
    Row headingRow;
    if (!reader.next(headingRow) || !ColumnMap(headingRow.cells).knowsContacts()) {
        return false;
    }
    // The rest counted only: a row too wide is refused before anything is read from the file.
    reader.countOnly();
    Row row;
    while (reader.next(row)) { }
    return true;
}

bool forEachCsvContact(const QString& text,
                       const std::function<bool(const ReadContact&, qsizetype)>& contact,
                       QList<int>& unreadable,
                       QStringList& unused)
{
    const CsvBody body = csvBody(text);
    RowReader reader(body.text, body.separator, body.skippedLines);
    Row headingRow;
    if (!reader.next(headingRow)) {
        return true;
    }
    const QStringList& headings = headingRow.cells;
    const ColumnMap columns(headings);
    if (!columns.knowsContacts()) {
        return true;
    }

    QList<bool> unusedFilled(headings.size(), false);
    Row row;
    qsizetype position = body.start + reader.position();
    while (reader.next(row)) {
        const qsizetype rowStart = position;
        position = body.start + reader.position();
        const int line = row.line + body.skippedLines;
        if (!row.complete) {
            unreadable.append(line);
            continue;
        }
        if (isBlank(row.cells)) {
            continue;
        }
        for (int c = 0; c < headings.size(); ++c) {
            unusedFilled[c] = unusedFilled.at(c) || (!columns.isUsed(c) && !isUnsetCell(row.cells.value(c)));
        }
        RowValues values = columns.values(row.cells);
        RowContact read = contactOf(values);
        if (isEmpty(importedFields(read.fields))) {
            // Cells only in columns that name no contact (a note alone): nothing to add.
            unreadable.append(line);
            continue;
        }
        if (!contact({read.fields, line, read.card, QString(), read.details}, rowStart)) {
            return false;
        }
    }
    for (int c = 0; c < headings.size(); ++c) {
        if (unusedFilled.at(c)) {
            unused.append(headings.at(c).trimmed());
        }
    }
    return true;
}

std::optional<ReadResult> readCsv(const QString& text)
{
    if (!checkCsv(text)) {
        return std::nullopt;
    }
    ReadResult result;
    forEachCsvContact(
        text,
        [&](const ReadContact& contact, qsizetype) {
            result.contacts.append(contact);
            return true;
        },
        result.unreadableLines,
        result.unusedColumns);
    return result;
}

QStringList understoodHeadings()
{
    QStringList list = csvHeadings();
    for (const Heading& heading : kHeadings) {
        if (isFieldTarget(heading.target) && !list.contains(QString::fromUtf8(heading.text))) {
            list.append(QString::fromUtf8(heading.text));
        }
    }
    return list;
}
