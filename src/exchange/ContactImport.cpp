#include "exchange/ContactImport.h"

#include "data/Contact.h"
#include "data/ContactCards.h"
#include "exchange/CardEdit.h"
#include "exchange/ImportRules.h"

#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace {

// The duplicate keys of an import, exact, kept as their UTF-8 bytes one after another in one array with a table of
// where each starts: a set of strings would cost several times the keys themselves for every contact of a large file.
class KeySet
{
public:
    // Adds the key; false when it was there already.
    bool insert(const QString& key)
    {
        const QByteArray bytes = key.toUtf8();
        if (contains(bytes)) {
            return false;
        }
        if ((m_count + 1) * 2 > m_slots.size()) {
            grow();
        }
        const qint64 at = m_keys.size();
        const quint32 size = quint32(bytes.size());
        m_keys.append(reinterpret_cast<const char*>(&size), sizeof size).append(bytes);
        place(at, qHash(QByteArrayView(bytes)));
        ++m_count;
        return true;
    }

private:
    QByteArrayView keyAt(qint64 at) const
    {
        quint32 size = 0;
        std::memcpy(&size, m_keys.constData() + at, sizeof size);
        return QByteArrayView(m_keys).sliced(at + qint64(sizeof size), size);
    }

    bool contains(QByteArrayView bytes) const
    {
        if (m_slots.isEmpty()) {
            return false;
        }
        const qsizetype mask = m_slots.size() - 1;
        for (qsizetype i = qsizetype(qHash(bytes)) & mask;; i = (i + 1) & mask) {
            const qint64 at = m_slots.at(i);
            if (at < 0) {
                return false;
            }
            if (keyAt(at) == bytes) {
                return true;
            }
        }
    }

    void place(qint64 at, size_t hash)
    {
        const qsizetype mask = m_slots.size() - 1;
        qsizetype i = qsizetype(hash) & mask;
        while (m_slots.at(i) >= 0) {
            i = (i + 1) & mask;
        }
        m_slots[i] = at;
    }

    void grow()
    {
        const QList<qint64> old
            = std::exchange(m_slots, QList<qint64>(std::max<qsizetype>(64, m_slots.size() * 2), -1));
        for (const qint64 at : old) {
            if (at >= 0) {
                place(at, qHash(keyAt(at)));
            }
        }
    }

    QByteArray m_keys; // each key's length (4 bytes) and its bytes, one after another
    QList<qint64> m_slots; // where each key starts in m_keys, -1 for an empty slot; a power of two, never half full
    qsizetype m_count = 0;
};

void addStoredKeys(CustomerStore& store, KeySet& keys)
{
    RecordsetRelease release {store};
    ado::Recordset& rs = store.openQuery(ListQuery());
    while (!rs.isEOF()) {
        keys.insert(duplicateKey(contactFieldsAt(rs)));
        rs.MoveNext();
    }
}

// The card with its UID line saying uid: a card whose UID another contact holds must not carry it on.
QByteArray cardWithUid(const QByteArray& card, const QString& uid)
{
    const QByteArray edited = withLineEdits(card, [&](const ReadCard& read, QStringList& added) {
        QList<CardLineEdit> edits(read.lines.size());
        bool found = false;
        for (qsizetype i = 0; i < read.lines.size(); ++i) {
            if (read.lines.at(i).name == QLatin1String("UID")) {
                edits[i] = found ? CardLineEdit {CardLineEdit::Drop, {}}
                                 : CardLineEdit {CardLineEdit::Replace, rewrittenLine(read, read.lines.at(i), uid)};
                found = true;
            }
        }
        if (!found) {
            added.append(QStringLiteral("UID:") + uid);
        }
        return edits;
    });
    return edited.isEmpty() ? card : edited;
}

QString lineList(const QList<int>& lines)
{
    constexpr int shownLines = 10;
    QStringList numbers;
    for (int i = 0; i < lines.size() && i < shownLines; ++i) {
        numbers.append(QString::number(lines.at(i)));
    }
    if (lines.size() > shownLines) {
        numbers.append(QStringLiteral("…"));
    }
    return numbers.join(QLatin1String(", "));
}

QString sentence(const FileOutcome& file)
{
    const QString name = QFileInfo(file.path).fileName();
    QString text;
    if (file.added == 0) {
        text = QStringLiteral("Nessun contatto importato da %1").arg(name);
    } else if (file.added == 1) {
        text = QStringLiteral("Importato 1 contatto da %1").arg(name);
    } else {
        text = QStringLiteral("Importati %1 contatti da %2").arg(file.added).arg(name);
    }
    if (file.withDetails == 1) {
        text += file.added == 1
            ? QStringLiteral(", con altri dati oltre ai sette campi, conservati nella sua scheda")
            : QStringLiteral(" (1 con altri dati oltre ai sette campi, conservati nella sua scheda)");
    } else if (file.withDetails > 1) {
        text += QStringLiteral(" (%1 con altri dati oltre ai sette campi, conservati nelle loro schede)")
                    .arg(file.withDetails);
    }
    if (file.duplicates == 1) {
        text += QStringLiteral("; 1 già presente");
    } else if (file.duplicates > 1) {
        text += QStringLiteral("; %1 già presenti").arg(file.duplicates);
    }
    const qsizetype bad = file.unreadableLines.size();
    if (bad > 0) {
        const bool cards = file.format == ContactFormat::VCard;
        const QString what = bad == 1
            ? (cards ? QStringLiteral("scheda non leggibile") : QStringLiteral("riga non leggibile"))
            : (cards ? QStringLiteral("schede non leggibili") : QStringLiteral("righe non leggibili"));
        text += QStringLiteral("; %1 %2 (%3 %4)")
                    .arg(bad)
                    .arg(what,
                         bad == 1 ? QStringLiteral("riga") : QStringLiteral("righe"),
                         lineList(file.unreadableLines));
    }
    if (!file.unusedColumns.isEmpty()) {
        constexpr int shownColumns = 8;
        QStringList shown = file.unusedColumns.mid(0, shownColumns);
        if (file.unusedColumns.size() > shownColumns) {
            shown.append(QStringLiteral("…"));
        }
        text += (file.unusedColumns.size() == 1 ? QStringLiteral("; colonna non importata: %1")
                                                : QStringLiteral("; colonne non importate: %1"))
                    .arg(shown.join(QLatin1String(", ")));
    }
    return text + QLatin1Char('.');
}

} // namespace

