#include "data/Ado.h"
#include "data/Statements.h"
#include "mkdb/CustDatabase.h"

#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

// The database layer on real files: what it opens, what it refuses and how, and what a Recordset reads.
class TestAdo : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void refusesToOpen_data();
    void refusesToOpen();
    void refusesBadConnectionString_data();
    void refusesBadConnectionString();
    void resolvesDataSource_data();
    void resolvesDataSource();
    void caseVariantsReachOneFile();
    void folderNameWithSeparatorCharacters_data();
    void folderNameWithSeparatorCharacters();
    void opensPathWithAwkwardCharacters();
    void opensAndReopens();
    void readsFieldsByNameAndPosition();
    void readsNullAsNull();
    void emptyResultIsAtEofAtOnce();
    void readingPastTheEndFails();
    void unknownFieldFails();
    void failingStatementCarriesEngineDescription();
    void refusesSeveralStatementsInOneText();
    void reportsRowsAffected();
    void bindsParametersAsValues();
    void recordsetOpenRunsQuery();
    void closedConnectionRefusesStatements();
    void recordsetOutlivingClosedConnectionRefusesToRead();

private:
    QString databasePath() const { return QDir(m_dir->path()).filePath(QStringLiteral("Cust.mdb")); }
    static QString connectionString(const QString& path)
    {
        return QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") + path;
    }
    std::shared_ptr<ado::Connection> open();
    std::shared_ptr<ado::Recordset> query(const std::shared_ptr<ado::Connection>& connection, const QString& sql);
    void writeFile(const QString& path, const QByteArray& content);

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestAdo::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestAdo::cleanup()
{
    m_dir.reset();
}

std::shared_ptr<ado::Connection> TestAdo::open()
{
    auto connection = std::make_shared<ado::Connection>();
    connection->Open(connectionString(databasePath()));
    return connection;
}

std::shared_ptr<ado::Recordset> TestAdo::query(const std::shared_ptr<ado::Connection>& connection, const QString& sql)
{
    ado::Command command;
    command.ActiveConnection = connection;
    command.CommandText = sql;
    return command.Execute();
}

void TestAdo::writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(content), content.size());
}

void TestAdo::refusesToOpen_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("description");

    QTest::newRow("missing") << "missing"
                             << "Impossibile trovare il file '%1'.";
    QTest::newRow("empty") << "empty"
                           << "Il file '%1' è vuoto: non contiene un database.";
    QTest::newRow("text") << "text"
                          << "Il file '%1' non è un database SQLite.";
    QTest::newRow("short") << "short"
                           << "Il file '%1' non è un database SQLite.";
    QTest::newRow("jet") << "jet"
                         << "Il file '%1' è un database in formato Jet: questo formato non è supportato, serve "
                            "un database SQLite.";
    QTest::newRow("folder") << "folder"
                            << "'%1' è una cartella, non un file di database.";
    QTest::newRow("damaged") << "damaged"
                             << "Impossibile leggere il database '%1': ";
}

void TestAdo::refusesToOpen()
{
    QFETCH(QString, kind);
    QFETCH(QString, description);

    const QString path = databasePath();
    if (kind == "empty") {
        writeFile(path, {});
    } else if (kind == "text") {
        writeFile(path, "Cognome;Nome\nRossi;Mario\n");
    } else if (kind == "short") {
        writeFile(path, QByteArray("SQLite format 3", 15));
    } else if (kind == "jet") {
        QByteArray jet(2048, '\0');
        jet.replace(0, 19, QByteArray("\x00\x01\x00\x00Standard Jet DB", 19));
        writeFile(path, jet);
    } else if (kind == "folder") {
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("Cust.mdb")));
    } else if (kind == "damaged") {
        // A genuine header over pages of noise.
        QByteArray damaged(8192, '\x5a');
        damaged.replace(0, 16, QByteArray("SQLite format 3\0", 16));
        writeFile(path, damaged);
    }
    const QByteArray before = QFileInfo(path).isFile() ? [&] {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }()
                                                       : QByteArray();

    ado::Connection connection;
    try {
        connection.Open(connectionString(path));
        QFAIL("the file was opened");
    } catch (const ado::Error& e) {
        const QString expected = description.arg(QDir::toNativeSeparators(path));
        if (kind == "damaged") {
            QVERIFY2(e.description().startsWith(expected) && e.description().size() > expected.size(),
                     qPrintable(e.description()));
        } else {
            QCOMPARE(e.description(), expected);
        }
        QCOMPARE(QString::fromStdString(e.what()), e.description());
    }
    QVERIFY(!connection.isOpen());
    // Refusing a file never creates or changes one.
    if (kind == "missing") {
        QVERIFY(!QFileInfo::exists(path));
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    } else if (kind != "folder") {
        QFile after(path);
        QVERIFY(after.open(QIODevice::ReadOnly));
        QCOMPARE(after.readAll(), before);
    }
}

