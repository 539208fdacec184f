#pragma once

#include "mkdb/CustDatabase.h"

#include <QTemporaryDir>

// A Cust.mdb in a fresh temporary folder that also becomes the application folder while the object lives.
class TestDatabase
{
public:
    explicit TestDatabase(const QList<mkdb::ContactRow>& rows = {});
    ~TestDatabase();

    QString folder() const { return m_dir.path(); }
    QString path() const;

    // Runs one statement on a separate connection (a second program on the same file); returns the error text.
    QString exec(const QString& sql) const;
    // The rows of "SELECT ... ORDER BY CustID" as texts, NULL as "<null>", columns in the contact record's order.
    QList<QStringList> rows() const;
    int count() const;

private:
    QTemporaryDir m_dir;
};
