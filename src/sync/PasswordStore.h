#pragma once

#include <QString>

// Where the password of the sync account is kept: the desktop's keyring, or in tests a store in memory.
class PasswordStore
{
public:
    virtual ~PasswordStore() = default;

    // The password kept for the account, empty when none is. Throws ado::Error when the keyring cannot be reached.
    virtual QString password(const QString& account) = 0;
    // Throws ado::Error when the keyring cannot keep it.
    virtual void setPassword(const QString& account, const QString& password) = 0;
    // Forgets the account's password; a keyring that cannot is no reason to stop.
    virtual void removePassword(const QString& account) = 0;

    // The keyring, or the store set for tests.
    static PasswordStore& current();
    // nullptr restores the keyring.
    static void setCurrent(PasswordStore* store);
};
