#include "data/BookRestore.h"

#include "data/Contact.h"
#include "data/DailyBackup.h"
#include "data/SystemText.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <cstdio>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

const QString kColumns = QStringLiteral("FirstName, LastName, Address, City, State, Zip, PhoneNumber");
const QFile::Permissions kOwnerOnly = QFile::ReadOwner | QFile::WriteOwner;

QString shown(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// A connection of its own, let go at scope end; a read-only one never creates or changes its file.
class Database
{
public:
    Database(const QString& path, bool readOnly, int busyMilliseconds = 2000)
    {
        static QAtomicInt counter;
        m_name = QStringLiteral("velmarin-restore-%1").arg(counter.fetchAndAddRelaxed(1));
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(path);
        db.setConnectOptions((readOnly ? QStringLiteral("QSQLITE_OPEN_READONLY;") : QString())
                             + QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyMilliseconds));
        if (!QFileInfo(path).isFile() || !db.open()) {
            const QString why = QFileInfo(path).isFile() ? SystemText::databaseError(db.lastError())
                                                         : QStringLiteral("il file non esiste");
            QSqlDatabase::removeDatabase(m_name);
            m_name.clear();
            throw ado::Error(QStringLiteral("Impossibile aprire '%1': %2.").arg(shown(path), why));
        }
    }
    ~Database()
    {
        if (m_name.isEmpty()) {
            return;
        }
        QSqlDatabase::database(m_name, false).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    QSqlQuery run(const QString& sql, const QVariantList& values = {}) const
    {
        QSqlQuery query(QSqlDatabase::database(m_name, false));
        query.setForwardOnly(true);
        if (!query.prepare(sql)) {
            throw ado::Error(SystemText::databaseError(query.lastError()));
        }
        for (const QVariant& value : values) {
            query.addBindValue(value);
        }
        if (!query.exec()) {
            throw ado::Error(SystemText::databaseError(query.lastError()));
        }
        return query;
    }
    bool hasTable(const QString& schema, const QString& table) const
    {
        QSqlQuery query = run(QStringLiteral("SELECT count(*) FROM ") + schema
                                  + QStringLiteral(".sqlite_master WHERE type = 'table' AND name = ?"),
                              {table});
        return query.next() && query.value(0).toInt() > 0;
    }

private:
    QString m_name;
};

ContactFields fieldsAt(const QSqlQuery& query, int first)
{
    return {textOf(query.value(first)),
            textOf(query.value(first + 1)),
            textOf(query.value(first + 2)),
            textOf(query.value(first + 3)),
            textOf(query.value(first + 4)),
            textOf(query.value(first + 5)),
            textOf(query.value(first + 6))};
}

QString prefixed(const QString& schema)
{
    QStringList columns = kColumns.split(QStringLiteral(", "));
    for (QString& column : columns) {
        column.prepend(schema + QLatin1Char('.'));
    }
    return columns.join(QStringLiteral(", "));
}

int contactsIn(const QString& path)
{
    try {
        Database db(path, true);
        QSqlQuery query = db.run(QStringLiteral("SELECT count(*) FROM Customer"));
        return query.next() ? query.value(0).toInt() : -1;
    } catch (const ado::Error&) {
        return -1;
    }
}

// A copy that is an address book the program can open: SQLite's own check, and the contacts' table.
void checkCopy(const QString& copyPath)
{
    QString why;
    try {
        Database db(copyPath, true);
        QSqlQuery check = db.run(QStringLiteral("PRAGMA quick_check"));
        if (!check.next() || check.value(0).toString() != QLatin1String("ok")) {
            why = check.value(0).toString();
        } else if (!db.hasTable(QStringLiteral("main"), QStringLiteral("Customer"))) {
            why = QStringLiteral("non contiene contatti");
        }
    } catch (const ado::Error& error) {
        why = error.description();
    }
    if (!why.isEmpty()) {
        throw ado::Error(QStringLiteral("La copia '%1' è danneggiata o non è una rubrica (%2): la rubrica non è "
                                        "stata modificata.")
                             .arg(shown(copyPath), why));
    }
}

// SQLite's consistent copy of source into target, a new file its owner alone may read.
void vacuumInto(const QString& source, const QString& target)
{
    QFile::remove(target);
    QFile empty(target);
    if (!empty.open(QIODevice::WriteOnly | QIODevice::NewOnly) || !empty.setPermissions(kOwnerOnly)) {
        throw ado::Error(
            QStringLiteral("Impossibile scrivere '%1': %2.").arg(shown(target), SystemText::fileError(empty)));
    }
    empty.close();
    try {
        Database db(source, true);
        db.run(QStringLiteral("VACUUM INTO ?"), {target});
    } catch (...) {
        QFile::remove(target);
        throw;
    }
}

// The copy's links to the server's cards are from its day: a sync would delete again, as deleted there, the contacts
// the restore brought back. Without them the next sync pairs the contacts on both sides as a first sync does, and
// deletes nothing.
void forgetSyncState(const QString& path)
{
    Database db(path, false);
    if (db.hasTable(QStringLiteral("main"), QStringLiteral("CustomerSync"))) {
        db.run(QStringLiteral("DELETE FROM CustomerSync"));
    }
    if (db.hasTable(QStringLiteral("main"), QStringLiteral("CustomerSyncState"))) {
        db.run(QStringLiteral("DELETE FROM CustomerSyncState WHERE Name = ?"), {QStringLiteral("token")});
    }
}

// The one step that changes the book: the new file takes its name at once, or nothing happens.
bool renameOver(const QString& from, const QString& to)
{
#ifdef Q_OS_WIN
    return MoveFileExW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(from).utf16()),
                       reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(to).utf16()),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
