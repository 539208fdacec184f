#include "data/Statements.h"

#include "mkdb/CustDatabase.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

// The statement texts are the contract with the database file: compared whole, spaces included.
class TestStatements : public QObject
{
    Q_OBJECT

private slots:
    void queries();
    void insertStatement_data();
    void insertStatement();
    void updateStatement_data();
    void updateStatement();
    void deleteStatement_data();
    void deleteStatement();
    void quoting_data();
    void quoting();
    void storedExactly_data();
    void storedExactly();
};

namespace {

const ContactFields rossi {"Rossi", "Mario", "Via Roma 12", "Milano", "MI", "3351234567", "0212345678"};

} // namespace

void TestStatements::queries()
{
    QCOMPARE(ListQuery(),
             QStringLiteral("SELECT FirstName     , LastName     , Address     , City     , State     , Zip     , "
                            "PhoneNumber     , CustID  FROM Customer  ORDER BY LastName        , FirstName"));
    QCOMPARE(ListQuery().size(), 162);
    QCOMPARE(KeyQuery(), QStringLiteral("SELECT MAX(CustID) AS MaxID FROM Customer"));
    QCOMPARE(KeyQuery().size(), 41);
}

void TestStatements::insertStatement_data()
{
    QTest::addColumn<qint32>("custId");
    QTest::addColumn<ContactFields>("fields");
    QTest::addColumn<QString>("values");

    QTest::newRow("plain") << 7 << rossi
                           << "7, 'Rossi', 'Mario', 'Via Roma 12', 'Milano', 'MI', '3351234567', '0212345678')";
    QTest::newRow("all empty") << 1 << ContactFields {} << "1, '', '', '', '', '', '', '')";
    QTest::newRow("apostrophes")
        << 2 << ContactFields {"D'Angelo", "Lucia", "Via dell'Indipendenza 8", "Sant'Elia", "", "", "0815551234"}
        << "2, 'D''Angelo', 'Lucia', 'Via dell''Indipendenza 8', 'Sant''Elia', '', '', "
           "'0815551234')";
    QTest::newRow("largest key") << 2147483647 << ContactFields {"x", "", "", "", "", "", ""}
                                 << "2147483647, 'x', '', '', '', '', '', '')";
    QTest::newRow("negative key") << -12 << ContactFields {} << "-12, '', '', '', '', '', '', '')";
    // SQLite would stop reading at the U+0000 itself.
    QTest::newRow("NUL inside, at the ends, twice")
        << 3
        << ContactFields {QStringLiteral("a") + QChar(0) + QStringLiteral("'b"),
                          QString(QChar(0)),
                          "",
                          "",
                          "",
                          "",
                          QStringLiteral("1") + QChar(0) + QChar(0)}
        << "3, replace('a\x01''b', char(1), char(0)), replace('\x01', char(1), char(0)), '', '', '', '', "
           "replace('1\x01\x01', char(1), char(0)))";
    QTest::newRow("NUL beside the first free characters")
        << 4 << ContactFields {QStringLiteral("\x01\x02&") + QChar(0), "", "", "", "", "", ""}
        << "4, replace('\x01\x02&\x03', char(3), char(0)), '', '', '', '', '', '')";
}

void TestStatements::insertStatement()
{
    QFETCH(qint32, custId);
    QFETCH(ContactFields, fields);
    QFETCH(QString, values);

    const QString head = QStringLiteral("INSERT INTO Customer(  CustID            , FirstName            , LastName    "
                                        "        , Address            , City            , State            , Zip     "
                                        "       , PhoneNumber         ) VALUES (");
    QCOMPARE(head.size(), 193);
    QCOMPARE(InsertStatement(custId, fields), head + values);
}

void TestStatements::updateStatement_data()
{
    QTest::addColumn<ContactFields>("fields");
    QTest::addColumn<qint32>("custId");
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain") << rossi << 7
                           << "UPDATE Customer SET   FirstName   = 'Rossi', LastName    = 'Mario', Address     = 'Via "
                              "Roma 12', City        = 'Milano', State       = 'MI', Zip         = '3351234567', "
                              "PhoneNumber = '0212345678' WHERE CustID = 7";
    QTest::newRow("empty address")
        << ContactFields {"Bianchi", "Giulia", "", "Forlì", "FC", "", ""} << 3
        << "UPDATE Customer SET   FirstName   = 'Bianchi', LastName    = 'Giulia', Address     = '', City        = "
           "'Forlì', State       = 'FC', Zip         = '', PhoneNumber = '' WHERE CustID = 3";
    QTest::newRow("negative key") << ContactFields {} << -2147483647 - 1
                                  << "UPDATE Customer SET   FirstName   = '', LastName    = '', Address     = '', City "
                                     "       = '', State       = '', Zip         = '', PhoneNumber = '' WHERE CustID "
                                     "= -2147483648";
}

