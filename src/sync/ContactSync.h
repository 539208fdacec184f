#pragma once

#include "data/ContactCards.h"
#include "data/CustomerStore.h"
#include "exchange/ExchangeTypes.h"
#include "sync/CardDavClient.h"

#include <QDateTime>
#include <QSet>
#include <QUrl>

#include <functional>
#include <optional>

// Two-way sync of Cust.mdb with one CardDAV address book. The card a contact has on the server is its card in
// CustomerCard (ContactCards), the one card each contact has. What was last agreed with the server lives beside it in
// the same file: table CustomerSync (per card: its path, the contact's key, its version tag, the seven fields here
// and a digest of those the card reads as, a digest of what the card holds beyond them) and table CustomerSyncState
// (the address book, its sync token, the account).
// Customer keeps its columns; a trigger on it marks the card of a deleted contact, so that a key used again by a new
// contact is never taken for the old one.

// Where and as whom the address book is synced; kept in CustomerSyncState.
struct SyncSettings
{
    QUrl server; // as the user typed it
    QString user;
    QUrl book; // the address book chosen
    // Other servers (scheme, host, port) the user accepted being led to while the address books were looked for:
    // they are sent the password too, and no other.
    QList<QUrl> accepted {};
    bool isSet() const { return book.isValid() && !book.isEmpty(); }
};

SyncSettings loadSyncSettings(CustomerStore& store);
void saveSyncSettings(CustomerStore& store, const SyncSettings& settings);
// Turns the sync off: the account and what was agreed with the server are forgotten. Set up again, even with the
// same address book, the sync starts as a first sync: it links and adds, and what was deleted on either side in
// between deletes nothing on the other.
void clearSyncSettings(CustomerStore& store);

// When the last sync ended and how, kept in CustomerSyncState beside the settings for the set-up dialog to show.
struct LastSync
{
    QDateTime when; // invalid: no sync since the sync was set up
    bool ok = false;
    QString result; // the summary, or what went wrong
};
LastSync loadLastSync(CustomerStore& store);
void saveLastSync(CustomerStore& store, const LastSync& last);

// A contact changed both here and on the server since the last sync.
// Later: nothing is decided, both sides stay as they are and the next sync asks again (the command line has nobody to
// ask).
enum class ConflictChoice { KeepHere, KeepServer, KeepBoth, Later };

class ConflictResolver
{
public:
    virtual ~ConflictResolver() = default;
    virtual ConflictChoice resolve(const ContactFields& here, const ContactFields& server) = 0;
};

// A sync about to delete many contacts on one side (a server wiped, a book emptied by mistake): more than 10 and
// more than a quarter of that side's contacts.
struct MassDeletion
{
    enum class Side { Here, Server };
    Side side = Side::Here;
    int count = 0; // contacts the sync would delete on that side
    int total = 0; // contacts that side has
};
bool isMassDeletion(int count, int total);

// Delete: go ahead. Keep: the sync stops before deleting anything, and asks again next time. UploadAgain (deleted
// on the server only): the contacts stay here and go up again as new cards.
enum class DeletionChoice { Delete, Keep, UploadAgain };
using DeletionGuard = std::function<DeletionChoice(const MassDeletion&)>;

// The sync stopped before a mass deletion: nothing deleted, nothing of the sync state moved on for it.
class DeletionsHeld : public ado::Error
{
public:
    explicit DeletionsHeld(const MassDeletion& deletion);
    MassDeletion deletion() const { return m_deletion; }

private:
    MassDeletion m_deletion;
};

struct SyncOutcome
{
    int addedHere = 0;
    int changedHere = 0;
    int deletedHere = 0;
    int addedThere = 0;
    int changedThere = 0;
    int deletedThere = 0;
    int linked = 0; // contacts found on both sides at a first sync
    int conflicts = 0;
    int pending = 0; // changed on the server while this sync ran: taken up by the next one
    QStringList undecided; // changed on both sides, left for the window to ask: "Rossi Mario"
    // Cards there the program cannot read, tried again by the next sync: "/anna/rubrica/x.vcf (Mario Rossi)"
    QStringList skipped;

