#include "benches.h"

#include "data/Statements.h"
#include "exchange/ContactImport.h"
#include "exchange/Csv.h"
#include "exchange/VCard.h"
#include "mkdb/CustDatabase.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

namespace {

constexpr int kExports = 5;
constexpr int kImports = 5;
constexpr int kImportedCards = 10000;
constexpr int kWholeCards = 100000;

// A card as a phone writes it: names, address with postal code, two numbers, an e-mail, a note and a 3 KB photo,
// folded at 75 octets.
QByteArray fullCard(const mkdb::ContactRow& row, int i)
{
    QByteArray photo(3072, Qt::Uninitialized);
    for (int k = 0; k < photo.size(); ++k) {
        photo[k] = char((k * 31 + i) % 256);
    }
    QByteArray card = "BEGIN:VCARD\r\nVERSION:3.0\r\n";
    const auto line = [&card](const QString& text) { appendVCardLine(card, text.toUtf8()); };
    line(QStringLiteral("N:%1;%2;;;")
             .arg(vCardEscaped(row.firstName.toString()), vCardEscaped(row.lastName.toString())));
    line(QStringLiteral("FN:%1 %2").arg(vCardEscaped(row.lastName.toString()), vCardEscaped(row.firstName.toString())));
    line(QStringLiteral("ADR;TYPE=HOME:;;%1;%2;%3;%4;Italia")
             .arg(vCardEscaped(row.address.toString()),
                  vCardEscaped(row.city.toString()),
                  vCardEscaped(row.state.toString()))
             .arg(20100 + i % 900));
    if (!row.zip.toString().isEmpty()) {
        line(QStringLiteral("TEL;TYPE=CELL:") + row.zip.toString());
    }
    if (!row.phoneNumber.toString().isEmpty()) {
        line(QStringLiteral("TEL;TYPE=HOME,VOICE:") + row.phoneNumber.toString());
    }
    line(QStringLiteral("EMAIL;TYPE=INTERNET:contatto%1@example.org").arg(i));
    line(QStringLiteral("NOTE:Cliente dal 2004\\, chiamare dopo le 18"));
    appendVCardLine(card, "PHOTO;ENCODING=b;TYPE=JPEG:" + photo.toBase64());
    line(QStringLiteral("UID:%1").arg(i));
    card.append("END:VCARD\r\n");
    return card;
}

// The readers and writers alone, on whole cards: 10,000 read from one file, 100,000 written as vCard and as CSV
// (each contact's card agreeing with its fields, as the book keeps them).
void benchWholeCards(Report& report, const QString& folder)
{
    QByteArray file;
    QList<ExportContact> contacts;
    int i = 0;
    for (const mkdb::ContactRow& row : mkdb::generatedContacts(kImportedCards, 13)) {
        file += fullCard(row, i++);
    }
    const QString path = QDir(folder).filePath(QStringLiteral("whole.vcf"));
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(file) != file.size()) {
        return;
    }
    out.close();
    QList<double> samples;
    FileReading reading;
    for (int r = 0; r < kImports; ++r) {
        samples.append(timedMs([&] { reading = readContactFile(path); }));
    }
    report.add({QStringLiteral("read 10,000 whole vCards (e-mail, CAP, note, 3 KB photo)"),
                medianOf(samples),
                QStringLiteral("ms"),
                2000,
                0,
                QStringLiteral("%1 contacts, %2 MB")
                    .arg(reading.result.contacts.size())
                    .arg(double(file.size()) / (1024 * 1024), 0, 'f', 1)});

    while (contacts.size() < kWholeCards) {
        for (const ReadContact& contact : std::as_const(reading.result.contacts)) {
            contacts.append({contact.fields, qint32(contacts.size() + 1), contact.card, contact.uid});
            if (contacts.size() == kWholeCards) {
                break;
            }
        }
    }
    for (const bool csv : {false, true}) {
        samples.clear();
        qsizetype bytes = 0;
        for (int r = 0; r < kExports; ++r) {
            samples.append(timedMs([&] { bytes = (csv ? writeCsv(contacts) : writeVCards(contacts)).size(); }));
        }
        report.add({QStringLiteral("write 100,000 whole cards as %1")
                        .arg(csv ? QStringLiteral("CSV") : QStringLiteral("vCard")),
                    medianOf(samples),
                    QStringLiteral("ms"),
                    1500,
                    0,
                    QStringLiteral("%1 MB").arg(double(bytes) / (1024 * 1024), 0, 'f', 1)});
    }
}

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
            const ImportOutcome outcome = importContacts(store, {openContactFile(cards)});
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
        benchWholeCards(report, db.folder());
    } catch (const ado::Error& error) {
        QTextStream(stderr) << "exchange: " << error.description() << '\n';
    }
}
