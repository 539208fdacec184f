#pragma once

#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

// A real CardDAV server for the tests, on 127.0.0.1 on a free port, its storage in a temporary folder, stopped when
// the object goes. Radicale checks one user with a plain-text password; Xandikos, the second server the sync is
// tried on, checks none. Either can sit behind a small proxy that answers every PUT without its ETag, as servers
// that rewrite a stored card do, or that asks for HTTP Digest authentication.
class DavServer
{
public:
    enum class Kind { Radicale, Xandikos };

    explicit DavServer(Kind kind = Kind::Radicale,
                       const QString& user = QStringLiteral("anna"),
                       const QString& password = QStringLiteral("segreta"));
    ~DavServer();
    DavServer(const DavServer&) = delete;
    DavServer& operator=(const DavServer&) = delete;

    Kind kind() const { return m_kind; }
    QString name() const;

    // Before start(): put the proxy that drops the ETag of PUT answers in front of the server.
    void setDropWriteTags(bool drop) { m_dropWriteTags = drop; }
    bool dropsWriteTags() const { return m_dropWriteTags; }
    // Before start(): the proxy asks for HTTP Digest authentication instead of the server's own Basic.
    void setDigestAuthentication(bool digest) { m_digest = digest; }
    // Before start(): the proxy holds every request this long, as a server across the internet would.
    void setDelay(int milliseconds) { m_delay = milliseconds; }
    // Before start(): the proxy speaks HTTPS, with a self-signed certificate.
    void setTls(bool tls) { m_tls = tls; }
    // Before start(): put the proxy in front, so that setFaults can make it misbehave.
    void setFaultable(bool faultable) { m_faultable = faultable; }
    // The faults the proxy plays from now on, one a line, as "name argument":
    //   omit-report SUFFIX   leaves the card whose path ends so out of sync-collection answers
    //   refuse-token         refuses every sync token (403 valid-sync-token), as a server that forgot them
    //   refuse-create STATUS answers a new card (If-None-Match) with STATUS, storing nothing
    //   refuse-update STATUS answers a changed card (If-Match) with STATUS, storing nothing
    //   no-etags             gives no version tags, in listings nor in answers to writes
    //   latin1               sends "à" as the single byte E0, not UTF-8
    //   endless card|entries [N] a listing without end (or of N bytes of a card, N entries): one card, or entries
    //   trickle              answers a PROPFIND a byte a second
    void setFaults(const QStringList& faults);
    // What the proxy passed on, one line a request: "PUT /anna/book/x.vcf If-Match=\"…\"" (the tag header, if any).
    QStringList requests() const;

    // Starts the server (on the port it had before, after a stop) and waits until it answers. Returns false and
    // keeps the reason in error() when it cannot.
    bool start();
    void stop();
    bool isRunning() const;
    QString error() const { return m_error; }

    QString user() const { return m_user; }
    QString password() const { return m_password; }
    quint16 port() const { return m_port; }
    // http://127.0.0.1:port/ (https:// with TLS)
    QUrl url() const;
    // An empty address book of the user; returns its address.
    QUrl addAddressBook(const QString& name, const QString& displayName);
    // The card files of an address book, as the server stores them.
    QStringList cardFiles(const QString& name) const;
    // Radicale only: a card written straight into the address book's folder, as no client could send it.
    bool writeCardFile(const QString& name, const QString& file, const QByteArray& data) const;

private:
    QString path(const QString& relative) const;
    QString bookFolder(const QString& name) const;
    bool hasProxy() const { return m_dropWriteTags || m_digest || m_tls || m_delay > 0 || m_faultable; }
    bool startOnce();
    bool startProcess(QProcess& process, const QString& program, const QStringList& arguments, quint16 port);

    Kind m_kind;
    QTemporaryDir m_dir;
    QProcess m_process;
    QProcess m_proxy;
    QString m_user;
    QString m_password;
    quint16 m_port = 0; // where the tests connect: the proxy's when there is one
    quint16 m_serverPort = 0;
    bool m_dropWriteTags = false;
    bool m_digest = false;
    bool m_tls = false;
    bool m_faultable = false;
    int m_delay = 0;
    QString m_error;
};
