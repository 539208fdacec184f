#include "support/HttpRecorder.h"

#include <QFile>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>

HttpRecorder::HttpRecorder(Answer answer, const QString& certificate, const QString& key)
    : m_answer(std::move(answer))
{
    if (certificate.isEmpty()) {
        m_server = new QTcpServer(this);
    } else {
        auto* server = new QSslServer(this);
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        QFile certificateFile(certificate);
        QFile keyFile(key);
        certificateFile.open(QIODevice::ReadOnly);
        keyFile.open(QIODevice::ReadOnly);
        configuration.setLocalCertificate(QSslCertificate(certificateFile.readAll(), QSsl::Pem));
        configuration.setPrivateKey(QSslKey(keyFile.readAll(), QSsl::Rsa, QSsl::Pem));
        configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
        server->setSslConfiguration(configuration);
        m_server = server;
        m_tls = true;
    }
    m_server->listen(QHostAddress::LocalHost);
    const auto accept = [this] {
        while (QTcpSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                m_pending.remove(socket);
                m_held.removeAll(socket);
                socket->deleteLater();
            });
        }
    };
    connect(m_server, &QTcpServer::pendingConnectionAvailable, this, accept);
}

HttpRecorder::~HttpRecorder() = default;

quint16 HttpRecorder::port() const
{
    return m_server->serverPort();
}

QUrl HttpRecorder::url() const
{
    return QUrl(
        QStringLiteral("%1://127.0.0.1:%2/").arg(m_tls ? QStringLiteral("https") : QStringLiteral("http")).arg(port()));
}

QByteArray HttpRecorder::redirect(int status, const QUrl& to)
{
    return "HTTP/1.1 " + QByteArray::number(status) + " Redirect\r\nLocation: " + to.toEncoded()
        + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
}

QByteArray HttpRecorder::answer(int status, const QByteArray& body, const QByteArray& contentType)
{
    return "HTTP/1.1 " + QByteArray::number(status) + " Answer\r\nContent-Type: " + contentType
        + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

void HttpRecorder::read(QTcpSocket* socket)
{
    QByteArray& data = m_pending[socket];
    data += socket->readAll();
    const qsizetype end = data.indexOf("\r\n\r\n");
    if (end < 0) {
        return;
    }
    Request request;
    const QList<QByteArray> lines = data.left(end).split('\n');
    const QList<QByteArray> first = lines.first().trimmed().split(' ');
    request.method = first.value(0);
    request.path = first.value(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines.at(i).indexOf(':');
        if (colon > 0) {
            request.headers.insert(lines.at(i).left(colon).trimmed().toLower(), lines.at(i).mid(colon + 1).trimmed());
        }
    }
    const qsizetype length = request.headers.value("content-length").toLongLong();
    if (data.size() < end + 4 + length) {
        return;
    }
    request.body = data.mid(end + 4, length);
    m_pending.remove(socket);
    m_requests.append(request);
    const QByteArray answer = m_answer(request);
    if (answer == hold()) {
        m_held.append(socket);
    } else if (answer == forward()) {
        pass(socket, request);
    } else {
        socket->write(answer);
        socket->disconnectFromHost();
    }
}

void HttpRecorder::pass(QTcpSocket* socket, const Request& request)
{
    auto* server = new QTcpSocket(socket);
    auto answer = std::make_shared<QByteArray>();
    // The answer is complete when the server closes, or when its Content-Length has arrived.
    const auto complete = [answer] {
        const qsizetype end = answer->indexOf("\r\n\r\n");
        if (end < 0) {
            return false;
        }
        for (const QByteArray& line : answer->left(end).split('\n')) {
            if (line.toLower().startsWith("content-length:")) {
                return answer->size() >= end + 4 + line.mid(15).trimmed().toLongLong();
            }
        }
        return false;
    };
    const auto done = [socket, server, answer] {
        if (socket->state() == QAbstractSocket::ConnectedState) {
            socket->write(*answer);
            socket->disconnectFromHost();
        }
        server->disconnect();
        server->abort();
    };
    connect(server, &QTcpSocket::readyRead, socket, [server, answer, complete, done] {
        *answer += server->readAll();
        if (complete()) {
            done();
        }
    });
    connect(server, &QTcpSocket::disconnected, socket, done);
    connect(server, &QTcpSocket::connected, socket, [server, request] {
        QByteArray out = request.method + ' ' + request.path + " HTTP/1.1\r\n";
        for (auto header = request.headers.cbegin(); header != request.headers.cend(); ++header) {
            if (header.key() != "connection") {
                out += header.key() + ": " + header.value() + "\r\n";
            }
        }
        server->write(out + "connection: close\r\n\r\n" + request.body);
    });
    server->connectToHost(m_forward.host(), quint16(m_forward.port()));
}
