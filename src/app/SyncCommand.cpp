#include "app/SyncCommand.h"

#include "app/CommandLine.h"
#include "core/BookBackup.h"
#include "core/DataLocation.h"
#include "sync/SyncSession.h"

#include <QTextStream>

namespace {

AddressBook pickBook(const QList<AddressBook>& books)
{
    if (books.isEmpty()) {
        throw ado::Error(QStringLiteral("Il server non ha rubriche per questo utente."));
    }
    if (books.size() > 1) {
        QStringList names;
        for (const AddressBook& book : books) {
            names.append(QStringLiteral("%1 (%2)").arg(book.name, book.url.toDisplayString()));
        }
        throw ado::Error(QStringLiteral("Il server ha più rubriche: indicare l'indirizzo di una tra %1.")
                             .arg(names.join(QLatin1String(", "))));
    }
    return books.first();
}

SyncSettings settingsFor(const QString& address, const SyncSettings& saved)
{
    QUrl url(address, QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()) {
        throw ado::Error(QStringLiteral("Indirizzo del server non valido: '%1'.").arg(address));
    }
    QString user = url.userName();
    url.setUserInfo({});
    if (user.isEmpty()) {
        user = qEnvironmentVariable("VELMARIN_CARDDAV_USER");
    }
    if (user.isEmpty() && saved.server.host() == url.host()) {
        user = saved.user;
    }
    if (user.isEmpty()) {
        throw ado::Error(QStringLiteral("Indicare l'utente nell'indirizzo (https://utente@server/) o in "
                                        "VELMARIN_CARDDAV_USER."));
    }
    SyncSettings settings {url, user, {}};
    if (url == saved.server && user == saved.user) {
        settings.book = saved.book;
        settings.accepted = saved.accepted;
        return settings;
    }
    // Nobody here to accept another server the discovery leads to: it is refused, naming both addresses.
    CardDavClient client(url, user, syncPassword(settings));
    settings.book = pickBook(client.discover()).url;
    return settings;
}

} // namespace

int runSyncCommand(QStringList arguments, QTextStream& out, QTextStream& err)
{
    const bool acceptDeletions = arguments.removeAll(QStringLiteral("--accept-deletions")) > 0;
    if (arguments.size() > 1) {
        err << "velmarin: --sync accetta al più un indirizzo.\n"
            << "Uso: velmarin --sync [--accept-deletions] [INDIRIZZO]\n";
        err.flush();
        return 2;
    }
    CustomerStore store;
    try {
        DataLocation::createIfInstalled();
        store.ConnectToDatabase(DataLocation::connectionText());
        // A sync may change or delete many contacts: the day's copy comes first, as when the window starts.
        backUpAddressBook(store.mcnnCust->filePath());
        SyncSettings settings = loadSyncSettings(store);
        if (!arguments.isEmpty()) {
            settings = settingsFor(arguments.first(), settings);
            saveSyncSettings(store, settings);
        }
        if (!settings.isSet()) {
            throw ado::Error(QStringLiteral("La sincronizzazione non è impostata: velmarin --sync INDIRIZZO."));
        }
        // Nobody to ask: many deletions wait for --accept-deletions.
        const DeletionGuard guard = [acceptDeletions](const MassDeletion&) {
            return acceptDeletions ? DeletionChoice::Delete : DeletionChoice::Keep;
        };
        const SyncOutcome outcome = runSync(store, settings, syncPassword(settings), nullptr, {}, guard);
        store.CloseDatabase();
        out << outcome.summary().simplified() << '\n';
        out.flush();
        return 0;
    } catch (const DeletionsHeld& held) {
        return commandFailed(
            store, err, held, QStringLiteral("Per eliminarli comunque: velmarin --sync --accept-deletions"));
    } catch (const ado::Error& error) {
        return commandFailed(store, err, error);
    }
}
