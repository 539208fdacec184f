#include "data/DailyBackup.h"

#include "data/SystemText.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>

namespace {

QString copyName(const QDate& date)
{
    return QStringLiteral("Cust-%1.mdb").arg(date.toString(Qt::ISODate));
}

QDate dateOf(const QString& fileName)
{
    static const QRegularExpression pattern(QStringLiteral("^Cust-(\\d{4}-\\d{2}-\\d{2})\\.mdb$"));
    const QRegularExpressionMatch match = pattern.match(fileName);
    return match.hasMatch() ? QDate::fromString(match.captured(1), Qt::ISODate) : QDate();
}

// Writes the consistent copy through a read-only connection: it never creates or changes the source file.
QString vacuumInto(const QString& source, const QString& target)
{
    static QAtomicInt counter;
    const QString name = QStringLiteral("velmarin-backup-%1").arg(counter.fetchAndAddRelaxed(1));
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(source);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=2000"));
        if (!db.open()) {
            error = SystemText::databaseError(db.lastError());
        } else {
            QString quoted = target;
            quoted.replace(QLatin1Char('\''), QLatin1String("''"));
            QSqlQuery query(db);
            if (!query.exec(QStringLiteral("VACUUM INTO '%1'").arg(quoted))) {
                error = SystemText::databaseError(query.lastError());
            }
            query.finish();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return error;
}

} // namespace

namespace DailyBackup {

QString folderFor(const QString& databasePath)
{
    return QFileInfo(databasePath).absoluteDir().filePath(QStringLiteral("Backup"));
}

QStringList copiesIn(const QString& folder)
{
    QList<QPair<QDate, QString>> dated;
    const QStringList names = QDir(folder).entryList({QStringLiteral("Cust-*.mdb")}, QDir::Files);
    for (const QString& name : names) {
        const QDate date = dateOf(name);
        if (date.isValid()) {
            dated.append({date, QDir(folder).filePath(name)});
        }
    }
    std::sort(dated.begin(), dated.end());
    QStringList paths;
    for (const auto& copy : dated) {
        paths.append(copy.second);
    }
    return paths;
}

Result run(const QString& databasePath, const QDate& today)
{
    Result result;
    const QString folder = folderFor(databasePath);
    const QString target = QDir(folder).filePath(copyName(today));
    if (QFileInfo::exists(target)) {
        return result;
    }
    if (!QFileInfo(databasePath).isFile()) {
        result.error = QStringLiteral("il file '%1' non esiste.").arg(QDir::toNativeSeparators(databasePath));
        return result;
    }
    const bool folderExisted = QFileInfo(folder).isDir();
    // The copies are the book's personal data: their folder is its owner's alone, whatever the umask.
    if (!folderExisted
        && (!QDir().mkpath(folder)
            || !QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))) {
        QDir().rmdir(folder);
        result.error = QStringLiteral("impossibile creare la cartella '%1'.").arg(QDir::toNativeSeparators(folder));
        return result;
    }
    // Written under a passing name of this process's own and renamed, so an interrupted copy never counts as a copy
    // and two starts at the same moment do not write into one file. The file is made empty with its mode first
    // (VACUUM INTO fills an empty file), so the copy is never readable by more users than the book, nor by anyone
    // but its owner.
    const QString partial = target + QStringLiteral(".parziale-%1").arg(QCoreApplication::applicationPid());
    QFile::remove(partial);
    const QFile::Permissions ownerOnly = QFile::ReadOwner | QFile::WriteOwner;
    {
        QFile empty(partial);
        if (!empty.open(QIODevice::WriteOnly | QIODevice::NewOnly) || !empty.setPermissions(ownerOnly)) {
            result.error = QStringLiteral("impossibile scrivere '%1': %2.")
                               .arg(QDir::toNativeSeparators(partial), SystemText::fileError(empty));
        }
    }
    if (result.error.isEmpty()) {
        result.error = vacuumInto(databasePath, partial);
    }
    // A book its owner may only read gives a copy its owner may only read.
    const QFile::Permissions mode = QFileInfo(databasePath).permissions() & ownerOnly;
    if (result.error.isEmpty() && mode != ownerOnly && !QFile::setPermissions(partial, mode)) {
        result.error = QStringLiteral("impossibile scrivere '%1'.").arg(QDir::toNativeSeparators(partial));
    }
    if (result.error.isEmpty() && !QFile::rename(partial, target)) {
        QFile::remove(partial);
        if (QFileInfo::exists(target)) {
            return result;
        }
        result.error = QStringLiteral("impossibile scrivere '%1'.").arg(QDir::toNativeSeparators(target));
    }
    if (!result.error.isEmpty()) {
        QFile::remove(partial);
        if (!folderExisted) {
            QDir().rmdir(folder);
        }
        return result;
    }
    result.made = target;

    // Copies cut short on an earlier day (a killed start) are no longer being written by anyone.
    const QStringList partials = QDir(folder).entryList({QStringLiteral("Cust-*.mdb.parziale-*")}, QDir::Files);
    for (const QString& name : partials) {
        const QDate date = dateOf(name.left(name.indexOf(QLatin1String(".parziale-"))));
        if (date.isValid() && date < today) {
            QFile::remove(QDir(folder).filePath(name));
        }
    }

    const QStringList after = copiesIn(folder);
    for (qsizetype i = 0; i < after.size() - kept; ++i) {
        if (!QFile::remove(after.at(i))) {
            result.error
                = QStringLiteral("impossibile togliere la copia '%1'.").arg(QDir::toNativeSeparators(after.at(i)));
        }
    }
    return result;
}

} // namespace DailyBackup
