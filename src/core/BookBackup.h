#pragma once

#include <QString>

// Makes the day's backup copy of the address book at path when it is due (DailyBackup); a failure is only written to
// standard error.
void backUpAddressBook(const QString& path);
