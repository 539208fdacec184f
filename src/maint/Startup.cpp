#include "Startup.h"

#include "AppInfo.h"
#include "DailyBackup.h"
#include "DataLocation.h"
#include "MessageBox.h"
#include "frmCustMaint.h"

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

// A copy that could not be made must not keep anyone from their contacts: it is only reported.
void backUpAddressBook(const QString& path)
{
    const DailyBackup::Result backup = DailyBackup::run(path, AppInfo::now().date());
    if (!backup.error.isEmpty()) {
        QTextStream(stderr) << AppInfo::title() << ": copia di sicurezza di " << QDir::toNativeSeparators(path)
                            << " non riuscita: " << backup.error << '\n';
    }
}

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
