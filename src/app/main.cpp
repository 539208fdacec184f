#include "AppInfo.h"
#include "Startup.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(AppInfo::title());
    QApplication::setApplicationVersion(
        QStringLiteral("%1.%2.%3").arg(AppInfo::major()).arg(AppInfo::minor()).arg(AppInfo::revision()));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/app.svg")));
    // The installed menu entry's name: the desktop matches the running window to it (its icon on Wayland).
    QApplication::setDesktopFileName(QStringLiteral("org.velmarin.Velmarin"));
    installItalianTranslations();
    return runVelmarin();
}
