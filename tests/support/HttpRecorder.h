#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QUrl>

#include <functional>

class QTcpServer;
class QTcpSocket;

// A small HTTP server on 127.0.0.1 for answers no real server gives (redirects elsewhere, endless redirects, an answer
// that never comes): it records every request with its headers and answers each as the test says, closing the
// connection; or it passes the request on to a real server and its answer back. Runs in the thread that made it, so
// that thread's event loop must run.
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

    // Answers that say what to do instead: pass the request on to the server set with forwardTo(), or keep it
    // unanswered until the client gives up.
    static QByteArray forward() { return QByteArrayLiteral("forward"); }
    static QByteArray hold() { return QByteArrayLiteral("hold"); }
    void forwardTo(const QUrl& server) { m_forward = server; }
    // Requests kept unanswered whose client is still waiting.
    int held() const { return int(m_held.size()); }

    // A whole answer: "HTTP/1.1 307 Temporary Redirect" with a Location, and so on.
    static QByteArray redirect(int status, const QUrl& to);
    static QByteArray answer(int status, const QByteArray& body = {}, const QByteArray& contentType = "text/plain");

private:
    void read(QTcpSocket* socket);
    void pass(QTcpSocket* socket, const Request& request);

    Answer m_answer;
    QTcpServer* m_server;
    bool m_tls = false;
    QHash<QTcpSocket*, QByteArray> m_pending;
    QList<Request> m_requests;
    QList<QTcpSocket*> m_held;
    QUrl m_forward;
};
