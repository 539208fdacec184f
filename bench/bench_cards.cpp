#include "benches.h"

#include "common/ListView.h"
#include "core/AppInfo.h"
#include "data/ContactCards.h"
#include "data/Statements.h"
#include "exchange/ContactImport.h"
#include "exchange/VCard.h"
#include "maint/ContactDetailsDialog.h"
#include "maint/frmCustMaint.h"
#include "mkdb/CustDatabase.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <QTextStream>

#include <ctime>

namespace {

constexpr int kRuns = 5;
constexpr int kImportedCards = 10000;
constexpr int kDetailOpens = 11;

QString storeText(const QString& folder)
{
    return CustomerStore::connectionText(folder + QLatin1Char('/'));
}

// A phone's small contact picture: 3 KB of bytes, base64 in the card.
QByteArray photo()
{
    QByteArray bytes(3 * 1024, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i * 131 + 7) & 0xFF);
    return bytes.toBase64();
}

// The whole card a phone keeps for a contact: the seven fields and beside them an organisation, the postal code and
// country, a work number, an e-mail address, a birthday, a note and, when asked, a photo.
QByteArray fullCard(const mkdb::ContactRow& row, const QString& uid, bool withPhoto)
{
    const QString n = row.custId.toString();
    const QString first = row.firstName.toString();
    const QString last = row.lastName.toString();
    QByteArray card = "BEGIN:VCARD\r\nVERSION:3.0\r\n";
    const auto line = [&card](const QString& text) { appendVCardLine(card, text.toUtf8()); };
    line(QStringLiteral("N:") + vCardEscaped(first) + QLatin1Char(';') + vCardEscaped(last) + QStringLiteral(";;;"));
    line(QStringLiteral("FN:") + vCardEscaped((last + QLatin1Char(' ') + first).trimmed()));
    line(QStringLiteral("ORG:Studio ") + vCardEscaped(first) + QStringLiteral(";Amministrazione"));
    line(QStringLiteral("ADR;TYPE=HOME:;;") + vCardEscaped(row.address.toString()) + QLatin1Char(';')
         + vCardEscaped(row.city.toString()) + QLatin1Char(';') + vCardEscaped(row.state.toString()) + QLatin1Char(';')
         + QString::number(10000 + row.custId.toInt() % 90000) + QStringLiteral(";Italia"));
    if (!row.zip.toString().isEmpty())
        line(QStringLiteral("TEL;TYPE=CELL:") + row.zip.toString());
    if (!row.phoneNumber.toString().isEmpty())
        line(QStringLiteral("TEL;TYPE=HOME,VOICE:") + row.phoneNumber.toString());
    line(QStringLiteral("TEL;TYPE=WORK:+39 02 ") + QString::number(7000000 + row.custId.toInt()));
    line(QStringLiteral("EMAIL;TYPE=INTERNET:contatto") + n + QStringLiteral("@example.org"));
    line(QStringLiteral("BDAY:19") + QString::number(50 + row.custId.toInt() % 50) + QStringLiteral("-05-17"));
    line(QStringLiteral("NOTE:Conosciuto al convegno di Bologna\\, richiamare dopo le 18. Preferisce la posta "
                        "elettronica al telefono."));
    if (withPhoto)
        line(QStringLiteral("PHOTO;ENCODING=b;TYPE=JPEG:") + QString::fromLatin1(photo()));
    line(QStringLiteral("UID:") + uid);
    card += "END:VCARD\r\n";
    return card;
}

// A copy of the generated book with each contact's whole card (no photo) stored beside it, as after an import from a
// phone: through ContactCards::saveAll, as the import stores them. Returns the folder's Cust.mdb, or an empty text on
// failure.
QString bookWithCards(const GeneratedDatabase& db, const QString& folder)
{
    const QString path = QDir(folder).filePath(QStringLiteral("Cust.mdb"));
    if (!QFile::copy(db.path(), path))
        return {};
    // The store makes the table and gives each contact its UID, as the program does on opening.
    CustomerStore store;
    store.ConnectToDatabase(storeText(folder));
    QList<QPair<qint32, ContactCard>> cards;
    {
        RecordsetRelease release {store};
        ado::Recordset& rs = store.openQuery(
            QStringLiteral("SELECT c.CustID, FirstName, LastName, Address, City, State, Zip, PhoneNumber, k.Uid "
                           "FROM Customer c JOIN CustomerCard k ON k.CustID = c.CustID"),
            QVariantList());
        for (; !rs.isEOF(); rs.MoveNext()) {
            const mkdb::ContactRow row {rs.Fields(0),
                                        rs.Fields(1),
                                        rs.Fields(2),
                                        rs.Fields(3),
                                        rs.Fields(4),
                                        rs.Fields(5),
                                        rs.Fields(6),
                                        rs.Fields(7)};
            const QString uid = rs.Fields(8).toString();
            cards.append({rs.Fields(0).toInt(), {uid, fullCard(row, uid, false)}});
        }
    }
    store.mcnnCust->BeginTrans();
    ContactCards::saveAll(store, cards);
    store.mcnnCust->CommitTrans();
    store.CloseDatabase();
    return cards.isEmpty() ? QString() : path;
}

