#include "AppInfo.h"
#include "CommandLine.h"
#include "Startup.h"

#include <QApplication>
#include <QIcon>
#include <QTextStream>

int main(int argc, char* argv[])
{
    // An import or an export from the command line runs without a display: no widget, no QApplication.
    if (isExchangeCommand(argc, argv)) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(AppInfo::title());
        QTextStream out(stdout);
        QTextStream err(stderr);
        return runExchangeCommand(QCoreApplication::arguments().mid(1), out, err);
    }
    QTextStream err(stderr);
    const WindowStart start = windowStart(argc, argv, err);
    if (start.exitCode >= 0)
        return start.exitCode;
    QApplication app(argc, argv);
    QApplication::setApplicationName(AppInfo::title());
    QApplication::setApplicationVersion(
        QStringLiteral("%1.%2.%3").arg(AppInfo::major()).arg(AppInfo::minor()).arg(AppInfo::revision()));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/app.svg")));
    // The installed menu entry's name: the desktop matches the running window to it (its icon on Wayland).
    QApplication::setDesktopFileName(QStringLiteral("org.velmarin.Velmarin"));
    installItalianTranslations();
    return runVelmarin(start.files);
}
