#include "data/Ado.h"

#include "data/DailyBackup.h"

#include <QAtomicInt>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>
#include <QUrl>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace ado {
namespace {

const QString jetProvider = QStringLiteral("Microsoft.Jet.OLEDB.4.0");

QString shown(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// SQLite's primary result codes for the failures a user can do something about.
enum EngineCode {
    Busy = 5,
    Locked = 6,
    ReadOnly = 8,
    IoError = 10,
    Corrupt = 11,
    Full = 13,
    CantOpen = 14,
    Constraint = 19,
    NotADb = 26
};

// The engine's own words where it gave any; the failures that come from the file or from other programs rather than
// from the statement are told in Italian. With the file's path, a file that lacks what the program needs or refuses
// what it writes is named in an Italian sentence before the engine's words.
QString describe(const QSqlError& error, const QString& path = {})
{
    const int code = error.nativeErrorCode().toInt() & 0xff;
    // The engine writes its journal beside the file: a folder that cannot be written refuses every change, however
    // writable the file is.
    if ((code == ReadOnly || code == CantOpen) && !path.isEmpty() && QFileInfo(path).isWritable()
        && !QFileInfo(QFileInfo(path).absolutePath()).isWritable()) {
        return QStringLiteral("La cartella '%1' del database è di sola lettura: le modifiche non possono essere "
                              "salvate.")
            .arg(shown(QFileInfo(path).absolutePath()));
    }
    switch (code) {
    case Busy:
    case Locked:
        return QStringLiteral("Il database è in uso da parte di un altro programma: riprovare tra qualche istante.");
    case ReadOnly:
        return QStringLiteral("Il file del database è di sola lettura: le modifiche non possono essere salvate.");
    case IoError:
        return QStringLiteral("Errore di lettura o scrittura sul file del database.");
    case Corrupt:
    case NotADb:
        return QStringLiteral("Il file del database è danneggiato o non è un database.");
    case Full:
        return QStringLiteral("Il disco è pieno: le modifiche non possono essere salvate.");
    case CantOpen:
        return QStringLiteral("Impossibile accedere al file del database o alla sua cartella.");
    default:
        break;
    }
    QString engine = error.databaseText().trimmed();
    if (engine.isEmpty()) {
        engine = error.text().trimmed();
    }
    static const QString unique = QStringLiteral("UNIQUE constraint failed: ");
    if (code == Constraint && engine.startsWith(unique)) {
        // Two programs adding at once pick the same key; the second one is told why and that saving again works.
        return QStringLiteral("Il codice è già in uso (%1): forse un altro programma ha appena aggiunto un contatto. "
                              "Riprovare a salvare.")
            .arg(engine.mid(unique.size()));
    }
    if (path.isEmpty()) {
        return engine;
    }
    static const QRegularExpression missingTable(QStringLiteral("^no such table: (\\S+)"));
    static const QRegularExpression missingColumn(QStringLiteral("^no such column: (\\S+)"));
    static const QRegularExpression view(QStringLiteral("^cannot modify (\\S+) because it is a view"));
    QString cause;
    if (const auto match = missingTable.match(engine); match.hasMatch()) {
        cause = match.captured(1).compare(QLatin1String("Customer"), Qt::CaseInsensitive) == 0
            ? QStringLiteral("Il file '%1' non contiene la tabella dei contatti (Customer).").arg(shown(path))
            : QStringLiteral("Il file '%1' non contiene la tabella '%2'.").arg(shown(path), match.captured(1));
    } else if (const auto match = missingColumn.match(engine); match.hasMatch()) {
        cause = QStringLiteral("Nel file '%1' manca la colonna '%2' della tabella dei contatti.")
                    .arg(shown(path), match.captured(1));
    } else if (const auto match = view.match(engine); match.hasMatch()) {
        cause = QStringLiteral("Nel file '%1' la tabella '%2' è una vista, che non si può modificare.")
                    .arg(shown(path), match.captured(1));
    } else if (code == Constraint) {
        cause = QStringLiteral("Il file '%1' ha una regola che non accetta questi dati.").arg(shown(path));
    }
    return cause.isEmpty() ? engine : cause + QLatin1Char('\n') + engine;
}

// keyword=value pairs separated by ";"; keywords without regard to case or repeated spaces, values optionally in
// single or double quotes (a quote inside written twice).
// sourceTail receives the text from the first unquoted data source's value to the end of the string: a folder name
// may hold ";" and "=", which make the rest read as more keywords.
QHash<QString, QString> parseConnectionString(const QString& text, QString* sourceTail)
{
    const auto invalid
        = [&text]() { return Error(QStringLiteral("La stringa di connessione non è valida: \"%1\".").arg(text)); };
    QHash<QString, QString> values;
    QString unquotedSource; // null unless the last pair read was an unquoted data source
    qsizetype sourceEnd = 0; // where the last unquoted value ends, trailing spaces excluded
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        while (i < n && (text.at(i).isSpace() || text.at(i) == QLatin1Char(';'))) {
            ++i;
        }
        if (i >= n) {
            break;
        }
        const qsizetype keyStart = i;
        while (i < n && text.at(i) != QLatin1Char('=') && text.at(i) != QLatin1Char(';')) {
            ++i;
        }
        const QString keyword = text.mid(keyStart, i - keyStart).simplified().toLower();
        if ((i >= n || text.at(i) == QLatin1Char(';')) && !unquotedSource.isNull()) {
            // No keyword: the ";" belongs to the folder name of an unquoted data source, kept as written.
            qsizetype to = i;
            while (to > keyStart && text.at(to - 1).isSpace()) {
                --to;
            }
            unquotedSource += text.mid(sourceEnd, to - sourceEnd);
            sourceEnd = to;
            values.insert(QStringLiteral("data source"), unquotedSource);
            continue;
        }
        if (i >= n || text.at(i) != QLatin1Char('=') || keyword.isEmpty()) {
            throw invalid();
        }
        ++i;
        while (i < n && text.at(i).isSpace()) {
            ++i;
        }
        QString value;
        const bool quoted = i < n && (text.at(i) == QLatin1Char('"') || text.at(i) == QLatin1Char('\''));
        if (quoted) {
            const QChar quote = text.at(i++);
            for (;; ++i) {
                if (i >= n) {
                    throw invalid();
                }
                if (text.at(i) == quote) {
                    if (i + 1 < n && text.at(i + 1) == quote) {
                        ++i;
                    } else {
                        break;
                    }
                }
                value.append(text.at(i));
            }
            ++i;
            while (i < n && text.at(i).isSpace()) {
                ++i;
            }
            if (i < n && text.at(i) != QLatin1Char(';')) {
                throw invalid();
            }
        } else {
            const qsizetype valueStart = i;
            if (keyword == QLatin1String("data source") && sourceTail->isNull()) {
                *sourceTail = text.mid(valueStart);
            }
            while (i < n && text.at(i) != QLatin1Char(';')) {
                ++i;
            }
            sourceEnd = i;
            while (sourceEnd > valueStart && text.at(sourceEnd - 1).isSpace()) {
                --sourceEnd;
            }
            value = text.mid(valueStart, sourceEnd - valueStart);
        }
        unquotedSource = keyword == QLatin1String("data source") && !quoted ? value : QString();
        values.insert(keyword, value);
    }
    return values;
}

// The program's own file. Its windows spell it differently ("Cust.mdb", "cust.mdb"), so among names that differ
// only in letter case this spelling wins for all of them.
const QString programFileName = QStringLiteral("Cust.mdb");

// The file of that name in its folder, found without regard to letter case. Where several names differ only in case,
// the one spelled as the program's file (or, for any other name, as asked) wins, else the first in name order, so
// every spelling reaches one file. The name as given when none.
QString matchFileName(const QString& absolutePath)
{
    const QFileInfo info(absolutePath);
    const QDir folder = info.absoluteDir();
    const QString preferred
        = info.fileName().compare(programFileName, Qt::CaseInsensitive) == 0 ? programFileName : info.fileName();
    const QStringList entries
        = folder.entryList(QDir::Files | QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    QString first;
    for (const QString& entry : entries) {
        if (entry == preferred) {
            return folder.filePath(entry);
        }
        if (first.isEmpty() && entry.compare(info.fileName(), Qt::CaseInsensitive) == 0) {
            first = entry;
        }
    }
    return first.isEmpty() ? absolutePath : folder.filePath(first);
}

// The file a data source names. A backslash is a separator, but where the platform allows it it may also be part
// of a folder name: the backslashes are taken as separators from the right, one more at a time, until the file is
// found. When none is, the reading with every backslash a separator, and exists is false.
QString findDataSource(const QString& source, bool* exists)
{
    QString candidate = source;
    qsizetype at = candidate.size();
    for (;;) {
        const QString found = matchFileName(QDir::cleanPath(QFileInfo(candidate).absoluteFilePath()));
        *exists = QFileInfo::exists(found);
        at = at > 0 ? candidate.lastIndexOf(QLatin1Char('\\'), at - 1) : -1;
        if (*exists || at < 0) {
            return found;
        }
        candidate[at] = QLatin1Char('/');
    }
}

// Refuses, before SQLite sees it, every file that is not a SQLite database: SQLite itself would treat an empty
// file as a new database, and its own message for a foreign file names no path.
void checkDatabaseFile(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        throw Error(QStringLiteral("Impossibile trovare il file '%1'.").arg(shown(path)));
    }
    if (info.isDir()) {
        throw Error(QStringLiteral("'%1' è una cartella, non un file di database.").arg(shown(path)));
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw Error(QStringLiteral("Impossibile leggere il file '%1': %2.").arg(shown(path), file.errorString()));
    }
    const QByteArray head = file.read(32);
    if (head.isEmpty()) {
        throw Error(QStringLiteral("Il file '%1' è vuoto: non contiene un database.").arg(shown(path)));
    }
    if (head.mid(4, 15) == "Standard Jet DB" || head.mid(4, 15) == "Standard ACE DB") {
        throw Error(QStringLiteral("Il file '%1' è un database in formato Jet: questo formato non è supportato, serve "
                                   "un database SQLite.")
                        .arg(shown(path)));
    }
    if (!head.startsWith(QByteArrayView("SQLite format 3\0", 16))) {
        throw Error(QStringLiteral("Il file '%1' non è un database SQLite.").arg(shown(path)));
    }
}

WriteStepHook& writeStepHook()
{
    static WriteStepHook hook;
    return hook;
}

void reach(WriteStep step, const QString& path)
{
    if (const WriteStepHook& hook = writeStepHook()) {
        hook(step, path);
    }
}

// The newest daily copy beside the book, so that a user whose book was replaced knows where their contacts are.
QString copyNote(const QString& path)
{
    const QString folder = DailyBackup::folderFor(path);
    const QStringList copies = DailyBackup::copiesIn(folder);
    if (copies.isEmpty()) {
        return QStringLiteral(" Nella cartella '%1' non c'è ancora una copia di sicurezza della rubrica.")
            .arg(shown(folder));
    }
    return QStringLiteral(" La copia di sicurezza più recente della rubrica è '%1'.").arg(shown(copies.last()));
}

quint32 counterOf(const QByteArray& header)
{
    if (header.size() < 4) {
        return 0;
    }
    return (quint32(quint8(header.at(0))) << 24) | (quint32(quint8(header.at(1))) << 16)
        | (quint32(quint8(header.at(2))) << 8) | quint32(quint8(header.at(3)));
}

QString nextConnectionName()
{
    static QAtomicInt counter;
    return QStringLiteral("velmarin-ado-%1").arg(counter.fetchAndAddRelaxed(1));
}

} // namespace

