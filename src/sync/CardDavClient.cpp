#include "sync/CardDavClient.h"

#include <QAuthenticator>

#include <QEventLoop>
#include <QHash>
#include <QHostAddress>
#include <QMap>
#include <QNetworkReply>
#include <QSet>
#include <QSslError>
#include <QTimer>
#include <QXmlStreamReader>
#include <algorithm>
#include <memory>
#include <vector>

namespace {

const QString kDav = QStringLiteral("DAV:");
const QString kCardDav = QStringLiteral("urn:ietf:params:xml:ns:carddav");
constexpr int kMultigetBatch = 200;
constexpr int kMostRedirects = 5;
// New cards sent side by side: a server far away answers each after a round trip. Two halve a first upload across
// the internet (200 cards 100 ms away: 23.5 s one by one, 12.3 s); four do better there (6.5 s) but made a Radicale
// on this machine a quarter slower (its writes take one lock in one Python process), two leave it as fast.
constexpr int kCreationsAtOnce = 2;

// One property of a response: its text, the hrefs inside it and the names of its child elements.
struct Property
{
    QString text;
    QStringList hrefs;
    QStringList children;
};

struct Response
{
    QString href;
    int status = 0; // of the response itself, 0 when its properties carry the status
    QHash<QString, Property> found; // "namespace|name", only those with status 200
};

struct MultiStatus
{
    QList<Response> responses;
    QString syncToken;
};

QString key(const QString& ns, const QString& name)
{
    return ns + QLatin1Char('|') + name;
}

int statusOf(const QString& line)
{
    // "HTTP/1.1 404 Not Found"
    return line.simplified().section(QLatin1Char(' '), 1, 1).toInt();
}

CardDavError unreadable(const QString& what)
{
    return CardDavError(QStringLiteral("Il server ha dato una risposta non comprensibile: %1.").arg(what), 0, true);
}

QString sizeText(qint64 bytes)
{
    return bytes >= 1024 * 1024 ? QStringLiteral("%1 MB").arg(bytes / (1024 * 1024))
                                : QStringLiteral("%1 kB").arg(bytes / 1024);
}

// A multistatus answer read as it arrives: each response is handed on when it ends and then forgotten, so that only
// one is ever held, and a text longer than a card may be stops the answer before it is held whole.
class MultiStatusReader
{
public:
    MultiStatusReader(const CardDavLimits& limits, std::function<void(const Response&)> onResponse)
        : m_limits(limits)
        , m_onResponse(std::move(onResponse))
    {
    }

    void addData(const QByteArray& data)
    {
        for (qsizetype from = 0;;) {
            const qsizetype open = data.indexOf('<', from);
            m_textRun += (open < 0 ? data.size() : open) - from;
            if (m_textRun > m_limits.cardBytes) {
                throw CardDavError(QStringLiteral("Il server ha mandato una scheda di oltre %1, più di quanto il "
                                                  "programma accetta.")
                                       .arg(sizeText(m_limits.cardBytes)),
                                   0,
                                   true);
            }
            if (open < 0) {
                break;
            }
            m_textRun = 0;
            from = open + 1;
        }
        m_xml.addData(data);
        read();
    }

    // The answer has ended: it must have been a whole document.
    void finish()
    {
        read();
        if (!m_done) {
            throw unreadable(m_xml.hasError() && m_xml.error() != QXmlStreamReader::PrematureEndOfDocumentError
                                 ? m_xml.errorString()
                                 : QStringLiteral("risposta incompleta"));
        }
    }

    QString syncToken() const { return m_syncToken; }

private:
    bool at(int depth, const QString& ns, QLatin1String name) const
    {
        return m_path.size() > depth && m_path.at(depth) == key(ns, name);
    }
    bool inProperty() const
    {
        return m_path.size() >= 5 && at(1, kDav, QLatin1String("response")) && at(2, kDav, QLatin1String("propstat"))
            && at(3, kDav, QLatin1String("prop"));
    }

    void read()
    {
        while (!m_done) {
            const auto token = m_xml.readNext();
            if (token == QXmlStreamReader::Invalid) {
                break;
            }
            if (token == QXmlStreamReader::StartElement) {
                start(key(m_xml.namespaceUri().toString(), m_xml.name().toString()));
            } else if (token == QXmlStreamReader::EndElement) {
                end();
            } else if (token == QXmlStreamReader::Characters && !m_path.isEmpty()) {
                if (m_collecting) {
                    m_text += m_xml.text();
                } else if (inProperty()) {
                    m_property.text += m_xml.text();
                }
            }
        }
        if (m_xml.hasError() && m_xml.error() != QXmlStreamReader::PrematureEndOfDocumentError) {
            throw unreadable(m_xml.errorString());
        }
    }