#else
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
#endif
}

QString beforeRestoreName(const QString& folder, const QDate& today)
{
    const QString base = QStringLiteral("Cust-%1-prima-del-ripristino").arg(today.toString(Qt::ISODate));
    QString name = base + QStringLiteral(".mdb");
    // A second restore on the same day keeps the book the first one replaced.
    for (int n = 2; QFileInfo::exists(QDir(folder).filePath(name)); ++n) {
        name = base + QStringLiteral("-%1.mdb").arg(n);
    }
    return QDir(folder).filePath(name);
}

} // namespace

namespace BookRestore {

QList<Copy> copies(const QString& bookPath)
{
    static const QRegularExpression pattern(
        QStringLiteral("^Cust-(\\d{4}-\\d{2}-\\d{2})(-prima-del-ripristino(?:-\\d+)?)?\\.mdb$"));
    const QDir folder(DailyBackup::folderFor(bookPath));
    QList<Copy> found;
    for (const QFileInfo& file : folder.entryInfoList({QStringLiteral("Cust-*.mdb")}, QDir::Files)) {
        const QRegularExpressionMatch match = pattern.match(file.fileName());
        const QDate date = match.hasMatch() ? QDate::fromString(match.captured(1), Qt::ISODate) : QDate();
        if (!date.isValid()) {
            continue;
        }
        found.append({file.filePath(),
                      date,
                      file.lastModified(),
                      file.size(),
                      contactsIn(file.filePath()),
                      match.capturedLength(2) > 0});
    }
    std::sort(found.begin(), found.end(), [](const Copy& a, const Copy& b) {
        return a.date != b.date ? a.date > b.date : a.modified > b.modified;
    });
    return found;
}

QList<Difference> compare(const QString& bookPath, const QString& copyPath)
{
    Database db(bookPath, true);
    db.run(QStringLiteral("ATTACH DATABASE ? AS copia"), {copyPath});
    if (!db.hasTable("copia", "Customer")) {
        throw ado::Error(QStringLiteral("La copia '%1' non è una rubrica.").arg(shown(copyPath)));
    }
    QList<Difference> differences;
    const auto only = [&](Difference::Kind kind, const QString& from, const QString& other) {
        QSqlQuery query = db.run(QStringLiteral("SELECT a.CustID, ") + prefixed(QStringLiteral("a"))
                                 + QStringLiteral(" FROM ") + from
                                 + QStringLiteral(".Customer a WHERE NOT EXISTS "
                                                  "(SELECT 1 FROM ")
                                 + other + QStringLiteral(".Customer b WHERE b.CustID = a.CustID) ORDER BY a.CustID"));
        while (query.next()) {
            Difference difference;
            difference.kind = kind;
            difference.key = query.value(0).toInt();
            (kind == Difference::DeletedSince ? difference.inCopy : difference.inBook) = fieldsAt(query, 1);
            differences.append(difference);
        }
    };
    only(Difference::DeletedSince, QStringLiteral("copia"), QStringLiteral("main"));

    // A change of case is a change: the columns compare without regard to it unless told.
    QStringList changed;
    for (const QString& column : kColumns.split(QStringLiteral(", "))) {
        changed.append(QStringLiteral("c.%1 IS NOT m.%1 COLLATE BINARY").arg(column));
    }
    QString cards;
    if (db.hasTable("main", "CustomerCard") && db.hasTable("copia", "CustomerCard")) {
        changed.append(QStringLiteral("(SELECT Card FROM copia.CustomerCard k WHERE k.CustID = c.CustID) IS NOT "
                                      "(SELECT Card FROM main.CustomerCard k WHERE k.CustID = m.CustID)"));
    }
    QSqlQuery query = db.run(QStringLiteral("SELECT m.CustID, ") + prefixed(QStringLiteral("c")) + QStringLiteral(", ")
                             + prefixed(QStringLiteral("m"))
                             + QStringLiteral(" FROM main.Customer m JOIN copia.Customer c ON c.CustID = m.CustID "
                                              "WHERE ")
                             + changed.join(QStringLiteral(" OR ")) + QStringLiteral(" ORDER BY m.CustID"));
    while (query.next()) {
        differences.append({Difference::ChangedSince, query.value(0).toInt(), fieldsAt(query, 1), fieldsAt(query, 8)});
    }
    query.finish();
    only(Difference::AddedSince, QStringLiteral("main"), QStringLiteral("copia"));
    return differences;
}

QList<KeptContact> contactsOfCopy(const QString& copyPath, const QList<qint32>& keys)
{
    Database db(copyPath, true);
    const bool cards = db.hasTable("main", "CustomerCard");
    QList<KeptContact> kept;
    constexpr qsizetype keysPerStatement = 100;
    for (qsizetype first = 0; first < keys.size(); first += keysPerStatement) {
        const QList<qint32> some = keys.mid(first, keysPerStatement);
        QVariantList values;
        for (const qint32 key : some) {
            values << key;
        }
        QSqlQuery query = db.run(QStringLiteral("SELECT c.CustID, ") + prefixed(QStringLiteral("c"))
                                     + (cards ? QStringLiteral(", k.Uid, k.Card FROM Customer c LEFT JOIN "
                                                               "CustomerCard k ON k.CustID = c.CustID")
                                              : QStringLiteral(", NULL, NULL FROM Customer c"))
                                     + QStringLiteral(" WHERE c.CustID IN (")
                                     + QStringList(some.size(), QStringLiteral("?")).join(QStringLiteral(", "))
                                     + QStringLiteral(") ORDER BY c.CustID"),
                                 values);
        while (query.next()) {
            KeptContact contact;
            contact.key = query.value(0).toInt();
            for (int i = 1; i <= 7; ++i) {
                contact.columns.append(query.value(i));
            }
            contact.uid = textOf(query.value(8));
            contact.card = query.value(9).toByteArray();
            kept.append(contact);
        }
    }
    return kept;
}

QString replaceBook(const QString& bookPath, const QString& copyPath, const QDate& today)
{
    const QString book = QFileInfo(bookPath).absoluteFilePath();
    if (QFileInfo(copyPath).absoluteFilePath() == book) {
        throw ado::Error(QStringLiteral("La copia indicata è la rubrica stessa."));
    }
    checkCopy(copyPath);
    if (!QFileInfo(book).isWritable() || !QFileInfo(QFileInfo(book).absolutePath()).isWritable()) {
        throw ado::Error(QStringLiteral("La rubrica '%1' o la sua cartella non si possono modificare: la rubrica non "
                                        "è stata sostituita.")
                             .arg(shown(book)));
    }

    // Holding the write lock keeps every other program's change out until the copy is in place.
    Database lock(book, false, 0);
    try {
        lock.run(QStringLiteral("BEGIN IMMEDIATE"));
    } catch (const ado::Error&) {
        throw ado::Error(QStringLiteral("Un altro programma sta modificando la rubrica '%1': riprovare quando ha "
                                        "finito. La rubrica non è stata modificata.")
                             .arg(shown(book)));
    }

    // Another file put under a write-ahead log's name would be read with the old book's log.
    QSqlQuery mode = lock.run(QStringLiteral("PRAGMA journal_mode"));
    if (mode.next() && mode.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0) {
        throw ado::Error(QStringLiteral("La rubrica '%1' è tenuta da SQLite in modalità WAL: non può essere sostituita "
                                        "mentre la usa. La rubrica non è stata modificata.")
                             .arg(shown(book)));
    }
    mode.finish();

    const QString folder = DailyBackup::folderFor(book);
    if (!QFileInfo(folder).isDir()
        && (!QDir().mkpath(folder)
            || !QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))) {
        throw ado::Error(QStringLiteral("Impossibile creare la cartella '%1'.").arg(shown(folder)));
    }
    const QString pid = QString::number(QCoreApplication::applicationPid());
    const QString saved = beforeRestoreName(folder, today);
    const QString savedPartial = saved + QStringLiteral(".parziale-") + pid;
    vacuumInto(book, savedPartial);
    if (!QFile::rename(savedPartial, saved)) {
        QFile::remove(savedPartial);
        throw ado::Error(QStringLiteral("Impossibile scrivere '%1'.").arg(shown(saved)));
    }
    const QString beside = book + QStringLiteral(".ripristino-") + pid;
    try {
        vacuumInto(copyPath, beside);
        forgetSyncState(beside);
    } catch (...) {
        QFile::remove(beside);
        QFile::remove(saved);
        throw;
    }
    if (!renameOver(beside, book)) {
        QFile::remove(beside);
        QFile::remove(saved);
        throw ado::Error(
            QStringLiteral("Impossibile sostituire '%1': la rubrica non è stata modificata.").arg(shown(book)));
    }
    return saved;
}

QString describe(const Copy& copy)
{
    const QLocale italian(QLocale::Italian, QLocale::Italy);
    QString text = italian.toString(copy.date, QStringLiteral("d MMMM yyyy"));
    if (copy.beforeRestore) {
        text += QStringLiteral(" (prima del ripristino)");
    }
    text += QStringLiteral(" — ");
    text += copy.contacts < 0 ? QStringLiteral("illeggibile")
        : copy.contacts == 1  ? QStringLiteral("1 contatto")
                              : QStringLiteral("%1 contatti").arg(italian.toString(copy.contacts));
    text += QStringLiteral(" — ") + italian.formattedDataSize(copy.size, 1, QLocale::DataSizeTraditionalFormat);
    return text;
}

} // namespace BookRestore