Error::Error(const QString& description)
    : std::runtime_error(description.toStdString())
    , m_description(description)
{
}

FileReplaced::FileReplaced(const QString& path, When when)
    : Error((when == BeforeCommit
                 ? QStringLiteral("Il file della rubrica '%1' è stato sostituito o modificato da un altro programma: "
                                  "nessuna modifica è stata salvata.")
                 : QStringLiteral("Il file della rubrica '%1' è stato sostituito o modificato da un altro programma "
                                  "durante il salvataggio: la modifica non è stata salvata nella rubrica che ora si "
                                  "trova in quel file."))
                .arg(shown(path))
            + copyNote(path))
    , m_when(when)
{
}

void setWriteStepHook(WriteStepHook hook)
{
    writeStepHook() = std::move(hook);
}

QString dataSourcePath(const QString& connectionString)
{
    QString sourceTail;
    const QHash<QString, QString> values = parseConnectionString(connectionString, &sourceTail);
    const auto provider = values.constFind(QStringLiteral("provider"));
    if (provider == values.cend() || provider->isEmpty()) {
        throw Error(QStringLiteral("La stringa di connessione non indica il provider (Provider=%1).").arg(jetProvider));
    }
    if (provider->compare(jetProvider, Qt::CaseInsensitive) != 0) {
        throw Error(QStringLiteral("Impossibile trovare il provider '%1'. È possibile che non sia installato "
                                   "correttamente.")
                        .arg(*provider));
    }
    const QString source = values.value(QStringLiteral("data source"));
    if (source.isEmpty()) {
        throw Error(QStringLiteral("La stringa di connessione non indica il file del database (Data Source)."));
    }
    // An unquoted data source read up to a ";" may be only the start of a folder name holding ";": the longest
    // reading that names an existing file is the one meant.
    bool exists = false;
    for (qsizetype end = sourceTail.size(); end > source.size();
         end = sourceTail.lastIndexOf(QLatin1Char(';'), end - 1)) {
        const QString found = findDataSource(sourceTail.left(end).trimmed(), &exists);
        if (exists) {
            return found;
        }
    }
    return findDataSource(source, &exists);
}

