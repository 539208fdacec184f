#include "data/CustomerStore.h"
#include "data/Schema.h"

#include "data/Contact.h"
#include "data/ContactCards.h"
#include "data/Statements.h"
#include "exchange/CardDetails.h"
#include "exchange/CardEdit.h"

#include <limits>

namespace {

// SQLite takes the unit after half of a surrogate pair as that pair's other half, a closing quote included: the
// statement would not read as it was built. Such a statement is never sent.
void refuseUnstorable(const QString& statement)
{
    const qsizetype n = statement.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = statement.at(i);
        if (c.isHighSurrogate() && i + 1 < n && statement.at(i + 1).isLowSurrogate()) {
            ++i;
        } else if (c.isSurrogate()) {
            throw ado::Error(QStringLiteral("Un campo contiene un carattere incompleto (U+%1), che il database non "
                                            "può registrare: toglierlo e riprovare.")
                                 .arg(QString::number(c.unicode(), 16).toUpper()));
        }
    }
}

std::shared_ptr<ado::Recordset>
send(ado::Command* command, const QString& statement, int* recordsAffected, const QVariantList* parameters = nullptr)
{
    if (!command) {
        throw ado::Error(QStringLiteral("La connessione al database non è aperta."));
    }
    refuseUnstorable(statement);
    command->CommandText = statement;
    return command->Execute(recordsAffected, parameters ? QVariant(*parameters) : QVariant(), ado::adOptionUnspecified);
}

// The contact columns in the order of the contact record and of the list's texts.
const char* const contactColumns[] = {"FirstName", "LastName", "Address", "City", "State", "Zip", "PhoneNumber"};
constexpr int contactColumnCount = 7;
constexpr int phoneColumn = 6;

QStringList valuesOf(const ContactFields& f)
{
    return {f.firstName, f.lastName, f.address, f.city, f.state, f.zip, f.phoneNumber};
}

// The contact as its list row shows it.
ContactFields shownFields(const QStringList& shown)
{
    const PhoneFields phone = SplitPhoneText(shown.at(phoneColumn));
    return {shown.at(0),
            shown.at(1),
            shown.at(2),
            shown.at(3),
            shown.at(4),
            shown.at(5),
            JoinPhoneFields(phone.area, phone.prefix, phone.line)};
}

QString notFound()
{
    return QStringLiteral("Il contatto non si trova più nel database: forse è stato eliminato da un altro programma.");
}

} // namespace

ContactFields contactFieldsAt(const ado::Recordset& rs, int first)
{
    return {textOf(rs.Fields(first)),
            textOf(rs.Fields(first + 1)),
            textOf(rs.Fields(first + 2)),
            textOf(rs.Fields(first + 3)),
            textOf(rs.Fields(first + 4)),
            textOf(rs.Fields(first + 5)),
            textOf(rs.Fields(first + 6))};
}

RecordsetRelease::~RecordsetRelease()
{
    store.releaseRecordset();
}

ContactChanged::ContactChanged(const QString& description, const QStringList& stored)
    : ado::Error(description)
    , m_stored(stored)
{
}

QString CustomerStore::connectionText(const QString& appPath)
{
    return QLatin1String("Provider=Microsoft.Jet.OLEDB.4.0;") + QLatin1String("Data Source=") + appPath
        + QLatin1String("Cust.mdb");
}

void CustomerStore::ConnectToDatabase(const QString& connectionText)
{
    mcnnCust = std::make_shared<ado::Connection>();
    mcnnCust->ConnectionString = connectionText;
    try {
        mcnnCust->Open({}, {}, {}, ado::adOptionUnspecified);
    } catch (...) {
        // A store that failed to open stays closed, so isOpen() tells the truth.
        mcnnCust.reset();
        throw;
    }
    mcmdCust = std::make_unique<ado::Command>();
    mcmdCust->ActiveConnection = mcnnCust;
    mcmdCust->CommandType = ado::adCmdText;
    try {
        Schema::upgrade(*this);
    } catch (const ado::Error& error) {
        // The book opens all the same (another program may hold it for a moment); the next opening tries again,
        // and a change that needs a card says why it failed.
        qWarning("Cust.mdb: not brought to the current version: %s", qUtf8Printable(error.description()));
    }
}

void CustomerStore::CloseDatabase()
{
    mcmdCust.reset();
    mrsCust.reset();
    if (mcnnCust) {
        mcnnCust->Close();
    }
    mcnnCust.reset();
}

qint32 CustomerStore::GetNextCustID()
{
    // mrsCust is let go on every way out, a failure included.
    RecordsetRelease release {*this};

    ado::Recordset& rs = openQuery(KeyQuery());
    if (rs.isEOF()) {
        return 1;
    }
    const QVariant maxId = rs.Fields(QStringLiteral("MaxID"));
    if (maxId.isNull()) {
        return 1;
    }
    bool ok = false;
    const qlonglong largest = maxId.toLongLong(&ok);
    if (!ok || largest >= std::numeric_limits<qint32>::max() || largest < std::numeric_limits<qint32>::min()) {
        throw ado::Error(QStringLiteral("Impossibile assegnare un nuovo codice al contatto."));
    }
    return qint32(largest + 1);
}

