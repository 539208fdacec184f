#include "support/DavServer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSet>
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

// Whether process pid holds the socket listening on 127.0.0.1:port. Another test's server may have taken a port this
// one picked (a port is free only until someone binds it): answering on the port is not proof enough.
bool listensOn(qint64 pid, quint16 port)
{
    QSet<QByteArray> sockets;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile file(QString::fromLatin1(table));
        if (!file.open(QIODevice::ReadOnly)) {
            continue;
        }
        const QList<QByteArray> lines = file.readAll().split('\n');
        for (const QByteArray& line : lines.mid(1)) {
            const QList<QByteArray> cells = line.simplified().split(' ');
            // sl local rem st tx:rx tr:when retrnsmt uid timeout inode; 0A is LISTEN.
            if (cells.size() < 10 || cells.at(3) != "0A") {
                continue;
            }
            bool ok = false;
            if (cells.at(1).split(':').value(1).toUInt(&ok, 16) == port && ok) {
                sockets.insert("socket:[" + cells.at(9) + "]");
            }
        }
    }
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QFileInfo& fd : fds.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        if (sockets.contains(QFile::symLinkTarget(fd.filePath()).section(QLatin1Char('/'), -1).toLatin1())) {
            return true;
        }
    }
    return false;
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

// Passes every request on to the server and its answer back, noting each request with the precondition it carried.
// Options: --delay SECONDS before each request, as a server far away; --drop-tags answers a PUT without its ETag;
// --digest USER:PASSWORD asks for HTTP Digest authentication and passes the request on with Basic.
// --faults FILE: the faults to play, read again for every request, one a line (see DavServer::setFaults).
// clang-format off (it would reflow the Python)
const char kProxy[] = R"py(import base64, hashlib, http.client, http.server, re, secrets, socketserver, sys, time
listen, upstream, log = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
faults_file = sys.argv[sys.argv.index("--faults") + 1] if "--faults" in sys.argv else None
drop_tags = "--drop-tags" in sys.argv
digest = sys.argv[sys.argv.index("--digest") + 1].split(":", 1) if "--digest" in sys.argv else None
delay = float(sys.argv[sys.argv.index("--delay") + 1]) if "--delay" in sys.argv else 0
hop = {"connection", "keep-alive", "transfer-encoding", "te", "trailer", "upgrade", "content-length"}
realm, nonces = "Rubrica", set()

def md5(text):
    return hashlib.md5(text.encode()).hexdigest()

def authorized(command, header):
    if not header.startswith("Digest "):
        return False
    p = {k: a or b for k, a, b in re.findall(r'(\w+)=(?:"([^"]*)"|([^\s,]*))', header[7:])}
    user, password = digest
    if p.get("username") != user or p.get("realm") != realm or p.get("nonce") not in nonces:
        return False
    ha1, ha2 = md5(f"{user}:{realm}:{password}"), md5(f"{command}:{p.get('uri')}")
    if p.get("qop"):
        return p.get("response") == md5(f"{ha1}:{p['nonce']}:{p.get('nc')}:{p.get('cnonce')}:{p['qop']}:{ha2}")
    return p.get("response") == md5(f"{ha1}:{p['nonce']}:{ha2}")

def faults():
    try:
        with open(faults_file, encoding="utf-8") as f:
            return dict((line.split(" ", 1) + [""])[:2] for line in f.read().splitlines() if line)
    except (OSError, TypeError):
        return {}

def without_response(data, suffix):
    def keep(m):
        href = re.search(rb"<(?:\w+:)?href>([^<]*)</", m.group(0))
        return b"" if href and href.group(1).endswith(suffix.encode()) else m.group(0)
    return re.sub(rb"<(\w+:|)response>.*?</\1response>", keep, data, flags=re.S)

