#include "support/OpenBook.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

OpenBook::OpenBook(const QList<mkdb::ContactRow>& rows)
{
    const QString path = dir.filePath(QStringLiteral("Cust.mdb"));
    if (!mkdb::createCustomerDatabase(path).isEmpty()
        || (!rows.isEmpty() && !mkdb::insertContacts(path, rows).isEmpty())) {
        qFatal("cannot create %s", qPrintable(path));
    }
    store.ConnectToDatabase(CustomerStore::connectionText(dir.path() + QLatin1Char('/')));
}

OpenBook::~OpenBook()
{
    store.CloseDatabase();
}

void OpenBook::otherProgram(const QString& sql) const
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
        db.setDatabaseName(dir.filePath(QStringLiteral("Cust.mdb")));
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY2(query.exec(sql), qPrintable(query.lastError().text()));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("other"));
}

QList<qint32> OpenBook::keys()
{
    QList<qint32> found;
    RecordsetRelease release {store};
    for (ado::Recordset& rs = store.openQuery(QStringLiteral("SELECT CustID FROM Customer ORDER BY CustID"), {});
         !rs.isEOF();
         rs.MoveNext()) {
        found.append(rs.Fields(0).toInt());
    }
    return found;
}
