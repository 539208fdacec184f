#include "data/CustomerStore.h"
#include "data/Statements.h"
#include "mkdb/CustDatabase.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

// The main window's store on a real Cust.mdb: opening, keys, statements and what they leave in the file.
class TestCustomerStore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void connectionText_data();
    void connectionText();
    void connectsThroughConnectionText();
    void missingDatabaseLeavesStoreClosed();
    void nextKey_data();
    void nextKey();
    void nextKeyAfterDeletingTheLargest();
    void nextKeyRefusesToWrap_data();
    void nextKeyRefusesToWrap();
    void quotesCannotBreakStatements_data();
    void quotesCannotBreakStatements();
    void executeReportsRowsChanged();
    void listQueryOrdersByNameThenSurname();
    void openQueryOfAStatementWithoutRowsFails();
    void closedStoreRefusesStatements();

private:
    QString folder() const { return m_dir->path() + QLatin1Char('/'); }
    QString databasePath() const { return folder() + QStringLiteral("Cust.mdb"); }
    void createDatabase(const QList<mkdb::ContactRow>& rows = {});
    // The stored row of custId, columns in the record's order, NULL as "<null>"; empty when there is none.
    QStringList storedRow(qint32 custId);
    int rowCount();

    std::unique_ptr<QTemporaryDir> m_dir;
    CustomerStore m_store;
};

void TestCustomerStore::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestCustomerStore::cleanup()
{
    m_store.CloseDatabase();
    m_dir.reset();
}

void TestCustomerStore::createDatabase(const QList<mkdb::ContactRow>& rows)
{
    QCOMPARE(mkdb::createCustomerDatabase(databasePath()), QString());
    if (!rows.isEmpty()) {
        QCOMPARE(mkdb::insertContacts(databasePath(), rows), QString());
    }
    m_store.ConnectToDatabase(CustomerStore::connectionText(folder()));
}

QStringList TestCustomerStore::storedRow(qint32 custId)
{
    ado::Recordset& rs
        = m_store.openQuery(QStringLiteral("SELECT CustID, FirstName, LastName, Address, City, State, Zip, PhoneNumber "
                                           "FROM Customer WHERE CustID = %1")
                                .arg(custId));
    QStringList row;
    if (!rs.isEOF()) {
        for (int i = 0; i < rs.fieldCount(); ++i) {
            const QVariant value = rs.Fields(i);
            row.append(value.isNull() ? QStringLiteral("<null>") : value.toString());
        }
    }
    m_store.releaseRecordset();
    return row;
}

int TestCustomerStore::rowCount()
{
    const int count = m_store.openQuery(QStringLiteral("SELECT COUNT(*) FROM Customer")).Fields(0).toInt();
    m_store.releaseRecordset();
    return count;
}

void TestCustomerStore::connectionText_data()
{
    QTest::addColumn<QString>("appPath");
    QTest::addColumn<QString>("expected");

    QTest::newRow("drive root") << "C:\\"
                                << "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=C:\\Cust.mdb";
    QTest::newRow("folder") << "C:\\Prog\\"
                            << "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=C:\\Prog\\Cust.mdb";
    QTest::newRow("unix folder") << "/opt/velmarin/"
                                 << "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/opt/velmarin/Cust.mdb";
}

void TestCustomerStore::connectionText()
{
    QFETCH(QString, appPath);
    QFETCH(QString, expected);
    QCOMPARE(CustomerStore::connectionText(appPath), expected);
}

void TestCustomerStore::connectsThroughConnectionText()
{
    createDatabase(mkdb::demoContacts());
    QVERIFY(m_store.isOpen());
    QVERIFY(m_store.mcnnCust && m_store.mcnnCust->isOpen());
    QCOMPARE(m_store.mcnnCust->ConnectionString, CustomerStore::connectionText(folder()));
    QCOMPARE(m_store.mcnnCust->filePath(), databasePath());
    QVERIFY(m_store.mcmdCust);
    QCOMPARE(m_store.mcmdCust->ActiveConnection, m_store.mcnnCust);
    QCOMPARE(m_store.mcmdCust->CommandType, ado::adCmdText);
    QVERIFY(!m_store.mrsCust);

    const auto connection = m_store.mcnnCust;
    m_store.CloseDatabase();
    QVERIFY(!m_store.isOpen());
    QVERIFY(!m_store.mcnnCust && !m_store.mcmdCust && !m_store.mrsCust);
    QVERIFY(!connection->isOpen());
}