Connection::Connection() = default;

Connection::~Connection()
{
    Close();
}

void Connection::Open(const QString& connectionString, const QString&, const QString&, int)
{
    if (isOpen()) {
        throw Error(QStringLiteral("Operazione non consentita quando l'oggetto è aperto."));
    }
    if (!connectionString.isEmpty()) {
        ConnectionString = connectionString;
    }
    const QString path = dataSourcePath(ConnectionString);
    checkDatabaseFile(path);
    m_connectionName = attach(path);
    m_filePath = path;
    openMarks();
    m_stamp = stampOf(path);
}

QString Connection::attach(const QString& path)
{
    const QString name = nextConnectionName();
    QString failure;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        // mode=rw: SQLite must never create the file, even if it vanished since the check above. A file that cannot
        // be written is opened for reading only, so the contacts can still be browsed and printed.
        db.setDatabaseName(QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded) + QLatin1String("?mode=rw"));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=3000"));
        if (!db.open()) {
            failure
                = QStringLiteral("Impossibile aprire il database '%1': %2").arg(shown(path), describe(db.lastError()));
        } else {
            // Reading the schema makes a damaged or locked file fail here rather than at the first statement.
            QSqlQuery probe(db);
            if (!probe.exec(QStringLiteral("SELECT COUNT(*) FROM sqlite_master")) || !probe.next()) {
                failure = QStringLiteral("Impossibile leggere il database '%1': %2")
                              .arg(shown(path), describe(probe.lastError()));
            }
            probe.finish();
            // The pages a transaction changes stay in memory until COMMIT: a transaction given up writes nothing
            // into the file, so its rollback never plays old pages into a file put there meanwhile.
            QSqlQuery(db).exec(QStringLiteral("PRAGMA cache_spill = OFF"));
        }
        if (!failure.isEmpty()) {
            db.close();
        }
    }
    if (!failure.isEmpty()) {
        QSqlDatabase::removeDatabase(name);
        throw Error(failure);
    }
    return name;
}

