#include "sync/ContactSync.h"

#include "data/Contact.h"
#include "data/ContactCards.h"
#include "data/Schema.h"
#include "exchange/CardDetails.h"
#include "exchange/CardEdit.h"
#include "exchange/ImportRules.h"
#include "sync/SyncCards.h"

#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>

namespace {

// A text bound as a value: an empty one is stored as '' (the columns take no NULL), never as NULL.
QVariant text(const QString& value)
{
    return value.isNull() ? QVariant(QStringLiteral("")) : QVariant(value);
}

// True when the query gives at least one row.
bool hasRow(CustomerStore& store, const QString& query, const QVariantList& values)
{
    RecordsetRelease release {store};
    return !store.openQuery(query, values).isEOF();
}

bool hasStateTable(CustomerStore& store)
{
    return hasRow(store,
                  QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' AND name = ?"),
                  {QStringLiteral("CustomerSyncState")});
}

const QChar kFieldSeparator(0x1f);
constexpr qsizetype kCardsAtOnce = 200;

QString joinedFields(const std::optional<ContactFields>& fields)
{
    if (!fields) {
        return QString();
    }
    const ContactFields& f = *fields;
    return QStringList {f.firstName, f.lastName, f.address, f.city, f.state, f.zip, f.phoneNumber}.join(
        kFieldSeparator);
}

std::optional<ContactFields> splitFields(const QString& text)
{
    const QStringList p = text.split(kFieldSeparator);
    if (p.size() != 7) {
        return std::nullopt;
    }
    return ContactFields {p.at(0), p.at(1), p.at(2), p.at(3), p.at(4), p.at(5), p.at(6)};
}

// A card's UID as the name of its file on the server, when it makes a plain one.
bool isPlainName(const QString& uid)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9._@-]{0,99}$"));
    return plain.match(uid).hasMatch();
}

QString stateValue(CustomerStore& store, const QString& name)
{
    RecordsetRelease release {store};
    ado::Recordset& rs = store.openQuery(QStringLiteral("SELECT Value FROM CustomerSyncState WHERE Name = ?"), {name});
    return rs.isEOF() ? QString() : textOf(rs.Fields(0));
}

void setStateValue(CustomerStore& store, const QString& name, const QString& value)
{
    store.execute(QStringLiteral("INSERT OR REPLACE INTO CustomerSyncState (Name, Value) VALUES (?, ?)"),
                  {text(name), text(value)});
}

void requireOpen(CustomerStore& store)
{
    if (!store.mcnnCust) {
        throw ado::Error(QStringLiteral("La connessione al database non è aperta."));
    }
}

// Text the program can keep: UTF-8 without control characters but tabs and line ends.
bool isCleanText(const QByteArray& data)
{
    for (const char c : data) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && c != '\t' && c != '\r' && c != '\n') || byte == 0x7f) {
            return false;
        }
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = utf8.decode(data);
    return !utf8.hasError();
}

// A card read whole, to its end, that holds none of the seven fields (only a note, say): nothing wrong with it.
bool isEmptyCard(const Card& card)
{
    static const QRegularExpression end(QStringLiteral("(?:^|\\n)END:VCARD\\s*$"),
                                        QRegularExpression::CaseInsensitiveOption);
    return card.whole && isCleanText(card.data) && end.match(QString::fromUtf8(card.data)).hasMatch();
}

// "/anna/rubrica/x.vcf (Mario Rossi)": where the card is and, as far as it can be read, whose.
QString skippedName(const Card& card)
{
    static const QRegularExpression fn(QStringLiteral("(?:^|\n)FN[;:][^\r\n]*"));
    QString name = fn.match(QString::fromUtf8(card.data.left(64 * 1024))).captured(0).trimmed();
    name = name.mid(name.indexOf(QLatin1Char(':')) + 1);
    name.remove(QRegularExpression(QStringLiteral("[\x00-\x1f\x7f]"))).truncate(80);
    return name.isEmpty() ? card.href : QStringLiteral("%1 (%2)").arg(card.href, name);
}

QString count(int n, const char* one, const char* many)
{
    return n == 1 ? QStringLiteral("1 %1").arg(QString::fromUtf8(one))
                  : QStringLiteral("%1 %2").arg(n).arg(QString::fromUtf8(many));
}

} // namespace

bool isMassDeletion(int count, int total)
{
    return count > 10 && qint64(count) * 4 > total;
}

DeletionsHeld::DeletionsHeld(const MassDeletion& deletion)
    : ado::Error(deletion.side == MassDeletion::Side::Here
                     ? QStringLiteral("Il server ha eliminato %1 contatti su %2: per prudenza non sono stati eliminati "
                                      "anche qui.")
                           .arg(deletion.count)
                           .arg(deletion.total)
                     : QStringLiteral("In questa rubrica sono stati eliminati %1 contatti su %2: per prudenza non "
                                      "sono stati eliminati anche sul server.")
                           .arg(deletion.count)
                           .arg(deletion.total))
    , m_deletion(deletion)
{
}

