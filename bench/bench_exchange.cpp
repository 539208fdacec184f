#include "benches.h"

#include "ContactImport.h"
#include "CustDatabase.h"
#include "Statements.h"

#include <QDir>
#include <QFileInfo>
#include <QTextStream>

namespace {

constexpr int kExports = 5;
constexpr int kImports = 5;
constexpr int kImportedCards = 10000;

QString storeText(const QString& folder)
{
    return CustomerStore::connectionText(folder + QLatin1Char('/'));
}

// What the command line does: read every contact from the store and write the file.
double exportMs(const GeneratedDatabase& db, const QString& file, qsizetype* contacts, qint64* bytes)
{
    CustomerStore store;
    store.ConnectToDatabase(storeText(db.folder()));
    const double ms = timedMs([&] {
        const QList<ExportContact> all = storedContacts(store);
        writeContactFile(file, all);
        *contacts = all.size();
    });
    store.CloseDatabase();
    *bytes = QFileInfo(file).size();
    return ms;
}

void benchExport(Report& report, const GeneratedDatabase& db, const QString& name, double target, double floorMs)
{
    const QString file = QDir(db.folder()).filePath(name);
    QList<double> samples;
    qsizetype contacts = 0;
    qint64 bytes = 0;
    for (int r = 0; r < kExports; ++r) {
        samples.append(exportMs(db, file, &contacts, &bytes));
    }
    report.add(
        {QStringLiteral("export to %1 (read the store, write the file)").arg(QFileInfo(name).suffix()),
         medianOf(samples),
         QStringLiteral("ms"),
         target,
         floorMs,
         QStringLiteral("%1 contacts, %2 MB written").arg(contacts).arg(double(bytes) / (1024 * 1024), 0, 'f', 1)});
}

// 10,000 cards, each into an empty Cust.mdb of its own: reading the file, the rules, the inserts and the commit.
void benchImport(Report& report, const QString& folder)
{
    QList<ExportContact> contacts;
    for (const mkdb::ContactRow& row : mkdb::generatedContacts(kImportedCards, 11)) {
        contacts.append({{row.firstName.toString(),
                          row.lastName.toString(),
                          row.address.toString(),
                          row.city.toString(),
                          row.state.toString(),
                          row.zip.toString(),
                          row.phoneNumber.toString()},
                         row.custId.toInt()});
    }
    const QString cards = QDir(folder).filePath(QStringLiteral("import.vcf"));
    writeContactFile(cards, contacts);

    QList<double> samples;
    int added = 0;
    QString lastFolder;
    for (int r = 0; r < kImports; ++r) {
        const QString target = QDir(folder).filePath(QStringLiteral("import-%1").arg(r));
        QDir().mkpath(target);
        mkdb::createCustomerDatabase(QDir(target).filePath(QStringLiteral("Cust.mdb")));
        CustomerStore store;
        store.ConnectToDatabase(storeText(target));
        samples.append(timedMs([&] {
            const ImportOutcome outcome = importContacts(store, {readContactFile(cards)});
            added = outcome.files.first().added;
        }));
        store.CloseDatabase();
        lastFolder = target;
    }
    report.add({QStringLiteral("import of 10,000 vCards, one transaction"),
                medianOf(samples),
                QStringLiteral("ms"),
                2000,
                sqliteFloorMs(QDir(lastFolder).filePath(QStringLiteral("Cust.mdb")), ListQuery(), kImports),
                QStringLiteral("%1 contacts added per run; floor: reading them back from SQLite").arg(added)});
}

} // namespace

void benchExchange(Report& report, const GeneratedDatabase& db)
{
    try {
        const double floorMs = sqliteFloorMs(db.path(), ListQuery(), kExports);
        benchExport(report, db, QStringLiteral("rubrica.vcf"), 1500, floorMs);
        benchExport(report, db, QStringLiteral("rubrica.csv"), 1000, floorMs);
        benchImport(report, db.folder());
    } catch (const ado::Error& error) {
        QTextStream(stderr) << "exchange: " << error.description() << '\n';
    }
}
