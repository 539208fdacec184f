#include "benches.h"

#include "common/ListView.h"
#include "core/AppInfo.h"
#include "data/BookRestore.h"
#include "data/DailyBackup.h"
#include "maint/UndoActions.h"
#include "maint/frmCustMaint.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <QTextStream>
#include <QToolButton>

namespace {

constexpr int kRuns = 5;
constexpr int kChangedSince = 1000; // contacts deleted, changed and added each, between the copy and the book

bool runSql(const QString& path, const QStringList& statements)
{
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bench-undo"));
        db.setDatabaseName(path);
        ok = db.open();
        QSqlQuery query(db);
        for (const QString& statement : statements) {
            ok = ok && query.exec(statement);
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("bench-undo"));
    return ok;
}

} // namespace

// Ctrl+Z after deletes in the window over 100,000 contacts sorted by Telefono; then the restore dialog's comparison of
// a copy with the book, 1,000 contacts deleted, changed and added since.
void benchUndo(Report& report, const GeneratedDatabase& db)
{
    QTemporaryDir folder;
    const QString book = QDir(folder.path()).filePath(QStringLiteral("Cust.mdb"));
    if (!QFile::copy(db.path(), book)) {
        QTextStream(stderr) << "undo: the book could not be copied\n";
        return;
    }
    AppInfo::setFolderOverride(folder.path());
    {
        double openMs = 0;
        std::unique_ptr<frmCustMaint> window = openMainWindow(openMs);
        if (!window) {
            AppInfo::setFolderOverride({});
            return;
        }
        YesToEverything answers;
        clickHeader(*window, 7);
        ListView* list = window->findChild<ListView*>(QStringLiteral("lvwCustomer"));
        auto* remove = window->findChild<QToolButton*>(QStringLiteral("cmdDelete"));
        for (int i = 0; i < kRuns; ++i) {
            list->setSelectedIndex(list->itemCount() / 3 + i * 131);
            QTest::mouseClick(remove, Qt::LeftButton);
        }
        QApplication::processEvents();
        QAction* undo = window->undoActions()->undoAction();
        QList<double> undos;
        for (int i = 0; i < kRuns; ++i) {
            const int before = list->itemCount();
            undos.append(timedMs([&] { undo->trigger(); }));
            if (list->itemCount() != before + 1)
                QTextStream(stderr) << "undo: the contact did not come back (" << answers.lastText << ")\n";
        }
        const WriteFloor writes = sqliteWriteFloor(book, kRuns);
        report.add({QStringLiteral("undo of a delete: Ctrl+Z"),
                    medianOf(undos),
                    QStringLiteral("ms"),
                    30,
                    writes.insertMs,
                    QStringLiteral("the contact and its card back in one transaction, its row placed in the list "
                                   "sorted by Telefono and selected")});
    }
    AppInfo::setFolderOverride({});

    const QString copy = DailyBackup::run(book, QDate(2026, 12, 1)).made;
    const int n = kContacts;
    if (copy.isEmpty()
        || !runSql(
            book,
            {QStringLiteral("DELETE FROM Customer WHERE CustID % 97 = 0 AND CustID <= %1").arg(97 * kChangedSince),
             QStringLiteral("UPDATE Customer SET City = 'Cambiata' WHERE CustID % 89 = 0 AND CustID <= %1")
                 .arg(89 * kChangedSince),
             QStringLiteral("INSERT INTO Customer (CustID, FirstName) SELECT CustID + %1, FirstName FROM "
                            "Customer WHERE CustID <= %2")
                 .arg(n)
                 .arg(kChangedSince)})) {
        QTextStream(stderr) << "restore: the copy or the changes could not be made\n";
        return;
    }
    QList<double> compares;
    qsizetype found = 0;
    for (int i = 0; i < kRuns; ++i) {
        compares.append(timedMs([&] { found = BookRestore::compare(book, copy).size(); }));
    }
    const double floor = sqliteFloorMs(book, QStringLiteral("SELECT * FROM Customer"), kRuns)
        + sqliteFloorMs(copy, QStringLiteral("SELECT * FROM Customer"), kRuns);
    report.add({QStringLiteral("restore: a copy compared with the book"),
                medianOf(compares),
                QStringLiteral("ms"),
                1000,
                floor,
                QStringLiteral("%1 contacts differ of 100,000; the floor reads both files once").arg(found)});
}