SyncSettings loadSyncSettings(CustomerStore& store)
{
    requireOpen(store);
    SyncSettings settings;
    if (!hasStateTable(store)) {
        return settings;
    }
    settings.server = QUrl(stateValue(store, QStringLiteral("server")));
    settings.user = stateValue(store, QStringLiteral("user"));
    settings.book = QUrl(stateValue(store, QStringLiteral("book")));
    const QStringList accepted
        = stateValue(store, QStringLiteral("accepted")).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& address : accepted) {
        settings.accepted.append(QUrl(address));
    }
    return settings;
}

void saveSyncSettings(CustomerStore& store, const SyncSettings& settings)
{
    requireOpen(store);
    ado::Connection& connection = *store.mcnnCust;
    connection.BeginTrans();
    try {
        Schema::upgrade(store);
        setStateValue(store, QStringLiteral("server"), settings.server.toString());
        setStateValue(store, QStringLiteral("user"), settings.user);
        setStateValue(store, QStringLiteral("book"), settings.book.toString());
        QStringList accepted;
        for (const QUrl& address : settings.accepted) {
            accepted.append(address.toString(QUrl::FullyEncoded));
        }
        setStateValue(store, QStringLiteral("accepted"), accepted.join(QLatin1Char(' ')));
        connection.CommitTrans();
    } catch (...) {
        connection.RollbackTrans();
        throw;
    }
}

LastSync loadLastSync(CustomerStore& store)
{
    requireOpen(store);
    LastSync last;
    if (!hasStateTable(store)) {
        return last;
    }
    last.when = QDateTime::fromString(stateValue(store, QStringLiteral("lastSync")), Qt::ISODate);
    last.ok = stateValue(store, QStringLiteral("lastSyncOk")) == QLatin1String("1");
    last.result = stateValue(store, QStringLiteral("lastSyncResult"));
    return last;
}

void saveLastSync(CustomerStore& store, const LastSync& last)
{
    requireOpen(store);
    ado::Connection& connection = *store.mcnnCust;
    connection.BeginTrans();
    try {
        Schema::upgrade(store);
        setStateValue(store, QStringLiteral("lastSync"), last.when.toUTC().toString(Qt::ISODate));
        setStateValue(store, QStringLiteral("lastSyncOk"), last.ok ? QStringLiteral("1") : QStringLiteral("0"));
        setStateValue(store, QStringLiteral("lastSyncResult"), last.result);
        connection.CommitTrans();
    } catch (...) {
        connection.RollbackTrans();
        throw;
    }
}

void clearSyncSettings(CustomerStore& store)
{
    requireOpen(store);
    if (hasStateTable(store)) {
        ado::Connection& connection = *store.mcnnCust;
        connection.BeginTrans();
        try {
            store.execute(QStringLiteral("DELETE FROM CustomerSync"), QVariantList());
            store.execute(QStringLiteral("DELETE FROM CustomerSyncState"), QVariantList());
            connection.CommitTrans();
        } catch (...) {
            connection.RollbackTrans();
            throw;
        }
    }
}

QString SyncOutcome::summary() const
{
    QString text = QStringLiteral("Sincronizzazione completata: in rubrica %1, %2, %3; sul server %4, %5, %6")
                       .arg(count(addedHere, "aggiunto", "aggiunti"),
                            count(changedHere, "modificato", "modificati"),
                            count(deletedHere, "eliminato", "eliminati"),
                            count(addedThere, "aggiunto", "aggiunti"),
                            count(changedThere, "modificato", "modificati"),
                            count(deletedThere, "eliminato", "eliminati"));
    if (linked > 0) {
        text += QStringLiteral("; %1 su entrambi").arg(count(linked, "contatto già presente", "contatti già presenti"));
    }
    if (conflicts > 0) {
        text += QStringLiteral("; %1").arg(count(conflicts, "conflitto risolto", "conflitti risolti"));
    }
    if (pending > 0) {
        text += QStringLiteral("; %1 alla prossima sincronizzazione")
                    .arg(count(pending, "modifica rimandata", "modifiche rimandate"));
    }
    if (!skipped.isEmpty()) {
        text += QStringLiteral("; %1, riprovata alla prossima sincronizzazione: %2")
                    .arg(count(int(skipped.size()),
                               "scheda del server non leggibile saltata",
                               "schede del server non leggibili saltate"),
                         skipped.join(QLatin1String(", ")));
    }
    if (!undecided.isEmpty()) {
        text += QStringLiteral("; %1: %2; aprire Velmarin per scegliere")
                    .arg(count(int(undecided.size()),
                               "contatto cambiato su entrambi i lati",
                               "contatti cambiati su entrambi i lati"),
                         undecided.join(QLatin1String(", ")));
    }
    return text + QLatin1Char('.');
}