void TestAdo::refusesBadConnectionString_data()
{
    QTest::addColumn<QString>("connectionString");
    QTest::addColumn<QString>("description");

    QTest::newRow("unknown provider")
        << "Provider=SQLOLEDB;Data Source=%1"
        << "Impossibile trovare il provider 'SQLOLEDB'. È possibile che non sia installato correttamente.";
    QTest::newRow("other Jet version")
        << "Provider=Microsoft.Jet.OLEDB.3.51;Data Source=%1"
        << "Impossibile trovare il provider 'Microsoft.Jet.OLEDB.3.51'. È possibile che non sia installato "
           "correttamente.";
    QTest::newRow("no provider") << "Data Source=%1"
                                 << "La stringa di connessione non indica il provider "
                                    "(Provider=Microsoft.Jet.OLEDB.4.0).";
    QTest::newRow("no data source") << "Provider=Microsoft.Jet.OLEDB.4.0;"
                                    << "La stringa di connessione non indica il file del database (Data Source).";
    QTest::newRow("empty data source") << "Provider=Microsoft.Jet.OLEDB.4.0;Data Source= ;"
                                       << "La stringa di connessione non indica il file del database (Data Source).";
    QTest::newRow("empty") << ""
                           << "La stringa di connessione non indica il provider (Provider=Microsoft.Jet.OLEDB.4.0).";
    QTest::newRow("no equals sign") << "Provider=Microsoft.Jet.OLEDB.4.0;%1"
                                    << "La stringa di connessione non è valida: "
                                       "\"Provider=Microsoft.Jet.OLEDB.4.0;%1\".";
    QTest::newRow("open quote") << "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=\"%1"
                                << "La stringa di connessione non è valida: "
                                   "\"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=\"%1\".";
}

void TestAdo::refusesBadConnectionString()
{
    QFETCH(QString, connectionString);
    QFETCH(QString, description);
    QCOMPARE(mkdb::createCustomerDatabase(databasePath()), QString());

    ado::Connection connection;
    try {
        connection.Open(QString(connectionString).replace(QStringLiteral("%1"), databasePath()));
        QFAIL("the connection string was accepted");
    } catch (const ado::Error& e) {
        QCOMPARE(e.description(), QString(description).replace(QStringLiteral("%1"), databasePath()));
    }
    QVERIFY(!connection.isOpen());
}

void TestAdo::resolvesDataSource_data()
{
    QTest::addColumn<QString>("connectionString");

    QTest::newRow("as written") << "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=%1/Cust.mdb";
    QTest::newRow("name in other case") << "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=%1/cust.mdb";
    QTest::newRow("name in capitals") << "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=%1/CUST.MDB";
    QTest::newRow("backslashes") << "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=%2\\cust.mdb";
    QTest::newRow("keywords in any case") << "provider=microsoft.jet.oledb.4.0;DATA SOURCE=%1/Cust.mdb";
    QTest::newRow("spaces") << "  Provider = Microsoft.Jet.OLEDB.4.0 ;  Data   Source =  %1/Cust.mdb ; ";
    QTest::newRow("quoted value") << "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=\"%1/Cust.mdb\"";
    QTest::newRow("other keywords") << "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=%1/Cust.mdb;Persist Security "
                                       "Info=False;User ID=Admin";
    QTest::newRow("relative parts") << "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=%1/./sub/../Cust.mdb";
}

