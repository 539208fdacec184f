#include "data/Duplicates.h"

#include "core/SearchText.h"
#include "data/Contact.h"
#include "exchange/CardDetails.h"
#include "exchange/CardEdit.h"

#include <QHash>
#include <QSet>

#include <algorithm>
#include <functional>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

// What ties two contacts; a pair may have several.
enum Tie : quint16 {
    SameMobile = 1,
    SamePhone = 2,
    CrossNumber = 4, // one's mobile is the other's land line
    SameEmail = 8,
    SameNameAndCity = 16,
    SameName = 32, // found beside a number or an e-mail
    SimilarSurname = 64,
};

// A number or an e-mail shared by more contacts than this is an office's or a family's, not one person's.
constexpr size_t kMaxSharing = 10;
// Namesakes of one city are compared pair by pair up to this many; beyond it only the identical ones are joined.
constexpr size_t kMaxNamesakes = 64;
// A group is shown side by side, a column per contact: a larger one would be many people, not one.
constexpr size_t kMaxGroup = 20;
constexpr char kSep = '\x1f';

enum Piece { Surname, Given, Address, City, Province, Mobile, Phone, Emails };

// One contact as compared: the folded pieces joined by kSep in one string, to keep 100,000 of them small.
struct Entry
{
    qint32 key = 0;
    std::string packed;

    std::string_view piece(int which) const
    {
        std::string_view rest(packed);
        for (int i = 0; i < which; ++i) {
            rest.remove_prefix(std::min(rest.size(), rest.find(kSep) + 1));
        }
        return rest.substr(0, rest.find(kSep));
    }
    // The e-mails, kSep-separated, are the last piece.
    std::vector<std::string_view> emails() const
    {
        std::vector<std::string_view> found;
        std::string_view rest(packed);
        for (int i = 0; i < Emails; ++i) {
            rest.remove_prefix(std::min(rest.size(), rest.find(kSep) + 1));
        }
        while (!rest.empty()) {
            const size_t end = std::min(rest.size(), rest.find(kSep));
            found.push_back(rest.substr(0, end));
            rest.remove_prefix(std::min(rest.size(), end + 1));
        }
        return found;
    }
};

// One key of one contact: a number, an e-mail or name-and-city, by hash; equal hashes are checked by value.
struct Key
{
    quint64 hash;
    quint32 entry;
    quint16 slot; // which piece of the entry: Mobile, Phone, Emails + i, or Surname for name-and-city
};

struct Edge
{
    quint32 a;
    quint32 b;
    quint16 ties;
    int score;
};

quint64 hashOf(char kind, std::string_view text)
{
    quint64 h = 1469598103934665603ULL ^ quint64(kind);
    for (const char c : text) {
        h = (h ^ quint8(c)) * 1099511628211ULL;
    }
    return h;
}

std::string folded(const QString& text)
{
    std::string out;
    SearchText::appendFolded(out, text);
    // "De Luca" and "DeLuca" are one name; a separator in the text must not split the packed entry.
    out.erase(std::remove_if(out.begin(), out.end(), [](char c) { return c == ' ' || c == kSep || c == '\t'; }),
              out.end());
    return out;
}

std::string lowered(const QString& email)
{
    std::string out = email.trimmed().toLower().toStdString();
    out.erase(std::remove(out.begin(), out.end(), kSep), out.end());
    return out;
}

// Within one letter: one letter changed, added or taken away.
bool withinOneLetter(std::string_view a, std::string_view b)
{
    if (a.size() > b.size()) {
        std::swap(a, b);
    }
    if (b.size() - a.size() > 1 || a.size() < 3) {
        return false;
    }
    size_t i = 0;
    while (i < a.size() && a[i] == b[i]) {
        ++i;
    }
    if (a.size() == b.size()) {
        if (i == a.size()) {
            return false; // the same surname is not a similar one
        }
        return a.substr(i + 1) == b.substr(i + 1);
    }
    return a.substr(i) == b.substr(i + 1);
}

bool sameName(const Entry& x, const Entry& y)
{
    const auto s1 = x.piece(Surname), g1 = x.piece(Given), s2 = y.piece(Surname), g2 = y.piece(Given);
    if (s1.empty() && g1.empty()) {
        return false;
    }
    return (s1 == s2 && g1 == g2) || (s1 == g2 && g1 == s2);
}