ContactSync::ContactSync(CustomerStore& store, CardDavClient& client, const QUrl& book)
    : m_store(store)
    , m_client(client)
    , m_book(book)
{
}

void ContactSync::begin()
{
    ado::Connection& connection = *m_store.mcnnCust;
    connection.BeginTrans();
    m_inTransaction = true;
    if (connection.replacements() != m_replacements) {
        connection.RollbackTrans();
        m_inTransaction = false;
        throw ado::FileReplaced(connection.filePath());
    }
}

void ContactSync::commit()
{
    m_store.mcnnCust->CommitTrans();
    m_inTransaction = false;
}

void ContactSync::step(qint64 done, qint64 total)
{
    if (m_progress && !m_progress(done, total)) {
        throw ado::Error(QStringLiteral("Sincronizzazione interrotta."));
    }
}

SyncOutcome ContactSync::run()
{
    requireOpen(m_store);
    m_store.mcnnCust->checkFile();
    m_replacements = m_store.mcnnCust->replacements();
    SyncOutcome outcome;
    try {
        prepareTables();
        applyServerChanges(outcome);
        sendLocalChanges(outcome);
    } catch (...) {
        if (m_inTransaction) {
            m_store.mcnnCust->RollbackTrans();
            m_inTransaction = false;
        }
        throw;
    }
    return outcome;
}

// A different address book than the one last synced starts again as a first sync: contacts found on both sides are
// linked, nothing is deleted.
void ContactSync::prepareTables()
{
    begin();
    Schema::upgrade(m_store);
    const QString book = m_book.toString();
    if (stateValue(m_store, QStringLiteral("linkedBook")) != book) {
        m_store.execute(QStringLiteral("DELETE FROM CustomerSync"), QVariantList());
        m_store.execute(QStringLiteral("DELETE FROM CustomerSyncState WHERE Name = ?"), {QStringLiteral("token")});
        setStateValue(m_store, QStringLiteral("linkedBook"), book);
    }
    commit();
}

DeletionChoice ContactSync::guard(MassDeletion::Side side, int count, int total)
{
    if (!isMassDeletion(count, total)) {
        return DeletionChoice::Delete;
    }
    const MassDeletion deletion {side, count, total};
    const DeletionChoice choice = m_guard ? m_guard(deletion) : DeletionChoice::Keep;
    if (choice == DeletionChoice::Keep || (choice == DeletionChoice::UploadAgain && side != MassDeletion::Side::Here)) {
        throw DeletionsHeld(deletion);
    }
    return choice;
}

QHash<QString, ContactSync::Link> ContactSync::loadLinks()
{
    RecordsetRelease release {m_store};
    QHash<QString, Link> links;
    ado::Recordset& rs = m_store.openQuery(
        QStringLiteral(
            "SELECT Href, CustID, ETag, Digest, CardDigest, Deleted, Written, Agreed, CardHash FROM CustomerSync"),
        QVariantList());
    while (!rs.isEOF()) {
        Link link;
        link.href = textOf(rs.Fields(0));
        link.custId = rs.Fields(1).toInt();
        link.etag = textOf(rs.Fields(2));
        link.digest = textOf(rs.Fields(3));
        link.cardDigest = textOf(rs.Fields(4));
        link.deleted = rs.Fields(5).toInt() != 0;
        link.written = rs.Fields(6).toInt() != 0;
        link.agreed = splitFields(textOf(rs.Fields(7)));
        link.cardHash = textOf(rs.Fields(8));
        links.insert(link.href, link);
        rs.MoveNext();
    }
    return links;
}

QMap<qint32, ContactFields> ContactSync::loadContacts()
{
    RecordsetRelease release {m_store};
    QMap<qint32, ContactFields> contacts;
    ado::Recordset& rs = m_store.openQuery(ListQuery());
    while (!rs.isEOF()) {
        contacts.insert(rs.Fields(7).toInt(), contactFieldsAt(rs));
        rs.MoveNext();
    }
    return contacts;
}

void ContactSync::saveLink(const Link& link)
{
    m_store.execute(QStringLiteral("INSERT OR REPLACE INTO CustomerSync (Href, CustID, ETag, Digest, CardDigest, "
                                   "Deleted, Written, Agreed, CardHash) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"),
                    {text(link.href),
                     link.custId,
                     text(link.etag),
                     text(link.digest),
                     text(link.cardDigest),
                     link.deleted ? 1 : 0,
                     link.written ? 1 : 0,
                     text(joinedFields(link.agreed)),
                     text(link.cardHash)});
}

