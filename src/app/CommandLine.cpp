#include "app/CommandLine.h"

#include "app/SyncCommand.h"
#include "core/AppInfo.h"
#include "core/BookBackup.h"
#include "core/DataLocation.h"
#include "data/BookRestore.h"
#include "data/Contact.h"
#include "data/DailyBackup.h"
#include "data/Duplicates.h"
#include "exchange/ContactImport.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

#include <cstring>

namespace {

const QString kImport = QStringLiteral("--import");
const QString kExport = QStringLiteral("--export");
const QString kDuplicates = QStringLiteral("--duplicates");

QString oneLine(const QString& text)
{
    return text.simplified();
}

// The address book the window opens; an installed program's first use creates the user's empty one. The day's
// backup is made first, as at the window's start: an import changes many contacts at once.
void openAddressBook(CustomerStore& store)
{
    DataLocation::createIfInstalled();
    store.ConnectToDatabase(DataLocation::connectionText());
    backUpAddressBook(store.mcnnCust->filePath());
}

const char* const kUsage
    = "Uso: velmarin [--import FILE... | --export FILE | --sync [--accept-deletions] [INDIRIZZO] | --backups |\n"
      "                --restore FILE | --duplicates | --help | --version | FILE...]\n";

int usage(QTextStream& err, const QString& reason)
{
    err << "velmarin: " << reason << "\n" << kUsage;
    err.flush();
    return 2;
}

int help(QTextStream& out)
{
    out << kUsage
        << "  (senza argomenti)    apre la rubrica\n"
           "  --import FILE...     aggiunge i contatti di file vCard (.vcf) o CSV (.csv)\n"
           "  --export FILE        scrive tutti i contatti in un file .vcf o .csv\n"
           "  --sync [INDIRIZZO]   sincronizza con la rubrica CardDAV impostata, o con quella indicata\n"
           "                       (https://utente@server/percorso/); la password viene dal portachiavi\n"
           "                       o da VELMARIN_CARDDAV_PASSWORD\n"
           "  --accept-deletions   con --sync: elimina anche quando la sincronizzazione toglierebbe più di 10\n"
           "                       contatti e più di un quarto della rubrica (altrimenti si ferma prima)\n"
           "  --backups            elenca le copie della rubrica nella cartella Backup, la più recente per prima\n"
           "  --restore FILE       sostituisce la rubrica con la copia FILE (un percorso, o un nome della cartella\n"
           "                       Backup); la rubrica attuale viene prima salvata come\n"
           "                       Backup/Cust-AAAA-MM-GG-prima-del-ripristino.mdb\n"
           "  --duplicates         elenca i probabili doppioni, un contatto per riga e una riga vuota fra\n"
           "                       i gruppi (codice, i sette campi e i motivi, separati da tabulazioni);\n"
           "                       non modifica nulla\n"
           "  --help               mostra questo aiuto\n"
           "  --version            mostra la versione\n"
           "  FILE...              apre la rubrica e propone di importare i file .vcf o .csv; se la rubrica è\n"
           "                       già aperta, i file passano alla sua finestra\n";
    out.flush();
    return 0;
}

ImportOutcome runImport(CustomerStore& store, const QStringList& paths)
{
    // Every file is read before the address book is touched: one bad file and nothing is added.
    QList<DecodedContactFile> files;
    for (const QString& path : paths) {
        files.append(openContactFile(path));
    }
    openAddressBook(store);
    return importContacts(store, files);
}

QString runExport(CustomerStore& store, const QString& path)
{
    if (formatOfPath(path) == ContactFormat::Unknown) {
        throw ado::Error(QStringLiteral("Formato non riconosciuto per '%1': il nome del file deve terminare in .vcf "
                                        "(vCard) o .csv (CSV).")
                             .arg(path));
    }
    openAddressBook(store);
    const QList<ExportContact> contacts = storedContacts(store);
    writeContactFile(path, contacts);
    return exportSummary(contacts.size(), path);
}

int listBackups(QTextStream& out)
{
    const QString book = DataLocation::filePath();
    const QList<BookRestore::Copy> copies = BookRestore::copies(book);
    if (copies.isEmpty()) {
        out << "Nessuna copia in '" << QDir::toNativeSeparators(DailyBackup::folderFor(book)) << "'.\n";
    }
    for (const BookRestore::Copy& copy : copies) {
        out << QFileInfo(copy.path).fileName() << '\t' << BookRestore::describe(copy) << '\n';
    }
    out.flush();
    return 0;
}

int restore(const QStringList& paths, QTextStream& out, QTextStream& err)
{
    if (paths.size() != 1) {
        return usage(err, QStringLiteral("--restore richiede il nome di una sola copia."));
    }
    const QString book = DataLocation::filePath();
    QString copy = paths.first();
    // A bare name, as --backups lists them, is looked for in the Backup folder.
    if (!QFileInfo::exists(copy) && QFileInfo(copy).fileName() == copy) {
        copy = QDir(DailyBackup::folderFor(book)).filePath(copy);
    }
    try {
        if (!QFileInfo(book).isFile()) {
            throw ado::Error(QStringLiteral("La rubrica '%1' non esiste.").arg(QDir::toNativeSeparators(book)));
        }
        if (!QFileInfo(copy).isFile()) {
            throw ado::Error(QStringLiteral("La copia '%1' non esiste.").arg(QDir::toNativeSeparators(copy)));
        }
        const QString saved = BookRestore::replaceBook(book, copy, QDate::currentDate());
        out << oneLine(QStringLiteral("Rubrica sostituita con '%1'; quella di prima è salvata in '%2'.")
                           .arg(QDir::toNativeSeparators(copy), QDir::toNativeSeparators(saved)))
            << '\n';
        out.flush();
        return 0;
    } catch (const ado::Error& error) {
        err << "velmarin: " << commandFailure(error) << '\n';
        err.flush();
        return 1;
    }
}

// Reads only: no day's copy, no change to any contact.
int runDuplicates(QTextStream& out, QTextStream& err)
{
    CustomerStore store;
    try {
        DataLocation::createIfInstalled();
        store.ConnectToDatabase(DataLocation::connectionText());
        const QList<DuplicateGroup> groups = Duplicates::find(store);
        store.CloseDatabase();
        // A tab or a line break inside a field would split its line.
        const auto cell = [](const QString& text) { return text.simplified(); };
        for (qsizetype g = 0; g < groups.size(); ++g) {
            if (g > 0) {
                out << '\n';
            }
            for (const DuplicateContact& c : groups.at(g).contacts) {
                const ContactFields& f = c.fields;
                out << c.key;
                for (const QString& text : {f.firstName, f.lastName, f.address, f.city, f.state, f.zip}) {
                    out << '\t' << cell(text);
                }
                out << '\t' << cell(ReadablePhone(f.phoneNumber)) << '\t'
                    << groups.at(g).reasons.join(QLatin1String(", ")) << '\n';
            }
        }
        out.flush();
        return 0;
    } catch (const ado::Error& error) {
        return commandFailed(store, err, error);
    }
}

} // namespace

