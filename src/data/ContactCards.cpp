#include "data/ContactCards.h"

#include "data/Contact.h"
#include "data/Schema.h"
#include "exchange/CardEdit.h"

#include <QUuid>

namespace {

enum class Table { Missing, WithoutAgreements, Whole };

Table tableOf(CustomerStore& store)
{
    RecordsetRelease release {store};
    ado::Recordset& rs = store.openQuery(
        QStringLiteral("SELECT count(*), coalesce(sum(name = 'Agrees'), 0) FROM pragma_table_info(?)"),
        {QStringLiteral("CustomerCard")});
    return rs.Fields(0).toInt() == 0 ? Table::Missing
        : rs.Fields(1).toInt() == 0  ? Table::WithoutAgreements
                                     : Table::Whole;
}

bool hasTable(CustomerStore& store)
{
    return tableOf(store) != Table::Missing;
}

// The columns read beside the key: a book whose table came before the agreements (and that could not be written
// since) reads an empty one for each card.
QString cardColumns(Table table)
{
    return table == Table::Whole ? QStringLiteral("Uid, Card, Agrees") : QStringLiteral("Uid, Card, X''");
}

} // namespace

namespace ContactCards {

void prepare(CustomerStore& store)
{
    Schema::upgrade(store);
}

ContactCard load(CustomerStore& store, qint32 custId)
{
    const Table table = tableOf(store);
    if (table == Table::Missing) {
        return {};
    }
    const QString columns = cardColumns(table);
    RecordsetRelease release {store};
    ado::Recordset& rs = store.openQuery(
        QStringLiteral("SELECT ") + columns + QStringLiteral(" FROM CustomerCard WHERE CustID = ?"), {custId});
    if (rs.isEOF()) {
        return {};
    }
    return {rs.Fields(0).toString(), rs.Fields(1).toByteArray(), rs.Fields(2).toByteArray()};
}

QHash<qint32, ContactCard> loadAll(CustomerStore& store)
{
    QHash<qint32, ContactCard> cards;
    const Table table = tableOf(store);
    if (table == Table::Missing) {
        return cards;
    }
    const QString columns = cardColumns(table);
    RecordsetRelease release {store};
    ado::Recordset& rs = store.openQuery(
        QStringLiteral("SELECT CustID, ") + columns + QStringLiteral(" FROM CustomerCard"), QVariantList());
    for (; !rs.isEOF(); rs.MoveNext()) {
        cards.insert(rs.Fields(0).toInt(),
                     {rs.Fields(1).toString(), rs.Fields(2).toByteArray(), rs.Fields(3).toByteArray()});
    }
    return cards;
}

QSet<QString> uids(CustomerStore& store)
{
    QSet<QString> found;
    if (!hasTable(store)) {
        return found;
    }
    RecordsetRelease release {store};
    ado::Recordset& rs = store.openQuery(QStringLiteral("SELECT Uid FROM CustomerCard"), QVariantList());
    for (; !rs.isEOF(); rs.MoveNext()) {
        found.insert(rs.Fields(0).toString());
    }
    return found;
}

namespace {

// The seven fields of the given contacts as the book holds them, read as the export reads them.
QHash<qint32, ContactFields> storedFields(CustomerStore& store, const QList<qint32>& keys)
{
    QHash<qint32, ContactFields> found;
    QStringList marks(keys.size(), QStringLiteral("?"));
    QVariantList values;
    values.reserve(keys.size());
    for (const qint32 key : keys) {
        values << key;
    }
    RecordsetRelease release {store};
    ado::Recordset& rs
        = store.openQuery(QStringLiteral("SELECT CustID, FirstName, LastName, Address, City, State, Zip, "
                                         "PhoneNumber FROM Customer WHERE CustID IN (")
                              + marks.join(QLatin1String(", ")) + QLatin1Char(')'),
                          values);
    for (; !rs.isEOF(); rs.MoveNext()) {
        found.insert(rs.Fields(0).toInt(), contactFieldsAt(rs, 1));
    }
    return found;
}

// The rows of the given cards, a hundred to a statement: an import of 10,000 cards sends 100 statements. Each card
// goes with its agreement with the contact as it stands (none when the contact is not stored yet).
void saveRows(CustomerStore& store, const QList<QPair<qint32, ContactCard>>& cards)
{
    constexpr qsizetype rowsPerStatement = 100;
    for (qsizetype first = 0; first < cards.size(); first += rowsPerStatement) {
        const qsizetype count = qMin(rowsPerStatement, cards.size() - first);
        QList<qint32> keys;
        keys.reserve(count);
        for (qsizetype i = first; i < first + count; ++i) {
            keys.append(cards.at(i).first);
        }
        const QHash<qint32, ContactFields> fields = storedFields(store, keys);
        QStringList rows(count, QStringLiteral("(?, ?, ?, ?)"));
        QVariantList values;
        values.reserve(4 * count);
        for (qsizetype i = first; i < first + count; ++i) {
            const qint32 custId = cards.at(i).first;
            const ContactCard& card = cards.at(i).second;
            const QString uid = card.uid.isEmpty() ? newUid() : card.uid;
            // A card is bytes: bound as a blob, so no text conversion touches it.
            const QByteArray bytes = card.card.isNull() ? QByteArray("") : card.card;
            const auto stored = fields.constFind(custId);
            const QByteArray agreement
                = stored == fields.cend() ? QByteArray() : exportAgreement(bytes, stored.value(), uid, card.inStep);
            values << custId << uid << bytes << (agreement.isNull() ? QByteArray("") : agreement);
        }
        store.execute(QStringLiteral("INSERT OR REPLACE INTO CustomerCard (CustID, Uid, Card, Agrees) VALUES ")
                          + rows.join(QLatin1String(", ")),
                      values);
    }
}

} // namespace

void save(CustomerStore& store, qint32 custId, const ContactCard& card)
{
    saveRows(store, {{custId, card}});
}

void saveAll(CustomerStore& store, const QList<QPair<qint32, ContactCard>>& cards)
{
    saveRows(store, cards);
}

void remove(CustomerStore& store, qint32 custId)
{
    store.execute(QStringLiteral("DELETE FROM CustomerCard WHERE CustID = ?"), {custId});
}

QString newUid()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QString uidFor(const QString& wanted, QSet<QString>& taken)
{
    QString uid = wanted.trimmed();
    if (uid.isEmpty() || taken.contains(uid)) {
        uid = newUid();
    }
    taken.insert(uid);
    return uid;
}

} // namespace ContactCards