void ContactSync::dropLink(const QString& href)
{
    m_store.execute(QStringLiteral("DELETE FROM CustomerSync WHERE Href = ?"), {href});
}

qint32 ContactSync::insertContact(const ContactFields& fields)
{
    const qint32 key = m_store.GetNextCustID();
    m_store.execute(InsertStatement(key, fields));
    return key;
}

void ContactSync::Link::agree(const ContactFields& here, const QByteArray& card)
{
    ContactFields read;
    digest = fieldsDigest(fieldsOfCard(card, read) ? read : here);
    agreed = here;
}

void ContactSync::Link::agreeCard(const QByteArray& card)
{
    cardDigest = ::cardDigest(card);
    cardHash = ::cardHash(card);
}

// The details are read only when the bytes changed: most cards have not, and reading them all would slow every sync
// of a large book.
bool ContactSync::Link::cardChangedHere(const QByteArray& kept) const
{
    return !kept.isEmpty() && ::cardHash(kept) != cardHash && ::cardDigest(kept) != cardDigest;
}

bool ContactSync::Link::changedHere(const ContactFields& here) const
{
    return fieldsDigest(here) != (agreed ? fieldsDigest(*agreed) : digest);
}

// The card with the fields changed here since the last agreement applied; the others stay as the card has them.
QByteArray ContactSync::cardToSend(const Link& link, const QByteArray& card, const ContactFields& local)
{
    return link.agreed ? editedCard(card, *link.agreed, local) : editedCard(card, local);
}

// The card at href when it carries the contact's UID: linked as agreed, the contact's own card left as it is, so that
// a change made here since it was sent goes up as a change.
std::optional<ContactSync::Link> ContactSync::adoptedCard(qint32 custId, const QString& href, const QString& uid)
{
    const QList<Card> found = m_client.fetchCards(m_book, {href});
    ContactFields server;
    if (found.size() != 1 || cardUid(found.first().data) != uid || !fieldsOfCard(found.first().data, server)) {
        return std::nullopt;
    }
    Link link;
    link.custId = custId;
    link.href = found.first().href;
    link.etag = found.first().etag;
    link.agree(server, found.first().data);
    link.agreeCard(found.first().data);
    link.written = true;
    return link;
}

// The server's card becomes the contact's, under the card's UID (the contact's own when the card has none).
void ContactSync::keepServerCard(qint32 custId, const QByteArray& card)
{
    QString uid = cardUid(card);
    if (uid.isEmpty()) {
        uid = ContactCards::load(m_store, custId).uid;
    }
    ContactCards::save(m_store, custId, {uid.isEmpty() ? ContactCards::newUid() : uid, card});
}

// A contact here found on the server at a first sync (another computer's, or the phone's) takes the server's card;
// the details only this one has (a mail, a number, a note typed here) are added to it, and go up with it as a change
// made here, instead of being lost with the card they were on.
QByteArray ContactSync::withDetailsKeptHere(qint32 custId, const QByteArray& card, const ContactFields& server)
{
    const QByteArray mine = ContactCards::load(m_store, custId).card;
    if (mine.isEmpty()) {
        return card;
    }
    const CardDetails here = cardDetails(mine);
    const CardDetails there = cardDetails(card);
    if (!hasDetails(here) || here == there) {
        return card;
    }
    CardDetails merged = there;
    for (const QString& email : here.emails) {
        if (!merged.emails.contains(email, Qt::CaseInsensitive)) {
            merged.emails.append(email);
        }
    }
    const auto digits = [](const QString& number) {
        QString only;
        for (const QChar c : number) {
            if (c.isDigit()) {
                only += c;
            }
        }
        return only.startsWith(QLatin1String("39")) && only.size() > 10 ? only.mid(2) : only;
    };
    QSet<QString> numbers {digits(server.zip), digits(server.phoneNumber)};
    for (const CardPhone& phone : std::as_const(there.otherPhones)) {
        numbers.insert(digits(phone.number));
    }
    for (const CardPhone& phone : here.otherPhones) {
        if (!numbers.contains(digits(phone.number))) {
            numbers.insert(digits(phone.number));
            merged.otherPhones.append(phone);
        }
    }
    // One value each: the server's stands, this one fills it only where the server has none.
    for (const auto& [value, mineValue] : {std::pair {&merged.postalCode, here.postalCode},
                                           std::pair {&merged.country, here.country},
                                           std::pair {&merged.organisation, here.organisation},
                                           std::pair {&merged.birthday, here.birthday},
                                           std::pair {&merged.note, here.note}}) {
        if (value->isEmpty()) {
            *value = mineValue;
        }
    }
    return merged == there ? card : withDetails(card, server, merged);
}

