#include "CustomerStore.h"

#include "Statements.h"

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

std::shared_ptr<ado::Recordset> send(ado::Command* command, const QString& statement, int* recordsAffected)
{
    if (!command) {
        throw ado::Error(QStringLiteral("La connessione al database non è aperta."));
    }
    refuseUnstorable(statement);
    command->CommandText = statement;
    return command->Execute(recordsAffected, {}, ado::adOptionUnspecified);
}

} // namespace

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
    struct Release
    {
        CustomerStore& store;
        ~Release() { store.releaseRecordset(); }
    } release {*this};

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

int CustomerStore::execute(const QString& statement)
{
    int recordsAffected = 0;
    send(mcmdCust.get(), statement, &recordsAffected);
    return recordsAffected;
}