    void start(const QString& name)
    {
        m_path.append(name);
        const int depth = int(m_path.size());
        m_collecting = false;
        if (depth == 1) {
            if (name != key(kDav, QStringLiteral("multistatus"))) {
                throw unreadable(QStringLiteral("non è un elenco DAV"));
            }
        } else if (depth == 2) {
            m_response = Response();
            m_collecting = name == key(kDav, QStringLiteral("sync-token"));
        } else if (depth == 3 && at(1, kDav, QLatin1String("response"))) {
            m_collecting = name.endsWith(QLatin1String("|href")) || name.endsWith(QLatin1String("|status"));
            m_found.clear();
            m_status = 0;
        } else if (depth == 4 && at(2, kDav, QLatin1String("propstat"))) {
            m_collecting = name.endsWith(QLatin1String("|status"));
        } else if (depth == 5 && inProperty()) {
            m_property = Property();
        } else if (depth >= 6 && inProperty()) {
            if (depth == 6) {
                m_property.children.append(name);
            }
            m_collecting = name == key(kDav, QStringLiteral("href"));
        }
        if (m_collecting) {
            m_text.clear();
        }
    }

    void end()
    {
        const int depth = int(m_path.size());
        const bool property = inProperty();
        const QString name = m_path.takeLast();
        m_collecting = false;
        if (depth == 1) {
            m_done = true;
        } else if (depth == 2) {
            if (name == key(kDav, QStringLiteral("response"))) {
                if (++m_responses > m_limits.entries) {
                    throw CardDavError(QStringLiteral("Il server ha elencato oltre %1 schede, più di quante il "
                                                      "programma accetta in una rubrica.")
                                           .arg(m_limits.entries),
                                       0,
                                       true);
                }
                m_onResponse(m_response);
            } else if (name == key(kDav, QStringLiteral("sync-token"))) {
                m_syncToken = m_text.trimmed();
            }
        } else if (depth == 3 && at(1, kDav, QLatin1String("response"))) {
            if (name.endsWith(QLatin1String("|href"))) {
                m_response.href = m_text.trimmed();
            } else if (name.endsWith(QLatin1String("|status"))) {
                m_response.status = statusOf(m_text);
            } else if (name.endsWith(QLatin1String("|propstat")) && m_status == 200) {
                m_response.found.insert(m_found);
            }
        } else if (depth == 4 && at(2, kDav, QLatin1String("propstat"))) {
            if (name.endsWith(QLatin1String("|status"))) {
                m_status = statusOf(m_text);
            }
        } else if (depth == 5 && property) {
            m_found.insert(name, m_property);
        } else if (depth >= 6 && property && name == key(kDav, QStringLiteral("href"))) {
            m_property.hrefs.append(m_text.trimmed());
        }
    }

