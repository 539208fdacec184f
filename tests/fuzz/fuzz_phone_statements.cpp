// libFuzzer target for the phone forms and the statement texts.
//
// An input is read as UTF-8 lines: first name, last name, address, city, state, zip, phone digits, key. Missing
// lines are empty; the key line is read as a decimal integer and wrapped to 32 bits. Every run checks properties
// that must hold for any text, and sends the built statements to an in-memory database built like Cust.mdb.

#include "data/Contact.h"
#include "data/Schema.h"
#include "data/Statements.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace {

constexpr int fieldCount = 7;

QString escaped(const QString& text)
{
    QString out;
    for (const QChar c : text) {
        if (c.unicode() >= 0x20 && c.unicode() < 0x7f) {
            out += c;
        } else {
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        }
    }
    return out;
}

[[noreturn]] void fail(const char* property, const QStringList& context)
{
    std::fprintf(stderr, "broken: %s\n", property);
    for (const QString& text : context) {
        std::fprintf(stderr, "  \"%s\"\n", escaped(text).toUtf8().constData());
    }
    std::abort();
}

void require(bool holds, const char* property, const QStringList& context)
{
    if (!holds) {
        fail(property, context);
    }
}

QString joined(const PhoneFields& fields)
{
    return JoinPhoneFields(fields.area, fields.prefix, fields.line);
}

// Whatever is stored, showing it in the list and splitting the row back into the fields saves the same digits.
void checkStoredPhone(const QString& stored)
{
    const QString text = FormatStoredPhone(stored);
    require(joined(SplitPhoneText(text)) == stored, "stored phone survives show and split", {stored, text});
    require(FormatStoredPhone(QVariant(stored)) == text, "both FormatStoredPhone overloads agree", {stored, text});
}

// A row rewritten from the fields after a save splits back to what the save stored.
void checkPhoneFields(const QString& area, const QString& prefix, const QString& line)
{
    const QString digits = JoinPhoneFields(area, prefix, line);
    require(digits == area + prefix + line, "JoinPhoneFields concatenates", {area, prefix, line, digits});
    const QString text = FormatPhoneFields(area, prefix, line);
    require(
        joined(SplitPhoneText(text)) == digits, "phone fields survive format and split", {area, prefix, line, text});
}

// The shape the phone text is laid out for keeps its exact 14-character form both ways.
void checkTenDigits(const QString& digits)
{
    const QString area = digits.left(3);
    const QString prefix = digits.mid(3, 3);
    const QString line = digits.right(4);
    const QString expected = QLatin1Char('(') + area + QLatin1String(") ") + prefix + QLatin1Char('-') + line;
    const QString fromFields = FormatPhoneFields(area, prefix, line);
    require(fromFields.size() == 14 && fromFields == expected,
            "3+3+4 fields format as (aaa) ppp-llll",
            {digits, fromFields});
    require(FormatStoredPhone(digits) == expected, "10 stored digits format as (aaa) ppp-llll", {digits});
    const PhoneFields back = SplitPhoneText(expected);
    require(back.area == area && back.prefix == prefix && back.line == line,
            "(aaa) ppp-llll splits into its three parts",
            {expected, back.area, back.prefix, back.line});
}

struct Literals
{
    QString skeleton; // the statement with every literal replaced by ?
    QStringList values;
};

// Reads a statement the way an SQL tokenizer does: '' inside a literal is one quote, a lone ' closes it. A value
// holding U+0000 is written replace('...', char(M), char(0)), M standing for each U+0000; it reads back as one value.
std::optional<Literals> readLiterals(const QString& sql)
{
    static const QString opening = QStringLiteral("replace(");
    static const QString head = QStringLiteral(", char(");
    static const QString tail = QStringLiteral("), char(0))");
    Literals result;
    for (qsizetype i = 0; i < sql.size(); ++i) {
        if (sql.at(i) != QLatin1Char('\'')) {
            result.skeleton += sql.at(i);
            continue;
        }
        QString value;
        for (++i;; ++i) {
            if (i == sql.size()) {
                return std::nullopt;
            }
            if (sql.at(i) == QLatin1Char('\'')) {
                if (i + 1 < sql.size() && sql.at(i + 1) == QLatin1Char('\'')) {
                    value += QLatin1Char('\'');
                    ++i;
                    continue;
                }
                break;
            }
            value += sql.at(i);
        }
        if (result.skeleton.endsWith(opening)) {
            const QStringView rest = QStringView(sql).mid(i + 1);
            qsizetype at = head.size();
            int marker = 0;
            while (at < rest.size() && rest.at(at) >= QLatin1Char('0') && rest.at(at) <= QLatin1Char('9')
                   && marker <= 0xffff) {
                marker = marker * 10 + (rest.at(at).unicode() - u'0');
                ++at;
            }
            if (!rest.startsWith(head) || at == head.size() || !rest.mid(at).startsWith(tail) || marker <= 0
                || marker > 0xffff || value.contains(QChar(0))) {
                return std::nullopt;
            }
            value.replace(QChar(char16_t(marker)), QChar(0));
            result.skeleton.chop(opening.size());
            i += at + tail.size();
        }
        result.skeleton += QLatin1Char('?');
        result.values.append(value);
    }
    return result;
}

// Written out here rather than taken from the builders, so that a change to the statement text shows up.
QString insertSkeleton(qint32 custId)
{
    return QLatin1String("INSERT INTO Customer(  CustID"
                         "            , FirstName"
                         "            , LastName"
                         "            , Address"
                         "            , City"
                         "            , State"
                         "            , Zip"
                         "            , PhoneNumber"
                         "         ) VALUES (")
        + QString::number(custId) + QLatin1String(", ?, ?, ?, ?, ?, ?, ?)");
}

