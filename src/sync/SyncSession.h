#pragma once

#include "ContactSync.h"

// One sync as the command line and the window start it: the account's password, the client, the run.

// The key the account's password is kept under: "user@host".
QString syncAccount(const SyncSettings& settings);

// VELMARIN_CARDDAV_PASSWORD when set, otherwise the keyring's password for the account. Throws ado::Error when
// there is none.
QString syncPassword(const SyncSettings& settings);

// Syncs the open store with the address book of the settings.
SyncOutcome runSync(CustomerStore& store,
                    const SyncSettings& settings,
                    const QString& password,
                    ConflictResolver* resolver = nullptr,
                    const Progress& progress = {});