Connection::FileStamp Connection::stampOf(const QString& path) const
{
    FileStamp stamp;
    const QFileInfo info(path);
    stamp.exists = info.isFile();
    stamp.writable = stamp.exists && info.isWritable();
    if (!stamp.exists) {
        return stamp;
    }
#ifdef Q_OS_UNIX
    struct stat status;
    if (::stat(QFile::encodeName(path).constData(), &status) == 0) {
        stamp.device = quint64(status.st_dev);
        stamp.inode = quint64(status.st_ino);
        stamp.size = qint64(status.st_size);
        stamp.modified = qint64(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    }
#else
    stamp.size = info.size();
    stamp.modified = info.lastModified().toMSecsSinceEpoch() * 1000000;
#endif
    if (m_marks && m_marks->isOpen()) {
#ifdef Q_OS_UNIX
        struct stat opened;
        if (::fstat(m_marks->handle(), &opened) != 0 || quint64(opened.st_dev) != stamp.device
            || quint64(opened.st_ino) != stamp.inode) {
            return stamp; // another file: its content marks do not matter
        }
#endif
        if (m_marks->seek(24)) {
            stamp.header = m_marks->read(4);
        }
    }
    return stamp;
}

void Connection::openMarks()
{
    auto marks = std::make_unique<QFile>(m_filePath);
    if (marks->open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        m_marks = std::move(marks);
    } else {
        m_marks.reset();
    }
}

void Connection::checkFile()
{
    if (m_connectionName.isEmpty()) {
        return;
    }
    const FileStamp now = stampOf(m_filePath);
    if (!now.exists) {
        // What the transaction would commit would go into a file nobody can reach.
        abandonTransaction();
        throw Error(QStringLiteral("Il file del database '%1' non è più disponibile: è stato spostato o eliminato.")
                        .arg(shown(m_filePath)));
    }
    if (now == m_stamp) {
        return;
    }
    const bool otherFile = !now.sameFile(m_stamp);
    const bool permission = now.writable != m_stamp.writable;
    if (m_inTransaction) {
        // Under the write lock no program that goes through the engine changes the file, and this connection's own
        // pages reach it only at COMMIT: whatever changed it wrote past the engine or put another file there.
        const bool replaced = otherFile || !now.sameContent(m_stamp);
        if (replaced) {
            reopenAfterReplacement();
            throw FileReplaced(m_filePath);
        }
        abandonTransaction();
        checkDatabaseFile(m_filePath);
        replaceConnection(attach(m_filePath));
        m_stamp = now;
        throw Error(QStringLiteral("I permessi del file del database '%1' sono cambiati durante il salvataggio: "
                                   "nessuna modifica è stata salvata.")
                        .arg(shown(m_filePath)));
    }
    // The engine counts every commit it makes in the header. Content that changed while that count stayed was
    // written past the engine (a copy over the file), and the pages the connection keeps in memory are stale.
    const bool rewritten = !otherFile && !now.sameContent(m_stamp) && now.header == m_stamp.header;
    if (otherFile || rewritten || permission) {
        // The new connection is made before the old one is let go, so a refused file leaves things as they were.
        checkDatabaseFile(m_filePath);
        replaceConnection(attach(m_filePath));
        if (otherFile) {
            openMarks();
        }
        if (otherFile || rewritten) {
            ++m_replacements;
        }
    }
    m_stamp = otherFile ? stampOf(m_filePath) : now;
}

void Connection::abandonTransaction()
{
    if (!m_inTransaction) {
        return;
    }
    m_inTransaction = false;
    // Nothing of the transaction reached the file (no cache spill), so the rollback only drops pages in memory and
    // deletes the journal, which would otherwise be played into whatever file next opens at the path.
    QSqlQuery rollback(database());
    if (!rollback.exec(QStringLiteral("ROLLBACK"))) {
        // Closing ends the transaction all the same.
        replaceConnection(QString());
    }
}

void Connection::reopenAfterReplacement()
{
    abandonTransaction();
    ++m_replacements;
    try {
        checkDatabaseFile(m_filePath);
        const QString name = attach(m_filePath);
        replaceConnection(name);
        openMarks();
        m_stamp = stampOf(m_filePath);
    } catch (const Error&) {
        // Left as it is, the stamp differs from the file there, so the next statement tries again and says why.
    }
}

void Connection::replaceConnection(const QString& name)
{
    if (!m_connectionName.isEmpty()) {
        {
            QSqlDatabase old = QSqlDatabase::database(m_connectionName, false);
            old.close();
        }
        QSqlDatabase::removeDatabase(m_connectionName);
    }
    m_connectionName = name;
}

void Connection::noteOwnWrite()
{
    if (m_inTransaction) {
        return; // nothing reaches the file before COMMIT
    }
    const FileStamp now = stampOf(m_filePath);
    if (now.exists && now.sameFile(m_stamp) && now.writable == m_stamp.writable) {
        m_stamp = now;
    }
}

bool Connection::committedAsExpected(const FileStamp& before, qint64 pages, qint64 pageSize, bool wal) const
{
    const FileStamp now = stampOf(m_filePath);
    if (!now.exists || !now.sameFile(before)) {
        return false;
    }
    if (wal) {
        return true; // the commit went to the write-ahead log; the file itself is written later
    }
    const quint32 counter = counterOf(before.header);
    if (counterOf(now.header) == counter) {
        return now.sameContent(before); // the transaction changed nothing, so the commit wrote nothing
    }
    QByteArray pageCount;
    if (m_marks && m_marks->seek(28)) {
        pageCount = m_marks->read(4);
    }
    return counterOf(now.header) == counter + 1 && now.size == pages * pageSize
        && counterOf(pageCount) == quint32(pages);
}

void Connection::BeginTrans()
{
    if (!isOpen()) {
        throw Error(QStringLiteral("Operazione non consentita quando la connessione è chiusa."));
    }
    checkFile();
    QSqlQuery begin(database());
    if (!begin.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        throw Error(describe(begin.lastError(), m_filePath));
    }
    m_inTransaction = true;
    // Another program may have committed, or put another file there, between the check above and the lock.
    const FileStamp now = stampOf(m_filePath);
    if (!now.sameFile(m_stamp) || (!now.sameContent(m_stamp) && now.header == m_stamp.header)) {
        reopenAfterReplacement();
        throw FileReplaced(m_filePath);
    }
    m_stamp = now;
    reach(WriteStep::Begun, m_filePath);
}

void Connection::CommitTrans()
{
    if (!m_inTransaction) {
        throw Error(QStringLiteral("Nessuna transazione aperta."));
    }
    reach(WriteStep::Committing, m_filePath);
    // The last look before the pages written in this transaction reach the file.
    checkFile();
    // What the commit will leave: the transaction's pages, and whether they go to the file or to a write-ahead log.
    const auto pragma = [this](const char* name) {
        QSqlQuery query(database());
        return query.exec(QLatin1String("PRAGMA ") + QLatin1String(name)) && query.next() ? query.value(0) : QVariant();
    };
    const qint64 pages = pragma("page_count").toLongLong();
    const qint64 pageSize = pragma("page_size").toLongLong();
    const bool wal = pragma("journal_mode").toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0;
    const FileStamp before = m_stamp;
    // Another connection of this program (the sync's worker) commits only once this one has looked at what its commit
    // left, so that its commit is never taken for another book put there.
    static QMutex committing;
    const QMutexLocker lock(&committing);
    QSqlQuery commit(database());
    if (!commit.exec(QStringLiteral("COMMIT"))) {
        throw Error(describe(commit.lastError(), m_filePath));
    }
    m_inTransaction = false;
    reach(WriteStep::Committed, m_filePath);
    // The commit went into the file the connection holds; the book the user has is the one at the path.
    if (!committedAsExpected(before, pages, pageSize, wal)) {
        reopenAfterReplacement();
        throw FileReplaced(m_filePath, FileReplaced::AfterCommit);
    }
    noteOwnWrite();
}

void Connection::RollbackTrans()
{
    if (!m_inTransaction || m_connectionName.isEmpty()) {
        m_inTransaction = false;
        return;
    }
    m_inTransaction = false;
    // Straight to the connection, without looking at the file: a transaction must end even when the file is gone.
    QSqlQuery rollback(database());
    rollback.exec(QStringLiteral("ROLLBACK"));
}

// Queries still alive on this connection are finalized by the driver when it closes; their Recordsets see the
// connection gone and refuse to read instead of touching a freed statement.
void Connection::Close()
{
    if (m_connectionName.isEmpty()) {
        return;
    }
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connectionName);
    m_connectionName.clear();
    m_filePath.clear();
    m_stamp = {};
    m_inTransaction = false;
    m_marks.reset();
}