ado::Recordset& CustomerStore::openQuery(const QString& statement)
{
    mrsCust.reset();
    mrsCust = send(mcmdCust.get(), statement, nullptr);
    if (!mrsCust) {
        throw ado::Error(QStringLiteral("L'istruzione non restituisce righe: %1").arg(statement));
    }
    return *mrsCust;
}

ado::Recordset& CustomerStore::openQuery(const QString& statement, const QVariantList& parameters)
{
    mrsCust.reset();
    mrsCust = send(mcmdCust.get(), statement, nullptr, &parameters);
    if (!mrsCust) {
        throw ado::Error(QStringLiteral("L'istruzione non restituisce righe: %1").arg(statement));
    }
    return *mrsCust;
}

int CustomerStore::execute(const QString& statement)
{
    int recordsAffected = 0;
    send(mcmdCust.get(), statement, &recordsAffected);
    return recordsAffected;
}

int CustomerStore::execute(const QString& statement, const QVariantList& parameters)
{
    int recordsAffected = 0;
    send(mcmdCust.get(), statement, &recordsAffected, &parameters);
    return recordsAffected;
}

ado::Recordset& CustomerStore::openList()
{
    ado::Recordset& rs = openQuery(ListQuery());
    m_listReplacements = mcnnCust->replacements();
    return rs;
}

void CustomerStore::beginChange()
{
    if (!mcnnCust) {
        throw ado::Error(QStringLiteral("La connessione al database non è aperta."));
    }
    mcnnCust->BeginTrans();
    if (mcnnCust->replacements() != m_listReplacements) {
        mcnnCust->RollbackTrans();
        throw ado::FileReplaced(mcnnCust->filePath());
    }
}

template<typename Fn>
void CustomerStore::inTransaction(Fn change)
{
    beginChange();
    try {
        change();
        mcnnCust->CommitTrans();
    } catch (...) {
        mcnnCust->RollbackTrans();
        throw;
    }
}

void CustomerStore::inChange(const std::function<void()>& change)
{
    inTransaction(change);
}

QList<CustomerStore::StoredRow> CustomerStore::readStored(qint32 key)
{
    QStringList columns;
    for (const char* column : contactColumns) {
        columns.append(QLatin1String(column));
    }
    for (const char* column : contactColumns) {
        columns.append(QStringLiteral("typeof(%1), hex(%1)").arg(QLatin1String(column)));
    }
    ado::Recordset& rs = openQuery(QLatin1String("SELECT ") + columns.join(QLatin1String(", "))
                                       + QLatin1String(" FROM Customer WHERE CustID = ?"),
                                   {key});
    QList<StoredRow> rows;
    for (; !rs.isEOF(); rs.MoveNext()) {
        StoredRow row;
        for (int i = 0; i < contactColumnCount; ++i) {
            const QVariant value = rs.Fields(i);
            row.append({i == phoneColumn ? FormatStoredPhone(value) : textOf(value),
                        rs.Fields(contactColumnCount + 2 * i).toString(),
                        rs.Fields(contactColumnCount + 2 * i + 1).toString()});
        }
        rows.append(row);
    }
    releaseRecordset();
    return rows;
}

void CustomerStore::checkShown(qint32 key, const QList<StoredRow>& stored, const QStringList& shown, bool mustExist)
{
    if (stored.size() > 1) {
        throw ado::Error(QStringLiteral("Nel database più contatti hanno lo stesso codice (CustID = %1): non si può "
                                        "sapere quale sia quello mostrato, e nessuno è stato modificato.")
                             .arg(key));
    }
    if (stored.isEmpty()) {
        if (mustExist) {
            throw ado::Error(notFound());
        }
        return;
    }
    QStringList texts;
    for (const StoredColumn& column : stored.first()) {
        texts.append(column.text);
    }
    if (texts != shown.mid(0, contactColumnCount)) {
        throw ContactChanged(QStringLiteral("Il contatto è stato modificato da un altro programma dopo che è stato "
                                            "mostrato: nessuna modifica è stata salvata. L'elenco ora mostra i dati "
                                            "registrati; per procedere comunque, ripetere il comando."),
                             texts << QString::number(key));
    }
}