void TestAdo::resolvesDataSource()
{
    QFETCH(QString, connectionString);
    QCOMPARE(mkdb::createCustomerDatabase(databasePath()), QString());
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("sub")));
    QString backslashed = m_dir->path();
    backslashed.replace(QLatin1Char('/'), QLatin1Char('\\'));
    const QString text = QString(connectionString)
                             .replace(QStringLiteral("%1"), m_dir->path())
                             .replace(QStringLiteral("%2"), backslashed);

    QCOMPARE(ado::dataSourcePath(text), databasePath());
    ado::Connection connection;
    connection.Open(text);
    QVERIFY(connection.isOpen());
    QCOMPARE(connection.filePath(), databasePath());
    QCOMPARE(connection.ConnectionString, text);
}

// The main window writes "Cust.mdb", the print window "cust.mdb": with several spellings present they must still
// open the same file, the one spelled exactly "Cust.mdb".
void TestAdo::caseVariantsReachOneFile()
{
    const QDir dir(m_dir->path());
    QCOMPARE(mkdb::createCustomerDatabase(dir.filePath(QStringLiteral("CUST.MDB"))), QString());
    QCOMPARE(mkdb::createCustomerDatabase(dir.filePath(QStringLiteral("cust.mdb"))), QString());
    QCOMPARE(mkdb::createCustomerDatabase(dir.filePath(QStringLiteral("Cust.mdb"))), QString());
    for (const char* name : {"Cust.mdb", "cust.mdb", "CUST.MDB"}) {
        QCOMPARE(ado::dataSourcePath(connectionString(dir.filePath(QLatin1String(name)))),
                 dir.filePath(QStringLiteral("Cust.mdb")));
    }
}

void TestAdo::folderNameWithSeparatorCharacters_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("dataSource"); // %1: the folder's path

    for (const char* folder : {"a;b", "a; b ;c", "x\\y", "p;q\\r"}) {
        QTest::addRow("%s, main window", folder) << QString::fromLatin1(folder) << QStringLiteral("%1/Cust.mdb");
        QTest::addRow("%s, print window", folder) << QString::fromLatin1(folder) << QStringLiteral("%1\\cust.mdb");
    }
}

// Folder names may hold ";" and, outside Windows, "\\": an unquoted data source still names the file.
void TestAdo::folderNameWithSeparatorCharacters()
{
    QFETCH(QString, folder);
    QFETCH(QString, dataSource);
#ifdef Q_OS_WIN
    if (folder.contains(QLatin1Char('\\'))) {
        QSKIP("a backslash is always a separator on Windows");
    }
#endif
    const QDir dir(m_dir->path());
    QVERIFY(dir.mkdir(folder));
    const QString path = dir.filePath(folder + QStringLiteral("/Cust.mdb"));
    QCOMPARE(mkdb::createCustomerDatabase(path), QString());
    const QString text = QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=")
        + QString(dataSource).replace(QStringLiteral("%1"), dir.filePath(folder));
    QCOMPARE(ado::dataSourcePath(text), path);
}

// The file is handed to SQLite as a URI: characters that mean something in a URI must still name the file.
void TestAdo::opensPathWithAwkwardCharacters()
{
    const QString folderName = QString::fromUtf8("Rubrica di Forlì #1 %20 ?x=y&mode=ro;");
    QVERIFY(QDir(m_dir->path()).mkdir(folderName));
    const QString path = QDir(m_dir->path()).filePath(folderName + QStringLiteral("/Cust.mdb"));
    QCOMPARE(mkdb::createCustomerDatabase(path), QString());

    auto connection = std::make_shared<ado::Connection>();
    connection->Open(QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=\"%1\"").arg(path));
    QCOMPARE(connection->filePath(), path);
    int rows = 0;
    ado::Command command;
    command.ActiveConnection = connection;
    command.CommandText = QStringLiteral("INSERT INTO Customer (CustID) VALUES (1)");
    command.Execute(&rows);
    QCOMPARE(rows, 1);
    connection->Close();
    // Written to that very file, and nothing created beside it.
    QCOMPARE(QDir(QFileInfo(path).path()).entryList(QDir::Files), QStringList {QStringLiteral("Cust.mdb")});
    QCOMPARE(mkdb::insertContacts(path, {{1, "Rossi", {}, {}, {}, {}, {}, {}}}).isEmpty(), false);
}