// The processor time this thread has used, in milliseconds: what a step costs whatever else the machine runs.
double threadCpuMs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// What SQLite alone needs to write the same contacts and cards in one transaction, through one prepared statement
// each: the floor of the import.
double writeFloorMs(const QString& folder, const QList<mkdb::ContactRow>& rows, const QList<QByteArray>& cards)
{
    QDir().mkpath(folder);
    const QString path = QDir(folder).filePath(QStringLiteral("Cust.mdb"));
    mkdb::createCustomerDatabase(path);
    {
        CustomerStore store;
        store.ConnectToDatabase(storeText(folder));
        ContactCards::prepare(store);
        store.CloseDatabase();
    }
    const QString name = QStringLiteral("bench-card-floor");
    double ms = 0;
    {
        QSqlDatabase sql = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        sql.setDatabaseName(path);
        if (sql.open()) {
            QElapsedTimer timer;
            timer.start();
            sql.transaction();
            QSqlQuery contact(sql);
            contact.prepare(QStringLiteral("INSERT INTO Customer (CustID, FirstName, LastName, Address, City, State, "
                                           "Zip, PhoneNumber) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
            QSqlQuery card(sql);
            card.prepare(QStringLiteral("INSERT OR REPLACE INTO CustomerCard (CustID, Uid, Card) VALUES (?, ?, ?)"));
            for (int i = 0; i < rows.size(); ++i) {
                const mkdb::ContactRow& row = rows.at(i);
                const QVariantList values {row.custId,
                                           row.firstName,
                                           row.lastName,
                                           row.address,
                                           row.city,
                                           row.state,
                                           row.zip,
                                           row.phoneNumber};
                for (int v = 0; v < values.size(); ++v)
                    contact.bindValue(v, values.at(v));
                contact.exec();
                card.bindValue(0, row.custId);
                card.bindValue(1, QString::number(i));
                card.bindValue(2, cards.at(i));
                card.exec();
            }
            sql.commit();
            ms = double(timer.nsecsElapsed()) / 1e6;
        }
    }
    QSqlDatabase::removeDatabase(name);
    return ms;
}

// 10,000 full cards with a 3 KB photo each, each time into an empty Cust.mdb of its own.
void benchFullImport(Report& report, const QString& folder)
{
    const QList<mkdb::ContactRow> rows = mkdb::generatedContacts(kImportedCards, 11);
    QList<QByteArray> cards;
    QByteArray file;
    for (const mkdb::ContactRow& row : rows) {
        cards.append(fullCard(row, ContactCards::newUid(), true));
        file += cards.last();
    }
    const QString path = QDir(folder).filePath(QStringLiteral("full.vcf"));
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(file) != file.size())
        return;
    out.close();

    QList<double> samples;
    QList<double> floors;
    int added = 0;
    for (int r = 0; r < kRuns; ++r) {
        const QString target = QDir(folder).filePath(QStringLiteral("full-import-%1").arg(r));
        QDir().mkpath(target);
        mkdb::createCustomerDatabase(QDir(target).filePath(QStringLiteral("Cust.mdb")));
        CustomerStore store;
        store.ConnectToDatabase(storeText(target));
        samples.append(timedMs([&] {
            const ImportOutcome outcome = importContacts(store, {openContactFile(path)});
            added = outcome.files.first().added;
        }));
        store.CloseDatabase();
        floors.append(writeFloorMs(QDir(folder).filePath(QStringLiteral("full-floor-%1").arg(r)), rows, cards));
    }
    report.add({QStringLiteral("import of 10,000 full cards (3 KB photo)"),
                medianOf(samples),
                QStringLiteral("ms"),
                2000,
                medianOf(floors),
                QStringLiteral("%1 contacts added per run from a %2 MB file; floor: SQLite alone writing the same rows "
                               "and cards in one transaction, one prepared statement each")
                    .arg(added)
                    .arg(double(file.size()) / (1024 * 1024), 0, 'f', 1)});
}

// What the command line's export does, on the book with whole cards.
void benchFullExport(Report& report, const QString& folder)
{
    const QString file = QDir(folder).filePath(QStringLiteral("whole.vcf"));
    QList<double> samples;
    QList<double> reads;
    QList<double> cpu;
    qsizetype contacts = 0;
    for (int r = 0; r < kRuns; ++r) {
        CustomerStore store;
        store.ConnectToDatabase(storeText(folder));
        const double cpuBefore = threadCpuMs();
        samples.append(timedMs([&] {
            QElapsedTimer reading;
            reading.start();
            const QList<ExportContact> all = storedContacts(store);
            reads.append(double(reading.nsecsElapsed()) / 1e6);
            writeContactFile(file, all);
            contacts = all.size();
        }));
        cpu.append(threadCpuMs() - cpuBefore);
        store.CloseDatabase();
    }
    const double floorMs = sqliteFloorMs(QDir(folder).filePath(QStringLiteral("Cust.mdb")),
                                         QStringLiteral("SELECT FirstName, LastName, Address, City, State, Zip, "
                                                        "PhoneNumber, c.CustID, k.Uid, k.Card FROM Customer c LEFT "
                                                        "JOIN CustomerCard k ON k.CustID = c.CustID ORDER BY LastName, "
                                                        "FirstName"),
                                         kRuns);
    report.add({QStringLiteral("export of 100,000 whole cards to vcf"),
                medianOf(samples),
                QStringLiteral("ms"),
                1500,
                floorMs,
                QStringLiteral("%1 contacts, %2 MB written; reading them with their cards (storedContacts) %3 ms; "
                               "processor time %4 ms; floor: SQLite alone reading the contacts joined with their cards")
                    .arg(contacts)
                    .arg(double(QFileInfo(file).size()) / (1024 * 1024), 0, 'f', 1)
                    .arg(medianOf(reads), 0, 'f', 1)
                    .arg(medianOf(cpu), 0, 'f', 1)});
}

// The main window opened in turns on the book without cards kept and on the one with a whole card per contact; then
// "Dettagli…" (Ctrl+D) on rows across the list of the second.
void benchWindowWithCards(Report& report, const GeneratedDatabase& plain, const QString& folder)
{
    QList<double> without;
    QList<double> with;
    std::unique_ptr<frmCustMaint> window;
    for (int r = 0; r < kRuns; ++r) {
        double ms = 0;
        window.reset();
        plain.makeApplicationFolder();
        window = openMainWindow(ms);
        if (!window)
            return;
        without.append(ms);
        window.reset();
        AppInfo::setFolderOverride(folder);
        window = openMainWindow(ms);
        if (!window)
            return;
        with.append(ms);
    }
    const QString path = QDir(folder).filePath(QStringLiteral("Cust.mdb"));
    const double peer = medianOf(without);
    report.add({QStringLiteral("main window filled, 100,000 cards beside"),
                medianOf(with),
                QStringLiteral("ms"),
                peer * 1.1,
                sqliteFloorMs(path, ListQuery(), kRuns),
                QStringLiteral("peer, the same window on the same contacts with no card kept, in turns with it: %1 "
                               "ms; the target is 10% over the peer")
                    .arg(peer, 0, 'f', 1)});

    ListView* list = window->findChild<ListView*>(QStringLiteral("lvwCustomer"));
    QList<double> opens;
    for (int r = 0; r < kDetailOpens; ++r) {
        // The key goes to the active window, as the user's would; the closed dialog leaves none active here.
        window->activateWindow();
        if (!QTest::qWaitForWindowActive(window.get())) {
            QTextStream(stderr) << "Dettagli: the main window never became active\n";
            return;
        }
        const int index = 1 + (list->itemCount() - 1) * r / (kDetailOpens - 1);
        list->setSelectedIndex(index);
        list->ensureVisible(index);
        QApplication::processEvents();
        opens.append(timedMs([&] {
            QTest::keyClick(window.get(), Qt::Key_D, Qt::ControlModifier);
            while (window->detailsDialog() && !window->detailsDialog()->isVisible())
                QApplication::processEvents();
        }));
        if (!window->detailsDialog()) {
            QTextStream(stderr) << "Dettagli: the dialog did not open\n";
            return;
        }
        window->detailsDialog()->reject();
        while (window->detailsDialog())
            QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    report.add({QStringLiteral("Dettagli… opens (Ctrl+D)"),
                medianOf(opens),
                QStringLiteral("ms"),
                50,
                sqliteFloorMs(path,
                              QStringLiteral("SELECT Uid, Card FROM CustomerCard WHERE CustID = %1").arg(kContacts / 2),
                              21),
                QStringLiteral("%1 rows across the list; the slowest %2 ms; floor: SQLite reading one card")
                    .arg(kDetailOpens)
                    .arg(*std::max_element(opens.cbegin(), opens.cend()), 0, 'f', 1)});
    window.reset();
    AppInfo::setFolderOverride({});
}

} // namespace

void benchCards(Report& report, const GeneratedDatabase& db)
{
    QTemporaryDir folder;
    try {
        benchFullImport(report, folder.path());
        const QString carded = QDir(folder.path()).filePath(QStringLiteral("whole"));
        QDir().mkpath(carded);
        if (bookWithCards(db, carded).isEmpty()) {
            QTextStream(stderr) << "cards: the book with whole cards could not be made\n";
            return;
        }
        benchFullExport(report, carded);
        benchWindowWithCards(report, db, carded);
    } catch (const ado::Error& error) {
        QTextStream(stderr) << "cards: " << error.description() << '\n';
    }
}
