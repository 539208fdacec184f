#include "CardDavClient.h"
#include "ContactSync.h"
#include "DavServer.h"
#include "TestDatabase.h"
#include "benches.h"

#include <QElapsedTimer>

namespace {

constexpr int kSyncedContacts = 1000;
constexpr int kFarContacts = 200;
constexpr int kRoundTripMs = 100;

double syncMs(TestDatabase& db, DavServer& server, const QUrl& book, SyncOutcome* outcome = nullptr)
{
    CustomerStore store;
    store.ConnectToDatabase(CustomerStore::connectionText(db.folder() + QLatin1Char('/')));
    CardDavClient client(book, server.user(), server.password());
    ContactSync sync(store, client, book);
    QElapsedTimer timer;
    timer.start();
    const SyncOutcome result = sync.run();
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    store.CloseDatabase();
    if (outcome) {
        *outcome = result;
    }
    return ms;
}

// What the server alone takes to store as many new cards, asked with bare requests into an address book of its own:
// Radicale checks a new card's UID against every card already there, so each PUT costs more than the one before.
double serverPutsMs(DavServer& server, int cards)
{
    const QUrl book = server.addAddressBook(QStringLiteral("floor"), QStringLiteral("Floor"));
    CardDavClient client(book, server.user(), server.password());
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < cards; ++i) {
        client.createCard(book,
                          QStringLiteral("%1.vcf").arg(i),
                          QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\nUID:%1\r\nN:Floor%1;;;;\r\nFN:Floor%1\r\n"
                                         "END:VCARD\r\n")
                              .arg(i)
                              .toUtf8());
    }
    return double(timer.nsecsElapsed()) / 1e6;
}

} // namespace

void benchSync(Report& report)
{
    DavServer server;
    if (!server.start()) {
        report.detail(QStringLiteral("sync: no Radicale: %1").arg(server.error()));
        return;
    }
    const double floorMs = serverPutsMs(server, kSyncedContacts);
    const QUrl book = server.addAddressBook(QStringLiteral("rubrica"), QStringLiteral("Rubrica"));
    TestDatabase full(mkdb::generatedContacts(kSyncedContacts));
    SyncOutcome outcome;
    const double up = syncMs(full, server, book, &outcome);
    report.add({QStringLiteral("first sync, 1,000 contacts up"),
                up,
                QStringLiteral("ms"),
                10000,
                floorMs,
                QStringLiteral("%1 cards sent; the floor is the server's own time for 1,000 bare PUTs into an empty "
                               "book (%2 s); the sync's own share: %3 ms a card")
                    .arg(outcome.addedThere)
                    .arg(floorMs / 1000, 0, 'f', 1)
                    .arg(qMax(0.0, (up - floorMs) / kSyncedContacts), 0, 'f', 1)});

    TestDatabase empty;
    const double down = syncMs(empty, server, book, &outcome);
    report.add({QStringLiteral("first sync, 1,000 contacts down"),
                down,
                QStringLiteral("ms"),
                10000,
                0,
                QStringLiteral("%1 contacts added").arg(outcome.addedHere)});

    // A server across the internet: every request waits a round trip, and new cards go several at once.
    DavServer faraway;
    faraway.setDelay(kRoundTripMs);
    if (faraway.start()) {
        const QUrl farBook = faraway.addAddressBook(QStringLiteral("rubrica"), QStringLiteral("Rubrica"));
        TestDatabase some(mkdb::generatedContacts(kFarContacts));
        const double farUp = syncMs(some, faraway, farBook, &outcome);
        const double oneByOne = double(kRoundTripMs) * kFarContacts;
        report.add(
            {QStringLiteral("first sync, 200 contacts up, server 100 ms away"),
             farUp,
             QStringLiteral("ms"),
             oneByOne,
             oneByOne,
             QStringLiteral("%1 cards sent; the floor, and the target to beat: 200 round trips one after another")
                 .arg(outcome.addedThere)});
    } else {
        report.detail(QStringLiteral("sync: no proxy for the faraway server: %1").arg(faraway.error()));
    }

    QList<double> samples;
    for (int i = 0; i < 5; ++i) {
        samples.append(syncMs(full, server, book));
    }
    report.add({QStringLiteral("sync with nothing changed, 1,000 contacts"),
                medianOf(samples),
                QStringLiteral("ms"),
                500,
                0,
                QStringLiteral("sync-collection with the last token")});
}
