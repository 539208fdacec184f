#pragma once

#include "data/Ado.h"

#include <QByteArray>
#include <QList>
#include <QNetworkAccessManager>
#include <QSet>
#include <QSslError>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <functional>
#include <optional>

// A CardDAV client for one account: finds the address books, lists, reads, writes and deletes cards. Every call
// waits for its answer in a local event loop (the window's events go on meanwhile) and throws CardDavError, with a
// description in Italian, on any failure. Only https:// is accepted, except for this machine itself.

class CardDavError : public ado::Error
{
public:
    // status: the HTTP status, or 0 when no answer came (network gone, certificate refused, timeout).
    // unreadable: an answer came that the program does not take (not XML, past a limit).
    CardDavError(const QString& description, int status, bool unreadable = false);
    int status() const { return m_status; }
    bool unreadable() const { return m_unreadable; }

private:
    int m_status;
    bool m_unreadable;
};

struct AddressBook
{
    QUrl url;
    QString name;
    bool hasSyncToken = false;
};

// A card as listed: its path on the server and its version tag.
struct CardEntry
{
    QString href;
    QString etag;
};

struct Card
{
    QString href;
    QString etag;
    QByteArray data;
    bool whole = true; // false: larger than a card may be, data empty
};

// What one answer may bring before the client refuses it; memory stays bounded whatever a server sends.
struct CardDavLimits
{
    qint64 answerBytes = qint64(200) << 20;
    qint64 cardBytes = qint64(50) << 20;
    int entries = 100000; // cards in one listing
};

// What changed in an address book since a sync token.
struct CollectionChanges
{
    QList<CardEntry> changed;
    QStringList removed;
    QString syncToken;
};

class CardDavClient
{
public:
    // Throws CardDavError for an address that is not https:// nor plain http:// to this machine.
    CardDavClient(const QUrl& server, const QString& user, const QString& password);

    // True for https://, and for http:// to localhost, 127.0.0.1 or ::1.
    static bool isSafeAddress(const QUrl& url);

    // "scheme://host:port", the part of an address that decides who may be sent the password.
    static QString origin(const QUrl& url);
    // The password also goes to address's scheme, host and port (one the user accepted before).
    void trust(const QUrl& address);
    // Asked when the server leads to another scheme, host or port (a redirect, or an address in an answer): true
    // follows it, and that origin is sent the password from then on. Without it such a lead is refused.
    void setRedirectApproval(std::function<bool(const QUrl& from, const QUrl& to)> approve)
    {
        m_approve = std::move(approve);
    }
    // The origins accepted through the approval, in the order accepted.
    QList<QUrl> accepted() const { return m_accepted; }

    // From any thread: ends the request in flight and refuses every later one, each with the error "Sincronizzazione
    // interrotta.".
    void abort();

    // Milliseconds one request may take before it counts as failed.
    void setTimeout(int milliseconds) { m_timeout = milliseconds; }
    void setLimits(const CardDavLimits& limits) { m_limits = limits; }

    // The user's address books: through /.well-known/carddav, the current user's principal and its
    // addressbook-home-set. An address that already names an address book gives just that one.
    QList<AddressBook> discover();

    // Every card of the address book with its version tag.
    QList<CardEntry> listCards(const QUrl& book);
    // The address book's current sync token, empty when the server offers none.
    QString syncToken(const QUrl& book);
    // The changes since token (sync-collection); nothing when the server no longer knows the token.
    std::optional<CollectionChanges> changesSince(const QUrl& book, const QString& token);
    // The cards at the paths, read in batches (addressbook-multiget). Paths the server no longer has are left out.
    // A batch the server cannot put into XML (a control character, bytes that are not UTF-8) or too large is read
    // a card at a time, as it is stored; a card past the limit comes without its data.
    QList<Card> fetchCards(const QUrl& book, const QStringList& hrefs);

    // Stores a new card under name in the book, never over an existing one (If-None-Match: *); returns it with its
    // path and the tag the server gave (empty when it gave none).
    CardEntry createCard(const QUrl& book, const QString& name, const QByteArray& data);
    struct NewCard
    {
        QString name;
        QByteArray data;
    };
    struct Creation
    {
        CardEntry entry; // its path also on an error

        std::optional<CardDavError> error;
    };
    // Stores new cards as createCard does, several requests at a time. Returns, in the order given, a result for
    // every card sent: its entry or its error. After the first error no further card is sent; those sent meanwhile
    // are waited for, so that the caller can note every card the server has taken.
    QList<Creation> createCards(const QUrl& book, const QList<NewCard>& cards);

    // Replaces the card only if it still has etag (If-Match); returns the new tag, empty when the server gave none.
    // A card changed meanwhile throws CardDavError with status 412.
    QString updateCard(const QString& href, const QString& etag, const QByteArray& data);
    // Deletes the card only if it still has etag; a card already gone is no failure.
    void deleteCard(const QString& href, const QString& etag);

    // The path of a card or collection in the one form the client compares them in.
    QString normalizedHref(const QString& href) const;

private:
    // Takes an answer's body as it arrives; throws CardDavError to stop it.
    using Sink = std::function<void(const QByteArray&)>;
    struct Reply
    {
        int status = 0;
        QByteArray body;
        QByteArray etag;
        QByteArray challenge; // WWW-Authenticate
        QByteArray location;
        QUrl url; // after redirects
    };
    // A request on its way, with its time limit and the certificate errors seen.
    // Its body goes to the sink as it arrives when the answer is a success, else up to a few kilobytes are kept.
    struct Flight
    {
        Flight(QNetworkReply* started, const QUrl& target, int timeout, qint64 limit, Sink sink = {});
        void take();
        void takeSlice(QByteArray chunk);
        QNetworkReply* reply;
        QUrl url;
        QTimer timer;
        bool timedOut = false;
        QList<QSslError> certificateErrors;
        Sink sink;
        qint64 limit;
        qint64 received = 0;
        QByteArray body;
        std::optional<CardDavError> failure;
    };
    QNetworkReply* start(const QByteArray& verb,
                         const QUrl& url,
                         const QByteArray& body,
                         const QList<QPair<QByteArray, QByteArray>>& headers);
    // The answer of a finished request; throws CardDavError when none came.
    Reply finish(Flight& flight);
    bool asksForAnotherScheme(const Reply& reply);
    static bool isRedirect(const Reply& reply);
    QUrl cardUrl(const QUrl& book, const QString& name) const;
    Reply send(const QByteArray& verb,
               const QUrl& url,
               const QByteArray& body = {},
               const QList<QPair<QByteArray, QByteArray>>& headers = {},
               const Sink& sink = {},
               qint64 limit = 0);
    Reply propfind(const QUrl& url, int depth, const QByteArray& props, const Sink& sink = {});
    Card getCard(const QString& href);
    [[noreturn]] void fail(const Reply& reply, const QUrl& url) const;
    bool isTrusted(const QUrl& url) const;
    // Throws unless url may be sent the password; asks the approval about an origin not trusted yet.
    void admit(const QUrl& from, const QUrl& url, int status);
    QUrl urlOf(const QString& href) const;

    QUrl m_server;
    QByteArray m_authorization;
    bool m_challenged = false; // the server asked for a scheme other than Basic
    QSet<QString> m_trusted; // origins
    QList<QUrl> m_accepted;
    std::function<bool(const QUrl&, const QUrl&)> m_approve;
    QNetworkAccessManager m_network;
    int m_timeout = 30000;
    std::atomic<bool> m_aborted {false};
    CardDavLimits m_limits;
};
