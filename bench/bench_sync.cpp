#include "benches.h"
#include "exchange/CardEdit.h"
#include "support/DavServer.h"
#include "support/PeerClient.h"
#include "support/TestDatabase.h"
#include "sync/CardDavClient.h"
#include "sync/ContactSync.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>

#include <memory>

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

// The cards the sync would send for the rows, each in the vdir as khard would keep it.
bool writeVdir(const QString& folder, const QList<mkdb::ContactRow>& rows)
{
    for (const mkdb::ContactRow& row : rows) {
        const QString uid = QStringLiteral("peer-%1").arg(row.custId.toInt());
        QFile file(QDir(folder).filePath(uid + QLatin1String(".vcf")));
        const QByteArray card = newCard({row.firstName.toString(),
                                         row.lastName.toString(),
                                         row.address.toString(),
                                         row.city.toString(),
                                         row.state.toString(),
                                         row.zip.toString(),
                                         row.phoneNumber.toString()},
                                        uid);
        if (!file.open(QIODevice::WriteOnly) || file.write(card) != card.size()) {
            return false;
        }
    }
    return true;
}

double peerSyncMs(PeerClient& peer, bool* ok)
{
    QElapsedTimer timer;
    timer.start();
    *ok = peer.sync();
    return double(timer.nsecsElapsed()) / 1e6;
}

// "PUT 100, PROPFIND 2": the requests the proxy passed on since `from`, counted by method.
QString requestsBy(const DavServer& server, qsizetype from)
{
    QMap<QString, int> counts;
    for (const QString& request : server.requests().mid(from)) {
        ++counts[request.section(QLatin1Char(' '), 0, 0)];
    }
    QStringList parts;
    for (auto count = counts.cbegin(); count != counts.cend(); ++count) {
        parts.append(QStringLiteral("%1 %2").arg(count.key()).arg(count.value()));
    }
    return parts.join(QLatin1String(", "));
}

// The same cards uploaded by Velmarin and by vdirsyncer into two address books of one Radicale, then a sync with
// nothing changed by each; the requests each makes are counted on a second Radicale behind the counting proxy.
void benchAgainstPeer(Report& report)
{
    const QString missing = PeerClient::missing();
    if (!missing.isEmpty()) {
        report.detail(QStringLiteral("sync against vdirsyncer: %1").arg(missing));
        return;
    }
    DavServer server;
    if (!server.start()) {
        report.detail(QStringLiteral("sync against vdirsyncer: no Radicale: %1").arg(server.error()));
        return;
    }
    const QList<mkdb::ContactRow> rows = mkdb::generatedContacts(kSyncedContacts);
    // In the order vdirsyncer, Velmarin, Velmarin, vdirsyncer, each into an empty address book of its own, so that
    // neither gains from going first or last.
    double peerUp = 0;
    double up = 0;
    std::unique_ptr<PeerClient> peer;
    std::unique_ptr<TestDatabase> db;
    QUrl ours;
    SyncOutcome outcome;
    QString failure;
    int books = 0;
    for (const char* who : {"peer", "velmarin", "velmarin", "peer"}) {
        const QUrl book = server.addAddressBook(QStringLiteral("%1%2").arg(QLatin1String(who)).arg(++books),
                                                QString::fromLatin1(who));
        if (qstrcmp(who, "peer") == 0) {
            auto client = std::make_unique<PeerClient>(server, book);
            if (!client->setUp() || !writeVdir(client->vdir(), rows)) {
                report.detail(QStringLiteral("sync against vdirsyncer: %1").arg(client->error()));
                return;
            }
            bool synced = false;
            peerUp += peerSyncMs(*client, &synced);
            if (!synced) {
                failure = client->error();
            }
            if (!peer) {
                peer = std::move(client);
            }
        } else {
            auto contacts = std::make_unique<TestDatabase>(rows);
            up += syncMs(*contacts, server, book, &outcome);
            if (!db) {
                db = std::move(contacts);
                ours = book;
            }
        }
    }
    report.add({QStringLiteral("first sync, 1,000 contacts up, against vdirsyncer"),
                100 * up / peerUp,
                QStringLiteral("%"),
                100,
                0,
                QStringLiteral("Velmarin %1 s (%2 cards), vdirsyncer %3 s%4 for the same cards, one Radicale, each "
                               "the mean of two")
                    .arg(up / 2000, 0, 'f', 1)
                    .arg(outcome.addedThere)
                    .arg(peerUp / 2000, 0, 'f', 1)
                    .arg(failure.isEmpty() ? QString() : QStringLiteral(" (failed: ") + failure + QLatin1Char(')'))});

    bool ok = true;
    QList<double> ourSamples;
    QList<double> peerSamples;
    for (int i = 0; i < 5; ++i) {
        ourSamples.append(syncMs(*db, server, ours));
        peerSamples.append(peerSyncMs(*peer, &ok));
    }
    const double still = medianOf(ourSamples);
    const double peerStill = medianOf(peerSamples);
    report.add({QStringLiteral("sync with nothing changed, against vdirsyncer"),
                100 * still / peerStill,
                QStringLiteral("%"),
                100.0 / 3,
                0,
                QStringLiteral("Velmarin %1 ms, vdirsyncer %2 ms, 1,000 cards")
                    .arg(still, 0, 'f', 1)
                    .arg(peerStill, 0, 'f', 1)});

    // The requests, on 100 cards, behind the proxy that notes them.
    DavServer counted;
    counted.setDelay(1);
    if (!counted.start()) {
        report.detail(QStringLiteral("sync against vdirsyncer: no counting proxy: %1").arg(counted.error()));
        return;
    }
    const QList<mkdb::ContactRow> few = rows.mid(0, 100);
    PeerClient countedPeer(counted, counted.addAddressBook(QStringLiteral("peer"), QStringLiteral("Peer")));
    if (!countedPeer.setUp() || !writeVdir(countedPeer.vdir(), few)) {
        return;
    }
    const QUrl countedBook = counted.addAddressBook(QStringLiteral("velmarin"), QStringLiteral("Velmarin"));
    TestDatabase small(few);
    qsizetype from = counted.requests().size();
    syncMs(small, counted, countedBook);
    const QString ourUpload = requestsBy(counted, from);
    from = counted.requests().size();
    syncMs(small, counted, countedBook);
    const QString ourStill = requestsBy(counted, from);
    from = counted.requests().size();
    countedPeer.sync();
    const QString peerUpload = requestsBy(counted, from);
    from = counted.requests().size();
    countedPeer.sync();
    const QString peerStillRequests = requestsBy(counted, from);
    report.detail(QStringLiteral("requests for 100 cards up: Velmarin %1; vdirsyncer %2").arg(ourUpload, peerUpload));
    report.detail(QStringLiteral("requests for a sync with nothing changed: Velmarin %1; vdirsyncer %2")
                      .arg(ourStill, peerStillRequests));
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

    benchAgainstPeer(report);
}
