#include "core/AppInfo.h"

#include <QCoreApplication>

namespace {
QString g_folderOverride;
std::function<QDateTime()> g_clock;
} // namespace

namespace AppInfo {

QString title()
{
    return QStringLiteral("Velmarin");
}

int major()
{
    return 1;
}

int minor()
{
    return 0;
}

int revision()
{
    return 0;
}

QString folder()
{
    if (!g_folderOverride.isEmpty()) {
        return g_folderOverride;
    }
    return QCoreApplication::applicationDirPath();
}

void setFolderOverride(const QString& folder)
{
    g_folderOverride = folder;
}

QDateTime now()
{
    return g_clock ? g_clock() : QDateTime::currentDateTime();
}

void setClock(std::function<QDateTime()> clock)
{
    g_clock = std::move(clock);
}

} // namespace AppInfo