void TestCustomerStore::missingDatabaseLeavesStoreClosed()
{
    try {
        m_store.ConnectToDatabase(CustomerStore::connectionText(folder()));
        QFAIL("a missing database was opened");
    } catch (const ado::Error& e) {
        QCOMPARE(e.description(), QStringLiteral("Impossibile trovare il file '%1'.").arg(databasePath()));
    }
    QVERIFY(!m_store.isOpen());
    QVERIFY(!m_store.mcmdCust);
    QVERIFY(!QFileInfo::exists(databasePath()));
}

void TestCustomerStore::nextKey_data()
{
    QTest::addColumn<QList<int>>("keys");
    QTest::addColumn<int>("next");

    QTest::newRow("empty table") << QList<int> {} << 1;
    QTest::newRow("gaps are not filled") << QList<int> {1, 2, 5} << 6;
    QTest::newRow("one") << QList<int> {1} << 2;
    QTest::newRow("negative only") << QList<int> {-7} << -6;
    QTest::newRow("one below the largest") << QList<int> {2147483646} << 2147483647;
}

void TestCustomerStore::nextKey()
{
    QFETCH(QList<int>, keys);
    QFETCH(int, next);

    QList<mkdb::ContactRow> rows;
    for (int key : keys) {
        rows.append({key, "Rossi", "Mario", {}, {}, {}, {}, {}});
    }
    createDatabase(rows);
    QCOMPARE(m_store.GetNextCustID(), next);
    QVERIFY(!m_store.mrsCust);
}

void TestCustomerStore::nextKeyAfterDeletingTheLargest()
{
    createDatabase(mkdb::generatedContacts(4));
    QCOMPARE(m_store.GetNextCustID(), 5);
    QCOMPARE(m_store.execute(DeleteStatement(4)), 1);
    QCOMPARE(m_store.GetNextCustID(), 4);
    QCOMPARE(m_store.execute(InsertStatement(m_store.GetNextCustID(), {})), 1);
    QCOMPARE(m_store.GetNextCustID(), 5);
}

void TestCustomerStore::nextKeyRefusesToWrap_data()
{
    QTest::addColumn<QString>("largest");

    QTest::newRow("largest 32-bit key") << "2147483647";
    QTest::newRow("beyond 32 bits") << "9000000000";
}

void TestCustomerStore::nextKeyRefusesToWrap()
{
    QFETCH(QString, largest);

    createDatabase();
    QCOMPARE(m_store.execute(QStringLiteral("INSERT INTO Customer (CustID) VALUES (%1)").arg(largest)), 1);
    try {
        m_store.GetNextCustID();
        QFAIL("a key past the largest was handed out");
    } catch (const ado::Error& e) {
        QCOMPARE(e.description(), QStringLiteral("Impossibile assegnare un nuovo codice al contatto."));
    }
    QVERIFY(!m_store.mrsCust);
}

void TestCustomerStore::quotesCannotBreakStatements_data()
{
    QTest::addColumn<QString>("value");

    QTest::newRow("apostrophe") << "D'Angelo";
    QTest::newRow("injection") << "'); DELETE FROM Customer; --";
    QTest::newRow("update injection") << "', FirstName = 'x' WHERE 1 = 1 --";
    QTest::newRow("quotes only") << "''";
}