void TestAdo::opensAndReopens()
{
    QCOMPARE(mkdb::createCustomerDatabase(databasePath()), QString());
    ado::Connection connection;
    connection.ConnectionString = connectionString(databasePath());
    connection.Open();
    QVERIFY(connection.isOpen());
    try {
        connection.Open();
        QFAIL("an open connection was opened again");
    } catch (const ado::Error& e) {
        QCOMPARE(e.description(), QStringLiteral("Operazione non consentita quando l'oggetto è aperto."));
    }
    const QString firstName = connection.database().connectionName();
    connection.Close();
    QVERIFY(!connection.isOpen());
    QVERIFY(!QSqlDatabase::contains(firstName));
    connection.Close();
    connection.Open();
    QVERIFY(connection.isOpen());
    QVERIFY(connection.database().connectionName() != firstName);

    // Two connections to one file are independent.
    ado::Connection second;
    second.Open(connectionString(databasePath()));
    QVERIFY(second.database().connectionName() != connection.database().connectionName());
}

void TestAdo::readsFieldsByNameAndPosition()
{
    QCOMPARE(mkdb::createCustomerDatabase(databasePath()), QString());
    QCOMPARE(
        mkdb::insertContacts(databasePath(),
                             {{7, "D'Angelo", "Lucia", "Corso Garibaldi 4", "Forlì", "FC", "3387654321", "0815551234"},
                              {9, "Rossi", "Mario", "Via Roma 12", "Milano", "MI", "3351234567", "0212345678"}}),
        QString());
    const auto connection = open();
    const auto rs = query(connection, QStringLiteral("SELECT * FROM Customer ORDER BY CustID"));
    QVERIFY(rs);
    QVERIFY(!rs->isEOF());
    const QStringList columns {"CustID", "FirstName", "LastName", "Address", "State", "Zip", "PhoneNumber", "City"};
    QCOMPARE(rs->fieldCount(), 8);
    for (int i = 0; i < columns.size(); ++i) {
        QCOMPARE(rs->fieldName(i), columns.at(i));
        QCOMPARE(rs->fieldIndex(columns.at(i).toUpper()), i);
    }
    QCOMPARE(rs->Fields(QStringLiteral("CustID")).toInt(), 7);
    QCOMPARE(rs->Fields(QStringLiteral("FirstName")).toString(), QStringLiteral("D'Angelo"));
    QCOMPARE(rs->Fields(QStringLiteral("city")).toString(), QStringLiteral("Forlì"));
    QCOMPARE(rs->Fields(7).toString(), QStringLiteral("Forlì"));
    QCOMPARE(rs->Fields(6).toString(), QStringLiteral("0815551234"));
    rs->MoveNext();
    QVERIFY(!rs->isEOF());
    QCOMPARE(rs->Fields(0).toInt(), 9);
    QCOMPARE(rs->Fields(QStringLiteral("LastName")).toString(), QStringLiteral("Mario"));
    rs->MoveNext();
    QVERIFY(rs->isEOF());
    // The column names stay known after the last row.
    QCOMPARE(rs->fieldIndex(QStringLiteral("zip")), 5);
}

void TestAdo::readsNullAsNull()
{
    QCOMPARE(mkdb::createCustomerDatabase(databasePath()), QString());
    QCOMPARE(mkdb::insertContacts(databasePath(), {{1, {}, {}, {}, {}, {}, {}, {}}}), QString());
    const auto connection = open();
    const auto rs = query(connection,
                          QStringLiteral("SELECT FirstName, PhoneNumber, NULL AS Missing, MAX(CustID) - 1 AS Number, "
                                         "(SELECT MAX(CustID) FROM Customer WHERE CustID > 5) AS NoKey "
                                         "FROM Customer"));
    QVERIFY(rs && !rs->isEOF());
    for (int i = 0; i < rs->fieldCount(); ++i) {
        if (i == 3) {
            QCOMPARE(rs->Fields(i).toInt(), 0);
            QVERIFY(!rs->Fields(i).isNull());
        } else {
            QVERIFY2(rs->Fields(i).isNull(), qPrintable(rs->fieldName(i)));
        }
    }
    const auto empty = query(connection, QStringLiteral("SELECT MAX(CustID) AS MaxID FROM Customer WHERE CustID < 0"));
    QVERIFY(empty && !empty->isEOF());
    QVERIFY(empty->Fields(QStringLiteral("MaxID")).isNull());
}