class Relay(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def answer(self, status, reason, headers, data):
        self.send_response(status, reason)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def relay(self):
        body = self.rfile.read(int(self.headers.get("Content-Length") or 0))
        tags = [f"{name}={self.headers[name]}" for name in ("If-Match", "If-None-Match") if self.headers[name]]
        with open(log, "a", encoding="utf-8") as out:
            out.write(" ".join([self.command, self.path] + tags) + "\n")
        # Plain answers, so that the faults can edit them.
        headers = {k: v for k, v in self.headers.items() if k.lower() not in hop and k.lower() != "accept-encoding"}
        time.sleep(delay)
        fault = faults()
        syncing = self.command == "REPORT" and b"sync-collection" in body
        if "refuse-token" in fault and syncing:
            return self.answer(403, "Forbidden", [("Content-Type", "application/xml")],
                               b'<?xml version="1.0"?><D:error xmlns:D="DAV:"><D:valid-sync-token/></D:error>')
        if self.command == "PUT":
            which = "refuse-create" if self.headers["If-None-Match"] else "refuse-update"
            if which in fault:
                return self.answer(int(fault[which]), "Refused", [], b"")
        if "endless" in fault and self.command in ("PROPFIND", "REPORT") and self.headers.get("Depth") == "1":
            return self.endless(fault["endless"])
        if "trickle" in fault and self.command == "PROPFIND":
            return self.trickle()
        if digest:
            if not authorized(self.command, self.headers.get("Authorization", "")):
                nonce = secrets.token_hex(16)
                nonces.add(nonce)
                challenge = f'Digest realm="{realm}", qop="auth", nonce="{nonce}", algorithm=MD5'
                return self.answer(401, "Unauthorized", [("WWW-Authenticate", challenge)], b"")
            headers["Authorization"] = "Basic " + base64.b64encode(":".join(digest).encode()).decode()
        try:
            server = http.client.HTTPConnection("127.0.0.1", upstream, timeout=60)
            server.request(self.command, self.path, body=body, headers=headers)
            reply = server.getresponse()
            data = reply.read()
            server.close()
        except OSError:
            self.close_connection = True
            return
        kept = [(name, value) for name, value in reply.getheaders()
                if name.lower() not in hop and not (drop_tags and self.command == "PUT" and name.lower() == "etag")]
        if "omit-report" in fault and syncing:
            data = without_response(data, fault["omit-report"])
        if "no-etags" in fault:
            data = re.sub(rb"<(\w+:|)getetag>[^<]*</\1getetag>", b"", data)
            kept = [(name, value) for name, value in kept if name.lower() != "etag"]
        if "latin1" in fault:
            data = data.replace("à".encode(), b"\xe0")
        self.answer(reply.status, reply.reason, kept, data)

    # An answer that never ends: one card without end ("card"), or card entries without end ("entries").
    def endless(self, fault):
        kind, _, most = fault.partition(" ")
        most = int(most) if most else None
        self.send_response(207, "Multi-Status")
        self.send_header("Content-Type", "application/xml; charset=utf-8")
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True
        head = (b'<?xml version="1.0" encoding="utf-8"?>'
                b'<D:multistatus xmlns:D="DAV:" xmlns:C="urn:ietf:params:xml:ns:carddav">')
        ok = b"</D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>"
        entry = b"<D:response><D:href>/e%d.vcf</D:href><D:propstat><D:prop><D:getetag>1</D:getetag>" + ok
        try:
            if kind == "card":
                self.wfile.write(head + b"<D:response><D:href>/big.vcf</D:href><D:propstat><D:prop>"
                                 b"<D:getetag>1</D:getetag><C:address-data>BEGIN:VCARD\r\nNOTE:")
                for n in range(most // 65536 if most else 10 ** 9):
                    self.wfile.write(b"x" * 65536)
                return self.wfile.write(b"\r\nEND:VCARD\r\n</C:address-data>" + ok + b"</D:multistatus>")
            self.wfile.write(head)
            for n in range(most // 100 if most else 10 ** 9):
                self.wfile.write(b"".join(entry % (n * 100 + i) for i in range(100)))
            self.wfile.write(b"</D:multistatus>")
        except OSError:
            pass

    # Headers at once, then the body a byte a second.
    def trickle(self):
        self.send_response(207, "Multi-Status")
        self.send_header("Content-Type", "application/xml; charset=utf-8")
        self.send_header("Content-Length", "100000")
        self.end_headers()
        self.close_connection = True
        try:
            for byte in b'<?xml version="1.0" encoding="utf-8"?>' * 3000:
                self.wfile.write(bytes([byte]))
                self.wfile.flush()
                time.sleep(1)
        except OSError:
            pass

    do_GET = do_PUT = do_DELETE = do_PROPFIND = do_PROPPATCH = do_REPORT = do_MKCOL = do_OPTIONS = relay

class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

server = Server(("127.0.0.1", listen), Relay)
if "--tls" in sys.argv:
    import ssl
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(sys.argv[sys.argv.index("--tls") + 1], sys.argv[sys.argv.index("--tls") + 2])
    server.socket = context.wrap_socket(server.socket, server_side=True)
server.serve_forever()
)py";
// clang-format on

} // namespace

DavServer::DavServer(Kind kind, const QString& user, const QString& password)
    : m_kind(kind)
    , m_user(user)
    , m_password(password)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_proxy.setProcessChannelMode(QProcess::MergedChannels);
}

