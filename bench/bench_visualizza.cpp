#include "benches.h"

#include "AppInfo.h"
#include "CustDatabase.h"
#include "ListView.h"
#include "Visualizza.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>

namespace {

// What SQLite alone needs to hand over every value of the table as text: the floor for an activation.
double sqliteFloorMs(const QString& path)
{
    const QString name = QStringLiteral("bench-visualizza-floor");
    double ms = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        QElapsedTimer timer;
        timer.start();
        db.open();
        QSqlQuery query(db);
        query.setForwardOnly(true);
        query.exec(QStringLiteral("Select * from Customer "));
        qsizetype chars = 0;
        while (query.next()) {
            for (int i = 0; i < 8; ++i) {
                chars += query.value(i).toString().size();
            }
        }
        ms = double(timer.nsecsElapsed()) / 1e6;
        query.finish();
        db.close();
        Q_UNUSED(chars);
    }
    QSqlDatabase::removeDatabase(name);
    return ms;
}

double activationMs(Visualizza& window)
{
    QElapsedTimer timer;
    timer.start();
    window.Form_Activate();
    QApplication::processEvents();
    return double(timer.nsecsElapsed()) / 1e6;
}

} // namespace

void benchVisualizza()
{
    constexpr int n = 100000;
    QTextStream out(stdout);
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("Cust.mdb"));
    mkdb::createCustomerDatabase(path);
    mkdb::insertContacts(path, mkdb::generatedContacts(n));
    AppInfo::setFolderOverride(dir.path());

    Visualizza window;
    window.show();
    QApplication::processEvents();

    const double floor = sqliteFloorMs(path);
    const double first = activationMs(window);
    const double again = activationMs(window);
    out << "Visualizza, activation over " << n << " contacts (ms)\n";
    out << "  SQLite alone (floor):    " << floor << "\n";
    out << "  first activation:        " << first << "  (" << first / floor << " x floor)\n";
    out << "  next activation:         " << again << "  (" << again / floor << " x floor)\n";
    out << "  rows shown:              " << window.ListView3->itemCount() << "\n";
    out.flush();

    AppInfo::setFolderOverride({});
}