void TestAdo::emptyResultIsAtEofAtOnce()
{
    QCOMPARE(mkdb::createCustomerDatabase(databasePath()), QString());
    const auto rs = query(open(), QStringLiteral("SELECT FirstName, CustID FROM Customer"));
    QVERIFY(rs);
    QVERIFY(rs->isEOF());
    QCOMPARE(rs->fieldCount(), 2);
    QCOMPARE(rs->fieldName(1), QStringLiteral("CustID"));
}

void TestAdo::readingPastTheEndFails()
{
    QCOMPARE(mkdb::createCustomerDatabase(databasePath()), QString());
    const auto rs = query(open(), QStringLiteral("SELECT CustID FROM Customer"));
    QVERIFY(rs->isEOF());
    QVERIFY_THROWS_EXCEPTION(ado::Error, rs->Fields(0));
    QVERIFY_THROWS_EXCEPTION(ado::Error, rs->Fields(QStringLiteral("CustID")));
    QVERIFY_THROWS_EXCEPTION(ado::Error, rs->MoveNext());
    QVERIFY(rs->isEOF());
}

void TestAdo::unknownFieldFails()
{
    QCOMPARE(mkdb::createCustomerDatabase(databasePath()), QString());
    QCOMPARE(mkdb::insertContacts(databasePath(), {{1, "Rossi", "Mario", {}, {}, {}, {}, {}}}), QString());
    const auto rs = query(open(), QStringLiteral("SELECT CustID FROM Customer"));
    QCOMPARE(rs->fieldIndex(QStringLiteral("MaxID")), -1);
    try {
        rs->Fields(QStringLiteral("MaxID"));
        QFAIL("an unknown field was read");
    } catch (const ado::Error& e) {
        QCOMPARE(e.description(), QStringLiteral("Impossibile trovare il campo 'MaxID'."));
    }
    QVERIFY_THROWS_EXCEPTION(ado::Error, rs->Fields(1));
    QVERIFY_THROWS_EXCEPTION(ado::Error, rs->Fields(-1));
    QVERIFY_THROWS_EXCEPTION(ado::Error, rs->fieldName(1));
}

void TestAdo::failingStatementCarriesEngineDescription()
{
    QCOMPARE(mkdb::createCustomerDatabase(databasePath()), QString());
    QCOMPARE(mkdb::insertContacts(databasePath(), {{1, "Rossi", "Mario", {}, {}, {}, {}, {}}}), QString());
    const auto connection = open();
    const auto describe = [&](const QString& sql) {
        try {
            query(connection, sql);
        } catch (const ado::Error& e) {
            return e.description();
        }
        return QStringLiteral("<no error>");
    };
    const QString file = QDir::toNativeSeparators(databasePath());
    QCOMPARE(describe(QStringLiteral("SELECT * FROM Nowhere")),
             QStringLiteral("Il file '%1' non contiene la tabella 'Nowhere'.\nno such table: Nowhere").arg(file));
    QCOMPARE(describe(QStringLiteral("INSERT INTO Customer (CustID) VALUES (1)")),
             QStringLiteral("Il codice è già in uso (Customer.CustID): forse un altro programma ha appena aggiunto un "
                            "contatto. Riprovare a salvare."));
    QCOMPARE(describe(QStringLiteral("UPDATE Customer SET Missing = 1")),
             QStringLiteral("Nel file '%1' manca la colonna 'Missing' della tabella dei contatti.\nno such column: "
                            "Missing")
                 .arg(file));
    QVERIFY(describe(QStringLiteral("SELEC 1")).contains(QStringLiteral("syntax error")));

    // A file written by another program: no contact table, a rule of its own, a view in place of the table.
    const auto other = [&](const QString& sql) { return QSqlQuery(connection->database()).exec(sql); };
    QVERIFY(other(QStringLiteral("CREATE TABLE Rule (City TEXT NOT NULL)")));
    QVERIFY(other(QStringLiteral("CREATE TRIGGER Guard BEFORE DELETE ON Customer BEGIN SELECT RAISE(ABORT, 'rubrica "
                                 "protetta'); END")));
    QCOMPARE(describe(QStringLiteral("INSERT INTO Rule VALUES (NULL)")),
             QStringLiteral("Il file '%1' ha una regola che non accetta questi dati.\nNOT NULL constraint failed: "
                            "Rule.City")
                 .arg(file));
    QCOMPARE(describe(QStringLiteral("DELETE FROM Customer")),
             QStringLiteral("Il file '%1' ha una regola che non accetta questi dati.\nrubrica protetta").arg(file));
    QVERIFY(other(QStringLiteral("DROP TABLE Customer")));
    QCOMPARE(describe(ListQuery()),
             QStringLiteral("Il file '%1' non contiene la tabella dei contatti (Customer).\nno such table: Customer")
                 .arg(file));
    QVERIFY(other(QStringLiteral("CREATE VIEW Customer AS SELECT 1 AS CustID")));
    QCOMPARE(describe(QStringLiteral("DELETE FROM Customer")),
             QStringLiteral("Nel file '%1' la tabella 'Customer' è una vista, che non si può modificare.\ncannot "
                            "modify Customer because it is a view")
                 .arg(file));
}

