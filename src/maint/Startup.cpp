#include "maint/Startup.h"

#include "common/MessageBox.h"
#include "core/AppInfo.h"
#include "core/BookBackup.h"
#include "core/DataLocation.h"
#include "maint/frmCustMaint.h"

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QTextStream>
#include <QTranslator>

namespace {

QString firstStartNotice(const QString& path)
{
    return QStringLiteral("È stata creata una rubrica vuota per questo utente:\n%1\n\nOgni giorno una copia "
                          "di sicurezza viene salvata nella cartella Backup, accanto alla rubrica.")
        .arg(QDir::toNativeSeparators(path));
}

} // namespace

int runVelmarin()
{
    frmCustMaint form;
    bool created = false;
    QString path;
    try {
        created = DataLocation::createIfInstalled();
        form.Form_Load();
        path = DataLocation::filePath();
    } catch (const ado::Error& error) {
        MessageBox::show(nullptr, error.description(), AppInfo::title(), MessageBox::OkOnly, MessageBox::Critical);
        return 1;
    }
    backUpAddressBook(path);
    form.show();
    if (created) {
        MessageBox::show(&form, firstStartNotice(path), AppInfo::title(), MessageBox::OkOnly, MessageBox::Information);
    }
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
