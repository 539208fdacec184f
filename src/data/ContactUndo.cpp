#include "data/ContactUndo.h"

#include "data/Contact.h"
#include "data/ContactCards.h"

#include <QCryptographicHash>

#include <algorithm>
#include <memory>

namespace {

const QString kColumns = QStringLiteral("FirstName, LastName, Address, City, State, Zip, PhoneNumber");
constexpr qsizetype keysPerStatement = 100;

QString marks(qsizetype count)
{
    return QStringList(count, QStringLiteral("?")).join(QLatin1String(", "));
}

QVariantList valuesOf(const QList<qint32>& keys)
{
    QVariantList values;
    values.reserve(keys.size());
    for (const qint32 key : keys) {
        values << key;
    }
    return values;
}

bool exists(CustomerStore& store, const QString& query, const QVariantList& values)
{
    RecordsetRelease release {store};
    return store.openQuery(query, values).Fields(0).toInt() > 0;
}

bool hasCards(CustomerStore& store)
{
    return exists(
        store, QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name = ?"), {QStringLiteral("CustomerCard")});
}

} // namespace

ContactFields KeptContact::fields() const
{
    ContactFields f;
    QString* const texts[] = {&f.firstName, &f.lastName, &f.address, &f.city, &f.state, &f.zip, &f.phoneNumber};
    for (int i = 0; i < 7 && i < columns.size(); ++i) {
        *texts[i] = textOf(columns.at(i));
    }
    return f;
}

QString KeptContact::name() const
{
    const ContactFields f = fields();
    const QString name = QStringList {f.firstName.trimmed(), f.lastName.trimmed()}.join(QLatin1Char(' ')).trimmed();
    return name.isEmpty() ? QStringLiteral("un contatto senza nome") : name;
}

namespace ContactUndo {

QList<KeptContact> keep(CustomerStore& store, const QList<qint32>& keys)
{
    QList<KeptContact> kept;
    for (qsizetype first = 0; first < keys.size(); first += keysPerStatement) {
        const QList<qint32> some = keys.mid(first, keysPerStatement);
        RecordsetRelease release {store};
        ado::Recordset& rs = store.openQuery(QStringLiteral("SELECT CustID, ") + kColumns
                                                 + QStringLiteral(" FROM Customer WHERE CustID IN (")
                                                 + marks(some.size()) + QStringLiteral(") ORDER BY CustID"),
                                             valuesOf(some));
        for (; !rs.isEOF(); rs.MoveNext()) {
            KeptContact contact;
            contact.key = rs.Fields(0).toInt();
            for (int i = 1; i <= 7; ++i) {
                contact.columns.append(rs.Fields(i));
            }
            kept.append(contact);
        }
    }
    for (KeptContact& contact : kept) {
        const ContactCard card = ContactCards::load(store, contact.key);
        contact.uid = card.uid;
        contact.card = card.card;
        contact.agrees = card.agreement;
    }
    return kept;
}

QList<BroughtBack> bringBack(CustomerStore& store, const QList<KeptContact>& contacts)
{
    QList<BroughtBack> brought;
    store.inChange([&] { brought = addBack(store, contacts); });
    return brought;
}

QList<BroughtBack> addBack(CustomerStore& store, const QList<KeptContact>& contacts)
{
    QList<BroughtBack> brought;
    {
        ContactCards::prepare(store);
        const bool cards = hasCards(store);
        for (const KeptContact& contact : contacts) {
            qint32 key = contact.key;
            if (exists(store, QStringLiteral("SELECT count(*) FROM Customer WHERE CustID = ?"), {key})) {
                key = store.GetNextCustID();
            }
            QVariantList values {key};
            for (int i = 0; i < 7; ++i) {
                values << (i < contact.columns.size() ? contact.columns.at(i) : QVariant());
            }
            store.execute(QStringLiteral("INSERT INTO Customer (CustID, ") + kColumns
                              + QStringLiteral(") VALUES (?, ?, ?, ?, ?, ?, ?, ?)"),
                          values);
            if (cards && !contact.uid.isEmpty()) {
                // Two contacts with one UID would be one card to a phone; the card row's UID is the one that counts.
                QString uid = contact.uid;
                QByteArray agrees = contact.agrees;
                if (exists(store,
                           QStringLiteral("SELECT count(*) FROM CustomerCard WHERE Uid = ? AND CustID <> ?"),
                           {uid, key})) {
                    uid = ContactCards::newUid();
                    agrees = QByteArray("");
                }
                store.execute(QStringLiteral("INSERT OR REPLACE INTO CustomerCard (CustID, Uid, Card, Agrees) "
                                             "VALUES (?, ?, ?, ?)"),
                              {key,
                               uid,
                               contact.card.isNull() ? QByteArray("") : contact.card,
                               agrees.isNull() ? QByteArray("") : agrees});
            }
            brought.append({contact.key, key});
        }
    }
    return brought;
}

void putBack(CustomerStore& store, const KeptContact& contact)
{
    QVariantList values;
    for (int i = 0; i < 7; ++i) {
        values << (i < contact.columns.size() ? contact.columns.at(i) : QVariant());
    }
    values << contact.key;
    const int changed = store.execute(QStringLiteral("UPDATE Customer SET FirstName = ?, LastName = ?, Address = ?, "
                                                     "City = ?, State = ?, Zip = ?, PhoneNumber = ? WHERE CustID = ?"),
                                      values);
    if (changed != 1) {
        throw ado::Error(QStringLiteral("Il contatto %1 non si trova più nella rubrica: nulla è stato modificato.")
                             .arg(contact.name()));
    }
    if (!contact.uid.isEmpty() && hasCards(store)) {
        store.execute(
            QStringLiteral("INSERT OR REPLACE INTO CustomerCard (CustID, Uid, Card, Agrees) VALUES (?, ?, ?, ?)"),
            {contact.key,
             contact.uid,
             contact.card.isNull() ? QByteArray("") : contact.card,
             contact.agrees.isNull() ? QByteArray("") : contact.agrees});
    }
}

QByteArray digest(CustomerStore& store, const QList<qint32>& keys)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const bool cards = hasCards(store);
    for (qsizetype first = 0; first < keys.size(); first += keysPerStatement) {
        const QList<qint32> some = keys.mid(first, keysPerStatement);
        RecordsetRelease release {store};
        // quote() keeps what tells values apart: a null from an empty text, a number from its digits.
        const QString card = cards ? QStringLiteral(", (SELECT quote(Uid) || quote(Card) FROM CustomerCard k WHERE "
                                                    "k.CustID = c.CustID)")
                                   : QString();
        ado::Recordset& rs = store.openQuery(
            QStringLiteral("SELECT CustID, quote(FirstName) || quote(LastName) || quote(Address) || quote(City) || "
                           "quote(State) || quote(Zip) || quote(PhoneNumber)")
                + card + QStringLiteral(" FROM Customer c WHERE CustID IN (") + marks(some.size())
                + QStringLiteral(") ORDER BY CustID"),
            valuesOf(some));
        for (; !rs.isEOF(); rs.MoveNext()) {
            hash.addData(QByteArray::number(rs.Fields(0).toLongLong()) + '\n');
            hash.addData(rs.Fields(1).toString().toUtf8() + '\n');
            if (cards) {
                hash.addData(rs.Fields(2).toString().toUtf8() + '\n');
            }
        }
    }
    return hash.result();
}

void takeAway(CustomerStore& store, const QList<qint32>& keys, const QByteArray& before)
{
    store.inChange([&] {
        if (digest(store, keys) != before) {
            throw ado::Error(QStringLiteral("Dopo l'importazione un altro programma ha modificato o eliminato alcuni "
                                            "dei contatti importati: nessun contatto è stato eliminato."));
        }
        qsizetype deleted = 0;
        for (qsizetype first = 0; first < keys.size(); first += keysPerStatement) {
            const QList<qint32> some = keys.mid(first, keysPerStatement);
            deleted += store.execute(QStringLiteral("DELETE FROM Customer WHERE CustID IN (") + marks(some.size())
                                         + QLatin1Char(')'),
                                     valuesOf(some));
        }
        if (deleted != keys.size()) {
            throw ado::Error(QStringLiteral("I contatti importati non sono più tutti nella rubrica: nessun contatto è "
                                            "stato eliminato."));
        }
    });
}

QString namesOf(const QList<KeptContact>& contacts)
{
    if (contacts.isEmpty()) {
        return QString();
    }
    if (contacts.size() == 1) {
        return QStringLiteral("di ") + contacts.first().name();
    }
    return QStringLiteral("di %1 contatti").arg(contacts.size());
}

UndoEntry deleteEntry(const KeptContact& contact)
{
    UndoEntry entry;
    entry.label = QStringLiteral("Annulla eliminazione ") + namesOf({contact});
    auto key = std::make_shared<qint32>(contact.key);
    entry.undo = [contact, key](CustomerStore& store) {
        const QList<BroughtBack> brought = bringBack(store, {contact});
        *key = brought.first().key;
        if (*key == contact.key) {
            return QString();
        }
        return QStringLiteral("Il codice %1 del contatto %2 nel frattempo è stato dato a un altro contatto: il "
                              "contatto è tornato con il codice %3.")
            .arg(QString::number(contact.key), contact.name(), QString::number(*key));
    };
    entry.keysToSelect = [key] { return QList<qint32> {*key}; };
    entry.onlyAdds = true;
    return entry;
}

UndoEntry importEntry(const QString& files, const QList<qint32>& keys, const QByteArray& digest)
{
    UndoEntry entry;
    entry.label
        = QStringLiteral("Annulla importazione di %1 (%2)")
              .arg(files,
                   keys.size() == 1 ? QStringLiteral("1 contatto") : QStringLiteral("%1 contatti").arg(keys.size()));
    entry.undo = [keys, digest](CustomerStore& store) {
        takeAway(store, keys, digest);
        return QString();
    };
    entry.untilNextChange = true;
    return entry;
}

} // namespace ContactUndo

void UndoStack::push(UndoEntry entry)
{
    m_entries.append(std::move(entry));
    while (m_entries.size() > depth) {
        m_entries.removeFirst();
    }
}

QString UndoStack::undo(CustomerStore& store, QList<qint32>* select, bool* onlyAdds)
{
    if (m_entries.isEmpty()) {
        return QString();
    }
    const UndoEntry& entry = m_entries.last();
    QString said;
    try {
        said = entry.undo(store);
    } catch (...) {
        // A step that holds only until the next change cannot succeed later either.
        if (m_entries.last().untilNextChange) {
            m_entries.removeLast();
        }
        throw;
    }
    if (select) {
        *select = entry.keysToSelect ? entry.keysToSelect() : QList<qint32>();
    }
    if (onlyAdds) {
        *onlyAdds = entry.onlyAdds;
    }
    m_entries.removeLast();
    return said;
}

void UndoStack::bookChanged()
{
    m_entries.erase(std::remove_if(m_entries.begin(),
                                   m_entries.end(),
                                   [](const UndoEntry& entry) { return entry.untilNextChange; }),
                    m_entries.end());
}