    CardDavLimits m_limits;
    std::function<void(const Response&)> m_onResponse;
    QXmlStreamReader m_xml;
    QStringList m_path; // the open elements, "namespace|name"
    qint64 m_textRun = 0; // bytes since the last '<'
    int m_responses = 0;
    bool m_done = false;
    bool m_collecting = false; // the innermost element's text is m_text
    QString m_text;
    Response m_response;
    QHash<QString, Property> m_found; // of the propstat being read
    int m_status = 0; // of the propstat being read
    Property m_property;
    QString m_syncToken;
};

MultiStatus parseMultiStatus(const QByteArray& body)
{
    MultiStatus result;
    MultiStatusReader reader(CardDavLimits(), [&](const Response& response) { result.responses.append(response); });
    reader.addData(body);
    reader.finish();
    result.syncToken = reader.syncToken();
    return result;
}

QString textOf(const Response& response, const QString& ns, const char* name)
{
    return response.found.value(key(ns, QLatin1String(name))).text.trimmed();
}

QString firstHref(const Response& response, const QString& ns, const char* name)
{
    const QStringList hrefs = response.found.value(key(ns, QLatin1String(name))).hrefs;
    return hrefs.isEmpty() ? QString() : hrefs.first();
}

bool isAddressBook(const Response& response)
{
    return response.found.value(key(kDav, QStringLiteral("resourcetype")))
        .children.contains(key(kCardDav, QStringLiteral("addressbook")));
}

QByteArray escapedXml(const QString& text)
{
    return text.toHtmlEscaped().toUtf8();
}

QString lastSegment(const QUrl& url)
{
    QString path = url.path();
    while (path.endsWith(QLatin1Char('/'))) {
        path.chop(1);
    }
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// Why the server's certificate was refused, as the user can act on it.
QString certificateReason(const QList<QSslError>& errors, const QString& fallback)
{
    for (const QSslError& error : errors) {
        switch (error.error()) {
        case QSslError::SelfSignedCertificate:
        case QSslError::SelfSignedCertificateInChain:
            return QStringLiteral("è firmato dal server stesso, non da un'autorità riconosciuta.");
        case QSslError::UnableToGetLocalIssuerCertificate:
        case QSslError::UnableToGetIssuerCertificate:
        case QSslError::UnableToVerifyFirstCertificate:
        case QSslError::CertificateUntrusted:
            return QStringLiteral("non è garantito da un'autorità riconosciuta.");
        case QSslError::CertificateExpired:
            return QStringLiteral("è scaduto.");
        case QSslError::CertificateNotYetValid:
            return QStringLiteral("non è ancora valido (controllare la data del computer).");
        case QSslError::HostNameMismatch:
            return QStringLiteral("è intestato a un altro nome.");
        case QSslError::CertificateRevoked:
            return QStringLiteral("è stato revocato.");
        default:
            break;
        }
    }
    return fallback;
}

// Why the server could not be reached; the network layer's own text (English) only for the rare rest.
QString networkReason(QNetworkReply::NetworkError error, const QString& fallback)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("non accetta collegamenti (è spento, o l'indirizzo o la porta sono sbagliati).");
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("il nome non corrisponde a nessun server (indirizzo sbagliato, o rete assente).");
    case QNetworkReply::RemoteHostClosedError:
        return QStringLiteral("ha chiuso il collegamento.");
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
        return QStringLiteral("la rete non è disponibile.");
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
        return QStringLiteral("il proxy della rete non risponde.");
    default:
        return fallback;
    }
}

} // namespace

CardDavError::CardDavError(const QString& description, int status, bool unreadable)
    : ado::Error(description)
    , m_status(status)
    , m_unreadable(unreadable)
{
}

bool CardDavClient::isSafeAddress(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https")) {
        return !url.host().isEmpty();
    }
    if (scheme != QLatin1String("http")) {
        return false;
    }
    const QString host = url.host().toLower();
    return host == QLatin1String("localhost") || QHostAddress(host).isLoopback();
}

CardDavClient::CardDavClient(const QUrl& server, const QString& user, const QString& password)
    : m_server(server)
{
    if (!server.isValid() || !isSafeAddress(server)) {
        throw CardDavError(QStringLiteral("Indirizzo del server non accettato: '%1'. Serve un indirizzo https:// "
                                          "(http:// solo verso questo computer).")
                               .arg(server.toDisplayString()),
                           0);
    }
    if (m_server.path().isEmpty()) {
        m_server.setPath(QStringLiteral("/"));
    }
    m_trusted.insert(origin(m_server));
    m_authorization = "Basic " + (user + QLatin1Char(':') + password).toUtf8().toBase64();
    m_network.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    // A server that asks for another scheme (Digest) is answered once per request with the same user and password;
    // asked again, the password was refused and the request ends with its 401.
    QObject::connect(&m_network,
                     &QNetworkAccessManager::authenticationRequired,
                     &m_network,
                     [this, user, password](QNetworkReply* reply, QAuthenticator* authenticator) {
                         // Never the password for another origin, whoever asks.
                         if (reply->property("velmarinAnswered").toBool() || !isTrusted(reply->url())) {
                             return;
                         }
                         reply->setProperty("velmarinAnswered", true);
                         authenticator->setUser(user);
                         authenticator->setPassword(password);
                     });
}

QString CardDavClient::origin(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    const int port = url.port(scheme == QLatin1String("https") ? 443 : 80);
    return QStringLiteral("%1://%2:%3").arg(scheme, url.host().toLower()).arg(port);
}

void CardDavClient::trust(const QUrl& address)
{
    if (address.isValid() && isSafeAddress(address)) {
        m_trusted.insert(origin(address));
    }
}

