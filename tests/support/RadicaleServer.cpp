#include "RadicaleServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace {

quint16 freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0)) {
        return 0;
    }
    return probe.serverPort();
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

} // namespace

RadicaleServer::RadicaleServer(const QString& user, const QString& password)
    : m_user(user)
    , m_password(password)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

RadicaleServer::~RadicaleServer()
{
    stop();
}

QString RadicaleServer::path(const QString& relative) const
{
    return m_dir.filePath(relative);
}

QUrl RadicaleServer::url() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(m_port));
}

bool RadicaleServer::isRunning() const
{
    return m_process.state() != QProcess::NotRunning;
}

bool RadicaleServer::start()
{
    m_error.clear();
    const QString program = QStandardPaths::findExecutable(QStringLiteral("radicale"));
    if (program.isEmpty()) {
        m_error = QStringLiteral("radicale is not installed (scripts/install-deps installs it)");
        return false;
    }
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return false;
    }
    if (m_port == 0) {
        m_port = freePort();
    }
    QDir().mkpath(path(QStringLiteral("storage/collection-root/") + m_user));
    const QByteArray config = QStringLiteral("[server]\n"
                                             "hosts = 127.0.0.1:%1\n"
                                             "[auth]\n"
                                             "type = htpasswd\n"
                                             "htpasswd_filename = %2\n"
                                             "htpasswd_encryption = plain\n"
                                             "delay = 0\n"
                                             "[rights]\n"
                                             "type = owner_only\n"
                                             "[storage]\n"
                                             "filesystem_folder = %3\n"
                                             "[web]\n"
                                             "type = none\n"
                                             "[logging]\n"
                                             "level = warning\n")
                                  .arg(m_port)
                                  .arg(path(QStringLiteral("users")), path(QStringLiteral("storage")))
                                  .toUtf8();
    if (!writeFile(path(QStringLiteral("config")), config)
        || !writeFile(path(QStringLiteral("users")), (m_user + QLatin1Char(':') + m_password + '\n').toUtf8())) {
        m_error = QStringLiteral("cannot write the server's files");
        return false;
    }
    m_process.start(program, {QStringLiteral("-C"), path(QStringLiteral("config"))});
    if (!m_process.waitForStarted(5000)) {
        m_error = m_process.errorString();
        return false;
    }
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        if (m_process.state() == QProcess::NotRunning) {
            m_error = QString::fromUtf8(m_process.readAll());
            return false;
        }
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_port);
        if (socket.waitForConnected(200)) {
            return true;
        }
        QThread::msleep(20);
    }
    m_error = QStringLiteral("radicale did not answer on port %1").arg(m_port);
    stop();
    return false;
}

void RadicaleServer::stop()
{
    if (m_process.state() == QProcess::NotRunning) {
        return;
    }
    m_process.terminate();
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

QUrl RadicaleServer::addAddressBook(const QString& name, const QString& displayName)
{
    const QString folder = path(QStringLiteral("storage/collection-root/%1/%2").arg(m_user, name));
    QDir().mkpath(folder);
    QByteArray escapedName = displayName.toUtf8();
    escapedName.replace('\\', "\\\\").replace('"', "\\\"");
    writeFile(folder + QStringLiteral("/.Radicale.props"),
              "{\"tag\": \"VADDRESSBOOK\", \"D:displayname\": \"" + escapedName + "\"}");
    return url().resolved(QUrl(QStringLiteral("/%1/%2/").arg(m_user, name)));
}

QStringList RadicaleServer::cardFiles(const QString& name) const
{
    return QDir(path(QStringLiteral("storage/collection-root/%1/%2").arg(m_user, name)))
        .entryList({QStringLiteral("*")}, QDir::Files, QDir::Name);
}
