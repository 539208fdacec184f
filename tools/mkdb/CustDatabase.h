#pragma once

#include <QList>
#include <QString>
#include <QVariant>

// Creates and fills Cust.mdb files: the velmarin-mkdb tool, the tests and the benchmarks all build their files here.
namespace mkdb {

// One row of table Customer as stored; a null QVariant stores NULL.
struct ContactRow
{
    QVariant custId;
    QVariant firstName;
    QVariant lastName;
    QVariant address;
    QVariant city;
    QVariant state;
    QVariant zip;
    QVariant phoneNumber;
};

// The table's columns in their stored order: the print window lists "Select * from Customer " by position.
QString customerTableSql();

// Creates filePath with an empty Customer table. Refuses to overwrite an existing file.
// Returns an empty text on success, otherwise a description.
QString createCustomerDatabase(const QString& filePath);

// Appends rows in one transaction. Returns an empty text on success, otherwise a description.
QString insertContacts(const QString& filePath, const QList<ContactRow>& rows);

// About twenty fictional contacts covering the awkward cases (apostrophes, accents, missing phone, NULLs, twins).
QList<ContactRow> demoContacts();

// n plausible contacts with keys 1..n, the same for the same seed.
QList<ContactRow> generatedContacts(int n, quint32 seed = 1);

// Makes the last count rows second copies of earlier ones, each of its own contact and each written as another
// program would have: names swapped and in capitals, the mobile with +39 or 0039 and spaces, the same land line under
// a surname one letter short, the e-less copy of a name in its city. Each planted copy makes one group of two.
// Returns how many were planted (count, or fewer when rows is too short).
int plantDuplicates(QList<ContactRow>& rows, int count);

} // namespace mkdb