bool CardDavClient::isTrusted(const QUrl& url) const
{
    return m_trusted.contains(origin(url));
}

void CardDavClient::admit(const QUrl& from, const QUrl& url, int status)
{
    const auto shown = [](const QUrl& address) { return address.toDisplayString(QUrl::RemoveUserInfo); };
    if (!isSafeAddress(url)
        || (from.scheme() == QLatin1String("https") && url.scheme().toLower() != QLatin1String("https"))) {
        throw CardDavError(QStringLiteral("Il server %1 ha rimandato a un indirizzo non accettato: %2 (serve "
                                          "https://, e mai da https:// a http://).")
                               .arg(shown(from), shown(url)),
                           status);
    }
    if (isTrusted(url)) {
        return;
    }
    if (m_approve && m_approve(from, url)) {
        m_trusted.insert(origin(url));
        QUrl accepted;
        accepted.setScheme(url.scheme().toLower());
        accepted.setHost(url.host().toLower());
        accepted.setPort(url.port());
        accepted.setPath(QStringLiteral("/"));
        m_accepted.append(accepted);
        return;
    }
    throw CardDavError(QStringLiteral("Il server %1 rimanda a un altro server, %2: nome utente e password non vengono "
                                      "inviati a un server diverso da quello impostato. Per accettarlo, cercare le "
                                      "rubriche da Sincronizzazione… nella finestra del programma.")
                           .arg(shown(from), shown(url)),
                       status);
}

QUrl CardDavClient::urlOf(const QString& href) const
{
    return m_server.resolved(QUrl::fromEncoded(href.toUtf8()));
}

QString CardDavClient::normalizedHref(const QString& href) const
{
    return urlOf(href).path(QUrl::FullyEncoded);
}

QNetworkReply* CardDavClient::start(const QByteArray& verb,
                                    const QUrl& url,
                                    const QByteArray& body,
                                    const QList<QPair<QByteArray, QByteArray>>& headers)
{
    QNetworkRequest request(url);
    if (!m_challenged && isTrusted(url)) {
        request.setRawHeader("Authorization", m_authorization);
    }
    if (!body.isEmpty()) {
        request.setRawHeader("Content-Type",
                             verb == "PUT" ? "text/vcard; charset=utf-8" : "application/xml; charset=utf-8");
    }
    for (const auto& header : headers) {
        request.setRawHeader(header.first, header.second);
    }
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    return m_network.sendCustomRequest(request, verb, body);
}

CardDavClient::Flight::Flight(QNetworkReply* started, const QUrl& target, int timeout, qint64 most, Sink taker)
    : reply(started)
    , url(target)
    , sink(std::move(taker))
    , limit(most)
{
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [this] { take(); });
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, reply, [this] {
        timedOut = true;
        reply->abort();
    });
    QObject::connect(reply, &QNetworkReply::sslErrors, reply, [this](const QList<QSslError>& errors) {
        certificateErrors = errors;
    });
    timer.start(timeout);
}

void CardDavClient::abort()
{
    m_aborted = true;
    // The replies belong to the thread the client works in: they are ended there.
    QMetaObject::invokeMethod(
        &m_network,
        [this] {
            for (QNetworkReply* reply : m_network.findChildren<QNetworkReply*>()) {
                reply->abort();
            }
        },
        Qt::QueuedConnection);
}

void CardDavClient::Flight::take()
{
    // A megabyte at a time: what the network layer holds meanwhile is never copied nor decoded whole.
    constexpr qint64 kSlice = 1024 * 1024;
    while (!failure && reply->isOpen() && reply->bytesAvailable() > 0) {
        takeSlice(reply->read(kSlice));
    }
}

void CardDavClient::Flight::takeSlice(QByteArray chunk)
{
    if (chunk.isEmpty()) {
        return;
    }
    // What fits under the limit is read first, so that a card or a listing past its own limit says so.
    const bool tooLarge = received + chunk.size() > limit;
    if (tooLarge) {
        chunk.truncate(limit - received);
    }
    received += chunk.size();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (!sink) {
        body += chunk;
    } else if (status < 200 || status > 299) {
        // Enough to tell why a request failed.
        constexpr qsizetype kKept = 64 * 1024;
        body += chunk.left(qMax<qsizetype>(0, kKept - body.size()));
    } else {
        try {
            sink(chunk);
        } catch (const CardDavError& error) {
            failure = error;
        }
    }
    if (tooLarge && !failure) {
        failure = CardDavError(QStringLiteral("La risposta del server supera %1, più di quanto il programma accetta.")
                                   .arg(sizeText(limit)),
                               0,
                               true);
    }
    if (failure) {
        reply->abort();
    }
}

