#include "support/ProgramRun.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>

QString programIn(const QString& folder)
{
    // velmarin hands its commands to velmarin-cli beside its own file: both go, as they are installed.
    for (const char* name : {"velmarin-cli", "velmarin"}) {
        const QString target = folder + QLatin1Char('/') + QLatin1String(name);
        if (!QFile::exists(target)) {
            QFile::copy(QCoreApplication::applicationDirPath() + QStringLiteral("/../bin/") + QLatin1String(name),
                        target);
        }
    }
    return folder + QStringLiteral("/velmarin");
}

ProgramRun runProgram(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    ProgramRun result;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}
