#include "CardDavClient.h"

#include <QAuthenticator>

#include <QEventLoop>
#include <QHash>
#include <QHostAddress>
#include <QMap>
#include <QNetworkReply>
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

Property readProperty(QXmlStreamReader& xml)
{
    Property property;
    int depth = 0;
    while (!xml.atEnd()) {
        const auto token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            if (depth == 0) {
                property.children.append(key(xml.namespaceUri().toString(), xml.name().toString()));
            }
            if (xml.namespaceUri() == kDav && xml.name() == QLatin1String("href")) {
                property.hrefs.append(xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed());
                continue;
            }
            ++depth;
        } else if (token == QXmlStreamReader::EndElement) {
            if (depth == 0) {
                break;
            }
            --depth;
        } else if (token == QXmlStreamReader::Characters) {
            property.text += xml.text();
        }
    }
    return property;
}

void readPropstat(QXmlStreamReader& xml, Response& response)
{
    QHash<QString, Property> properties;
    int status = 0;
    while (xml.readNextStartElement()) {
        if (xml.namespaceUri() == kDav && xml.name() == QLatin1String("prop")) {
            while (xml.readNextStartElement()) {
                const QString name = key(xml.namespaceUri().toString(), xml.name().toString());
                properties.insert(name, readProperty(xml));
            }
        } else if (xml.namespaceUri() == kDav && xml.name() == QLatin1String("status")) {
            status = statusOf(xml.readElementText());
        } else {
            xml.skipCurrentElement();
        }
    }
    if (status == 200) {
        response.found.insert(properties);
    }
}

MultiStatus parseMultiStatus(const QByteArray& body)
{
    MultiStatus result;
    QXmlStreamReader xml(body);
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("multistatus")) {
        throw CardDavError(QStringLiteral("Il server ha dato una risposta non comprensibile."), 0);
    }
    while (xml.readNextStartElement()) {
        if (xml.namespaceUri() == kDav && xml.name() == QLatin1String("response")) {
            Response response;
            while (xml.readNextStartElement()) {
                if (xml.name() == QLatin1String("href")) {
                    response.href = xml.readElementText().trimmed();
                } else if (xml.name() == QLatin1String("status")) {
                    response.status = statusOf(xml.readElementText());
                } else if (xml.name() == QLatin1String("propstat")) {
                    readPropstat(xml, response);
                } else {
                    xml.skipCurrentElement();
                }
            }
            result.responses.append(response);
        } else if (xml.namespaceUri() == kDav && xml.name() == QLatin1String("sync-token")) {
            result.syncToken = xml.readElementText().trimmed();
        } else {
            xml.skipCurrentElement();
        }
    }
    if (xml.hasError()) {
        throw CardDavError(
            QStringLiteral("Il server ha dato una risposta non comprensibile: %1.").arg(xml.errorString()), 0);
    }
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

CardDavError::CardDavError(const QString& description, int status)
    : ado::Error(description)
    , m_status(status)
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

CardDavClient::Flight::Flight(QNetworkReply* started, const QUrl& target, int timeout)
    : reply(started)
    , url(target)
{
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

CardDavClient::Reply CardDavClient::finish(Flight& flight)
{
    flight.timer.stop();
    QNetworkReply* reply = flight.reply;
    const QUrl& url = flight.url;
    Reply result;
    result.url = url;
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.body = reply->readAll();
    result.etag = reply->rawHeader("ETag");
    result.challenge = reply->rawHeader("WWW-Authenticate");
    result.location = reply->rawHeader("Location");
    const QNetworkReply::NetworkError error = reply->error();
    const QString errorText = reply->errorString();
    reply->deleteLater();

    if (m_aborted) {
        throw CardDavError(QStringLiteral("Sincronizzazione interrotta."), 0);
    }
    if (result.status == 0) {
        if (flight.timedOut) {
            throw CardDavError(QStringLiteral("Il server %1 non ha risposto in tempo.").arg(url.host()), 0);
        }
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
                                         const QList<QPair<QByteArray, QByteArray>>& headers)
{
    QUrl url = target;
    QUrl from = m_server;
    int status = 0;
    for (int redirects = 0;; ++redirects) {
        if (m_aborted) {
            throw CardDavError(QStringLiteral("Sincronizzazione interrotta."), 0);
        }
        admit(from, url, status);
        Flight flight(start(verb, url, body, headers), url, m_timeout);
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

CardDavClient::Reply CardDavClient::propfind(const QUrl& url, int depth, const QByteArray& props)
{
    const QByteArray body = "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
                            "<d:propfind xmlns:d=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:carddav\"><d:prop>"
        + props + "</d:prop></d:propfind>";
    Reply reply = send("PROPFIND", url, body, {{"Depth", QByteArray::number(depth)}});
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
    const MultiStatus listing = parseMultiStatus(propfind(book, 1, "<d:resourcetype/><d:getetag/>").body);
    const QString self = book.path(QUrl::FullyEncoded);
    QList<CardEntry> cards;
    for (const Response& response : listing.responses) {
        const QString href = normalizedHref(response.href);
        const Property type = response.found.value(key(kDav, QStringLiteral("resourcetype")));
        if (href == self || type.children.contains(key(kDav, QStringLiteral("collection")))) {
            continue;
        }
        cards.append({href, textOf(response, kDav, "getetag")});
    }
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
    const Reply reply = send("REPORT", book, body, {{"Depth", "1"}});
    if (reply.status == 403 || reply.status == 409 || reply.status == 400) {
        // valid-sync-token: the server has forgotten this token, and the caller lists the whole book instead.
        if (reply.body.contains("valid-sync-token") || reply.status != 403) {
            return std::nullopt;
        }
    }
    if (reply.status != 207) {
        fail(reply, book);
    }
    const MultiStatus status = parseMultiStatus(reply.body);
    CollectionChanges changes;
    changes.syncToken = status.syncToken;
    const QString self = book.path(QUrl::FullyEncoded);
    for (const Response& response : status.responses) {
        const QString href = normalizedHref(response.href);
        if (href == self) {
            continue;
        }
        if (response.status == 404) {
            changes.removed.append(href);
        } else {
            // Without a tag the card is read again and compared.
            changes.changed.append({href, textOf(response, kDav, "getetag")});
        }
    }
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
        const Reply reply = send("REPORT", book, body, {{"Depth", "1"}});
        if (reply.status != 207) {
            fail(reply, book);
        }
        for (const Response& response : parseMultiStatus(reply.body).responses) {
            if (!response.found.contains(key(kCardDav, QStringLiteral("address-data")))) {
                continue;
            }
            cards.append({normalizedHref(response.href),
                          textOf(response, kDav, "getetag"),
                          response.found.value(key(kCardDav, QStringLiteral("address-data"))).text.toUtf8()});
        }
    }
    return cards;
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
                start("PUT", url, cards.at(next).data, {{"If-None-Match", "*"}}), url, m_timeout);
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
