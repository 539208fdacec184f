#pragma once

#include <QFileDevice>
#include <QSqlError>
#include <QString>

// What the system says about a file or the database, for a user who reads Italian: Italian words first, the system's
// own text after them in parentheses for whoever looks it up ("spazio esaurito sul disco (No space left on device)").
namespace SystemText {

// Why an operation on file failed, from its error and errorString().
QString fileError(const QFileDevice& file);

// The same from a system text as QFileDevice::errorString() gives it.
QString fileError(QFileDevice::FileError error, const QString& systemText);

// Why a database operation failed.
QString databaseError(const QSqlError& error);

} // namespace SystemText
