#include "maint/FileHandOver.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

namespace {

// A path per line, the list closed by an empty line; the window answers "ok".
constexpr int kWaitMs = 5000;
constexpr qint64 kMostBytes = 1 << 20;
const QByteArray kTaken = QByteArrayLiteral("ok\n");

QString userName()
{
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty())
        user = QDir::home().dirName();
    // The name becomes part of a file name.
    QString safe;
    for (const QChar c : user)
        safe += c.isLetterOrNumber() || c == u'_' || c == u'-' ? c : QChar(u'_');
    return safe.left(32);
}

} // namespace

FileHandOver::FileHandOver(QObject* parent)
    : QObject(parent)
    , m_server(new QLocalServer(this))
{
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &FileHandOver::accept);
}

FileHandOver::~FileHandOver() = default;

QString FileHandOver::serverName(const QString& bookPath)
{
    const QString canonical = QFileInfo(bookPath).canonicalFilePath();
    const QByteArray hash
        = QCryptographicHash::hash((canonical.isEmpty() ? QFileInfo(bookPath).absoluteFilePath() : canonical).toUtf8(),
                                   QCryptographicHash::Sha256)
              .toHex()
              .left(16);
    return QStringLiteral("velmarin-") + userName() + u'-' + QString::fromLatin1(hash);
}

bool FileHandOver::send(const QString& name, const QStringList& paths)
{
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(kWaitMs))
        return false;
    QByteArray message;
    for (const QString& path : paths)
        message += QFileInfo(path).absoluteFilePath().toUtf8() + '\n';
    message += '\n';
    socket.write(message);
    if (!socket.waitForBytesWritten(kWaitMs))
        return false;
    QByteArray answer;
    while (answer.size() < kTaken.size() && socket.waitForReadyRead(kWaitMs))
        answer += socket.readAll();
    return answer.startsWith(kTaken);
}

bool FileHandOver::listen(const QString& name)
{
    if (m_server->listen(name))
        return true;
    // Nobody answered there (send failed first), so the socket file is a crashed window's.
    if (m_server->serverError() == QAbstractSocket::AddressInUseError) {
        QLocalServer::removeServer(name);
        return m_server->listen(name);
    }
    return false;
}

void FileHandOver::accept()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            // A client that sends too much or never ends its list is dropped.
            if (socket->bytesAvailable() > kMostBytes) {
                socket->abort();
                return;
            }
            const QByteArray all = socket->peek(kMostBytes);
            const qsizetype end = all.startsWith('\n') ? 0 : all.indexOf("\n\n");
            if (end < 0)
                return;
            socket->readAll();
            QStringList paths;
            for (const QByteArray& line : all.left(end).split('\n')) {
                if (!line.isEmpty())
                    paths.append(QString::fromUtf8(line));
            }
            socket->write(kTaken);
            socket->flush();
            socket->disconnectFromServer();
            if (!paths.isEmpty())
                emit filesArrived(paths);
        });
    }
}
