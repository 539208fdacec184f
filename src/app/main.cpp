#include "app/CommandLine.h"
#include "core/AppInfo.h"
#include "maint/Startup.h"

#include <QApplication>
#include <QIcon>
#include <QTextStream>

#ifdef Q_OS_LINUX
#include <climits>
#include <string>
#include <unistd.h>
#endif

namespace {

// Hands the run to velmarin-cli beside this program, same arguments, so that a command maps no widget library into
// the process. Returns only when that program cannot be started; the command then runs here.
void runHeadless(char* argv[])
{
#ifdef Q_OS_LINUX
    // The program itself, not the link that may have started it (bin/velmarin in an installed tree).
    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) {
        return;
    }
    std::string headless(self, std::size_t(length));
    headless.replace(headless.rfind('/') + 1, std::string::npos, "velmarin-cli");
    execv(headless.c_str(), argv);
#else
    Q_UNUSED(argv);
#endif
}

} // namespace

int main(int argc, char* argv[])
{
    // An import or an export from the command line runs without a display: no widget, no QApplication.
    if (isExchangeCommand(argc, argv)) {
        runHeadless(argv);
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