// The update writes every column as the field's text; where the user left a text as it was but the stored value is
// not that text byte for byte (bytes that are not UTF-8, a blob, a number), the stored value is put back as it was.
void CustomerStore::restoreUntouched(qint32 key, const StoredRow& before, const ContactFields& fields)
{
    const QStringList written = valuesOf(fields);
    QStringList assignments;
    for (int i = 0; i < contactColumnCount; ++i) {
        const StoredColumn& column = before.at(i);
        const QString storedText = i == phoneColumn ? FormatStoredPhone(written.at(i)) : written.at(i);
        if (column.type == QLatin1String("null") || storedText != column.text) {
            continue;
        }
        const QString hex = QString::fromLatin1(written.at(i).toUtf8().toHex().toUpper());
        if (column.type == QLatin1String("text") && column.hex == hex) {
            continue;
        }
        QString value;
        if (column.type == QLatin1String("text")) {
            value = QStringLiteral("CAST(X'%1' AS TEXT)").arg(column.hex);
        } else if (column.type == QLatin1String("blob")) {
            value = QStringLiteral("X'%1'").arg(column.hex);
        } else {
            value = QString::fromLatin1(QByteArray::fromHex(column.hex.toLatin1()));
        }
        assignments.append(QStringLiteral("%1 = %2").arg(QLatin1String(contactColumns[i]), value));
    }
    if (!assignments.isEmpty()) {
        execute(QStringLiteral("UPDATE Customer SET %1 WHERE CustID = %2")
                    .arg(assignments.join(QLatin1String(", ")))
                    .arg(key));
    }
}

// The card follows the fields: only the lines they came from change, everything else the card holds stays byte for
// byte. A contact another program added has no row yet and gets one.
void CustomerStore::keepCard(qint32 key, const ContactFields& before, const ContactFields& fields)
{
    ContactCards::prepare(*this);
    ContactCard card = ContactCards::load(*this, key);
    if (card.isNull()) {
        ContactCards::save(*this, key, {ContactCards::newUid(), QByteArray()});
        return;
    }
    if (card.card.isEmpty()) {
        return;
    }
    // Saved even when its bytes stay: what it agrees with is the contact as it is now.
    card.card = editedCard(card.card, before, fields);
    card.inStep = true;
    ContactCards::save(*this, key, card);
}

// A new contact gets its own random UID, never one derived from its key: a key freed by a delete is given again.
// Its card stays empty until something needs one, which is then made from the seven fields.
void CustomerStore::insert(qint32 key, const ContactFields& fields)
{
    inTransaction([&] {
        ContactCards::prepare(*this);
        execute(InsertStatement(key, fields));
        ContactCards::save(*this, key, {ContactCards::newUid(), QByteArray()});
    });
}

void CustomerStore::update(qint32 key, const ContactFields& fields, const QStringList& shown)
{
    inTransaction([&] { updateWithin(key, fields, shown); });
}

void CustomerStore::updateWithin(qint32 key, const ContactFields& fields, const QStringList& shown)
{
    const QList<StoredRow> stored = readStored(key);
    checkShown(key, stored, shown, true);
    const int changed = execute(UpdateStatement(fields, key));
    if (changed != 1) {
        throw ado::Error(
            changed == 0 ? notFound()
                         : QStringLiteral("L'aggiornamento avrebbe modificato %1 contatti: nessuno è stato modificato.")
                               .arg(changed));
    }
    restoreUntouched(key, stored.first(), fields);
    keepCard(key, shownFields(shown), fields);
}

void CustomerStore::remove(qint32 key, const QStringList& shown, const std::function<void()>& kept)
{
    inTransaction([&] { removeWithin(key, shown, false, kept); });
}

void CustomerStore::removeWithin(qint32 key,
                                 const QStringList& shown,
                                 bool mustExist,
                                 const std::function<void()>& kept)
{
    checkShown(key, readStored(key), shown, mustExist);
    if (kept) {
        kept();
    }
    const int deleted = execute(DeleteStatement(key));
    if (deleted > 1) {
        throw ado::Error(
            QStringLiteral("L'eliminazione avrebbe tolto %1 contatti: nessuno è stato eliminato.").arg(deleted));
    }
}

void CustomerStore::updateDetails(qint32 key, const QStringList& shown, const CardDetails& details)
{
    inTransaction([&] {
        checkShown(key, readStored(key), shown, true);
        // The fields as shown are the ones stored (the check says so): the card is made or edited against them.
        const ContactFields fields = shownFields(shown);
        ContactCards::prepare(*this);
        ContactCard card = ContactCards::load(*this, key);
        if (card.uid.isEmpty()) {
            card.uid = ContactCards::newUid();
        }
        // A card already written for these fields keeps its seven as it reads them: given again, a cleared number
        // would take the card's next line of its kind.
        ContactFields seven = fields;
        if (!card.card.isEmpty() && !fieldsOfCard(card.card, seven)) {
            seven = fields;
        }
        // Still in step with the contact if it was; one another program changed meanwhile gets its fields applied
        // on export as before.
        card.inStep = card.card.isEmpty() || card.agreement.startsWith(storedContactDigest(fields, card.uid));
        card.card = withDetails(card.card.isEmpty() ? newCard(fields, card.uid) : card.card, seven, details);
        ContactCards::save(*this, key, card);
    });
}