QString ImportOutcome::summary() const
{
    QStringList sentences;
    for (const FileOutcome& file : files) {
        sentences.append(sentence(file));
    }
    return sentences.join(QLatin1Char(' '));
}

namespace {

// One file of an import: its contacts one at a time, and its size in the units of where a contact starts.
struct ImportSource
{
    QString path;
    ContactFormat format = ContactFormat::Unknown;
    qint64 size = 0;
    std::function<bool(const std::function<bool(const ReadContact&, qsizetype)>&, QList<int>&, QStringList&)> read;
};

ImportOutcome importSources(CustomerStore& store, const QList<ImportSource>& files, const Progress& progress)
{
    if (!store.mcnnCust) {
        throw ado::Error(QStringLiteral("La connessione al database non è aperta."));
    }
    qint64 total = 0;
    for (const ImportSource& file : files) {
        total += file.size;
    }

    ImportOutcome outcome;
    ado::Connection& connection = *store.mcnnCust;
    connection.BeginTrans();
    try {
        KeySet known;
        addStoredKeys(store, known);
        ContactCards::prepare(store);
        QSet<QString> uids = ContactCards::uids(store);
        // Cards go in a hundred at a time: one statement each would cost as much as the import's own work.
        constexpr qsizetype kCardsPerWrite = 100;
        QList<QPair<qint32, ContactCard>> cards;
        // The key rule is the window's, largest plus one; under the transaction's write lock no other program can
        // add a contact, so each next key is the one before plus one.
        qint32 key = store.GetNextCustID();
        qint64 count = 0;
        qint64 before = 0; // the size of the files already read
        for (const ImportSource& file : files) {
            FileOutcome result;
            result.path = file.path;
            result.format = file.format;
            const auto add = [&](const ReadContact& contact, qsizetype position) {
                if (progress && count % 256 == 0 && !progress(before + position, total)) {
                    return false;
                }
                ++count;
                const ContactFields fields = importedFields(contact.fields);
                if (!known.insert(duplicateKey(fields))) {
                    ++result.duplicates;
                    return true;
                }
                if (!outcome.addedKeys.isEmpty()) {
                    if (key == std::numeric_limits<qint32>::max()) {
                        throw ado::Error(QStringLiteral("Impossibile assegnare un nuovo codice al contatto."));
                    }
                    ++key;
                }
                store.execute(InsertStatement(key, fields));
                // The card keeps its UID unless another contact has it already: two contacts never share one.
                // A new random UID needs no place among those taken: only the files' own UIDs can meet again.
                const QString uid = contact.uid.trimmed().isEmpty() ? ContactCards::newUid()
                                                                    : ContactCards::uidFor(contact.uid, uids);
                QByteArray card = contact.card;
                if (card.isEmpty()) {
                    card = newCard(fields, uid);
                } else if (uid != contact.uid) {
                    card = cardWithUid(card, uid);
                }
                cards.append({key, {uid, card}});
                if (cards.size() == kCardsPerWrite) {
                    ContactCards::saveAll(store, cards);
                    cards.clear();
                }
                outcome.addedKeys.append(key);
                ++result.added;
                result.withDetails += contact.details;
                return true;
            };
            if (!file.read(add, result.unreadableLines, result.unusedColumns)) {
                connection.RollbackTrans();
                outcome.cancelled = true;
                outcome.addedKeys.clear();
                return outcome;
            }
            before += file.size;
            outcome.files.append(result);
        }
        ContactCards::saveAll(store, cards);
        if (progress && !progress(total, total)) {
            connection.RollbackTrans();
            outcome.cancelled = true;
            outcome.addedKeys.clear();
            outcome.files.clear();
            return outcome;
        }
        connection.CommitTrans();
    } catch (...) {
        connection.RollbackTrans();
        throw;
    }
    return outcome;
}

} // namespace

ImportOutcome importContacts(CustomerStore& store, const QList<DecodedContactFile>& files, const Progress& progress)
{
    QList<ImportSource> sources;
    for (const DecodedContactFile& file : files) {
        sources.append(
            {file.path, file.format, file.text.size(), [&file](const auto& contact, auto& lines, auto& columns) {
                 return file.forEachContact(contact, lines, columns);
             }});
    }
    return importSources(store, sources, progress);
}

ImportOutcome importContacts(CustomerStore& store, const QList<FileReading>& files, const Progress& progress)
{
    QList<ImportSource> sources;
    for (const FileReading& file : files) {
        sources.append({file.path,
                        file.format,
                        file.result.contacts.size(),
                        [&file](const auto& contact, auto& lines, auto& columns) {
                            lines = file.result.unreadableLines;
                            columns = file.result.unusedColumns;
                            for (qsizetype i = 0; i < file.result.contacts.size(); ++i) {
                                if (!contact(file.result.contacts.at(i), i)) {
                                    return false;
                                }
                            }
                            return true;
                        }});
    }
    return importSources(store, sources, progress);
}
