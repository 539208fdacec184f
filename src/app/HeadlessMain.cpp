#include "app/CommandLine.h"
#include "core/AppInfo.h"

#include <QCoreApplication>
#include <QTextStream>

// velmarin-cli: the command line's commands over the core alone, so that they load no widget library. velmarin
// hands its command-line runs over to it.
int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(AppInfo::title());
    QTextStream out(stdout);
    QTextStream err(stderr);
    return runExchangeCommand(QCoreApplication::arguments().mid(1), out, err);
}
