#include "benches.h"

#include "core/AppInfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTextStream>

#include <algorithm>

namespace {

QString number(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

} // namespace

int Report::print(QTextStream& out) const
{
    const QString rule(98, QLatin1Char('-'));
    out << rule << '\n';
    out << QStringLiteral("%1 %2 %3 %4 %5  %6\n")
               .arg(QStringLiteral("figure"), -44)
               .arg(QStringLiteral("median"), 11)
               .arg(QStringLiteral("target"), 10)
               .arg(QStringLiteral("floor"), 10)
               .arg(QStringLiteral("x floor"), 8)
               .arg(QStringLiteral("met"));
    out << rule << '\n';
    int missed = 0;
    for (const Figure& f : m_figures) {
        missed += f.met() ? 0 : 1;
        const QString floor = f.floor > 0 ? number(f.floor, 2) + QStringLiteral(" ms") : QStringLiteral("-");
        const QString ratio = f.floor > 0 ? number(f.value / f.floor, 2) : QStringLiteral("-");
        out << QStringLiteral("%1 %2 %3 %4 %5  %6\n")
                   .arg(f.name, -44)
                   .arg(number(f.value, f.value < 10 ? 2 : 1) + QLatin1Char(' ') + f.unit, 11)
                   .arg(QStringLiteral("< ") + number(f.target, 0) + QLatin1Char(' ') + f.unit, 10)
                   .arg(floor, 10)
                   .arg(ratio, 8)
                   .arg(f.met() ? QStringLiteral("yes") : QStringLiteral("NO"));
        if (!f.note.isEmpty())
            out << QStringLiteral("    ") << f.note << '\n';
    }
    out << rule << '\n';
    for (const QString& line : m_details)
        out << line << '\n';
    out.flush();
    return missed;
}

double medianOf(QList<double> samples)
{
    if (samples.isEmpty())
        return 0;
    std::sort(samples.begin(), samples.end());
    const qsizetype middle = samples.size() / 2;
    return samples.size() % 2 ? samples.at(middle) : (samples.at(middle - 1) + samples.at(middle)) / 2;
}

GeneratedDatabase::GeneratedDatabase(int n, int duplicates)
{
    const QString tool = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("velmarin-mkdb"));
    QProcess mkdb;
    QStringList arguments {m_dir.path(), QStringLiteral("--generate"), QString::number(n)};
    if (duplicates > 0)
        arguments << QStringLiteral("--duplicates") << QString::number(duplicates);
    mkdb.start(tool, arguments);
    if (!mkdb.waitForFinished(120000) || mkdb.exitStatus() != QProcess::NormalExit || mkdb.exitCode() != 0) {
        m_error = QStringLiteral("%1: %2 %3")
                      .arg(tool, mkdb.errorString(), QString::fromLocal8Bit(mkdb.readAllStandardError()).trimmed());
    }
    m_said = QString::fromLocal8Bit(mkdb.readAllStandardOutput()).trimmed();
}

QString GeneratedDatabase::path() const
{
    return QDir(m_dir.path()).filePath(QStringLiteral("Cust.mdb"));
}

void GeneratedDatabase::makeApplicationFolder() const
{
    AppInfo::setFolderOverride(folder());
}

double sqliteFloorMs(const QString& path, const QString& sql, int repetitions)
{
    const QString name = QStringLiteral("bench-floor");
    QList<double> samples;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (db.open()) {
            qsizetype chars = 0;
            for (int r = 0; r < repetitions; ++r) {
                QElapsedTimer timer;
                timer.start();
                QSqlQuery query(db);
                query.setForwardOnly(true);
                query.exec(sql);
                const int columns = query.record().count();
                while (query.next()) {
                    for (int i = 0; i < columns; ++i)
                        chars += query.value(i).toString().size();
                }
                samples.append(double(timer.nsecsElapsed()) / 1e6);
            }
            db.close();
            Q_UNUSED(chars);
        }
    }
    QSqlDatabase::removeDatabase(name);
    return medianOf(samples);
}

WriteFloor sqliteWriteFloor(const QString& path, int repetitions)
{
    const QString name = QStringLiteral("bench-write-floor");
    QList<double> inserts;
    QList<double> deletes;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery query(db);
            for (int r = 0; r < repetitions; ++r) {
                const int key = 2000000000 + r;
                QElapsedTimer timer;
                timer.start();
                query.exec(QStringLiteral("INSERT INTO Customer (CustID, FirstName, LastName, Address, City, State, "
                                          "Zip, PhoneNumber) VALUES (%1, 'Zanetti', 'Paola', 'Via Emilia 1', "
                                          "'Modena', 'MO', '3471000000', '0592000001')")
                               .arg(key));
                inserts.append(double(timer.nsecsElapsed()) / 1e6);
                timer.restart();
                query.exec(QStringLiteral("DELETE FROM Customer WHERE CustID = %1").arg(key));
                deletes.append(double(timer.nsecsElapsed()) / 1e6);
            }
            query.finish();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return {medianOf(inserts), medianOf(deletes)};
}

Memory memoryNow()
{
    Memory memory;
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return memory;
    const auto megabytes = [](const QByteArray& line) {
        return line.mid(line.indexOf(':') + 1).trimmed().split(' ').first().toDouble() / 1024.0;
    };
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            memory.peakMb = megabytes(line);
        else if (line.startsWith("VmRSS:"))
            memory.residentMb = megabytes(line);
    }
    return memory;
}

MessageBox::Answer YesToEverything::ask(QWidget*, const MessageBox::Request& request)
{
    ++asked;
    lastText = request.text;
    if (request.buttons == MessageBox::YesNo || request.buttons == MessageBox::YesNoCancel)
        return MessageBox::Yes;
    return request.defaultButton;
}
