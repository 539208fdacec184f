#include "sync/PasswordStore.h"

#include "data/Ado.h"

#include <QEventLoop>
#include <QtDebug>

#include <qt6keychain/keychain.h>

namespace {

const QString kService = QStringLiteral("Velmarin");

// Runs a keyring job to its end in a local event loop.
void runJob(QKeychain::Job& job)
{
    QEventLoop loop;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
    job.setAutoDelete(false);
    job.start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

// Why a keyring job failed, in the user's language, the keyring's own text (English) in parentheses.
QString reasonOf(const QKeychain::Job& job)
{
    QString reason;
    switch (job.error()) {
    case QKeychain::AccessDeniedByUser:
        reason = QStringLiteral("l'accesso è stato rifiutato");
        break;
    case QKeychain::AccessDenied:
        reason = QStringLiteral("l'accesso non è consentito");
        break;
    case QKeychain::NoBackendAvailable:
    case QKeychain::NotImplemented:
        reason = QStringLiteral("su questo sistema non c'è un portachiavi");
        break;
    default:
        // Without a desktop session (no D-Bus, no Secret Service) the keyring says no more than "Unknown error".
        reason = QStringLiteral("il portachiavi del sistema non risponde (serve una sessione del desktop)");
        break;
    }
    const QString own = job.errorString().trimmed();
    return own.isEmpty() ? reason + QLatin1Char('.') : QStringLiteral("%1 (%2).").arg(reason, own);
}

class Keyring : public PasswordStore
{
public:
    QString password(const QString& account) override
    {
        QKeychain::ReadPasswordJob job(kService);
        job.setKey(account);
        runJob(job);
        if (job.error() == QKeychain::EntryNotFound) {
            return {};
        }
        if (job.error() != QKeychain::NoError) {
            throw ado::Error(QStringLiteral("Impossibile leggere la password dal portachiavi: %1").arg(reasonOf(job)));
        }
        return job.textData();
    }

    void setPassword(const QString& account, const QString& password) override
    {
        QKeychain::WritePasswordJob job(kService);
        job.setKey(account);
        job.setTextData(password);
        runJob(job);
        if (job.error() != QKeychain::NoError) {
            throw ado::Error(
                QStringLiteral("Impossibile conservare la password nel portachiavi: %1").arg(reasonOf(job)));
        }
    }

    void removePassword(const QString& account) override
    {
        QKeychain::DeletePasswordJob job(kService);
        job.setKey(account);
        runJob(job);
        if (job.error() != QKeychain::NoError && job.error() != QKeychain::EntryNotFound) {
            // Nobody to tell but the log: the password stays in the keyring, harmless.
            qWarning("velmarin: impossibile togliere la password dal portachiavi: %s", qUtf8Printable(reasonOf(job)));
        }
    }
};

PasswordStore* g_current = nullptr;

} // namespace

PasswordStore& PasswordStore::current()
{
    static Keyring keyring;
    return g_current ? *g_current : keyring;
}

void PasswordStore::setCurrent(PasswordStore* store)
{
    g_current = store;
}