// No designed field set on both sides with different values: only then may a name and a city make a pair.
bool agreeWhereBothSet(const Entry& x, const Entry& y)
{
    for (const int p : {Address, Province, Mobile, Phone}) {
        const auto a = x.piece(p), b = y.piece(p);
        if (!a.empty() && !b.empty() && a != b) {
            return false;
        }
    }
    return true;
}

quint16 pairTies(const Entry& x, const Entry& y)
{
    quint16 ties = 0;
    const auto m1 = x.piece(Mobile), m2 = y.piece(Mobile), p1 = x.piece(Phone), p2 = y.piece(Phone);
    if (!m1.empty() && m1 == m2) {
        ties |= SameMobile;
    }
    if (!p1.empty() && p1 == p2) {
        ties |= SamePhone;
    }
    if ((!m1.empty() && m1 == p2) || (!p1.empty() && p1 == m2)) {
        ties |= CrossNumber;
    }
    const auto e1 = x.emails(), e2 = y.emails();
    for (const auto& e : e1) {
        if (std::find(e2.begin(), e2.end(), e) != e2.end()) {
            ties |= SameEmail;
        }
    }
    if (sameName(x, y)) {
        ties |= SameName;
        if (!x.piece(City).empty() && x.piece(City) == y.piece(City) && agreeWhereBothSet(x, y)) {
            ties |= SameNameAndCity;
        }
    } else if (withinOneLetter(x.piece(Surname), y.piece(Surname))
               && (x.piece(Given) == y.piece(Given) || x.piece(Given).empty() || y.piece(Given).empty())) {
        ties |= SimilarSurname;
    }
    return ties;
}

// A number or an e-mail is the strongest sign; a name adds to it. A name and a city alone come after a mobile or an
// e-mail, before a shared land line, which a family shares too.
int scoreOf(quint16 ties)
{
    int score = 0;
    score += (ties & SameMobile) ? 50 : 0;
    score += (ties & SameEmail) ? 45 : 0;
    score += (ties & CrossNumber) ? 35 : 0;
    score += (ties & SamePhone) ? 30 : 0;
    score += (ties & SameNameAndCity) ? 40 : (ties & SameName) ? 30 : 0;
    score += (ties & SimilarSurname) ? 15 : 0;
    return score;
}

// A pair is proposed only for what ties it: a number, an e-mail, or a name with its city.
bool isPair(quint16 ties)
{
    return ties & (SameMobile | SamePhone | CrossNumber | SameEmail | SameNameAndCity);
}

QString surnameOf(const ContactFields& f)
{
    return f.firstName.simplified();
}

QStringList reasonsOf(quint16 ties, const ContactFields& a, const ContactFields& b)
{
    QStringList reasons;
    if (ties & SameMobile)
        reasons << QStringLiteral("stesso cellulare");
    if (ties & SameEmail)
        reasons << QStringLiteral("stessa e-mail");
    if (ties & CrossNumber)
        reasons << QStringLiteral("stesso numero");
    if (ties & SamePhone)
        reasons << QStringLiteral("stesso telefono");
    if (ties & SameNameAndCity)
        reasons << QStringLiteral("stesso nome e città");
    else if (ties & SameName)
        reasons << QStringLiteral("stesso nome");
    if (ties & SimilarSurname) {
        QStringList names {surnameOf(a), surnameOf(b)};
        names.sort(Qt::CaseInsensitive);
        reasons << QStringLiteral("nome simile: %1 / %2").arg(names.at(0), names.at(1));
    }
    return reasons;
}

QVariantList keyValues(const QList<qint32>& keys)
{
    QVariantList values;
    values.reserve(keys.size());
    for (const qint32 key : keys) {
        values << key;
    }
    return values;
}

