#include "PasswordStore.h"

#include "Ado.h"

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

// Why a keyring job failed, in the user's language; the keyring's own text (English) goes to the log only.
QString reasonOf(const QKeychain::Job& job)
{
    qWarning("velmarin: keyring: %s", qUtf8Printable(job.errorString()));
    switch (job.error()) {
    case QKeychain::AccessDeniedByUser:
        return QStringLiteral("l'accesso è stato rifiutato.");
    case QKeychain::AccessDenied:
        return QStringLiteral("l'accesso non è consentito.");
    case QKeychain::NoBackendAvailable:
    case QKeychain::NotImplemented:
        return QStringLiteral("su questo sistema non c'è un portachiavi.");
    default:
        // Without a desktop session (no D-Bus, no Secret Service) the keyring says no more than this.
        return QStringLiteral("il portachiavi del sistema non risponde (serve una sessione del desktop).");
    }
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
            reasonOf(job); // logged
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