bool Connection::isOpen() const
{
    return !m_connectionName.isEmpty() && QSqlDatabase::database(m_connectionName, false).isOpen();
}

QSqlDatabase Connection::database() const
{
    if (m_connectionName.isEmpty()) {
        return {};
    }
    return QSqlDatabase::database(m_connectionName, false);
}

namespace {

std::shared_ptr<Connection> openConnection(const std::shared_ptr<Connection>& connection)
{
    if (!connection || !connection->isOpen()) {
        throw Error(QStringLiteral("Operazione non consentita quando la connessione è chiusa."));
    }
    connection->checkFile();
    return connection;
}

// Moves to the next row; false past the last one. A finished statement lets go of its read lock at once rather
// than when the Recordset is released.
bool step(QSqlQuery& query, const std::shared_ptr<Connection>& connection)
{
    if (query.next()) {
        return true;
    }
    const QSqlError error = query.lastError();
    query.finish();
    if (error.isValid()) {
        throw Error(describe(error, connection ? connection->filePath() : QString()));
    }
    return false;
}

void requireCurrentRow(const QSqlQuery& query, bool eof)
{
    if (!query.driver() || !query.driver()->isOpen()) {
        throw Error(QStringLiteral("Operazione non consentita quando la connessione è chiusa."));
    }
    if (eof) {
        throw Error(QStringLiteral("BOF o EOF è True oppure il record corrente è stato eliminato."));
    }
}

} // namespace