DavServer::~DavServer()
{
    stop();
}

QString DavServer::name() const
{
    return m_kind == Kind::Radicale ? QStringLiteral("Radicale") : QStringLiteral("Xandikos");
}

QString DavServer::path(const QString& relative) const
{
    return m_dir.filePath(relative);
}

QString DavServer::bookFolder(const QString& name) const
{
    return m_kind == Kind::Radicale ? path(QStringLiteral("storage/collection-root/%1/%2").arg(m_user, name))
                                    : path(QStringLiteral("storage/%1/contacts/%2").arg(m_user, name));
}

QUrl DavServer::url() const
{
    return QUrl(
        QStringLiteral("%1://127.0.0.1:%2/").arg(m_tls ? QStringLiteral("https") : QStringLiteral("http")).arg(m_port));
}

bool DavServer::isRunning() const
{
    return m_process.state() != QProcess::NotRunning;
}

QStringList DavServer::requests() const
{
    QFile log(path(QStringLiteral("requests.log")));
    if (!log.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void DavServer::setFaults(const QStringList& faults)
{
    writeFile(path(QStringLiteral("faults")), faults.join(QLatin1Char('\n')).toUtf8() + '\n');
}

bool DavServer::startProcess(QProcess& process, const QString& program, const QStringList& arguments, quint16 port)
{
    process.start(program, arguments);
    if (!process.waitForStarted(5000)) {
        m_error = program + QStringLiteral(": ") + process.errorString();
        return false;
    }
    const QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired()) {
        if (process.state() == QProcess::NotRunning) {
            m_error = QString::fromUtf8(process.readAll());
            return false;
        }
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (socket.waitForConnected(200) && listensOn(process.processId(), port)) {
            return true;
        }
        QThread::msleep(20);
    }
    m_error = QStringLiteral("%1 did not answer on port %2").arg(program).arg(port);
    return false;
}

bool DavServer::start()
{
    // A port another test took between the pick and the bind: pick again, unless the server must come back on its own.
    const bool fresh = m_port == 0;
    for (int attempt = 1;; ++attempt) {
        if (startOnce()) {
            return true;
        }
        if (!fresh || attempt == 3) {
            return false;
        }
        m_port = 0;
        m_serverPort = 0;
    }
}

bool DavServer::startOnce()
{
    m_error.clear();
    // Radicale from its Python module (Debian's python3-radicale): the radicale package would also start a system
    // service on every machine that runs the tests.
    const QString program = m_kind == Kind::Radicale ? QStringLiteral("/usr/bin/python3")
                                                     : QStandardPaths::findExecutable(QStringLiteral("xandikos"));
    const bool installed = m_kind == Kind::Radicale
        ? QFile::exists(QStringLiteral("/usr/lib/python3/dist-packages/radicale/__main__.py"))
        : !program.isEmpty();
    if (!installed) {
        m_error = name() + QStringLiteral(" is not installed (scripts/install-deps installs it)");
        return false;
    }
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return false;
    }
    if (m_port == 0) {
        m_port = freePort();
        m_serverPort = hasProxy() ? freePort() : m_port;
        while (m_serverPort == m_port && hasProxy()) {
            m_serverPort = freePort();
        }
    }
    QStringList arguments;
    if (m_kind == Kind::Radicale) {
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
                                      .arg(m_serverPort)
                                      .arg(path(QStringLiteral("users")), path(QStringLiteral("storage")))
                                      .toUtf8();
        if (!writeFile(path(QStringLiteral("config")), config)
            || !writeFile(path(QStringLiteral("users")), (m_user + QLatin1Char(':') + m_password + '\n').toUtf8())) {
            m_error = QStringLiteral("cannot write the server's files");
            return false;
        }
        arguments
            = {QStringLiteral("-m"), QStringLiteral("radicale"), QStringLiteral("-C"), path(QStringLiteral("config"))};
    } else {
        arguments = {QStringLiteral("-d"),
                     path(QStringLiteral("storage")),
                     QStringLiteral("--autocreate"),
                     QStringLiteral("--current-user-principal"),
                     QStringLiteral("/%1/").arg(m_user),
                     QStringLiteral("-l"),
                     QStringLiteral("127.0.0.1"),
                     QStringLiteral("-p"),
                     QString::number(m_serverPort)};
    }
    if (!startProcess(m_process, program, arguments, m_serverPort)) {
        stop();
        return false;
    }
    if (hasProxy()) {
        QStringList proxyArguments {path(QStringLiteral("proxy.py")),
                                    QString::number(m_port),
                                    QString::number(m_serverPort),
                                    path(QStringLiteral("requests.log"))};
        if (m_dropWriteTags) {
            proxyArguments << QStringLiteral("--drop-tags");
        }
        if (m_digest) {
            proxyArguments << QStringLiteral("--digest") << m_user + QLatin1Char(':') + m_password;
        }
        if (m_faultable) {
            proxyArguments << QStringLiteral("--faults") << path(QStringLiteral("faults"));
        }
        if (m_delay > 0) {
            proxyArguments << QStringLiteral("--delay") << QString::number(m_delay / 1000.0);
        }
        if (m_tls) {
            // A certificate of its own, as a home server has: no authority vouches for it.
            QProcess openssl;
            openssl.setProcessChannelMode(QProcess::MergedChannels);
            openssl.start(QStringLiteral("openssl"),
                          {QStringLiteral("req"),
                           QStringLiteral("-x509"),
                           QStringLiteral("-newkey"),
                           QStringLiteral("rsa:2048"),
                           QStringLiteral("-nodes"),
                           QStringLiteral("-days"),
                           QStringLiteral("1"),
                           QStringLiteral("-subj"),
                           QStringLiteral("/CN=127.0.0.1"),
                           QStringLiteral("-keyout"),
                           path(QStringLiteral("key.pem")),
                           QStringLiteral("-out"),
                           path(QStringLiteral("cert.pem"))});
            if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0) {
                m_error = QStringLiteral("openssl: ") + QString::fromUtf8(openssl.readAll());
                stop();
                return false;
            }
            proxyArguments << QStringLiteral("--tls") << path(QStringLiteral("cert.pem"))
                           << path(QStringLiteral("key.pem"));
        }
        if (!writeFile(path(QStringLiteral("proxy.py")), kProxy)
            || !startProcess(m_proxy, QStringLiteral("/usr/bin/python3"), proxyArguments, m_port)) {
            stop();
            return false;
        }
    }
    return true;
}