void TestAdo::refusesSeveralStatementsInOneText()
{
    QCOMPARE(mkdb::createCustomerDatabase(databasePath()), QString());
    QCOMPARE(mkdb::insertContacts(databasePath(), {{1, "Rossi", "Mario", {}, {}, {}, {}, {}}}), QString());
    const auto connection = open();
    QVERIFY_THROWS_EXCEPTION(ado::Error,
                             query(connection, QStringLiteral("UPDATE Customer SET City = 'x'; DELETE FROM Customer")));
    const auto rs = query(connection, QStringLiteral("SELECT COUNT(*), MAX(City) FROM Customer"));
    QCOMPARE(rs->Fields(0).toInt(), 1);
    QVERIFY(rs->Fields(1).isNull());
}

void TestAdo::reportsRowsAffected()
{
    QCOMPARE(mkdb::createCustomerDatabase(databasePath()), QString());
    QCOMPARE(mkdb::insertContacts(databasePath(), mkdb::generatedContacts(3)), QString());
    const auto connection = open();
    ado::Command command;
    command.ActiveConnection = connection;
    const auto affected = [&](const QString& sql) {
        command.CommandText = sql;
        int rows = -1;
        const auto rs = command.Execute(&rows);
        return rs ? -2 : rows;
    };
    QCOMPARE(affected(QStringLiteral("UPDATE Customer SET City = 'Roma' WHERE CustID = 99")), 0);
    QCOMPARE(affected(QStringLiteral("UPDATE Customer SET City = 'Roma' WHERE CustID = 2")), 1);
    QCOMPARE(affected(QStringLiteral("UPDATE Customer SET City = 'Roma'")), 3);
    QCOMPARE(affected(QStringLiteral("INSERT INTO Customer (CustID) VALUES (4)")), 1);
    QCOMPARE(affected(QStringLiteral("DELETE FROM Customer WHERE CustID = 4")), 1);
    QCOMPARE(affected(QStringLiteral("DELETE FROM Customer WHERE CustID = 4")), 0);
    command.CommandText = QStringLiteral("DELETE FROM Customer WHERE CustID = 3");
    QCOMPARE(command.Execute(), nullptr);

    // The change is in the file at once, seen by another connection.
    ado::Connection other;
    other.Open(connectionString(databasePath()));
    ado::Recordset rs;
    rs.Open(QStringLiteral("SELECT COUNT(*) FROM Customer WHERE City = 'Roma'"),
            std::shared_ptr<ado::Connection>(&other, [](ado::Connection*) {}));
    QCOMPARE(rs.Fields(0).toInt(), 2);
}