CardDavClient::Reply CardDavClient::finish(Flight& flight)
{
    flight.timer.stop();
    QNetworkReply* reply = flight.reply;
    const QUrl& url = flight.url;
    flight.take();
    QObject::disconnect(reply, &QNetworkReply::readyRead, nullptr, nullptr);
    Reply result;
    result.url = url;
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.body = flight.body;
    result.etag = reply->rawHeader("ETag");
    result.challenge = reply->rawHeader("WWW-Authenticate");
    result.location = reply->rawHeader("Location");
    const QNetworkReply::NetworkError error = reply->error();
    const QString errorText = reply->errorString();
    reply->deleteLater();

    if (m_aborted) {
        throw CardDavError(QStringLiteral("Sincronizzazione interrotta."), 0);
    }
    if (flight.failure) {
        throw *flight.failure;
    }
    // A server that keeps sending a little at a time is as good as silent.
    if (flight.timedOut) {
        throw CardDavError(result.status == 0
                               ? QStringLiteral("Il server %1 non ha risposto in tempo.").arg(url.host())
                               : QStringLiteral("Il server %1 ha smesso di rispondere o è troppo lento: la "
                                                "risposta non è arrivata per intero in %2 secondi.")
                                     .arg(url.host())
                                     .arg(flight.timer.interval() / 1000),
                           0);
    }
    if (result.status == 0) {
        if (error == QNetworkReply::SslHandshakeFailedError || !flight.certificateErrors.isEmpty()) {
            throw CardDavError(QStringLiteral("Il certificato del server %1 non è valido: %2")
                                   .arg(url.host(), certificateReason(flight.certificateErrors, errorText)),
                               0);
        }
        throw CardDavError(
            QStringLiteral("Impossibile raggiungere il server %1: %2").arg(url.host(), networkReason(error, errorText)),
            0);
    }
    return result;
}

bool CardDavClient::asksForAnotherScheme(const Reply& reply)
{
    // Basic is sent with every request, saving a round trip; a server that wants another scheme says so once, and
    // from then on the network layer answers its challenges.
    if (reply.status == 401 && !m_challenged && !reply.challenge.isEmpty()
        && !reply.challenge.trimmed().toLower().startsWith("basic")) {
        m_challenged = true;
        return true;
    }
    return false;
}

bool CardDavClient::isRedirect(const Reply& reply)
{
    return (reply.status == 301 || reply.status == 302 || reply.status == 307 || reply.status == 308)
        && !reply.location.isEmpty();
}