// Read a row at a time: only the UID and a digest of each card stay in memory, whatever the cards hold.
QHash<qint32, ContactSync::KeptCard> ContactSync::loadKeptCards()
{
    RecordsetRelease release {m_store};
    QHash<qint32, KeptCard> cards;
    ado::Recordset& rs
        = m_store.openQuery(QStringLiteral("SELECT CustID, Uid, Card FROM CustomerCard"), QVariantList());
    for (; !rs.isEOF(); rs.MoveNext()) {
        const QByteArray card = rs.Fields(2).toByteArray();
        cards.insert(rs.Fields(0).toInt(), {textOf(rs.Fields(1)), cardHash(card), card.isEmpty()});
    }
    return cards;
}

void ContactSync::applyServerChanges(SyncOutcome& outcome)
{
    QHash<QString, Link> links = loadLinks();
    const QString token = stateValue(m_store, QStringLiteral("token"));

    QList<CardEntry> changed;
    QStringList removed;
    QString newToken;
    const auto isNew = [&](const CardEntry& entry) {
        const auto link = links.constFind(entry.href);
        return link == links.cend() || entry.etag.isEmpty() || link->etag != entry.etag;
    };
    std::optional<CollectionChanges> delta;
    if (!token.isEmpty()) {
        delta = m_client.changesSince(m_book, token);
    }
    if (delta) {
        newToken = delta->syncToken;
        QSet<QString> reported;
        for (const CardEntry& entry : std::as_const(delta->changed)) {
            reported.insert(entry.href);
            if (isNew(entry)) {
                changed.append(entry);
            }
        }
        for (const QString& href : std::as_const(delta->removed)) {
            reported.insert(href);
            if (links.contains(href)) {
                removed.append(href);
            }
        }
        // A card written here after the token must be among the changes. A server may leave out one made and
        // deleted since the token; it is looked for, and counts as deleted there only when it is not found.
        QStringList unreported;
        for (const Link& link : std::as_const(links)) {
            if (link.written && !reported.contains(link.href)) {
                unreported.append(link.href);
            }
        }
        if (!unreported.isEmpty()) {
            QSet<QString> found;
            for (const Card& card : m_client.fetchCards(m_book, unreported)) {
                found.insert(card.href);
                if (isNew({card.href, card.etag})) {
                    changed.append({card.href, card.etag});
                }
            }
            for (const QString& href : std::as_const(unreported)) {
                if (!found.contains(href)) {
                    removed.append(href);
                }
            }
        }
    } else {
        // The token is taken before the listing, so whatever changes after it is reported next time.
        newToken = m_client.syncToken(m_book);
        QSet<QString> listed;
        for (const CardEntry& entry : m_client.listCards(m_book)) {
            listed.insert(entry.href);
            if (isNew(entry)) {
                changed.append(entry);
            }
        }
        for (auto link = links.cbegin(); link != links.cend(); ++link) {
            if (!listed.contains(link.key())) {
                removed.append(link.key());
            }
        }
    }
    QStringList hrefs;
    for (const CardEntry& entry : std::as_const(changed)) {
        hrefs.append(entry.href);
    }
    const qint64 total = hrefs.size() + removed.size();
    step(0, total);

    QMap<qint32, ContactFields> contacts = loadContacts();
    QSet<qint32> linkedIds;
    for (const Link& link : std::as_const(links)) {
        if (!link.deleted) {
            linkedIds.insert(link.custId);
        }
    }
    // The whole set of deletions is weighed before the first batch is written.
    int deleting = 0;
    for (const QString& href : std::as_const(removed)) {
        const Link link = links.value(href);
        const auto local = contacts.constFind(link.custId);
        deleting += !link.deleted && local != contacts.cend() && !link.changedHere(local.value()) ? 1 : 0;
    }
    const bool uploadAgain
        = guard(MassDeletion::Side::Here, deleting, int(contacts.size())) == DeletionChoice::UploadAgain;

    // A first sync links a card to a contact here with the same seven fields instead of adding it twice. Another
    // computer's contact comes back as its card reads ("333 123 4567" as "3331234567"), so a contact here is also
    // found by the fields its own card would read as; those are worked out only when a card needs them.
    QMultiHash<QString, qint32> unlinked;
    for (auto contact = contacts.cbegin(); contact != contacts.cend(); ++contact) {
        if (!linkedIds.contains(contact.key())) {
            unlinked.insert(duplicateKey(contact.value()), contact.key());
        }
    }
    std::optional<QMultiHash<QString, qint32>> unlinkedAsRead;
    QSet<qint32> twinned;
    const auto takeTwin = [&](const ContactFields& server) -> std::optional<qint32> {
        const QString key = duplicateKey(server);
        for (auto twin = unlinked.find(key); twin != unlinked.end() && twin.key() == key; ++twin) {
            if (!twinned.contains(twin.value())) {
                twinned.insert(twin.value());
                return twin.value();
            }
        }
        if (!unlinkedAsRead) {
            unlinkedAsRead.emplace();
            for (auto id = unlinked.cbegin(); id != unlinked.cend(); ++id) {
                ContactFields read;
                if (fieldsOfCard(newCard(contacts.value(id.value()), QStringLiteral("x")), read)) {
                    unlinkedAsRead->insert(duplicateKey(read), id.value());
                }
            }
        }
        for (auto twin = unlinkedAsRead->find(key); twin != unlinkedAsRead->end() && twin.key() == key; ++twin) {
            if (!twinned.contains(twin.value())) {
                twinned.insert(twin.value());
                return twin.value();
            }
        }
        return std::nullopt;
    };

    qint64 done = 0;
    const auto next = [&] {
        if (++done % m_batch == 0) {
            commit();
            step(done, total);
            begin();
        }
    };
    for (qsizetype first = 0; first < hrefs.size(); first += kCardsAtOnce) {
        // The cards are read a batch at a time, each applied before the next is read, so that only one batch is
        // ever in memory; no transaction waits on the network meanwhile.
        if (m_inTransaction) {
            commit();
        }
        const QList<Card> cards = m_client.fetchCards(m_book, hrefs.mid(first, kCardsAtOnce));
        begin();
        for (const Card& card : cards) {
            ContactFields server;
            const bool readable = card.whole && isCleanText(card.data) && fieldsOfCard(card.data, server);
            auto found = links.find(card.href);
            if (!readable && !isEmptyCard(card)) {
                // Left as it is on both sides, its version not taken as agreed, and named; the rest goes on.
                outcome.skipped.append(skippedName(card));
                next();
                continue;
            }
            if (!readable) {
                // A whole card with nothing the program keeps: only its version moves on.
                if (found != links.end()) {
                    found->etag = card.etag;
                    saveLink(*found);
                }
                next();
                continue;
            }
            const QString serverDigest = fieldsDigest(server);
            if (found == links.end()) {
                Link link;
                link.href = card.href;
                link.etag = card.etag;
                link.agree(server, card.data);
                link.agreeCard(card.data);
                if (const std::optional<qint32> twin = takeTwin(server)) {
                    link.custId = *twin;
                    // Agreed as written here: the same contact, nothing to send back.
                    link.agree(contacts.value(link.custId), card.data);
                    keepServerCard(link.custId, withDetailsKeptHere(link.custId, card.data, server));
                    ++outcome.linked;
                } else {
                    link.custId = insertContact(server);
                    contacts.insert(link.custId, server);
                    keepServerCard(link.custId, card.data);
                    ++outcome.addedHere;
                }
                saveLink(link);
                links.insert(link.href, link);
                next();
                continue;
            }

            Link& link = found.value();
            const auto local = contacts.find(link.custId);
            const QString etagBefore = link.etag;
            link.etag = card.etag;
            // Only the seven fields decide what changed there: a server that rewrites a card it was sent changes its
            // bytes, not the contact.
            if (link.deleted || local == contacts.end()) {
                if (serverDigest != link.digest) {
                    // Deleted here, changed there: the change wins and the contact comes back.
                    link.custId = insertContact(server);
                    link.deleted = false;
                    link.agree(server, card.data);
                    link.agreeCard(card.data);
                    keepServerCard(link.custId, card.data);
                    contacts.insert(link.custId, server);
                    ++outcome.addedHere;
                }
            } else {
                const ContactCard kept = ContactCards::load(m_store, link.custId);
                // A card changed here (details beyond the seven fields) is kept and sent over the server's.
                const bool cardChangedHere = link.cardChangedHere(kept.card);
                const auto takeServerCard = [&] {
                    if (!cardChangedHere) {
                        keepServerCard(link.custId, card.data);
                        link.agreeCard(card.data);
                    }
                };
                const QString localDigest = fieldsDigest(local.value());
                if (serverDigest == link.digest) {
                    // The seven fields did not change there; a change here goes up further on.
                    takeServerCard();
                } else if (localDigest == serverDigest) {
                    link.agree(server, card.data);
                    takeServerCard();
                } else if (!link.changedHere(local.value())) {
                    m_store.execute(UpdateStatement(server, link.custId));
                    local.value() = server;
                    link.agree(server, card.data);
                    takeServerCard();
                    ++outcome.changedHere;
                } else {
                    const ConflictChoice choice
                        = m_resolver ? m_resolver->resolve(local.value(), server) : ConflictChoice::Later;
                    if (choice == ConflictChoice::Later) {
                        // Both stay as they are; the link keeps its old version, so the next sync, which starts from
                        // the same token, finds the conflict again.
                        link.etag = etagBefore;
                        m_undecided.insert(link.custId);
                        outcome.undecided.append(
                            (local.value().firstName + QLatin1Char(' ') + local.value().lastName).trimmed());
                        next();
                        continue;
                    }
                    ++outcome.conflicts;
                    if (choice == ConflictChoice::KeepBoth) {
                        // The version here becomes a contact of its own with its card under a UID of its own, sent as a
                        // new card further on.
                        const qint32 copy = insertContact(local.value());
                        const QString uid = ContactCards::newUid();
                        ContactCards::save(
                            m_store, copy, {uid, kept.card.isEmpty() ? kept.card : cardWithUid(kept.card, uid)});
                        contacts.insert(copy, local.value());
                    }
                    if (choice != ConflictChoice::KeepHere) {
                        m_store.execute(UpdateStatement(server, link.custId));
                        contacts[link.custId] = server;
                        link.agree(server, card.data);
                        keepServerCard(link.custId, card.data);
                        link.agreeCard(card.data);
                        ++outcome.changedHere;
                    }
                    // KeepHere leaves the digest as it was: the contact counts as changed here and is sent over the
                    // server's new version.
                }
            }
            saveLink(link);
            next();
        }
    }
    if (!m_inTransaction) {
        begin();
    }
    for (const QString& href : std::as_const(removed)) {
        const Link link = links.take(href);
        const auto local = contacts.constFind(link.custId);
        dropLink(href);
        // Kept for upload again, the contact is no longer linked and goes up further on as a new card.
        if (!uploadAgain && !link.deleted && local != contacts.cend() && !link.changedHere(local.value())) {
            m_store.execute(DeleteStatement(link.custId));
            contacts.remove(link.custId);
            ++outcome.deletedHere;
        }
        // A contact changed here after its card was deleted there stays, and goes up as a new card.
        next();
    }
    // The new token covers every card written before it. With a conflict left undecided or a card skipped the old one
    // is kept, so that the next sync reads that card again.
    if (m_undecided.isEmpty() && outcome.skipped.isEmpty()) {
        m_store.execute(QStringLiteral("UPDATE CustomerSync SET Written = 0 WHERE Written <> 0"), QVariantList());
        setStateValue(m_store, QStringLiteral("token"), newToken);
    }
    commit();
    step(total, total);
}

