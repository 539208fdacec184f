#include "core/DataLocation.h"

#include "core/AppInfo.h"
#include "data/Ado.h"
#include "data/CustomerStore.h"
#include "data/Schema.h"
#include "data/SystemText.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace {

// The user's data folder for Velmarin, whatever application name the running process gave itself (the tests, the
// command line): ~/.local/share/Velmarin on Linux.
QString userDataFolder()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)).filePath(AppInfo::title());
}

} // namespace

QString withTrailingSeparator(const QString& folder)
{
#ifndef Q_OS_WIN
    // Outside Windows a backslash is a character of a folder's name ("/srv/bs\" is the folder "bs\"), never a
    // separator, so a Unix path always gets its "/".
    if (folder.startsWith(QLatin1Char('/')) && !folder.endsWith(QLatin1Char('/'))) {
        return folder + QLatin1Char('/');
    }
#endif
    if (folder.endsWith(QLatin1Char('\\')) || folder.endsWith(QLatin1Char('/'))) {
        return folder;
    }
    // A Windows-style path keeps its own separator; otherwise the platform's "/" (Qt uses it on every system).
    const bool backslashes = folder.contains(QLatin1Char('\\')) && !folder.contains(QLatin1Char('/'));
    return folder + (backslashes ? QLatin1Char('\\') : QLatin1Char('/'));
}

namespace DataLocation {

QString markerFileName()
{
    return QStringLiteral("velmarin.ini");
}

bool isInstalled()
{
    const QString marker = QDir(AppInfo::folder()).filePath(markerFileName());
    if (!QFileInfo(marker).isFile()) {
        return false;
    }
    // Any other value than "program" still means installed: an unreadable marker must not send the writes to a
    // shared read-only folder.
    const QSettings settings(marker, QSettings::IniFormat);
    return settings.value(QStringLiteral("Data/Location"), QStringLiteral("user")).toString()
        != QLatin1String("program");
}

QString folder()
{
    return isInstalled() ? userDataFolder() : AppInfo::folder();
}

QString connectionText()
{
    return CustomerStore::connectionText(withTrailingSeparator(folder()));
}

QString filePath()
{
    return ado::dataSourcePath(connectionText());
}

bool createIfInstalled()
{
    if (!isInstalled()) {
        return false;
    }
    const QString path = filePath();
    if (QFileInfo::exists(path)) {
        return false;
    }
    // An address book is personal data: the folder made for it and the book are its owner's alone, whatever the
    // umask. SQLite gives the book's journal the book's mode.
    const QString dataFolder = QFileInfo(path).absolutePath();
    if (!QFileInfo(dataFolder).isDir()
        && (!QDir().mkpath(dataFolder)
            || !QFile::setPermissions(dataFolder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))) {
        throw ado::Error(QStringLiteral("Impossibile creare la cartella '%1' per la rubrica.")
                             .arg(QDir::toNativeSeparators(dataFolder)));
    }
    // Built aside and renamed into place, so a start cut short never leaves a half-made Cust.mdb behind. The name
    // is this process's own: a second start at the same moment builds its own and finds the first one's in place.
    const QString building = path + QStringLiteral(".nuovo-%1").arg(QCoreApplication::applicationPid());
    QFile::remove(building);
    // SQLite's own words follow the Italian ones in parentheses.
    QString error = Schema::createBook(building);
    if (!error.isEmpty()) {
        error = QStringLiteral("errore del database (%1)").arg(error);
    }
    QFile book(building);
    if (error.isEmpty() && !book.setPermissions(QFile::ReadOwner | QFile::WriteOwner)) {
        error = SystemText::fileError(book);
    }
    if (error.isEmpty() && !book.rename(path)) {
        if (QFileInfo::exists(path)) {
            QFile::remove(building);
            return false;
        }
        error = SystemText::fileError(book);
    }
    if (!error.isEmpty()) {
        QFile::remove(building);
        throw ado::Error(
            QStringLiteral("Impossibile creare la rubrica '%1': %2.").arg(QDir::toNativeSeparators(path), error));
    }
    return true;
}

} // namespace DataLocation