void DavServer::stop()
{
    for (QProcess* process : {&m_proxy, &m_process}) {
        if (process->state() == QProcess::NotRunning) {
            continue;
        }
        process->terminate();
        if (!process->waitForFinished(3000)) {
            process->kill();
            process->waitForFinished(3000);
        }
    }
}

QUrl DavServer::addAddressBook(const QString& name, const QString& displayName)
{
    const QUrl book
        = url().resolved(QUrl(m_kind == Kind::Radicale ? QStringLiteral("/%1/%2/").arg(m_user, name)
                                                       : QStringLiteral("/%1/contacts/%2/").arg(m_user, name)));
    QByteArray escapedName = displayName.toUtf8();
    if (m_kind == Kind::Radicale) {
        const QString folder = bookFolder(name);
        QDir().mkpath(folder);
        escapedName.replace('\\', "\\\\").replace('"', "\\\"");
        writeFile(folder + QStringLiteral("/.Radicale.props"),
                  "{\"tag\": \"VADDRESSBOOK\", \"D:displayname\": \"" + escapedName + "\"}");
        return book;
    }
    // Xandikos makes address books on request (an extended MKCOL).
    escapedName.replace('&', "&amp;").replace('<', "&lt;");
    // Straight to the server: the proxy's own authentication is not the point here.
    QUrl direct = book;
    direct.setScheme(QStringLiteral("http"));
    direct.setPort(m_serverPort);
    QNetworkAccessManager network;
    QNetworkRequest request(direct);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/xml; charset=utf-8"));
    QNetworkReply* reply = network.sendCustomRequest(
        request,
        "MKCOL",
        "<?xml version=\"1.0\" encoding=\"utf-8\"?><D:mkcol xmlns:D=\"DAV:\" "
        "xmlns:C=\"urn:ietf:params:xml:ns:carddav\"><D:set><D:prop><D:resourcetype><D:collection/><C:addressbook/>"
        "</D:resourcetype><D:displayname>"
            + escapedName + "</D:displayname></D:prop></D:set></D:mkcol>");
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 201) {
        qWarning("MKCOL %s: %s", qPrintable(book.toString()), qPrintable(reply->errorString()));
    }
    delete reply;
    return book;
}

QStringList DavServer::cardFiles(const QString& name) const
{
    return QDir(bookFolder(name)).entryList({QStringLiteral("*")}, QDir::Files, QDir::Name);
}

bool DavServer::writeCardFile(const QString& name, const QString& file, const QByteArray& data) const
{
    return m_kind == Kind::Radicale && writeFile(bookFolder(name) + QLatin1Char('/') + file, data);
}