bool hasTable(CustomerStore& store, const QString& name)
{
    RecordsetRelease release {store};
    return !store.openQuery(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?"), {name})
                .isEOF();
}

// The e-mails of a plain card (one vCard, no folded or encoded line, each EMAIL line "NAME[;params]:value"), as
// cardDetails() reads them but without parsing the whole card: 100,000 cards are read in one search. Anything else
// goes to cardDetails().
std::optional<QStringList> plainEmails(const QByteArray& card)
{
    QStringList emails;
    int begins = 0;
    qsizetype at = 0;
    while (at < card.size()) {
        qsizetype end = card.indexOf('\n', at);
        if (end < 0) {
            end = card.size();
        }
        const QByteArrayView line = QByteArrayView(card).sliced(at, end - at);
        at = end + 1;
        if (at < card.size() && (card.at(at) == ' ' || card.at(at) == '\t')) {
            return std::nullopt; // a folded line
        }
        const qsizetype colon = line.indexOf(':');
        if (colon < 0) {
            continue;
        }
        QByteArrayView name = line.first(colon);
        const qsizetype semicolon = name.indexOf(';');
        QByteArrayView params;
        if (semicolon >= 0) {
            params = name.sliced(semicolon);
            name = name.first(semicolon);
        }
        const qsizetype dot = name.lastIndexOf('.');
        if (dot >= 0) {
            name = name.sliced(dot + 1);
        }
        if (name.compare("BEGIN", Qt::CaseInsensitive) == 0 && ++begins > 1) {
            return std::nullopt; // several cards: the reader picks one
        }
        if (name.compare("EMAIL", Qt::CaseInsensitive) != 0) {
            continue;
        }
        const QByteArray upper = params.toByteArray().toUpper();
        if (upper.contains('"') || upper.contains("ENCODING") || upper.contains("CHARSET")
            || upper.contains("QUOTED-PRINTABLE") || upper.contains("BASE64")) {
            return std::nullopt;
        }
        const QString value = QString::fromUtf8(line.sliced(colon + 1)).trimmed();
        if (value.contains(QLatin1Char('\\'))) {
            return std::nullopt; // escapes
        }
        if (!value.isEmpty()) {
            emails.append(value);
        }
    }
    return emails;
}

// Every contact, folded and packed; the keys of each.
void readEntries(CustomerStore& store, std::vector<Entry>& entries, std::vector<Key>& keys)
{
    // Sized once: a vector doubling its way to 100,000 entries would hold two copies at its peak.
    {
        RecordsetRelease release {store};
        const qsizetype count
            = store.openQuery(QStringLiteral("SELECT count(*) FROM Customer"), QVariantList()).Fields(0).toLongLong();
        entries.reserve(size_t(count));
        keys.reserve(size_t(count) * 4);
    }
    QHash<qint32, quint32> indexOf;
    indexOf.reserve(entries.capacity());
    {
        RecordsetRelease release {store};
        ado::Recordset& rs = store.openQuery(QStringLiteral("SELECT CustID, FirstName, LastName, Address, City, "
                                                            "State, Zip, PhoneNumber FROM Customer WHERE CustID IS "
                                                            "NOT NULL ORDER BY CustID"),
                                             QVariantList());
        for (; !rs.isEOF(); rs.MoveNext()) {
            const qint32 key = rs.Fields(0).toInt();
            // A key held twice cannot be merged (the store refuses it); the first row stands for it.
            if (indexOf.contains(key)) {
                continue;
            }
            const ContactFields f = contactFieldsAt(rs, 1);
            Entry e;
            e.key = key;
            for (const QString* text : {&f.firstName, &f.lastName, &f.address, &f.city, &f.state}) {
                e.packed += folded(*text);
                e.packed += kSep;
            }
            e.packed += Duplicates::comparedNumber(f.zip);
            e.packed += kSep;
            e.packed += Duplicates::comparedNumber(f.phoneNumber);
            e.packed += kSep;
            e.packed.shrink_to_fit();
            indexOf.insert(key, quint32(entries.size()));
            entries.push_back(std::move(e));
        }
    }
    // The e-mails are in the cards: one pass, and only a card that names one is read.
    if (hasTable(store, QStringLiteral("CustomerCard"))) {
        RecordsetRelease release {store};
        ado::Recordset& rs = store.openQuery(
            QStringLiteral("SELECT CustID, Card FROM CustomerCard WHERE length(Card) > 0"), QVariantList());
        for (; !rs.isEOF(); rs.MoveNext()) {
            const auto at = indexOf.constFind(rs.Fields(0).toInt());
            if (at == indexOf.cend()) {
                continue;
            }
            const QByteArray card = rs.Fields(1).toByteArray();
            if (!card.contains("EMAIL") && !card.contains("email") && !card.contains("Email")) {
                continue;
            }
            Entry& e = entries[at.value()];
            bool first = true;
            const std::optional<QStringList> plain = plainEmails(card);
            for (const QString& email : plain ? *plain : cardDetails(card).emails) {
                const std::string address = lowered(email);
                if (address.empty()) {
                    continue;
                }
                if (!first) {
                    e.packed += kSep;
                }
                e.packed += address;
                first = false;
            }
        }
    }
    for (quint32 i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        for (const int slot : {Mobile, Phone}) {
            const auto number = e.piece(slot);
            if (!number.empty()) {
                keys.push_back({hashOf('n', number), i, quint16(slot)});
            }
        }
        const auto emails = e.emails();
        for (size_t j = 0; j < emails.size(); ++j) {
            keys.push_back({hashOf('e', emails[j]), i, quint16(Emails + j)});
        }
        const auto s = e.piece(Surname), g = e.piece(Given), c = e.piece(City);
        if (!s.empty() && !g.empty() && !c.empty()) {
            // Either order is one name.
            std::string name = s < g ? std::string(s) + kSep + std::string(g) : std::string(g) + kSep + std::string(s);
            name += kSep;
            name += c;
            keys.push_back({hashOf('c', name), i, quint16(Surname)});
        }
    }
}

// The value a key stands for, to tell apart two values that share a hash.
std::string keyValue(const Entry& e, quint16 slot)
{
    if (slot == Mobile || slot == Phone) {
        return std::string(e.piece(slot));
    }
    if (slot >= Emails) {
        return std::string(e.emails().at(slot - Emails));
    }
    const auto s = e.piece(Surname), g = e.piece(Given);
    return (s < g ? std::string(s) + kSep + std::string(g) : std::string(g) + kSep + std::string(s)) + kSep
        + std::string(e.piece(City));
}

// The pairs of contacts that share a key, from the sorted keys: one run of equal keys at a time.
std::vector<Edge> pairsOf(const std::vector<Entry>& entries, std::vector<Key>& keys)
{
    const auto kindOf = [](quint16 slot) { return slot == Surname ? 0 : slot >= Emails ? 1 : 2; };
    std::sort(keys.begin(), keys.end(), [&](const Key& x, const Key& y) {
        return std::make_tuple(kindOf(x.slot), x.hash, x.entry) < std::make_tuple(kindOf(y.slot), y.hash, y.entry);
    });
    std::vector<Edge> edges;
    const auto addPair = [&](quint32 a, quint32 b, bool byName) {
        // Namesakes of a city that differ in a field are a pair only through a number or an e-mail, found by theirs.
        if (a == b || (byName && !agreeWhereBothSet(entries[a], entries[b]))) {
            return;
        }
        const quint16 ties = pairTies(entries[a], entries[b]);
        if (isPair(ties)) {
            edges.push_back({std::min(a, b), std::max(a, b), ties, scoreOf(ties)});
        }
    };
    for (size_t first = 0; first < keys.size();) {
        size_t end = first + 1;
        while (end < keys.size() && keys[end].hash == keys[first].hash
               && kindOf(keys[end].slot) == kindOf(keys[first].slot)) {
            ++end;
        }
        if (end - first > 1) {
            // Equal hashes, by value: the members that really share it, each contact once.
            std::vector<std::pair<std::string, quint32>> members;
            for (size_t k = first; k < end; ++k) {
                members.emplace_back(keyValue(entries[keys[k].entry], keys[k].slot), keys[k].entry);
            }
            std::sort(members.begin(), members.end());
            members.erase(std::unique(members.begin(), members.end()), members.end());
            const bool names = kindOf(keys[first].slot) == 0;
            for (size_t m = 0; m < members.size();) {
                size_t n = m + 1;
                while (n < members.size() && members[n].first == members[m].first) {
                    ++n;
                }
                const size_t count = n - m;
                if (count > 1 && (names ? count <= kMaxNamesakes : count <= kMaxSharing)) {
                    for (size_t i = m; i < n; ++i) {
                        for (size_t j = i + 1; j < n; ++j) {
                            addPair(members[i].second, members[j].second, names);
                        }
                    }
                } else if (count > 1 && names) {
                    // Too many namesakes to compare pair by pair: the ones alike in every field are still joined.
                    std::vector<quint32> same;
                    for (size_t i = m; i < n; ++i) {
                        same.push_back(members[i].second);
                    }
                    std::sort(same.begin(), same.end(), [&](quint32 x, quint32 y) {
                        return entries[x].packed < entries[y].packed;
                    });
                    for (size_t i = 1; i < same.size(); ++i) {
                        if (entries[same[i]].packed == entries[same[i - 1]].packed) {
                            addPair(same[i - 1], same[i], true);
                        }
                    }
                }
                m = n;
            }
        }
        first = end;
    }
    // A pair found by several keys is one edge with all its ties (pairTies already found them all).
    std::sort(edges.begin(), edges.end(), [](const Edge& x, const Edge& y) {
        return std::make_pair(x.a, x.b) < std::make_pair(y.a, y.b);
    });
    edges.erase(
        std::unique(edges.begin(), edges.end(), [](const Edge& x, const Edge& y) { return x.a == y.a && x.b == y.b; }),
        edges.end());
    return edges;
}

QHash<qint32, QList<qint32>> notDuplicates(CustomerStore& store)
{
    QHash<qint32, QList<qint32>> marked;
    if (!hasTable(store, QStringLiteral("CustomerNotDuplicate"))) {
        return marked;
    }
    RecordsetRelease release {store};
    ado::Recordset& rs = store.openQuery(QStringLiteral("SELECT KeyA, KeyB FROM CustomerNotDuplicate"), QVariantList());
    for (; !rs.isEOF(); rs.MoveNext()) {
        const qint32 a = rs.Fields(0).toInt(), b = rs.Fields(1).toInt();
        marked[a].append(b);
        marked[b].append(a);
    }
    return marked;
}

QHash<qint32, ContactFields> fieldsOf(CustomerStore& store, const QList<qint32>& keys)
{
    QHash<qint32, ContactFields> found;
    constexpr qsizetype perStatement = 500;
    for (qsizetype first = 0; first < keys.size(); first += perStatement) {
        const QList<qint32> some = keys.mid(first, perStatement);
        RecordsetRelease release {store};
        ado::Recordset& rs = store.openQuery(
            QStringLiteral("SELECT CustID, FirstName, LastName, Address, City, State, Zip, PhoneNumber FROM Customer "
                           "WHERE CustID IN (")
                + QStringList(some.size(), QStringLiteral("?")).join(QLatin1String(", ")) + QLatin1Char(')'),
            keyValues(some));
        for (; !rs.isEOF(); rs.MoveNext()) {
            const qint32 key = rs.Fields(0).toInt();
            if (!found.contains(key)) {
                found.insert(key, contactFieldsAt(rs, 1));
            }
        }
    }
    return found;
}

// The list row the store's checks compare with: the seven texts as the list shows them, and the key.
QStringList shownOf(const ContactFields& f, qint32 key)
{
    return {f.firstName,
            f.lastName,
            f.address,
            f.city,
            f.state,
            f.zip,
            FormatStoredPhone(f.phoneNumber),
            QString::number(key)};
}

// Numbers compared by their digits, so that "+39 333 1234567" and "3331234567" are one.
bool holdsNumber(const QSet<QString>& numbers, const QString& number)
{
    const std::string digits = Duplicates::comparedNumber(number);
    return numbers.contains(QString::fromStdString(digits.empty() ? number.trimmed().toStdString() : digits));
}

void addNumber(QSet<QString>& numbers, const QString& number)
{
    const std::string digits = Duplicates::comparedNumber(number);
    numbers.insert(QString::fromStdString(digits.empty() ? number.trimmed().toStdString() : digits));
}

// The kept card's details with whatever the others hold that it lacks: nothing lost, nothing twice.
CardDetails mergedDetails(CardDetails kept,
                          const ContactFields& keptFields,
                          const QList<MergeRecord::Contact>& contacts,
                          qint32 keptKey)
{
    QSet<QString> emails;
    for (const QString& email : kept.emails) {
        emails.insert(email.trimmed().toLower());
    }
    QSet<QString> numbers;
    for (const QString& number : {keptFields.zip, keptFields.phoneNumber}) {
        if (!number.trimmed().isEmpty()) {
            addNumber(numbers, number);
        }
    }
    for (const CardPhone& phone : kept.otherPhones) {
        addNumber(numbers, phone.number);
    }
    const auto addPhone = [&](const CardPhone& phone) {
        if (!phone.number.trimmed().isEmpty() && !holdsNumber(numbers, phone.number)) {
            addNumber(numbers, phone.number);
            kept.otherPhones.append(phone);
        }
    };
    const auto takeIfEmpty = [](QString& into, const QString& value) {
        if (into.trimmed().isEmpty()) {
            into = value;
        }
    };
    for (const MergeRecord::Contact& c : contacts) {
        // The kept contact's own numbers may have given way to another's: they stay among the others. A card may
        // read other numbers for its fields than the book holds: those stay too.
        ContactFields read;
        const bool readable = !c.card.card.isEmpty() && fieldsOfCard(c.card.card, read);
        for (const ContactFields* f : {&c.fields, readable ? &read : &c.fields}) {
            addPhone({QStringLiteral("cell"), f->zip});
            addPhone({QStringLiteral("voice"), f->phoneNumber});
        }
        if (c.key == keptKey) {
            continue;
        }
        const CardDetails d = cardDetails(c.card.card);
        for (const QString& email : d.emails) {
            if (!emails.contains(email.trimmed().toLower())) {
                emails.insert(email.trimmed().toLower());
                kept.emails.append(email);
            }
        }
        for (const CardPhone& phone : d.otherPhones) {
            addPhone(phone);
        }
        takeIfEmpty(kept.postalCode, d.postalCode);
        takeIfEmpty(kept.country, d.country);
        takeIfEmpty(kept.organisation, d.organisation);
        takeIfEmpty(kept.birthday, d.birthday);
        if (!d.note.trimmed().isEmpty() && !kept.note.contains(d.note.trimmed())) {
            kept.note = kept.note.trimmed().isEmpty() ? d.note : kept.note + QLatin1Char('\n') + d.note;
        }
    }
    return kept;
}

} // namespace

