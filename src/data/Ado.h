#pragma once

#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <stdexcept>

// A small ADO-like layer over Qt SQL: the windows open a Connection from a connection string, send SQL text through
// a Command and read a forward-only Recordset, the way the program was designed to talk to its database.
namespace ado {

// Every failure of the layer; description() is the text shown to the user.
class Error : public std::runtime_error
{
public:
    explicit Error(const QString& description);
    QString description() const { return m_description; }

private:
    QString m_description;
};

// The file at the connection's path is no longer the one it read: another file was put there, or another program
// rewrote it without going through the database engine. Before the commit nothing was saved anywhere; after it, the
// change went into a file the path no longer names, or was overwritten: either way it is not in the book the user
// has. The description names the newest daily copy beside the book.
class FileReplaced : public Error
{
public:
    enum When { BeforeCommit, AfterCommit };
    explicit FileReplaced(const QString& path, When when = BeforeCommit);
    When when() const { return m_when; }

private:
    When m_when;
};

// The steps of a write transaction at which the file at the path matters: just after BEGIN (before the first
// statement), after each statement that changes rows, just before COMMIT and just after it.
enum class WriteStep { Begun, Written, Committing, Committed };
// Called at each step with the connection's path; tests change the file there. Empty (the default) in the program.
using WriteStepHook = std::function<void(WriteStep step, const QString& path)>;
void setWriteStepHook(WriteStepHook hook);

// ADO's CommandType value for SQL text.
constexpr int adCmdText = 1;
// ADO's "options unspecified".
constexpr int adOptionUnspecified = -1;

// Resolves a connection string to the file it names. Accepts the provider "Microsoft.Jet.OLEDB.4.0" (served by
// SQLite); "\" and "/" both separate folders, and the file name is matched without regard to case in its folder.
// Throws Error for an unknown provider or a missing Data Source. Does not look at the file's content.
QString dataSourcePath(const QString& connectionString);

class Connection
{
public:
    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    QString ConnectionString;

    // Opens the database named by connectionString, or by ConnectionString when it is empty. Never creates a file:
    // a missing file, an empty file, a Jet file or any file that is not a SQLite database throws Error. A file that
    // cannot be written is opened for reading; statements that would change it then throw Error.
    void Open(const QString& connectionString = {},
              const QString& userId = {},
              const QString& password = {},
              int options = adOptionUnspecified);
    void Close();
    bool isOpen() const;

    // The full path of the open file.
    QString filePath() const { return m_filePath; }
    QSqlDatabase database() const;

    // Called before every statement. Throws Error when the file is no longer at its path. When another file was put
    // there, another program rewrote it, or its write permission changed, the file is opened afresh (nothing kept in
    // memory of the old one is trusted again), so statements never reach a file that was deleted or replaced behind
    // the program's back. Inside a transaction that is refused instead: FileReplaced, or Error for the permission.
    void checkFile();

    // How many times checkFile() found another file at the path, or the file rewritten by another program; a reader
    // compares it before and after to know whether what it read still comes from the file there now.
    quint64 replacements() const { return m_replacements; }

    // A transaction that holds the write lock from its start ("BEGIN IMMEDIATE"), so what is read inside it is still
    // what is stored when it commits. RollbackTrans() never fails and may be called when none is open.
    // Nothing of a transaction reaches the file before COMMIT. Under the lock only a program writing past the engine
    // changes the file, so any change to it, seen before a statement or just before COMMIT, ends the transaction
    // (FileReplaced); right after COMMIT the file must be the one the commit left, or FileReplaced (AfterCommit).
    void BeginTrans();
    void CommitTrans();
    void RollbackTrans();
    bool inTransaction() const { return m_inTransaction; }

private:
    friend class Command;

    // Identity, writability and content marks of the file at the path, as this connection last left it.
    struct FileStamp
    {
        bool exists = false;
        bool writable = false;
        quint64 device = 0;
        quint64 inode = 0;
        qint64 size = 0;
        qint64 modified = 0; // nanoseconds
        QByteArray header; // the engine's change counter
        bool sameFile(const FileStamp& other) const { return device == other.device && inode == other.inode; }
        bool sameContent(const FileStamp& other) const
        {
            return size == other.size && modified == other.modified && header == other.header;
        }
        bool operator==(const FileStamp& other) const
        {
            return exists == other.exists && writable == other.writable && sameFile(other) && sameContent(other);
        }
    };
    // The stamp of the file at the path. Its header is read through m_marks, which stays open on the file the
    // connection uses: closing any other descriptor of that file would let go of the engine's locks on it.
    FileStamp stampOf(const QString& path) const;
    void openMarks();
    // Opens a new connection to the file; returns its name.
    static QString attach(const QString& path);
    // Lets go of the current connection and uses the one named.
    void replaceConnection(const QString& name);
    // After a statement of this connection wrote to the file outside a transaction: what it left is the new mark,
    // as long as the file at the path is still the one open.
    void noteOwnWrite();
    // Ends the open transaction on the file it began on, before anything opens the path again.
    void abandonTransaction();
    // Uses the file now at the path; a file that cannot be opened leaves the old connection, and the next check tries
    // again.
    void reopenAfterReplacement();
    // What the file at the path must be after a COMMIT: the same file, its change counter one more than before
    // (unchanged when the transaction wrote nothing) and its size the engine's pages.
    bool committedAsExpected(const FileStamp& before, qint64 pages, qint64 pageSize, bool wal) const;

    QString m_connectionName;
    QString m_filePath;
    FileStamp m_stamp;
    std::unique_ptr<QFile> m_marks;
    quint64 m_replacements = 0;
    bool m_inTransaction = false;
};

// A forward-only pass over a query result.
class Recordset
{
public:
    Recordset();
    ~Recordset();
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;

    // Runs source on the connection. Throws Error when the connection is closed or the query fails.
    void Open(const QString& source, const std::shared_ptr<Connection>& activeConnection);

    // True once past the last row, and at once for an empty result. (EOF itself is a C macro.)
    bool isEOF() const { return m_eof; }
    void MoveNext();

    int fieldCount() const;
    QString fieldName(int position) const;
    // Value of the current row; a null QVariant where the row holds NULL. Throws Error for an unknown name,
    // a position out of range, or when there is no current row.
    QVariant Fields(const QString& name) const;
    QVariant Fields(int position) const;
    // Position of a column, or -1 (names compared without regard to case).
    int fieldIndex(const QString& name) const;

private:
    friend class Command;
    void start(QSqlQuery&& query, const std::shared_ptr<Connection>& connection);

    std::shared_ptr<Connection> m_connection;
    QSqlQuery m_query;
    bool m_eof = true;
    QStringList m_names;
};

class Command
{
public:
    std::shared_ptr<Connection> ActiveConnection;
    int CommandType = adCmdText;
    QString CommandText;

    // Sends CommandText exactly as it stands. A statement that returns rows gives a Recordset standing on its first
    // row; any other statement returns nullptr and, when recordsAffected is given, stores the rows it changed.
    // parameters, when given, is a QVariantList bound in order to the statement's "?" placeholders (a null QVariant
    // binds NULL). Throws Error with the engine's description on failure.
    std::shared_ptr<Recordset>
    Execute(int* recordsAffected = nullptr, const QVariant& parameters = {}, int options = adOptionUnspecified);
};

} // namespace ado