Recordset::Recordset() = default;

Recordset::~Recordset() = default;

void Recordset::Open(const QString& source, const std::shared_ptr<Connection>& activeConnection)
{
    QSqlQuery query(openConnection(activeConnection)->database());
    query.setForwardOnly(true);
    if (!query.exec(source)) {
        throw Error(describe(query.lastError(), activeConnection->filePath()));
    }
    start(std::move(query), activeConnection);
}

void Recordset::start(QSqlQuery&& query, const std::shared_ptr<Connection>& connection)
{
    m_connection = connection;
    m_query = std::move(query);
    m_names.clear();
    const QSqlRecord record = m_query.record();
    for (int i = 0; i < record.count(); ++i) {
        m_names.append(record.fieldName(i));
    }
    m_eof = true; // stays so when the step fails
    m_eof = !step(m_query, m_connection);
}

void Recordset::MoveNext()
{
    requireCurrentRow(m_query, m_eof);
    m_eof = true; // stays so when the step fails
    m_eof = !step(m_query, m_connection);
}

int Recordset::fieldCount() const
{
    return int(m_names.size());
}

QString Recordset::fieldName(int position) const
{
    if (position < 0 || position >= m_names.size()) {
        throw Error(QStringLiteral("Nessun campo alla posizione %1.").arg(position));
    }
    return m_names.at(position);
}

