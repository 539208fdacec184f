#include "Startup.h"

#include "AppInfo.h"
#include "MessageBox.h"
#include "frmCustMaint.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

int runVelmarin()
{
    frmCustMaint form;
    try {
        form.Form_Load();
    } catch (const ado::Error& error) {
        MessageBox::show(nullptr, error.description(), AppInfo::title(), MessageBox::OkOnly, MessageBox::Critical);
        return 1;
    }
    form.show();
    return QApplication::exec();
}

void installItalianTranslations()
{
    auto* translator = new QTranslator(qApp);
    if (translator->load(QLocale(QLocale::Italian, QLocale::Italy),
                         QStringLiteral("qtbase"),
                         QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(translator);
    } else {
        delete translator;
    }
}
