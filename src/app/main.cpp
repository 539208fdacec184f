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
    installItalianTranslations();
    return runVelmarin();
}