QString updateSkeleton(qint32 custId)
{
    return QLatin1String("UPDATE Customer SET "
                         "  FirstName   = ?"
                         ", LastName    = ?"
                         ", Address     = ?"
                         ", City        = ?"
                         ", State       = ?"
                         ", Zip         = ?"
                         ", PhoneNumber = ?"
                         " WHERE CustID = ")
        + QString::number(custId);
}

QStringList valuesOf(const ContactFields& fields)
{
    return {
        fields.firstName, fields.lastName, fields.address, fields.city, fields.state, fields.zip, fields.phoneNumber};
}

void checkStatement(const QString& sql, const QString& skeleton, const ContactFields& fields)
{
    const std::optional<Literals> read = readLiterals(sql);
    require(read.has_value(), "every literal is closed", {sql});
    require(read->skeleton == skeleton, "the text outside the literals is fixed", {sql, read->skeleton, skeleton});
    require(
        read->values == valuesOf(fields), "each literal reads back as its field", valuesOf(fields) + QStringList {sql});
}

void checkStatements(const ContactFields& fields, qint32 custId)
{
    checkStatement(InsertStatement(custId, fields), insertSkeleton(custId), fields);
    checkStatement(UpdateStatement(fields, custId), updateSkeleton(custId), fields);
    const QString deletion = DeleteStatement(custId);
    require(deletion == QLatin1String("DELETE FROM Customer WHERE CustID = ") + QString::number(custId),
            "delete statement",
            {deletion});
}

QSqlDatabase& database()
{
    static QSqlDatabase db = [] {
        QSqlDatabase opened = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fuzz"));
        opened.setDatabaseName(QStringLiteral(":memory:"));
        if (!opened.open() || !QSqlQuery(opened).exec(Schema::customerTableSql())) {
            std::fprintf(stderr, "no in-memory database: %s\n", opened.lastError().text().toUtf8().constData());
            std::abort();
        }
        return opened;
    }();
    return db;
}

void exec(const QString& sql)
{
    QSqlQuery query(database());
    if (!query.exec(sql)) {
        fail("the database accepts the statement", {sql, query.lastError().text()});
    }
}

// The one stored row, read through the list query the way the window reads it.
void requireStored(const ContactFields& fields, qint32 custId, const char* after)
{
    QSqlQuery query(database());
    require(query.exec(ListQuery()), "the list query runs", {query.lastError().text()});
    require(query.next(), after, {QStringLiteral("no row")});
    QStringList stored;
    for (const char* column : {"FirstName", "LastName", "Address", "City", "State", "Zip", "PhoneNumber"}) {
        stored.append(query.value(QLatin1String(column)).toString());
    }
    require(stored == valuesOf(fields), after, valuesOf(fields) + stored);
    require(query.value(QStringLiteral("CustID")).toInt() == custId, after, {QString::number(custId)});
    require(!query.next(), after, {QStringLiteral("more than one row")});
}

void checkDatabase(const ContactFields& fields, const ContactFields& changed, qint32 custId)
{
    exec(InsertStatement(custId, fields));
    requireStored(fields, custId, "insert stores every field exactly");

    QSqlQuery key(database());
    require(key.exec(KeyQuery()) && key.next() && key.value(QStringLiteral("MaxID")).toInt() == custId,
            "the key query sees the new key",
            {QString::number(custId)});

    exec(UpdateStatement(changed, custId));
    requireStored(changed, custId, "update stores every field exactly");

    exec(DeleteStatement(custId));
    QSqlQuery rest(database());
    require(rest.exec(QStringLiteral("SELECT COUNT(*) FROM Customer")) && rest.next() && rest.value(0).toInt() == 0,
            "delete removes the row",
            {QString::number(custId)});
}

qint32 keyOf(const QString& line)
{
    bool ok = false;
    const qlonglong value = line.trimmed().toLongLong(&ok);
    return ok ? static_cast<qint32>(static_cast<quint32>(value)) : 1;
}

bool anyContains(const QStringList& values, char16_t c)
{
    for (const QString& value : values) {
        if (value.contains(QChar(c))) {
            return true;
        }
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Plugin lookup needs an application object; it lives as long as the process.
    static int argc = 1;
    static char name[] = "fuzz_phone_statements";
    static char* argv[] = {name, nullptr};
    new QCoreApplication(argc, argv);
    database();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString input = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QStringList lines = input.split(QLatin1Char('\n'));
    while (lines.size() < fieldCount + 1) {
        lines.append(QString());
    }

    for (int i = 0; i < fieldCount; ++i) {
        checkStoredPhone(lines.at(i));
    }
    checkPhoneFields(lines.at(0), lines.at(1), lines.at(2));
    checkPhoneFields(lines.at(4), lines.at(5), lines.at(6));

    QString digits;
    for (const QChar c : input) {
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9') && digits.size() < 10) {
            digits += c;
        }
    }
    if (digits.size() == 10) {
        checkTenDigits(digits);
    }

    const ContactFields fields {
        lines.at(0), lines.at(1), lines.at(2), lines.at(3), lines.at(4), lines.at(5), lines.at(6)};
    // The same values moved one column on, so the update changes every column that has more than one distinct value.
    const ContactFields changed {
        lines.at(6), lines.at(0), lines.at(1), lines.at(2), lines.at(3), lines.at(4), lines.at(5)};
    const qint32 custId = keyOf(lines.at(fieldCount));
    checkStatements(fields, custId);

    const QStringList values = valuesOf(fields);
    if (!anyContains(values, 0xfffe) && !anyContains(values, 0xffff)) {
        // SQLite reads those two noncharacters back as U+FFFD; they are not text anyone types.
        checkDatabase(fields, changed, custId);
    }
    return 0;
}