QString commandFailure(const ado::Error& error)
{
    QString text = error.description();
    if (dynamic_cast<const ado::FileReplaced*>(&error)) {
        text += QStringLiteral(" Controllare quale rubrica si trova ora in quel file prima di ripetere il comando.");
    }
    return oneLine(text);
}

int commandFailed(CustomerStore& store, QTextStream& err, const ado::Error& error, const QString& then)
{
    store.CloseDatabase();
    err << "velmarin: " << commandFailure(error);
    if (!then.isEmpty()) {
        err << ' ' << then;
    }
    err << '\n';
    err.flush();
    return 1;
}

WindowStart windowStart(int argc, char** argv, QTextStream& err)
{
    WindowStart start;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        if (options && argument == QLatin1String("--")) {
            options = false;
            continue;
        }
        // Qt's own choice of platform, as tests and remote sessions give it.
        if (options && argument == QLatin1String("-platform") && i + 1 < argc) {
            ++i;
            continue;
        }
        if (options && argument.startsWith(u'-') && argument.size() > 1) {
            start.exitCode = usage(err, QStringLiteral("opzione sconosciuta '%1'.").arg(argument));
            return start;
        }
        if (!QFileInfo(argument).isFile()) {
            start.exitCode = usage(err, QStringLiteral("'%1' non è un file esistente.").arg(argument));
            return start;
        }
        start.files.append(QFileInfo(argument).absoluteFilePath());
    }
    // Without a display Qt aborts the program (134); these platforms need none.
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM").section(u':', 0, 0);
    bool platformArgument = false;
    for (int i = 1; i + 1 < argc; ++i)
        platformArgument = platformArgument || std::strcmp(argv[i], "-platform") == 0;
    const bool headlessPlatform = platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")
        || platform == QLatin1String("vnc") || platform == QLatin1String("linuxfb")
        || platform == QLatin1String("eglfs");
    if (!platformArgument && !headlessPlatform && qEnvironmentVariableIsEmpty("DISPLAY")
        && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        err << "velmarin: nessuno schermo su cui aprire la finestra (DISPLAY e WAYLAND_DISPLAY non impostate); "
               "i comandi senza finestra sono elencati da velmarin --help.\n";
        err.flush();
        start.exitCode = 1;
    }
    return start;
}

