#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QUrl>

#include <functional>

class QTcpServer;
class QTcpSocket;

// A small HTTP server on 127.0.0.1 for answers no real server gives (redirects elsewhere, endless redirects, a slow
// answer): it records every request with its headers and answers each as the test says, closing the connection.
// Runs in the thread that made it, so the test's event loop must run (a client's wait for its answer does).
class HttpRecorder : public QObject
{
    Q_OBJECT
public:
    struct Request
    {
        QByteArray method;
        QByteArray path;
        QHash<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;
    };
    using Answer = std::function<QByteArray(const Request&)>;

    // With certificate and key files (PEM), it speaks HTTPS.
    explicit HttpRecorder(Answer answer, const QString& certificate = {}, const QString& key = {});
    ~HttpRecorder() override;

    quint16 port() const;
    // http://127.0.0.1:port/ (https:// with a certificate)
    QUrl url() const;
    const QList<Request>& requests() const { return m_requests; }

    // A whole answer: "HTTP/1.1 307 Temporary Redirect" with a Location, and so on.
    static QByteArray redirect(int status, const QUrl& to);
    static QByteArray answer(int status, const QByteArray& body = {}, const QByteArray& contentType = "text/plain");

private:
    void read(QTcpSocket* socket);

    Answer m_answer;
    QTcpServer* m_server;
    bool m_tls = false;
    QHash<QTcpSocket*, QByteArray> m_pending;
    QList<Request> m_requests;
};