void TestAdo::bindsParametersAsValues()
{
    QCOMPARE(mkdb::createCustomerDatabase(databasePath()), QString());
    const auto connection = open();
    ado::Command command;
    command.ActiveConnection = connection;
    // Quotes, %-escapes and SQL in a value stay text; a null QVariant is NULL.
    const QString awkward = QStringLiteral("Neri%2C%20Paolo'; DROP TABLE Customer; --%1");
    command.CommandText = QStringLiteral("INSERT INTO Customer (CustID, FirstName, City) VALUES (?, ?, ?)");
    int rows = 0;
    QCOMPARE(command.Execute(&rows, QVariantList {7, awkward, QVariant()}), nullptr);
    QCOMPARE(rows, 1);

    command.CommandText = QStringLiteral("SELECT FirstName, City FROM Customer WHERE CustID = ? AND FirstName = ?");
    const auto rs = command.Execute(nullptr, QVariantList {7, awkward});
    QVERIFY(rs && !rs->isEOF());
    QCOMPARE(rs->Fields(0).toString(), awkward);
    QVERIFY(rs->Fields(1).isNull());

    command.CommandText = QStringLiteral("SELECT 1");
    QVERIFY_THROWS_EXCEPTION(ado::Error, command.Execute(nullptr, QVariant(QStringLiteral("not a list"))));
}

void TestAdo::recordsetOpenRunsQuery()
{
    QCOMPARE(mkdb::createCustomerDatabase(databasePath()), QString());
    QCOMPARE(mkdb::insertContacts(databasePath(), mkdb::demoContacts()), QString());
    const auto connection = open();
    ado::Recordset rs;
    rs.Open(QStringLiteral("Select * from Customer "), connection);
    int rows = 0;
    while (!rs.isEOF()) {
        ++rows;
        QCOMPARE(rs.Fields(0).toInt(), rows);
        rs.MoveNext();
    }
    QCOMPARE(rows, mkdb::demoContacts().size());
    QVERIFY_THROWS_EXCEPTION(ado::Error, rs.Open(QStringLiteral("SELECT * FROM Nowhere"), connection));
}

void TestAdo::closedConnectionRefusesStatements()
{
    QCOMPARE(mkdb::createCustomerDatabase(databasePath()), QString());
    const auto connection = std::make_shared<ado::Connection>();
    ado::Command command;
    command.CommandText = QStringLiteral("SELECT 1");
    QVERIFY_THROWS_EXCEPTION(ado::Error, command.Execute());
    command.ActiveConnection = connection;
    QVERIFY_THROWS_EXCEPTION(ado::Error, command.Execute());
    ado::Recordset rs;
    QVERIFY_THROWS_EXCEPTION(ado::Error, rs.Open(QStringLiteral("SELECT 1"), connection));
    QVERIFY_THROWS_EXCEPTION(ado::Error, rs.Open(QStringLiteral("SELECT 1"), nullptr));

    connection->Open(connectionString(databasePath()));
    QCOMPARE(command.Execute()->Fields(0).toInt(), 1);
    command.CommandType = 2;
    QVERIFY_THROWS_EXCEPTION(ado::Error, command.Execute());
}

void TestAdo::recordsetOutlivingClosedConnectionRefusesToRead()
{
    QCOMPARE(mkdb::createCustomerDatabase(databasePath()), QString());
    QCOMPARE(mkdb::insertContacts(databasePath(), mkdb::generatedContacts(5)), QString());
    auto connection = open();
    const auto rs = query(connection, QStringLiteral("SELECT CustID FROM Customer ORDER BY CustID"));
    QCOMPARE(rs->Fields(0).toInt(), 1);
    connection->Close();
    QVERIFY_THROWS_EXCEPTION(ado::Error, rs->Fields(0));
    QVERIFY_THROWS_EXCEPTION(ado::Error, rs->MoveNext());

    // The Recordset kept the Connection object alive; dropping the last reference is clean.
    connection.reset();
    QVERIFY_THROWS_EXCEPTION(ado::Error, rs->Fields(0));

    // And the file was let go: a new connection writes to it.
    ado::Connection writer;
    writer.Open(connectionString(databasePath()));
    ado::Command command;
    command.ActiveConnection = std::shared_ptr<ado::Connection>(&writer, [](ado::Connection*) {});
    command.CommandText = QStringLiteral("DELETE FROM Customer");
    int rows = 0;
    command.Execute(&rows);
    QCOMPARE(rows, 5);
}

QTEST_GUILESS_MAIN(TestAdo)
#include "tst_ado.moc"
