#pragma once

#include "Ado.h"

#include <memory>

// The main window's access to Cust.mdb: one connection and one reused command object, opened at load and closed
// at unload. Every failure throws ado::Error with a description.
class CustomerStore
{
public:
    // "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + appPath + "Cust.mdb"; appPath ends in a separator.
    static QString connectionText(const QString& appPath);

    void ConnectToDatabase(const QString& connectionText);
    void CloseDatabase();
    bool isOpen() const { return mcnnCust != nullptr; }

    // Largest key plus one, 1 for an empty table. Throws when the largest key is already 2147483647.
    qint32 GetNextCustID();

    // Sends a query and keeps its record set in mrsCust until releaseRecordset().
    ado::Recordset& openQuery(const QString& statement);
    void releaseRecordset() { mrsCust.reset(); }

    // Sends an insert, update or delete; returns the number of rows it changed.
    int execute(const QString& statement);

    std::shared_ptr<ado::Connection> mcnnCust;
    std::unique_ptr<ado::Command> mcmdCust;
    std::shared_ptr<ado::Recordset> mrsCust;
};
