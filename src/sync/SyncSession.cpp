#include "SyncSession.h"

#include "PasswordStore.h"

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
    const QString kept = PasswordStore::current().password(syncAccount(settings));
    if (kept.isEmpty()) {
        throw ado::Error(QStringLiteral("Nessuna password per %1: impostarla da Sincronizzazione… o in "
                                        "VELMARIN_CARDDAV_PASSWORD.")
                             .arg(syncAccount(settings)));
    }
    return kept;
}

SyncOutcome runSync(CustomerStore& store,
                    const SyncSettings& settings,
                    const QString& password,
                    ConflictResolver* resolver,
                    const Progress& progress)
{
    CardDavClient client(settings.book, settings.user, password);
    ContactSync sync(store, client, settings.book);
    sync.setResolver(resolver);
    sync.setProgress(progress);
    return sync.run();
}
