#include "data/Ado.h"
#include "data/Statements.h"
#include "mkdb/CustDatabase.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// The files velmarin-mkdb creates are the ones the program, the tests and the benchmarks open.
class TestMkdb : public QObject
{
    Q_OBJECT

private slots:
    void refusesToOverwrite();
    void demoContactsLoad();
    void listOrderIgnoresCase();
    void duplicateKeyFails();
};

namespace {

std::shared_ptr<ado::Recordset> run(const QString& path, const QString& sql)
{
    auto connection = std::make_shared<ado::Connection>();
    connection->Open(QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=") + path);
    ado::Command command;
    command.ActiveConnection = connection;
    command.CommandText = sql;
    return command.Execute();
}

} // namespace

void TestMkdb::refusesToOverwrite()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Cust.mdb"));
    QFile existing(path);
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.write("not mine to replace");
    existing.close();

    const QString error = mkdb::createCustomerDatabase(path);
    QVERIFY(!error.isEmpty());
    QVERIFY(existing.open(QIODevice::ReadOnly));
    QCOMPARE(existing.readAll(), QByteArray("not mine to replace"));
}

void TestMkdb::demoContactsLoad()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Cust.mdb"));
    QCOMPARE(mkdb::createCustomerDatabase(path), QString());
    QCOMPARE(mkdb::insertContacts(path, mkdb::demoContacts()), QString());

    const auto rs = run(path, QStringLiteral("Select * from Customer "));
    const QStringList columns {"CustID", "FirstName", "LastName", "Address", "State", "Zip", "PhoneNumber", "City"};
    QCOMPARE(rs->fieldCount(), columns.size());
    for (int i = 0; i < columns.size(); ++i) {
        QCOMPARE(rs->fieldName(i), columns.at(i));
    }
    int rows = 0;
    bool apostrophe = false;
    bool nulls = false;
    for (; !rs->isEOF(); rs->MoveNext()) {
        ++rows;
        apostrophe = apostrophe || rs->Fields(QStringLiteral("FirstName")).toString() == QStringLiteral("D'Angelo");
        nulls = nulls || rs->Fields(QStringLiteral("PhoneNumber")).isNull();
    }
    QCOMPARE(rows, mkdb::demoContacts().size());
    QVERIFY(apostrophe);
    QVERIFY(nulls);
}

void TestMkdb::listOrderIgnoresCase()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Cust.mdb"));
    QCOMPARE(mkdb::createCustomerDatabase(path), QString());
    QCOMPARE(mkdb::insertContacts(path,
                                  {{1, "Esposito", "Luca", {}, {}, {}, {}, {}},
                                   {2, "de Luca", "Luca", {}, {}, {}, {}, {}},
                                   {3, "Colombo", "Luca", {}, {}, {}, {}, {}}}),
             QString());
    QStringList order;
    for (const auto rs = run(path, ListQuery()); !rs->isEOF(); rs->MoveNext()) {
        order.append(rs->Fields(QStringLiteral("FirstName")).toString());
    }
    QCOMPARE(order, (QStringList {"Colombo", "de Luca", "Esposito"}));
}

void TestMkdb::duplicateKeyFails()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Cust.mdb"));
    QCOMPARE(mkdb::createCustomerDatabase(path), QString());
    QCOMPARE(mkdb::insertContacts(path, {{1, "Rossi", {}, {}, {}, {}, {}, {}}}), QString());
    QVERIFY(!mkdb::insertContacts(path, {{1, "Bianchi", {}, {}, {}, {}, {}, {}}}).isEmpty());
    QCOMPARE(run(path, QStringLiteral("SELECT COUNT(*) FROM Customer"))->Fields(0).toInt(), 1);
}

QTEST_GUILESS_MAIN(TestMkdb)
#include "tst_mkdb.moc"