void ContactSync::flush(QList<Link>& saves, QStringList& drops)
{
    if (saves.isEmpty() && drops.isEmpty()) {
        return;
    }
    begin();
    for (const QString& href : std::as_const(drops)) {
        dropLink(href);
    }
    for (const Link& link : std::as_const(saves)) {
        saveLink(link);
        if (!link.sent.isNull()) {
            // The card sent carries the contact's fields as they stand here.
            ContactCard sent = link.sent;
            sent.inStep = true;
            ContactCards::save(m_store, link.custId, sent);
        }
    }
    commit();
    saves.clear();
    drops.clear();
}

// Each step on the server is noted here in batches. A step done there but not yet noted here is harmless: a card
// sent again is found identical, a card deleted is reported gone, a new card is linked to its twin here.
void ContactSync::sendLocalChanges(SyncOutcome& outcome)
{
    const QHash<QString, Link> links = loadLinks();
    const QMap<qint32, ContactFields> contacts = loadContacts();
    const QHash<qint32, KeptCard> kept = loadKeptCards();
    QList<Link> deletions;
    QList<Link> updates;
    QSet<qint32> linkedIds;
    QSet<QString> takenUids;
    for (const Link& link : links) {
        const auto local = contacts.constFind(link.custId);
        if (link.deleted || local == contacts.cend()) {
            deletions.append(link);
            continue;
        }
        linkedIds.insert(link.custId);
        if (m_undecided.contains(link.custId)) {
            continue;
        }
        const KeptCard card = kept.value(link.custId);
        takenUids.insert(card.uid);
        // A card changed here beyond the seven fields (a mail, a note) goes up as well.
        if (link.changedHere(local.value())
            || (!card.empty && card.hash != link.cardHash
                && link.cardChangedHere(ContactCards::load(m_store, link.custId).card))) {
            updates.append(link);
        }
    }
    QList<qint32> additions;
    for (auto contact = contacts.cbegin(); contact != contacts.cend(); ++contact) {
        if (!linkedIds.contains(contact.key())) {
            additions.append(contact.key());
        }
    }
    guard(MassDeletion::Side::Server, int(deletions.size()), int(links.size()));
    const qint64 total = deletions.size() + updates.size() + additions.size();
    qint64 done = 0;
    QList<Link> saves;
    QStringList drops;
    const auto next = [&] {
        if (++done % m_batch == 0) {
            flush(saves, drops);
            step(done, total);
        }
    };
    // A card changed there while this sync ran is left alone; the next sync sees the change and decides.
    const auto changedMeanwhile = [&](const CardDavError& error) {
        if (error.status() != 412 && error.status() != 404) {
            return false;
        }
        ++outcome.pending;
        return true;
    };
    try {
        for (const Link& link : std::as_const(deletions)) {
            try {
                m_client.deleteCard(link.href, link.etag);
                drops.append(link.href);
                ++outcome.deletedThere;
            } catch (const CardDavError& error) {
                if (!changedMeanwhile(error)) {
                    throw;
                }
            }
            next();
        }
        for (Link link : std::as_const(updates)) {
            const ContactFields& local = contacts.value(link.custId);
            const ContactCard stored = ContactCards::load(m_store, link.custId);
            QByteArray base = stored.card;
            if (base.isEmpty()) {
                // No card kept here: the server's is edited, so that what it holds stays there.
                for (const Card& card : m_client.fetchCards(m_book, {link.href})) {
                    base = card.data;
                }
            }
            const QByteArray card = base.isEmpty() ? newCard(local, stored.uid) : cardToSend(link, base, local);
            try {
                link.etag = m_client.updateCard(link.href, link.etag, card);
                const QString uid = cardUid(card);
                link.sent = {uid.isEmpty() ? (stored.isNull() ? ContactCards::newUid() : stored.uid) : uid, card};
                link.agreeCard(card);
                link.agree(local, card);
                link.written = true;
                saves.append(link);
                ++outcome.changedThere;
            } catch (const CardDavError& error) {
                if (!changedMeanwhile(error)) {
                    throw;
                }
            }
            next();
        }
        // New cards go a batch at a time, several on their way at once; every card the server took is noted
        // before a failure among them is passed on.
        for (qsizetype first = 0; first < additions.size(); first += m_batch) {
            const QList<qint32> batch = additions.mid(first, m_batch);
            QList<CardDavClient::NewCard> cards;
            QStringList uids;
            for (const qint32 custId : batch) {
                // The contact's own UID, unless a linked contact already has it there (a copy kept in a conflict).
                QString uid = kept.value(custId).uid;
                if (uid.isEmpty() || takenUids.contains(uid)) {
                    uid = ContactCards::newUid();
                }
                takenUids.insert(uid);
                const ContactFields& fields = contacts.value(custId);
                const QByteArray card = kept.value(custId).empty
                    ? newCard(fields, uid)
                    : cardWithUid(editedCard(ContactCards::load(m_store, custId).card, fields), uid);
                const QString name = isPlainName(uid) ? uid : ContactCards::newUid();
                cards.append({name + QLatin1String(".vcf"), card});
                uids.append(uid);
            }
            const QList<CardDavClient::Creation> created = m_client.createCards(m_book, cards);
            std::optional<CardDavError> failure;
            for (qsizetype i = 0; i < created.size(); ++i) {
                if (created.at(i).error) {
                    // The name is the contact's UID: a card there already is this contact's, sent by a sync cut short
                    // before it could note it. It is linked, never sent twice.
                    if (created.at(i).error->status() == 412) {
                        if (std::optional<Link> link = adoptedCard(batch.at(i), created.at(i).entry.href, uids.at(i))) {
                            saves.append(*link);
                            ++outcome.linked;
                            continue;
                        }
                    }
                    failure = failure ? failure : created.at(i).error;
                    continue;
                }
                const CardEntry& entry = created.at(i).entry;
                Link link;
                link.custId = batch.at(i);
                link.href = entry.href;
                link.etag = entry.etag;
                link.agree(contacts.value(batch.at(i)), cards.at(i).data);
                link.agreeCard(cards.at(i).data);
                link.written = true;
                link.sent = {uids.at(i), cards.at(i).data};
                saves.append(link);
                ++outcome.addedThere;
            }
            if (failure) {
                throw *failure;
            }
            for (qsizetype i = 0; i < created.size(); ++i) {
                next();
            }
        }
        flush(saves, drops);
    } catch (...) {
        // What the server has already taken is noted before the failure is passed on.
        if (m_inTransaction) {
            m_store.mcnnCust->RollbackTrans();
            m_inTransaction = false;
        }
        try {
            flush(saves, drops);
        } catch (...) {
            if (m_inTransaction) {
                m_store.mcnnCust->RollbackTrans();
                m_inTransaction = false;
            }
        }
        throw;
    }
    step(total, total);
}
