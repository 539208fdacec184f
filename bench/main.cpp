#include "benches.h"

#include <QApplication>
#include <QDateTime>
#include <QSysInfo>
#include <QTextStream>
#include <QThread>

namespace {

QtMessageHandler g_defaultHandler = nullptr;

// The offscreen platform says at every window that it cannot raise it; the table should not drown in that.
void quietPlatform(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtWarningMsg && message.startsWith(QLatin1String("This plugin does not support")))
        return;
    g_defaultHandler(type, context, message);
}

} // namespace

// velmarin-bench: the program's windows over a generated Cust.mdb of 100,000 contacts. Prints one table and exits
// with 1 when a figure misses its target.
int main(int argc, char** argv)
{
    // The figures are taken off screen, where no window manager or compositor adds its own time.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    g_defaultHandler = qInstallMessageHandler(quietPlatform);
    QApplication app(argc, argv);
    QTextStream out(stdout);
    const QStringList arguments = QApplication::arguments();
    if (arguments.contains(QLatin1String("--help"))) {
        out << "usage: velmarin-bench [STEP]\n"
               "  (no step)  every figure below, then the print window, the print, the exchange and the sync\n"
               "  main       the main window alone: fill, memory, header clicks, find, row selection, save, delete\n"
               "  exchange   the export and import of contacts alone\n"
               "  cards      the whole cards alone: import, export, the window's fill beside them, Dettagli…\n"
               "  undo       the undo of a delete and the comparison of a copy with the book alone\n"
               "  duplicates \"Trova doppioni…\" alone, on a book with planted duplicates\n"
               "  --sync     the sync against a Radicale on this machine alone\n";
        return 0;
    }
    out << "velmarin-bench " << QDateTime::currentDateTime().toString(Qt::ISODate) << ", Qt " << qVersion() << ", "
        << QThread::idealThreadCount() << " cores, " << QSysInfo::prettyProductName() << '\n';
    Report report;
    // --sync measures only the sync, which needs no generated database.
    if (arguments.contains(QLatin1String("--sync"))) {
        benchSync(report);
        return report.print(out) > 0 ? 1 : 0;
    }
    if (arguments.contains(QLatin1String("duplicates"))) {
        benchDuplicates(report);
        return report.print(out) > 0 ? 1 : 0;
    }
    out << "generating " << kContacts << " contacts...\n";
    out.flush();

    GeneratedDatabase db(kContacts);
    if (!db.isValid()) {
        QTextStream(stderr) << db.error() << '\n';
        return 2;
    }
    // "velmarin-bench exchange" measures the import and export alone.
    if (arguments.contains(QLatin1String("exchange"))) {
        benchExchange(report, db);
        return report.print(out) > 0 ? 1 : 0;
    }
    // "velmarin-bench cards" measures the whole cards alone.
    if (arguments.contains(QLatin1String("cards"))) {
        benchCards(report, db);
        return report.print(out) > 0 ? 1 : 0;
    }
    // "velmarin-bench undo" measures the undo and the restore's comparison alone.
    if (arguments.contains(QLatin1String("undo"))) {
        benchUndo(report, db);
        return report.print(out) > 0 ? 1 : 0;
    }
    // "velmarin-bench main" measures the main window alone: the fill, the header clicks, the find, save and delete.
    if (arguments.contains(QLatin1String("main"))) {
        benchMainWindow(report, db);
        return report.print(out) > 0 ? 1 : 0;
    }
    // First, so that the memory figure sees only the main window.
    benchMainWindow(report, db);
    benchVisualizza(report, db);
    benchPrint(report);
    benchExchange(report, db);
    benchCards(report, db);
    benchUndo(report, db);
    benchDuplicates(report);
    benchSync(report);
    return report.print(out) > 0 ? 1 : 0;
}
