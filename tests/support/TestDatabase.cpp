#include "support/TestDatabase.h"

#include "core/AppInfo.h"

#include <QAtomicInt>
#include <QDir>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

namespace {

template<typename Fn>
void withConnection(const QString& path, Fn fn)
{
    static QAtomicInt counter;
    const QString name = QStringLiteral("testdb-%1").arg(counter.fetchAndAddRelaxed(1));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI"));
        if (db.open()) {
            fn(db);
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
}

} // namespace

TestDatabase::TestDatabase(const QList<mkdb::ContactRow>& rows)
{
    const QString created = mkdb::createCustomerDatabase(path());
    if (!created.isEmpty()) {
        QTest::qFail(qPrintable(created), __FILE__, __LINE__);
    }
    if (!rows.isEmpty()) {
        const QString inserted = mkdb::insertContacts(path(), rows);
        if (!inserted.isEmpty()) {
            QTest::qFail(qPrintable(inserted), __FILE__, __LINE__);
        }
    }
    AppInfo::setFolderOverride(folder());
}

TestDatabase::~TestDatabase()
{
    AppInfo::setFolderOverride({});
}

QString TestDatabase::path() const
{
    return QDir(m_dir.path()).filePath(QStringLiteral("Cust.mdb"));
}

QString TestDatabase::exec(const QString& sql) const
{
    QString error = QStringLiteral("impossibile aprire il database");
    withConnection(path(), [&](QSqlDatabase& db) {
        QSqlQuery query(db);
        error = query.exec(sql) ? QString() : query.lastError().text();
    });
    return error;
}

QList<QStringList> TestDatabase::rows() const
{
    QList<QStringList> result;
    withConnection(path(), [&](QSqlDatabase& db) {
        QSqlQuery query(db);
        query.exec(QStringLiteral("SELECT CustID, FirstName, LastName, Address, City, State, Zip, PhoneNumber "
                                  "FROM Customer ORDER BY CustID"));
        while (query.next()) {
            QStringList row;
            for (int i = 0; i < 8; ++i) {
                const QVariant v = query.value(i);
                row.append(v.isNull() ? QStringLiteral("<null>") : v.toString());
            }
            result.append(row);
        }
    });
    return result;
}

int TestDatabase::count() const
{
    return int(rows().size());
}