QVariant Recordset::Fields(const QString& name) const
{
    const int position = fieldIndex(name);
    if (position < 0) {
        throw Error(QStringLiteral("Impossibile trovare il campo '%1'.").arg(name));
    }
    return Fields(position);
}

QVariant Recordset::Fields(int position) const
{
    if (position < 0 || position >= m_names.size()) {
        throw Error(QStringLiteral("Nessun campo alla posizione %1.").arg(position));
    }
    requireCurrentRow(m_query, m_eof);
    // A plain null whatever the column's declared type, so callers test isNull() alone.
    if (m_query.isNull(position)) {
        return {};
    }
    return m_query.value(position);
}

int Recordset::fieldIndex(const QString& name) const
{
    for (int i = 0; i < m_names.size(); ++i) {
        if (m_names.at(i).compare(name, Qt::CaseInsensitive) == 0) {
            return i;
        }
    }
    return -1;
}

std::shared_ptr<Recordset> Command::Execute(int* recordsAffected, const QVariant& parameters, int)
{
    if (CommandType != adCmdText) {
        throw Error(QStringLiteral("Tipo di comando non supportato: %1.").arg(CommandType));
    }
    if (parameters.isValid() && parameters.typeId() != QMetaType::QVariantList) {
        throw Error(QStringLiteral("I parametri di un comando vanno dati in una lista."));
    }
    if (CommandText.trimmed().isEmpty()) {
        throw Error(QStringLiteral("Il testo del comando è vuoto."));
    }
    QSqlQuery query(openConnection(ActiveConnection)->database());
    query.setForwardOnly(true);
    bool done = false;
    if (parameters.isValid()) {
        // Each value reaches the engine as a value: nothing in it is read as SQL.
        done = query.prepare(CommandText);
        const QVariantList values = parameters.toList();
        for (qsizetype i = 0; done && i < values.size(); ++i) {
            query.bindValue(int(i), values.at(i));
        }
        done = done && query.exec();
    } else {
        done = query.exec(CommandText);
    }
    if (!done) {
        throw Error(describe(query.lastError(), ActiveConnection->filePath()));
    }
    if (query.isSelect()) {
        auto recordset = std::make_shared<Recordset>();
        recordset->start(std::move(query), ActiveConnection);
        return recordset;
    }
    if (recordsAffected) {
        *recordsAffected = query.numRowsAffected();
    }
    ActiveConnection->noteOwnWrite();
    if (ActiveConnection->inTransaction()) {
        reach(WriteStep::Written, ActiveConnection->filePath());
    }
    return nullptr;
}

} // namespace ado