CardDavClient::Reply CardDavClient::send(const QByteArray& verb,
                                         const QUrl& target,
                                         const QByteArray& body,
                                         const QList<QPair<QByteArray, QByteArray>>& headers,
                                         const Sink& sink,
                                         qint64 limit)
{
    QUrl url = target;
    QUrl from = m_server;
    int status = 0;
    for (int redirects = 0;; ++redirects) {
        if (m_aborted) {
            throw CardDavError(QStringLiteral("Sincronizzazione interrotta."), 0);
        }
        admit(from, url, status);
        Flight flight(start(verb, url, body, headers), url, m_timeout, limit > 0 ? limit : m_limits.answerBytes, sink);
        if (!flight.reply->isFinished()) {
            QEventLoop loop;
            QObject::connect(flight.reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
            loop.exec(QEventLoop::ExcludeUserInputEvents);
        }
        const Reply result = finish(flight);
        if (asksForAnotherScheme(result)) {
            continue;
        }
        if (!isRedirect(result)) {
            return result;
        }
        if (redirects >= kMostRedirects) {
            throw CardDavError(QStringLiteral("Il server %1 rimanda da un indirizzo all'altro senza mai rispondere "
                                              "(più di %2 rinvii).")
                                   .arg(target.toDisplayString(QUrl::RemoveUserInfo), QString::number(kMostRedirects)),
                               result.status);
        }
        from = url;
        url = url.resolved(QUrl::fromEncoded(result.location));
        status = result.status;
    }
}

void CardDavClient::fail(const Reply& reply, const QUrl& url) const
{
    const int status = reply.status;
    QString text;
    if (status == 401) {
        text = QStringLiteral("Il server %1 non ha accettato nome utente e password.").arg(url.host());
    } else if (status == 403) {
        text = QStringLiteral("Il server non consente questa operazione su %1.").arg(url.path());
    } else if (status == 404) {
        text = QStringLiteral("Sul server non c'è %1.").arg(url.path());
    } else if (status == 412) {
        text = QStringLiteral("La scheda %1 è stata cambiata sul server nel frattempo.").arg(url.path());
    } else if (status == 507) {
        text = QStringLiteral("Il server non ha più spazio per la rubrica.");
    } else if (status >= 500) {
        text = QStringLiteral("Errore del server %1 (codice %2): riprovare più tardi.").arg(url.host()).arg(status);
    } else {
        text = QStringLiteral("Risposta inattesa del server %1 (codice %2).").arg(url.host()).arg(status);
    }
    throw CardDavError(text, status);
}

CardDavClient::Reply CardDavClient::propfind(const QUrl& url, int depth, const QByteArray& props, const Sink& sink)
{
    const QByteArray body = "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
                            "<d:propfind xmlns:d=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:carddav\"><d:prop>"
        + props + "</d:prop></d:propfind>";
    Reply reply = send("PROPFIND", url, body, {{"Depth", QByteArray::number(depth)}}, sink);
    if (reply.status != 207) {
        fail(reply, url);
    }
    return reply;
}

QList<AddressBook> CardDavClient::discover()
{
    QUrl context = m_server;
    if (m_server.path() == QLatin1String("/")) {
        // The well-known address leads to the server's own starting point; a server without it starts at the root.
        const Reply reply = send("PROPFIND",
                                 m_server.resolved(QUrl(QStringLiteral("/.well-known/carddav"))),
                                 "<?xml version=\"1.0\" encoding=\"utf-8\"?><d:propfind xmlns:d=\"DAV:\"><d:prop>"
                                 "<d:current-user-principal/></d:prop></d:propfind>",
                                 {{"Depth", "0"}});
        if (reply.status == 207) {
            context = reply.url;
        } else if (reply.status == 401) {
            fail(reply, reply.url);
        }
    }

    const auto single = [](const Reply& reply) {
        const MultiStatus status = parseMultiStatus(reply.body);
        return status.responses.isEmpty() ? Response() : status.responses.first();
    };
    const Response start = single(propfind(context,
                                           0,
                                           "<d:current-user-principal/><d:resourcetype/><d:displayname/>"
                                           "<d:sync-token/><c:addressbook-home-set/>"));
    if (isAddressBook(start)) {
        const QString name = textOf(start, kDav, "displayname");
        return {{context, name.isEmpty() ? lastSegment(context) : name, !textOf(start, kDav, "sync-token").isEmpty()}};
    }
    QString home = firstHref(start, kCardDav, "addressbook-home-set");
    if (home.isEmpty()) {
        const QString principal = firstHref(start, kDav, "current-user-principal");
        const QUrl principalUrl
            = principal.isEmpty() ? context : context.resolved(QUrl::fromEncoded(principal.toUtf8()));
        const Response owner = single(propfind(principalUrl, 0, "<c:addressbook-home-set/>"));
        home = firstHref(owner, kCardDav, "addressbook-home-set");
        if (home.isEmpty()) {
            throw CardDavError(QStringLiteral("Il server non indica dove sono le rubriche dell'utente."), 207);
        }
    }
    const QUrl homeUrl = context.resolved(QUrl::fromEncoded(home.toUtf8()));
    const MultiStatus listing
        = parseMultiStatus(propfind(homeUrl, 1, "<d:resourcetype/><d:displayname/><d:sync-token/>").body);
    QList<AddressBook> books;
    for (const Response& response : listing.responses) {
        if (!isAddressBook(response)) {
            continue;
        }
        const QUrl url = homeUrl.resolved(QUrl::fromEncoded(response.href.toUtf8()));
        const QString name = textOf(response, kDav, "displayname");
        books.append({url, name.isEmpty() ? lastSegment(url) : name, !textOf(response, kDav, "sync-token").isEmpty()});
    }
    return books;
}

QList<CardEntry> CardDavClient::listCards(const QUrl& book)
{
    const QString self = book.path(QUrl::FullyEncoded);
    QList<CardEntry> cards;
    MultiStatusReader listing(m_limits, [&](const Response& response) {
        const QString href = normalizedHref(response.href);
        const Property type = response.found.value(key(kDav, QStringLiteral("resourcetype")));
        if (href != self && !type.children.contains(key(kDav, QStringLiteral("collection")))) {
            cards.append({href, textOf(response, kDav, "getetag")});
        }
    });
    propfind(book, 1, "<d:resourcetype/><d:getetag/>", [&](const QByteArray& data) { listing.addData(data); });
    listing.finish();
    return cards;
}

QString CardDavClient::syncToken(const QUrl& book)
{
    const MultiStatus status = parseMultiStatus(propfind(book, 0, "<d:sync-token/>").body);
    return status.responses.isEmpty() ? QString() : textOf(status.responses.first(), kDav, "sync-token");
}

std::optional<CollectionChanges> CardDavClient::changesSince(const QUrl& book, const QString& token)
{
    const QByteArray body = "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
                            "<d:sync-collection xmlns:d=\"DAV:\"><d:sync-token>"
        + escapedXml(token)
        + "</d:sync-token><d:sync-level>1</d:sync-level><d:prop><d:getetag/></d:prop></d:sync-collection>";
    CollectionChanges changes;
    const QString self = book.path(QUrl::FullyEncoded);
    MultiStatusReader report(m_limits, [&](const Response& response) {
        const QString href = normalizedHref(response.href);
        if (href == self) {
            return;
        }
        if (response.status == 404) {
            changes.removed.append(href);
        } else {
            // Without a tag the card is read again and compared.
            changes.changed.append({href, textOf(response, kDav, "getetag")});
        }
    });
    const Reply reply
        = send("REPORT", book, body, {{"Depth", "1"}}, [&](const QByteArray& data) { report.addData(data); });
    if (reply.status == 403 || reply.status == 409 || reply.status == 400) {
        // valid-sync-token: the server has forgotten this token, and the caller lists the whole book instead.
        if (reply.body.contains("valid-sync-token") || reply.status != 403) {
            return std::nullopt;
        }
    }
    if (reply.status != 207) {
        fail(reply, book);
    }
    report.finish();
    changes.syncToken = report.syncToken();
    return changes;
}

QList<Card> CardDavClient::fetchCards(const QUrl& book, const QStringList& hrefs)
{
    QList<Card> cards;
    for (qsizetype first = 0; first < hrefs.size(); first += kMultigetBatch) {
        QByteArray body = "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
                          "<c:addressbook-multiget xmlns:d=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:carddav\">"
                          "<d:prop><d:getetag/><c:address-data/></d:prop>";
        for (const QString& href : hrefs.mid(first, kMultigetBatch)) {
            body += "<d:href>" + escapedXml(href) + "</d:href>";
        }
        body += "</c:addressbook-multiget>";
        QSet<QString> read;
        MultiStatusReader batch(m_limits, [&](const Response& response) {
            if (response.found.contains(key(kCardDav, QStringLiteral("address-data")))) {
                read.insert(normalizedHref(response.href));
                cards.append({normalizedHref(response.href),
                              textOf(response, kDav, "getetag"),
                              response.found.value(key(kCardDav, QStringLiteral("address-data"))).text.toUtf8()});
            }
        });
        try {
            const Reply reply
                = send("REPORT", book, body, {{"Depth", "1"}}, [&](const QByteArray& data) { batch.addData(data); });
            if (reply.status != 207) {
                fail(reply, book);
            }
            batch.finish();
        } catch (const CardDavError& error) {
            if (!error.unreadable()) {
                throw;
            }
            // One card the server cannot put into XML, or too many large ones: the rest are read one by one.
            for (const QString& href : hrefs.mid(first, kMultigetBatch)) {
                if (!read.contains(normalizedHref(href))) {
                    const Card card = getCard(href);
                    if (!card.href.isEmpty()) {
                        cards.append(card);
                    }
                }
            }
        }
    }
    return cards;
}

// The card as the server stores it; one larger than a card may be comes without its data, empty when it is gone.
Card CardDavClient::getCard(const QString& href)
{
    const QUrl url = urlOf(href);
    QByteArray data;
    try {
        const Reply reply = send(
            "GET", url, {}, {}, [&](const QByteArray& chunk) { data += chunk; }, m_limits.cardBytes);
        if (reply.status == 404 || reply.status == 410) {
            return {};
        }
        if (reply.status != 200) {
            fail(reply, url);
        }
        return {normalizedHref(href), QString::fromUtf8(reply.etag), data};
    } catch (const CardDavError& error) {
        if (!error.unreadable()) {
            throw;
        }
        return {normalizedHref(href), QString(), QByteArray(), false};
    }
}

QUrl CardDavClient::cardUrl(const QUrl& book, const QString& name) const
{
    QUrl folder = book;
    if (!folder.path().endsWith(QLatin1Char('/'))) {
        folder.setPath(folder.path() + QLatin1Char('/'));
    }
    return folder.resolved(QUrl(QString::fromUtf8(QUrl::toPercentEncoding(name))));
}

CardEntry CardDavClient::createCard(const QUrl& book, const QString& name, const QByteArray& data)
{
    const QUrl url = cardUrl(book, name);
    const Reply reply = send("PUT", url, data, {{"If-None-Match", "*"}});
    if (reply.status != 201 && reply.status != 204 && reply.status != 200) {
        fail(reply, url);
    }
    return {normalizedHref(url.path(QUrl::FullyEncoded)), QString::fromUtf8(reply.etag)};
}

QList<CardDavClient::Creation> CardDavClient::createCards(const QUrl& book, const QList<NewCard>& cards)
{
    QMap<int, Creation> results;
    std::vector<std::pair<int, std::unique_ptr<Flight>>> flying;
    QEventLoop loop;
    qsizetype next = 0;
    bool failed = false;
    const auto launch = [&] {
        while (!failed && !m_aborted && next < cards.size() && int(flying.size()) < kCreationsAtOnce) {
            const QUrl url = cardUrl(book, cards.at(next).name);
            try {
                admit(m_server, url, 0);
            } catch (const CardDavError& error) {
                results.insert(int(next), {{normalizedHref(url.path(QUrl::FullyEncoded)), QString()}, error});
                failed = true;
                break;
            }
            auto flight = std::make_unique<Flight>(
                start("PUT", url, cards.at(next).data, {{"If-None-Match", "*"}}), url, m_timeout, m_limits.answerBytes);
            QObject::connect(flight->reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
            flying.emplace_back(int(next), std::move(flight));
            ++next;
        }
    };
    launch();
    while (!flying.empty()) {
        const bool anyFinished = std::any_of(
            flying.cbegin(), flying.cend(), [](const auto& flight) { return flight.second->reply->isFinished(); });
        if (!anyFinished) {
            loop.exec(QEventLoop::ExcludeUserInputEvents);
        }
        for (auto it = flying.begin(); it != flying.end();) {
            Flight& flight = *it->second;
            if (!flight.reply->isFinished()) {
                ++it;
                continue;
            }
            const int index = it->first;
            Creation creation;
            try {
                const Reply reply = finish(flight);
                if (asksForAnotherScheme(reply) || isRedirect(reply)) {
                    // Rare: the one-by-one path follows redirects and answers challenges.
                    creation.entry = createCard(book, cards.at(index).name, cards.at(index).data);
                } else if (reply.status != 201 && reply.status != 204 && reply.status != 200) {
                    fail(reply, flight.url);
                } else {
                    creation.entry
                        = {normalizedHref(flight.url.path(QUrl::FullyEncoded)), QString::fromUtf8(reply.etag)};
                }
            } catch (const CardDavError& error) {
                creation.entry.href = normalizedHref(flight.url.path(QUrl::FullyEncoded));
                creation.error = error;
                failed = true;
            }
            results.insert(index, creation);
            it = flying.erase(it);
        }
        launch();
    }
    return results.values();
}

QString CardDavClient::updateCard(const QString& href, const QString& etag, const QByteArray& data)
{
    const QUrl url = urlOf(href);
    QList<QPair<QByteArray, QByteArray>> headers;
    if (!etag.isEmpty()) {
        headers.append({"If-Match", etag.toUtf8()});
    }
    const Reply reply = send("PUT", url, data, headers);
    if (reply.status != 201 && reply.status != 204 && reply.status != 200) {
        fail(reply, url);
    }
    return QString::fromUtf8(reply.etag);
}

void CardDavClient::deleteCard(const QString& href, const QString& etag)
{
    const QUrl url = urlOf(href);
    QList<QPair<QByteArray, QByteArray>> headers;
    if (!etag.isEmpty()) {
        headers.append({"If-Match", etag.toUtf8()});
    }
    const Reply reply = send("DELETE", url, {}, headers);
    if (reply.status != 200 && reply.status != 204 && reply.status != 404) {
        fail(reply, url);
    }
}
