#pragma once

#include "data/CustomerStore.h"
#include "mkdb/CustDatabase.h"

#include <QTemporaryDir>

// A book in a temporary folder with the store open on it, for tests of the data layer without a window.
struct OpenBook
{
    QTemporaryDir dir;
    CustomerStore store;

    explicit OpenBook(const QList<mkdb::ContactRow>& rows = {});
    ~OpenBook();
    OpenBook(const OpenBook&) = delete;
    OpenBook& operator=(const OpenBook&) = delete;

    // Runs one statement on a second connection, as another program would (a failure fails the test).
    void otherProgram(const QString& sql) const;
    // The keys of the book, in order.
    QList<qint32> keys();
};
