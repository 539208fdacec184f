#include "benches.h"

#include "data/CustomerStore.h"
#include "maint/DuplicatesDialog.h"
#include "maint/frmCustMaint.h"

#include <QAction>
#include <QTextStream>

namespace {

constexpr int kRuns = 5;
constexpr int kPlanted = 1000;

// Every contact gets a card as a phone would give it, an e-mail of its own among its lines: the search reads them
// all. Written by one statement of constant text.
bool giveCards(const GeneratedDatabase& db)
{
    CustomerStore store;
    try {
        store.ConnectToDatabase(CustomerStore::connectionText(db.folder() + QLatin1Char('/')));
        store.execute(
            QStringLiteral(
                "UPDATE CustomerCard SET Card = CAST('BEGIN:VCARD' || char(13, 10) || 'VERSION:3.0' || "
                "char(13, 10) || 'N:' || (SELECT coalesce(FirstName, '') || ';' || coalesce(LastName, '') FROM "
                "Customer c WHERE "
                "c.CustID = CustomerCard.CustID) || ';;;' || char(13, 10) || 'TEL;TYPE=CELL:' || "
                "(SELECT coalesce(Zip, '') FROM Customer c WHERE c.CustID = CustomerCard.CustID) || char(13, 10) || "
                "'EMAIL;TYPE=INTERNET:contatto' || CustID || '@example.org' || char(13, 10) || "
                "'NOTE:Conosciuto al convegno di Bologna' || char(13, 10) || 'END:VCARD' || char(13, 10) "
                "AS BLOB)"),
            QVariantList());
        store.CloseDatabase();
        return true;
    } catch (const ado::Error& error) {
        QTextStream(stderr) << "cards: " << error.description() << '\n';
        return false;
    }
}

} // namespace

void benchDuplicates(Report& report)
{
    GeneratedDatabase db(kContacts, kPlanted);
    if (!db.isValid() || !giveCards(db)) {
        QTextStream(stderr) << db.error() << '\n';
        return;
    }
    db.makeApplicationFolder();
    double openMs = 0;
    std::unique_ptr<frmCustMaint> window = openMainWindow(openMs);
    if (!window)
        return;
    const Memory filled = memoryNow();
    auto* action = window->findChild<QAction*>(QStringLiteral("actDuplicates"));
    QList<double> samples;
    qsizetype groups = 0;
    qsizetype planted = 0;
    for (int r = 0; r < kRuns; ++r) {
        samples.append(timedMs([&] { action->trigger(); }));
        DuplicatesDialog* dialog = window->duplicatesDialog();
        if (!dialog)
            return;
        groups = dialog->groups().size();
        // A planted copy has a key above the generated ones.
        planted = 0;
        for (const DuplicateGroup& group : dialog->groups()) {
            for (const DuplicateContact& contact : group.contacts)
                planted += contact.key > kContacts - kPlanted ? 1 : 0;
        }
        dialog->close();
        QApplication::processEvents();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    const Memory after = memoryNow();
    const double floorMs = sqliteFloorMs(db.path(),
                                         QStringLiteral("SELECT CustID, FirstName, LastName, Address, City, State, "
                                                        "Zip, PhoneNumber FROM Customer"),
                                         kRuns)
        + sqliteFloorMs(db.path(), QStringLiteral("SELECT CustID, Card FROM CustomerCard"), kRuns);
    report.add({QStringLiteral("Trova doppioni…: groups of 100,000 contacts listed"),
                medianOf(samples),
                QStringLiteral("ms"),
                2000,
                floorMs,
                QStringLiteral("%1 groups holding %2 of the %3 planted copies (the other groups: contacts sharing a "
                               "random number); each contact has a card with an e-mail; floor: SQLite alone reading "
                               "the contacts and the cards")
                    .arg(groups)
                    .arg(planted)
                    .arg(kPlanted)});
    report.add({QStringLiteral("Trova doppioni…: memory above the window's"),
                after.peakMb - filled.residentMb,
                QStringLiteral("MB"),
                50,
                0,
                QStringLiteral("VmHWM after %1 searches %2 MB, VmRSS with the window filled %3 MB (VmHWM then %4 MB)")
                    .arg(kRuns)
                    .arg(after.peakMb, 0, 'f', 1)
                    .arg(filled.residentMb, 0, 'f', 1)
                    .arg(filled.peakMb, 0, 'f', 1)});
    report.detail(db.said());
}
