#include "support/PeerClient.h"

#include "support/DavServer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

namespace {

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

// Values as the configurations quote them.
QString quoted(const QString& text)
{
    return QLatin1Char('"')
        + QString(text)
              .replace(QLatin1Char('\\'), QLatin1String("\\\\"))
              .replace(QLatin1Char('"'), QLatin1String("\\\""))
        + QLatin1Char('"');
}

} // namespace

PeerClient::PeerClient(const DavServer& server, const QUrl& book)
    : m_book(book)
    , m_user(server.user())
    , m_password(server.password())
{
}

QString PeerClient::missing()
{
    QStringList absent;
    for (const char* program : {"vdirsyncer", "khard"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty()) {
            absent.append(QString::fromLatin1(program));
        }
    }
    return absent.isEmpty()
        ? QString()
        : absent.join(QLatin1String(" and ")) + QLatin1String(" not installed (scripts/install-deps installs them)");
}

QString PeerClient::path(const QString& relative) const
{
    return QDir(m_dir.path()).filePath(relative);
}

QString PeerClient::vdir() const
{
    return path(QStringLiteral("vdir"));
}

bool PeerClient::setUp()
{
    if (!m_dir.isValid() || !QDir().mkpath(vdir())) {
        m_error = QStringLiteral("no temporary folder");
        return false;
    }
    const QByteArray vdirsyncer = QStringLiteral("[general]\n"
                                                 "status_path = %1\n\n"
                                                 "[pair book]\n"
                                                 "a = \"book_local\"\n"
                                                 "b = \"book_remote\"\n"
                                                 "collections = null\n"
                                                 "conflict_resolution = \"b wins\"\n\n"
                                                 "[storage book_local]\n"
                                                 "type = \"filesystem\"\n"
                                                 "path = %2\n"
                                                 "fileext = \".vcf\"\n\n"
                                                 "[storage book_remote]\n"
                                                 "type = \"carddav\"\n"
                                                 "url = %3\n"
                                                 "username = %4\n"
                                                 "password = %5\n")
                                      .arg(quoted(path(QStringLiteral("status/"))),
                                           quoted(vdir() + QLatin1Char('/')),
                                           quoted(m_book.toString()),
                                           quoted(m_user),
                                           quoted(m_password))
                                      .toUtf8();
    // khard keeps X-SKYPE as a private object of its own; vCard 3.0 as most phones write.
    const QByteArray khard = QStringLiteral("[addressbooks]\n"
                                            "[[famiglia]]\n"
                                            "path = %1\n\n"
                                            "[general]\n"
                                            "default_action = list\n"
                                            "editor = /bin/false\n"
                                            "merge_editor = /bin/false\n\n"
                                            "[vcard]\n"
                                            "private_objects = Skype,\n"
                                            "preferred_version = 3.0\n")
                                 .arg(vdir() + QLatin1Char('/'))
                                 .toUtf8();
    if (!writeFile(path(QStringLiteral("vdirsyncer.conf")), vdirsyncer)
        || !writeFile(path(QStringLiteral("khard.conf")), khard)) {
        m_error = QStringLiteral("cannot write the configurations");
        return false;
    }
    // discover asks before it makes anything; the address book exists, but it is told yes all the same.
    return run(QStringLiteral("vdirsyncer"),
               {QStringLiteral("-c"), path(QStringLiteral("vdirsyncer.conf")), QStringLiteral("discover")},
               QByteArray("y\n").repeated(10),
               nullptr);
}

bool PeerClient::sync()
{
    return run(QStringLiteral("vdirsyncer"),
               {QStringLiteral("-c"), path(QStringLiteral("vdirsyncer.conf")), QStringLiteral("sync")},
               {},
               nullptr);
}

QByteArray PeerClient::khard(const QStringList& arguments, const QByteArray& input)
{
    QByteArray output;
    if (!run(QStringLiteral("khard"),
             QStringList {QStringLiteral("-c"), path(QStringLiteral("khard.conf"))} + arguments,
             input,
             &output)) {
        return {};
    }
    return output.isNull() ? QByteArray("") : output;
}

bool PeerClient::edit(const QString& uid, const QByteArray& yaml)
{
    const QString file = path(QStringLiteral("edit.yaml"));
    if (!writeFile(file, yaml)) {
        m_error = QStringLiteral("cannot write %1").arg(file);
        return false;
    }
    return !khard({QStringLiteral("edit"), QStringLiteral("-i"), file, QStringLiteral("uid:") + uid}, "y\n").isNull();
}

QStringList PeerClient::uids()
{
    QStringList uids;
    const QByteArray listed = khard({QStringLiteral("list"), QStringLiteral("--parsable")});
    for (const QByteArray& line : listed.split('\n')) {
        if (!line.trimmed().isEmpty()) {
            uids.append(QString::fromUtf8(line.split('\t').first()));
        }
    }
    uids.sort();
    return uids;
}

QMap<QString, QString> PeerClient::contact(const QString& uid)
{
    QMap<QString, QString> values;
    const QByteArray shown = khard(
        {QStringLiteral("show"), QStringLiteral("--format"), QStringLiteral("yaml"), QStringLiteral("uid:") + uid});
    // Keys at each indentation above the line: enough for khard's own layout of nested maps.
    QList<QPair<int, QString>> parents;
    for (const QString& line : QString::fromUtf8(shown).split(QLatin1Char('\n'))) {
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#'))) {
            continue;
        }
        const int indent = int(line.size() - QString(line).remove(QRegularExpression(QStringLiteral("^ +"))).size());
        while (!parents.isEmpty() && parents.last().first >= indent) {
            parents.removeLast();
        }
        QString prefix;
        for (const auto& parent : std::as_const(parents)) {
            prefix += parent.second + QLatin1Char('.');
        }
        const qsizetype colon = trimmed.indexOf(QLatin1Char(':'));
        if (trimmed.startsWith(QLatin1Char('-')) || colon < 0) {
            // A list item: its text under the key above.
            QString item = trimmed;
            while (item.startsWith(QLatin1Char('-'))) {
                item = item.mid(1).trimmed();
            }
            if (!item.isEmpty() && !prefix.isEmpty()) {
                values.insert(prefix.chopped(1), item);
            }
            continue;
        }
        const QString key = trimmed.left(colon).trimmed();
        QString value = trimmed.mid(colon + 1).trimmed();
        if (value.size() >= 2 && value.startsWith(QLatin1Char('\'')) && value.endsWith(QLatin1Char('\''))) {
            value = value.mid(1, value.size() - 2);
        }
        if (value.isEmpty()) {
            parents.append({indent, key});
        } else {
            values.insert(prefix + key, value);
        }
    }
    return values;
}

bool PeerClient::run(const QString& program, const QStringList& arguments, const QByteArray& input, QByteArray* output)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // Nothing of the user's own configuration or locale; a fixed locale keeps khard's dates alike on every machine.
    environment.insert(QStringLiteral("HOME"), m_dir.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForStarted(-1)) {
        m_error = program + QStringLiteral(": ") + process.errorString();
        return false;
    }
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(-1);
    const QByteArray out = process.readAllStandardOutput();
    const QByteArray err = process.readAllStandardError();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        m_error = QStringLiteral("%1 %2 failed (%3): %4%5")
                      .arg(program, arguments.join(QLatin1Char(' ')))
                      .arg(process.exitCode())
                      .arg(QString::fromUtf8(out), QString::fromUtf8(err));
        return false;
    }
    if (output) {
        *output = out;
    }
    return true;
}