void TestStatements::updateStatement()
{
    QFETCH(ContactFields, fields);
    QFETCH(qint32, custId);
    QFETCH(QString, expected);

    const QString text = UpdateStatement(fields, custId);
    QCOMPARE(text, expected);
    // Every assignment is 17 characters up to its value, so the "=" signs line up.
    const QStringList names {"  FirstName", ", LastName", ", Address", ", City", ", State", ", Zip", ", PhoneNumber"};
    for (const QString& name : names) {
        const qsizetype at = text.indexOf(name);
        QVERIFY(at > 0);
        QCOMPARE(text.indexOf(QStringLiteral("= '"), at) + 3 - at, 17);
    }
}

void TestStatements::deleteStatement_data()
{
    QTest::addColumn<qint32>("custId");
    QTest::addColumn<QString>("key");

    QTest::newRow("plain") << 7 << "7";
    QTest::newRow("largest") << 2147483647 << "2147483647";
    QTest::newRow("zero") << 0 << "0";
    QTest::newRow("negative") << -5 << "-5";
}

void TestStatements::deleteStatement()
{
    QFETCH(qint32, custId);
    QFETCH(QString, key);

    const QString head = QStringLiteral("DELETE FROM Customer WHERE CustID = ");
    QCOMPARE(head.size(), 36);
    QCOMPARE(DeleteStatement(custId), head + key);
}

void TestStatements::quoting_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("inStatement");

    QTest::newRow("none") << "Rossi"
                          << "Rossi";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("one") << "D'Angelo"
                         << "D''Angelo";
    QTest::newRow("first and last") << "'x'"
                                    << "''x''";
    QTest::newRow("run") << "'''"
                         << "''''''";
    QTest::newRow("injection") << "'); DELETE FROM Customer; --"
                               << "''); DELETE FROM Customer; --";
    QTest::newRow("typographic quote kept") << QString::fromUtf8("D’Angelo") << QString::fromUtf8("D’Angelo");
}

// Every one of the seven text values is quoted the same way, the province, mobile and phone included.
void TestStatements::quoting()
{
    QFETCH(QString, value);
    QFETCH(QString, inStatement);

    QCOMPARE(quoted(value), inStatement);
    const ContactFields fields {value, value, value, value, value, value, value};
    const QString literal = QLatin1Char('\'') + inStatement + QLatin1Char('\'');
    QCOMPARE(InsertStatement(1, fields).count(QLatin1String(", ") + literal), 7);
    QCOMPARE(UpdateStatement(fields, 1).count(QLatin1String("= ") + literal), 7);
}

void TestStatements::storedExactly_data()
{
    QTest::addColumn<QString>("value");

    const QString nuls(10000, QChar(0));
    QTest::newRow("10,000 NULs") << nuls;
    QTest::newRow("10,000 NULs between letters") << QStringLiteral("Via ") + nuls + QStringLiteral("'Po");
    QTest::newRow("NUL and letter alternating") << (QStringLiteral("a") + QChar(0)).repeated(3000);
    QTest::newRow("NULs beside control characters")
        << QStringLiteral("\x01") + QChar(0) + QStringLiteral("\x02'") + QChar(0) + QStringLiteral("\x03");
}

// Through a real book file: SQLite refuses an expression nested deeper than 1000, and stops reading at a U+0000.
void TestStatements::storedExactly()
{
    QFETCH(QString, value);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("Cust.mdb"));
    QCOMPARE(mkdb::createCustomerDatabase(path), QString());
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("stored"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery query(db);
        const QList<ContactFields> rows {{value, "", value, "", "", "", ""}, {"", value, value, "", "", "", value}};
        const QStringList statements {InsertStatement(5, rows.at(0)), UpdateStatement(rows.at(1), 5)};
        for (int i = 0; i < 2; ++i) {
            QVERIFY2(query.exec(statements.at(i)), qPrintable(query.lastError().text()));
            QVERIFY(query.exec(ListQuery()) && query.next());
            const ContactFields& f = rows.at(i);
            QStringList stored;
            for (int column = 0; column < 7; ++column) {
                stored.append(query.value(column).toString());
            }
            QCOMPARE(stored, (QStringList {f.firstName, f.lastName, f.address, f.city, f.state, f.zip, f.phoneNumber}));
            QCOMPARE(query.value(7).toInt(), 5);
        }
        query.finish();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("stored"));
}

QTEST_GUILESS_MAIN(TestStatements)
#include "tst_statements.moc"
