#include "maint/Startup.h"

#include "common/MessageBox.h"
#include "core/AppInfo.h"
#include "core/BookBackup.h"
#include "core/DataLocation.h"
#include "maint/ContactExchange.h"
#include "maint/FileHandOver.h"
#include "maint/frmCustMaint.h"

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QTextStream>
#include <QTranslator>

#include <utility>

namespace {

QString firstStartNotice(const QString& path)
{
    return QStringLiteral("È stata creata una rubrica vuota per questo utente:\n%1\n\nOgni giorno una copia "
                          "di sicurezza viene salvata nella cartella Backup, accanto alla rubrica.")
        .arg(QDir::toNativeSeparators(path));
}

QString importQuestion(const QStringList& paths)
{
    QStringList names;
    for (const QString& path : paths)
        names.append(QDir::toNativeSeparators(path));
    return QStringLiteral("Importare nella rubrica i contatti di:\n%1").arg(names.join(u'\n'));
}

} // namespace

void offerImport(frmCustMaint& form, const QStringList& paths)
{
    if (paths.isEmpty())
        return;
    ContactExchange* exchange = form.exchange();
    if (!exchange->browsing()) {
        MessageBox::show(&form,
                         QStringLiteral("Salvare o annullare prima il contatto in modifica, poi importare i file con "
                                        "\"Importa contatti…\":\n")
                             + QStringList(paths).join(u'\n'),
                         QStringLiteral("Importa contatti"),
                         MessageBox::OkOnly,
                         MessageBox::Information);
        return;
    }
    if (MessageBox::show(
            &form, importQuestion(paths), QStringLiteral("Importa contatti"), MessageBox::YesNo, MessageBox::Question)
        == MessageBox::Yes)
        exchange->importFiles(paths);
}

int runVelmarin(const QStringList& files)
{
    QString path;
    try {
        path = DataLocation::filePath();
    } catch (const ado::Error&) {
    }
    const QString name = FileHandOver::serverName(path);
    // The window already open on this book takes the files; no second window on the same book.
    if (!files.isEmpty() && FileHandOver::send(name, files))
        return 0;

    frmCustMaint form;
    bool created = false;
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
    // Named after the book as it now exists, as a later start names it.
    const QString listened = FileHandOver::serverName(path);
    FileHandOver handOver;
    if (!handOver.listen(listened)) {
        QTextStream(stderr) << AppInfo::title() << ": i file aperti da altre finestre non potranno essere passati a "
                            << "questa (" << listened << ")\n";
    }
    // Files handed over while an offer or its import is still open wait their turn, never a second import inside it.
    QStringList pending;
    bool offering = false;
    const auto offer = [&form, &pending, &offering](const QStringList& paths) {
        pending += paths;
        if (offering)
            return;
        offering = true;
        while (!pending.isEmpty())
            offerImport(form, std::exchange(pending, {}));
        offering = false;
    };
    QObject::connect(&handOver, &FileHandOver::filesArrived, &form, [&form, &offer](const QStringList& paths) {
        form.setWindowState((form.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
        form.raise();
        form.activateWindow();
        offer(paths);
    });
    if (created) {
        MessageBox::show(&form, firstStartNotice(path), AppInfo::title(), MessageBox::OkOnly, MessageBox::Information);
    }
    offer(files);
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