bool isExchangeCommand(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        for (const char* command : {"--import",
                                    "--export",
                                    "--sync",
                                    "--backups",
                                    "--restore",
                                    "--duplicates",
                                    "--help",
                                    "-h",
                                    "--version"}) {
            if (std::strcmp(argv[i], command) == 0) {
                return true;
            }
        }
    }
    return false;
}

int runExchangeCommand(const QStringList& arguments, QTextStream& out, QTextStream& err)
{
    if (!arguments.isEmpty() && arguments.first() == QLatin1String("--sync")) {
        return runSyncCommand(arguments.mid(1), out, err);
    }
    if (arguments.contains(QLatin1String("--help")) || arguments.contains(QLatin1String("-h"))) {
        return help(out);
    }
    if (arguments.contains(QLatin1String("--version"))) {
        out << AppInfo::title() << ' ' << AppInfo::major() << '.' << AppInfo::minor() << '.' << AppInfo::revision()
            << '\n';
        out.flush();
        return 0;
    }
    if (!arguments.isEmpty() && arguments.first() == QLatin1String("--backups")) {
        return arguments.size() == 1 ? listBackups(out)
                                     : usage(err, QStringLiteral("--backups non vuole altri argomenti."));
    }
    if (!arguments.isEmpty() && arguments.first() == QLatin1String("--restore")) {
        return restore(arguments.mid(1), out, err);
    }
    if (!arguments.isEmpty() && arguments.first() == kDuplicates) {
        if (arguments.size() > 1) {
            return usage(err, QStringLiteral("--duplicates non vuole altri argomenti."));
        }
        return runDuplicates(out, err);
    }
    if (arguments.isEmpty() || (arguments.first() != kImport && arguments.first() != kExport)) {
        return usage(
            err, QStringLiteral("indicare --import, --export, --sync, --backups, --restore o --duplicates per primo."));
    }
    const QString command = arguments.first();
    const QStringList paths = arguments.mid(1);
    for (const QString& path : paths) {
        if (path == kImport || path == kExport) {
            return usage(err, QStringLiteral("--import e --export non possono essere usati insieme."));
        }
    }
    if (paths.isEmpty()) {
        return usage(err, QStringLiteral("%1 richiede il nome di un file.").arg(command));
    }
    if (command == kExport && paths.size() > 1) {
        return usage(err, QStringLiteral("--export scrive un solo file."));
    }

    CustomerStore store;
    try {
        const QString summary
            = command == kImport ? runImport(store, paths).summary() : runExport(store, paths.first());
        store.CloseDatabase();
        out << oneLine(summary) << '\n';
        out.flush();
        return 0;
    } catch (const ado::Error& error) {
        return commandFailed(store, err, error);
    }
}
