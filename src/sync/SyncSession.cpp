#include "sync/SyncSession.h"

#include "sync/PasswordStore.h"

#include <QHash>

namespace {

QHash<QString, QString>& passwordsOfThisRun()
{
    static QHash<QString, QString> kept;
    return kept;
}

} // namespace

QString syncAccount(const SyncSettings& settings)
{
    return settings.user + QLatin1Char('@') + settings.server.host();
}

QString syncPassword(const SyncSettings& settings)
{
    const QString fromEnvironment = qEnvironmentVariable("VELMARIN_CARDDAV_PASSWORD");
    if (!fromEnvironment.isEmpty()) {
        return fromEnvironment;
    }
    const QString account = syncAccount(settings);
    if (passwordsOfThisRun().contains(account)) {
        return passwordsOfThisRun().value(account);
    }
    const QString kept = PasswordStore::current().password(account);
    if (kept.isEmpty()) {
        throw ado::Error(QStringLiteral("Nessuna password per %1: impostarla da Sincronizzazione… o in "
                                        "VELMARIN_CARDDAV_PASSWORD.")
                             .arg(syncAccount(settings)));
    }
    return kept;
}

bool keepSyncPassword(const SyncSettings& settings, const QString& password, QString* why)
{
    const QString account = syncAccount(settings);
    try {
        PasswordStore::current().setPassword(account, password);
        passwordsOfThisRun().remove(account);
        return true;
    } catch (const ado::Error& error) {
        passwordsOfThisRun().insert(account, password);
        if (why) {
            *why = error.description();
        }
        return false;
    }
}

void forgetSyncPassword(const SyncSettings& settings)
{
    const QString account = syncAccount(settings);
    passwordsOfThisRun().remove(account);
    PasswordStore::current().removePassword(account);
}

PasswordPlace syncPasswordPlace(const SyncSettings& settings)
{
    if (!qEnvironmentVariable("VELMARIN_CARDDAV_PASSWORD").isEmpty()) {
        return PasswordPlace::Environment;
    }
    const QString account = syncAccount(settings);
    if (passwordsOfThisRun().contains(account)) {
        return PasswordPlace::ThisRun;
    }
    try {
        return PasswordStore::current().password(account).isEmpty() ? PasswordPlace::None : PasswordPlace::Keyring;
    } catch (const ado::Error&) {
        return PasswordPlace::None;
    }
}

std::unique_ptr<CardDavClient> syncClient(const SyncSettings& settings, const QString& password)
{
    auto client = std::make_unique<CardDavClient>(settings.book, settings.user, password);
    client->trust(settings.server);
    for (const QUrl& address : settings.accepted) {
        client->trust(address);
    }
    return client;
}

SyncOutcome runNoted(CustomerStore& store, ContactSync& sync)
{
    // Noting the result never hides the sync's own: a book that cannot take it is reported by the sync itself.
    const auto note = [&](bool ok, const QString& result) {
        try {
            saveLastSync(store, {QDateTime::currentDateTimeUtc(), ok, result});
        } catch (const ado::Error&) {
        }
    };
    try {
        const SyncOutcome outcome = sync.run();
        note(true, outcome.summary());
        return outcome;
    } catch (const ado::FileReplaced&) {
        throw; // another book is there now: nothing is written into it
    } catch (const ado::Error& error) {
        note(false, error.description());
        throw;
    }
}

SyncOutcome runSync(CustomerStore& store,
                    const SyncSettings& settings,
                    const QString& password,
                    ConflictResolver* resolver,
                    const Progress& progress,
                    const DeletionGuard& guard)
{
    const std::unique_ptr<CardDavClient> client = syncClient(settings, password);
    ContactSync sync(store, *client, settings.book);
    sync.setResolver(resolver);
    sync.setProgress(progress);
    sync.setDeletionGuard(guard);
    return runNoted(store, sync);
}
