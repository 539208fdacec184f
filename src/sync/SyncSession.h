#pragma once

#include "sync/ContactSync.h"

#include <memory>

// One sync as the command line and the window start it: the account's password, the client, the run.

// The key the account's password is kept under: "user@host".
QString syncAccount(const SyncSettings& settings);

// VELMARIN_CARDDAV_PASSWORD when set, otherwise the password kept for the account (the keyring's, or the one kept
// for this run when the keyring could not take it). Throws ado::Error when there is none.
QString syncPassword(const SyncSettings& settings);

// Keeps the account's password in the keyring. When the keyring cannot take it (no desktop session, no keyring) the
// password is kept in memory until the program ends, so the sync still works; returns false and the keyring's
// reason in why.
bool keepSyncPassword(const SyncSettings& settings, const QString& password, QString* why);
// Forgets the account's password, in the keyring and in this run.
void forgetSyncPassword(const SyncSettings& settings);

// The client for the settings' address book, sending the password to the servers the account trusts and no other.
std::unique_ptr<CardDavClient> syncClient(const SyncSettings& settings, const QString& password);

// Where the account's password is found: VELMARIN_CARDDAV_PASSWORD, the keyring, kept in memory until the program
// closes (the keyring could not take it), or nowhere (a keyring out of reach counts as nowhere).
enum class PasswordPlace { Environment, Keyring, ThisRun, None };
PasswordPlace syncPasswordPlace(const SyncSettings& settings);

// Runs a sync set up by the caller; when it ends, well or not, its time and result are kept beside the settings
// (loadLastSync).
SyncOutcome runNoted(CustomerStore& store, ContactSync& sync);

// Syncs the open store with the address book of the settings, noted as runNoted() notes it.
SyncOutcome runSync(CustomerStore& store,
                    const SyncSettings& settings,
                    const QString& password,
                    ConflictResolver* resolver = nullptr,
                    const Progress& progress = {},
                    const DeletionGuard& guard = {});