namespace Duplicates {

std::string comparedNumber(const QString& text)
{
    std::string digits;
    SearchText::appendDigits(digits, text);
    const bool plus = text.trimmed().startsWith(QLatin1Char('+'));
    // An Italian number has 6 to 11 digits: a land line starts with 0, a mobile with 3.
    const auto italian = [](std::string_view rest) {
        return rest.size() >= 6 && rest.size() <= 11 && (rest[0] == '0' || rest[0] == '3');
    };
    if (digits.size() > 4 && digits.compare(0, 4, "0039") == 0 && italian(std::string_view(digits).substr(4))) {
        digits.erase(0, 4);
    } else if (digits.size() > 2 && digits.compare(0, 2, "39") == 0 && italian(std::string_view(digits).substr(2))
               && (plus || digits.size() >= 11)) {
        // Without a "+" a mobile of its own may start with 39: only a number too long for Italy loses it.
        digits.erase(0, 2);
    }
    return digits.size() < 6 ? std::string() : digits;
}

QList<DuplicateGroup> find(CustomerStore& store)
{
    std::vector<Entry> entries;
    std::vector<Key> keys;
    readEntries(store, entries, keys);
    std::vector<Edge> edges = pairsOf(entries, keys);
    std::vector<Key>().swap(keys);

    const QHash<qint32, QList<qint32>> marked = notDuplicates(store);
    std::sort(edges.begin(), edges.end(), [](const Edge& x, const Edge& y) {
        return std::make_tuple(-x.score, x.a, x.b) < std::make_tuple(-y.score, y.a, y.b);
    });
    // Union-find over the pairs, most certain first; two groups never join when that would put a marked pair in one.
    QHash<quint32, quint32> parent;
    // Node-based maps: a reference to one group's members stays valid while another is added.
    std::unordered_map<quint32, std::vector<quint32>> members;
    std::unordered_map<quint32, std::vector<quint32>> edgesOf; // root -> edges joined into it
    const std::function<quint32(quint32)> root = [&](quint32 x) {
        quint32 r = x;
        while (parent.value(r, r) != r) {
            r = parent.value(r);
        }
        while (parent.value(x, x) != r) {
            const quint32 next = parent.value(x);
            parent[x] = r;
            x = next;
        }
        return r;
    };
    const auto membersOf = [&](quint32 r) -> std::vector<quint32>& {
        std::vector<quint32>& m = members[r];
        if (m.empty()) {
            m.push_back(r);
        }
        return m;
    };
    for (quint32 i = 0; i < edges.size(); ++i) {
        const Edge& edge = edges[i];
        quint32 ra = root(edge.a), rb = root(edge.b);
        if (ra != rb) {
            std::vector<quint32>& ma = membersOf(ra);
            std::vector<quint32>& mb = membersOf(rb);
            bool refused = ma.size() + mb.size() > kMaxGroup;
            for (const quint32 x : ma.size() < mb.size() ? ma : mb) {
                for (const qint32 other : marked.value(entries[x].key)) {
                    for (const quint32 y : ma.size() < mb.size() ? mb : ma) {
                        refused = refused || entries[y].key == other;
                    }
                }
            }
            if (refused) {
                continue;
            }
            if (ma.size() < mb.size()) {
                std::swap(ra, rb);
            }
            std::vector<quint32>& into = members[ra];
            std::vector<quint32> from = std::move(members[rb]);
            members.erase(rb);
            into.insert(into.end(), from.begin(), from.end());
            parent[rb] = ra;
            std::vector<quint32>& joined = edgesOf[ra];
            const std::vector<quint32> more = std::move(edgesOf[rb]);
            edgesOf.erase(rb);
            joined.insert(joined.end(), more.begin(), more.end());
            joined.push_back(i);
        } else if (!marked.value(entries[edge.a].key).contains(entries[edge.b].key)) {
            edgesOf[ra].push_back(i);
        }
    }

    QList<qint32> wanted;
    for (const auto& [r, own] : members) {
        for (const quint32 m : own) {
            wanted.append(entries[m].key);
        }
    }
    const QHash<qint32, ContactFields> fields = fieldsOf(store, wanted);
    QList<DuplicateGroup> groups;
    for (const auto& [r, grouped] : members) {
        if (grouped.size() < 2) {
            continue; // a contact whose only pair was refused
        }
        DuplicateGroup group;
        std::vector<quint32> own = grouped;
        std::sort(own.begin(), own.end(), [&](quint32 x, quint32 y) { return entries[x].key < entries[y].key; });
        for (const quint32 m : own) {
            group.contacts.append({entries[m].key, fields.value(entries[m].key)});
        }
        std::vector<quint32> joined = edgesOf[r];
        std::sort(joined.begin(), joined.end());
        for (const quint32 e : joined) {
            const Edge& edge = edges[e];
            group.certainty = std::max(group.certainty, edge.score);
            for (const QString& reason :
                 reasonsOf(edge.ties, fields.value(entries[edge.a].key), fields.value(entries[edge.b].key))) {
                if (!group.reasons.contains(reason)) {
                    group.reasons.append(reason);
                }
            }
        }
        groups.append(group);
    }
    std::sort(groups.begin(), groups.end(), [](const DuplicateGroup& x, const DuplicateGroup& y) {
        return std::make_pair(-x.certainty, x.contacts.first().key)
            < std::make_pair(-y.certainty, y.contacts.first().key);
    });
    return groups;
}

void markNotDuplicates(CustomerStore& store, const QList<qint32>& keys)
{
    store.inChange([&] {
        ContactCards::prepare(store);
        for (qsizetype i = 0; i < keys.size(); ++i) {
            for (qsizetype j = i + 1; j < keys.size(); ++j) {
                store.execute(QStringLiteral("INSERT OR IGNORE INTO CustomerNotDuplicate (KeyA, KeyB) VALUES (?, ?)"),
                              {std::min(keys.at(i), keys.at(j)), std::max(keys.at(i), keys.at(j))});
            }
        }
    });
}

qint32 keptKey(const DuplicateGroup& group)
{
    qint32 lowest = group.contacts.first().key;
    for (const DuplicateContact& c : group.contacts) {
        lowest = std::min(lowest, c.key);
    }
    return lowest;
}

ContactFields proposedFields(const DuplicateGroup& group)
{
    QList<DuplicateContact> latestFirst = group.contacts;
    std::sort(latestFirst.begin(), latestFirst.end(), [](const DuplicateContact& x, const DuplicateContact& y) {
        return x.key > y.key;
    });
    ContactFields chosen;
    const auto pick = [&](QString ContactFields::*field) {
        for (const DuplicateContact& c : latestFirst) {
            if (!(c.fields.*field).trimmed().isEmpty()) {
                chosen.*field = c.fields.*field;
                return;
            }
        }
    };
    for (QString ContactFields::*field : {&ContactFields::firstName,
                                          &ContactFields::lastName,
                                          &ContactFields::address,
                                          &ContactFields::city,
                                          &ContactFields::state,
                                          &ContactFields::zip,
                                          &ContactFields::phoneNumber}) {
        pick(field);
    }
    return chosen;
}

MergeRecord merge(CustomerStore& store, const DuplicateGroup& group, qint32 keep, const ContactFields& fields)
{
    MergeRecord record;
    store.inChange([&] {
        ContactCards::prepare(store);
        for (const DuplicateContact& c : group.contacts) {
            const MergeRecord::Contact before {c.key, c.fields, ContactCards::load(store, c.key)};
            if (c.key == keep) {
                record.kept = before;
            } else {
                record.removed.append(before);
            }
        }
        if (record.kept.key != keep) {
            throw ado::Error(QStringLiteral("Il contatto da tenere non fa parte del gruppo."));
        }
        record.keptAfter = fields;
        // The others are checked first: a contact another program changed or deleted stops the merge before any change.
        for (const MergeRecord::Contact& c : record.removed) {
            store.removeWithin(c.key, shownOf(c.fields, c.key), true);
        }
        store.updateWithin(keep, fields, shownOf(record.kept.fields, keep));

        ContactCard card = ContactCards::load(store, keep);
        if (card.uid.isEmpty()) {
            card.uid = ContactCards::newUid();
        }
        const QByteArray base = card.card.isEmpty() ? newCard(fields, card.uid) : card.card;
        ContactFields seven = fields;
        if (!card.card.isEmpty() && !fieldsOfCard(base, seven)) {
            seven = fields;
        }
        const CardDetails before = cardDetails(base);
        QList<MergeRecord::Contact> all {record.kept};
        all += record.removed;
        const CardDetails merged = mergedDetails(before, fields, all, keep);
        if (merged != before) {
            card.inStep = card.card.isEmpty() || card.agreement.startsWith(storedContactDigest(fields, card.uid));
            card.card = withDetails(base, seven, merged);
            ContactCards::save(store, keep, card);
        }
    });
    return record;
}

QList<qint32> undoMerge(CustomerStore& store, const MergeRecord& record)
{
    QList<qint32> keys;
    store.inChange([&] {
        ContactCards::prepare(store);
        const MergeRecord::Contact& kept = record.kept;
        store.updateWithin(kept.key, kept.fields, shownOf(record.keptAfter, kept.key));
        if (!kept.card.isNull()) {
            ContactCard card = kept.card;
            card.inStep = card.card.isEmpty() || card.agreement.startsWith(storedContactDigest(kept.fields, card.uid));
            ContactCards::save(store, kept.key, card);
        }
        const bool synced = hasTable(store, QStringLiteral("CustomerSync"));
        for (const MergeRecord::Contact& c : record.removed) {
            const bool free = fieldsOf(store, {c.key}).isEmpty();
            const qint32 key = free ? c.key : store.GetNextCustID();
            store.execute(InsertStatement(key, c.fields));
            if (!c.card.isNull()) {
                ContactCard card = c.card;
                card.inStep = card.card.isEmpty() || card.agreement.startsWith(storedContactDigest(c.fields, card.uid));
                ContactCards::save(store, key, card);
            }
            // Not synced since the merge: the server still holds the card as it was, linked to this contact again.
            if (free && synced) {
                store.execute(QStringLiteral("UPDATE CustomerSync SET Deleted = 0 WHERE CustID = ?"), {key});
            }
            keys.append(key);
        }
    });
    return keys;
}

} // namespace Duplicates
