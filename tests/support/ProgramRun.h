#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// The installed program as a user runs it from a shell: velmarin and velmarin-cli copied into folder (beside a
// Cust.mdb, so that it opens that one), started with arguments, its answer read back.
struct ProgramRun
{
    int status = -1; // -1: did not end within the time, or crashed
    QString out;
    QString err;
};

// The path of velmarin in folder, copied there with velmarin-cli the first time.
QString programIn(const QString& folder);
ProgramRun runProgram(const QString& program,
                      const QStringList& arguments,
                      const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());