    // "Sincronizzazione completata: qui 3 nuovi, 1 modificato, 0 eliminati; sul server 2 nuovi, ..."
    QString summary() const;
};

class ContactSync
{
public:
    ContactSync(CustomerStore& store, CardDavClient& client, const QUrl& book);

    // Without a resolver a conflict is left undecided (ConflictChoice::Later).
    void setResolver(ConflictResolver* resolver) { m_resolver = resolver; }
    // How many contacts go into one transaction, and how many steps on the server are noted at once.
    void setBatchSize(int size) { m_batch = qMax(1, size); }
    // Asked before a mass deletion on either side; without it such a sync stops (DeletionsHeld).
    void setDeletionGuard(DeletionGuard guard) { m_guard = std::move(guard); }
    // Told after every step that is stored for good; returning false stops the sync there with an error.
    void setProgress(Progress progress) { m_progress = std::move(progress); }

    // One sync both ways. Every contact applied here is stored in one transaction with its sync state, and every
    // step on the server is noted before the next one, so a sync stopped at any point (a failure, a kill) loses and
    // doubles nothing: the next one carries on. Throws ado::Error (CardDavError for the server) on failure.
    SyncOutcome run();

private:
    struct Link
    {
        qint32 custId = 0;
        QString href;
        QString etag;
        QString digest; // of the seven fields the agreed card reads as
        // The seven fields here when last agreed, so that only those changed here since are sent: the card may read
        // differently (a second mobile number once the first is cleared). Null when not known.
        std::optional<ContactFields> agreed;
        QString cardDigest; // of the card as agreed, so that a change here beyond the seven fields is seen
        QString cardHash; // of its bytes: the card here unchanged since, its details are too
        bool deleted = false;
        bool written = false; // sent to the server after the token kept
        ContactCard sent; // the card sent, kept as the contact's once the link is saved

        void agree(const ContactFields& here, const QByteArray& card);
        void agreeCard(const QByteArray& card);
        bool cardChangedHere(const QByteArray& kept) const;
        bool changedHere(const ContactFields& here) const;
    };
    struct KeptCard
    {
        QString uid;
        QString hash;
        bool empty = true; // no card kept yet
    };

    void prepareTables();
    QHash<QString, Link> loadLinks();
    QMap<qint32, ContactFields> loadContacts();
    void applyServerChanges(SyncOutcome& outcome);
    void sendLocalChanges(SyncOutcome& outcome);
    void step(qint64 done, qint64 total);
    DeletionChoice guard(MassDeletion::Side side, int count, int total);

    void saveLink(const Link& link);
    void dropLink(const QString& href);
    void flush(QList<Link>& saves, QStringList& drops);
    qint32 insertContact(const ContactFields& fields);
    void keepServerCard(qint32 custId, const QByteArray& card);
    QByteArray withDetailsKeptHere(qint32 custId, const QByteArray& card, const ContactFields& server);
    std::optional<Link> adoptedCard(qint32 custId, const QString& href, const QString& uid);
    QByteArray cardToSend(const Link& link, const QByteArray& card, const ContactFields& local);
    QHash<qint32, KeptCard> loadKeptCards();
    void begin();
    void commit();

    CustomerStore& m_store;
    CardDavClient& m_client;
    QUrl m_book;
    ConflictResolver* m_resolver = nullptr;
    DeletionGuard m_guard;
    QSet<qint32> m_undecided; // contacts whose conflict waits for the window: not sent this time
    Progress m_progress;
    // Small enough to lose little work to a failure, large enough not to wait on the disk for every card.
    int m_batch = 100;
    bool m_inTransaction = false;
    // The connection's count of replaced files when the sync began: it never writes into another book put there.
    quint64 m_replacements = 0;
};