// Whatever a field holds is stored exactly as typed, and no other row is touched.
void TestCustomerStore::quotesCannotBreakStatements()
{
    QFETCH(QString, value);

    createDatabase(mkdb::generatedContacts(3));
    const ContactFields typed {value, value, value, value, value, value, value};
    const qint32 key = m_store.GetNextCustID();
    QCOMPARE(m_store.execute(InsertStatement(key, typed)), 1);
    const QStringList expected {QString::number(key), value, value, value, value, value, value, value};
    QCOMPARE(storedRow(key), expected);
    QCOMPARE(rowCount(), 4);

    const QStringList untouched = storedRow(2);
    ContactFields others {"Bianchi", "Giulia", "Via Roma 1", "Forlì", "FC", "3471112233", "0543123456"};
    for (QString* field : {&others.firstName,
                           &others.lastName,
                           &others.address,
                           &others.city,
                           &others.state,
                           &others.zip,
                           &others.phoneNumber}) {
        const QString before = *field;
        *field = value;
        QCOMPARE(m_store.execute(UpdateStatement(others, 1)), 1);
        *field = before;
    }
    QCOMPARE(storedRow(1), (QStringList {"1", "Bianchi", "Giulia", "Via Roma 1", "Forlì", "FC", "3471112233", value}));
    QCOMPARE(storedRow(2), untouched);
    QCOMPARE(rowCount(), 4);

    QCOMPARE(m_store.execute(DeleteStatement(key)), 1);
    QCOMPARE(rowCount(), 3);
}

void TestCustomerStore::executeReportsRowsChanged()
{
    createDatabase(mkdb::generatedContacts(2));
    QCOMPARE(m_store.execute(UpdateStatement({}, 99)), 0);
    QCOMPARE(m_store.execute(DeleteStatement(99)), 0);
    QCOMPARE(m_store.execute(UpdateStatement({}, 2)), 1);
    QCOMPARE(storedRow(2), (QStringList {"2", "", "", "", "", "", "", ""}));
    try {
        m_store.execute(InsertStatement(1, {}));
        QFAIL("a duplicate key was inserted");
    } catch (const ado::Error& e) {
        QCOMPARE(
            e.description(),
            QStringLiteral("Il codice è già in uso (Customer.CustID): forse un altro programma ha appena aggiunto un "
                           "contatto. Riprovare a salvare."));
    }
}

void TestCustomerStore::listQueryOrdersByNameThenSurname()
{
    createDatabase({{1, "Verdi", "Anna", {}, {}, {}, {}, {}},
                    {2, "Bianchi", "Anna", {}, {}, {}, {}, {}},
                    {3, "Rossi", "Marco", {}, {}, {}, {}, {}},
                    {4, "Neri", QVariant(), {}, {}, {}, {}, {}}});
    ado::Recordset& rs = m_store.openQuery(ListQuery());
    QStringList order;
    while (!rs.isEOF()) {
        order.append(rs.Fields(QStringLiteral("FirstName")).toString() + QLatin1Char('/')
                     + rs.Fields(QStringLiteral("CustID")).toString());
        rs.MoveNext();
    }
    m_store.releaseRecordset();
    QCOMPARE(order, (QStringList {"Neri/4", "Bianchi/2", "Verdi/1", "Rossi/3"}));
}

void TestCustomerStore::openQueryOfAStatementWithoutRowsFails()
{
    createDatabase(mkdb::generatedContacts(1));
    QVERIFY_THROWS_EXCEPTION(ado::Error, m_store.openQuery(DeleteStatement(99)));
    QVERIFY(!m_store.mrsCust);
}

void TestCustomerStore::closedStoreRefusesStatements()
{
    QVERIFY_THROWS_EXCEPTION(ado::Error, m_store.GetNextCustID());
    QVERIFY_THROWS_EXCEPTION(ado::Error, m_store.execute(DeleteStatement(1)));
    QVERIFY_THROWS_EXCEPTION(ado::Error, m_store.openQuery(ListQuery()));
    m_store.CloseDatabase();
    QVERIFY(!m_store.isOpen());
}

QTEST_GUILESS_MAIN(TestCustomerStore)
#include "tst_customerstore.moc"
