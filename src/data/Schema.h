#pragma once

#include <QString>

class CustomerStore;

// The one place that creates and upgrades an address book: Customer as designed and every table beside it, the
// book's step recorded in PRAGMA user_version. Books of earlier releases (user_version 0, with some of the tables
// or older columns) are brought up in place, their contacts and cards kept.
namespace Schema {

// 1: each contact's card and UID (CustomerCard with its agreement, its triggers), the pairs that are not duplicates.
// 2: the sync's links and state (CustomerSync, CustomerSyncState), the cards once kept there moved to CustomerCard.
constexpr int kVersion = 2;

// Customer as designed, columns in their stored order: the print window lists "Select * from Customer " by position.
inline QString customerTableSql()
{
    return QStringLiteral("CREATE TABLE Customer ("
                          "CustID INTEGER PRIMARY KEY, "
                          "FirstName TEXT COLLATE NOCASE, "
                          "LastName TEXT COLLATE NOCASE, "
                          "Address TEXT COLLATE NOCASE, "
                          "State TEXT, "
                          "Zip TEXT, "
                          "PhoneNumber TEXT, "
                          "City TEXT COLLATE NOCASE)");
}

// Creates the book at path at the current version. Refuses to overwrite an existing file. Returns an empty text on
// success, otherwise a description.
QString createBook(const QString& path);

// The open book's PRAGMA user_version.
int version(CustomerStore& store);

// Brings the open book to kVersion, in one transaction (or in the one open); a book already there costs one look at
// the schema. A book that cannot be written is left as it is. Throws ado::Error with a description.
void upgrade(CustomerStore& store);

} // namespace Schema
