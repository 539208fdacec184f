#include "data/Statements.h"

#include <QStringList>

#include <vector>

namespace {

// SQLite reads statement text only up to a U+0000, so a value holding one is written as one literal with each U+0000
// replaced by a character the value lacks, and SQLite's replace() puts them back. One expression whatever the number
// and spread of the NULs: joining the pieces with || nests one level per piece, and SQLite refuses an expression tree
// deeper than 1000.
QString literal(const QString& value)
{
    if (!value.contains(QChar(0))) {
        return QLatin1Char('\'') + quoted(value) + QLatin1Char('\'');
    }
    std::vector<bool> present(0x10000, false);
    for (const QChar c : value) {
        present[c.unicode()] = true;
    }
    char16_t marker = 1;
    while (marker < 0xD800 && (present[marker] || marker == u'\'')) {
        ++marker;
    }
    if (marker == 0xD800) {
        // Only a value of tens of thousands of distinct characters has no free one: its pieces are joined.
        QStringList parts = value.split(QChar(0));
        for (QString& part : parts) {
            part = QLatin1Char('\'') + quoted(part) + QLatin1Char('\'');
        }
        return parts.join(QLatin1String(" || char(0) || "));
    }
    QString text = value;
    text.replace(QChar(0), QChar(marker));
    return QLatin1String("replace('") + quoted(text) + QLatin1String("', char(") + QString::number(int(marker))
        + QLatin1String("), char(0))");
}

QString key(qint32 custId)
{
    return QString::number(custId);
}

} // namespace

QString quoted(const QString& value)
{
    QString text = value;
    return text.replace(QLatin1Char('\''), QLatin1String("''"));
}

QString ListQuery()
{
    return QStringLiteral("SELECT FirstName"
                          "     , LastName"
                          "     , Address"
                          "     , City"
                          "     , State"
                          "     , Zip"
                          "     , PhoneNumber"
                          "     , CustID"
                          "  FROM Customer "
                          " ORDER BY LastName"
                          "        , FirstName");
}

QString KeyQuery()
{
    return QStringLiteral("SELECT MAX(CustID) AS MaxID FROM Customer");
}

// Every text value is quoted with its ' doubled, State, Zip and PhoneNumber included: a quote pasted into one of
// those fields must neither break the statement nor change what it does.
QString InsertStatement(qint32 custId, const ContactFields& fields)
{
    return QStringLiteral("INSERT INTO Customer(  CustID"
                          "            , FirstName"
                          "            , LastName"
                          "            , Address"
                          "            , City"
                          "            , State"
                          "            , Zip"
                          "            , PhoneNumber"
                          "         ) VALUES (")
        + key(custId) + QLatin1String(", ") + literal(fields.firstName) + QLatin1String(", ") + literal(fields.lastName)
        + QLatin1String(", ") + literal(fields.address) + QLatin1String(", ") + literal(fields.city)
        + QLatin1String(", ") + literal(fields.state) + QLatin1String(", ") + literal(fields.zip) + QLatin1String(", ")
        + literal(fields.phoneNumber) + QLatin1Char(')');
}

QString UpdateStatement(const ContactFields& fields, qint32 custId)
{
    return QLatin1String("UPDATE Customer SET ") + QLatin1String("  FirstName   = ") + literal(fields.firstName)
        + QLatin1String(", LastName    = ") + literal(fields.lastName) + QLatin1String(", Address     = ")
        + literal(fields.address) + QLatin1String(", City        = ") + literal(fields.city)
        + QLatin1String(", State       = ") + literal(fields.state) + QLatin1String(", Zip         = ")
        + literal(fields.zip) + QLatin1String(", PhoneNumber = ") + literal(fields.phoneNumber)
        + QLatin1String(" WHERE CustID = ") + key(custId);
}

QString DeleteStatement(qint32 custId)
{
    return QLatin1String("DELETE FROM Customer WHERE CustID = ") + key(custId);
}
