#include "testhttpserver.h"

#include "testcertificates.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QSslSocket>
#include <QTimer>
#include <QUrlQuery>

struct TestHttpServer::Connection {
    QTcpSocket *socket = nullptr;
    QByteArray in;
    QByteArray out;          // wire bytes still to send for the current answer
    qint64 headLeft = 0;     // of which the status line and headers
    bool busy = false;       // an answer is being sent; further requests wait
    bool closeAfter = false; // close once `out` is sent
    bool stallAfter = false; // send nothing more once `out` is sent
    bool delayed = false;    // the request waits for Route::answerDelayMs
    int trickleBytes = 0;
    int trickleIntervalMs = 0;
};

namespace {

const QByteArray kRealm = "Torvane test";
const QByteArray kNonce = "dcd98b7102dd2f0e8b11d0f600bfb0c093";

QByteArray md5Hex(const QByteArray &text)
{
    return QCryptographicHash::hash(text, QCryptographicHash::Md5).toHex();
}

// True when the request carries the route's login, checked as RFC 7616 (MD5) and 7617 say.
bool loggedIn(const TestHttpServer::Request &request, const TestHttpServer::Route &r)
{
    const QByteArray given = request.headers.value("authorization");
    if (!r.digest)
        return given == "Basic " + (r.loginUser + ':' + r.loginPassword).toBase64();
    if (!given.startsWith("Digest "))
        return false;
    QMap<QByteArray, QByteArray> f; // name="value" or name=value, comma-separated
    for (const QByteArray &pair : given.mid(7).split(',')) {
        const int eq = pair.indexOf('=');
        f.insert(pair.left(eq).trimmed(), pair.mid(eq + 1).trimmed().replace('"', ""));
    }
    const QByteArray ha1 = md5Hex(r.loginUser + ':' + kRealm + ':' + r.loginPassword);
    const QByteArray ha2 = md5Hex(request.method + ':' + f.value("uri"));
    const QByteArray expected =
        md5Hex(ha1 + ':' + kNonce + ':' + f.value("nc") + ':' + f.value("cnonce") + ":auth:" + ha2);
    return f.value("username") == r.loginUser && f.value("nonce") == kNonce &&
           f.value("uri") == request.path && f.value("response") == expected;
}

QByteArray tokenOf(const QByteArray &path)
{
    return QUrlQuery(QString::fromLatin1(path.mid(path.indexOf('?') + 1)))
        .queryItemValue(QStringLiteral("token"))
        .toLatin1();
}

} // namespace

TestHttpServer::TestHttpServer(QObject *parent) : QTcpServer(parent) {}

TestHttpServer::~TestHttpServer()
{
    // The sockets are children, which the base class would destroy only after this object's own
    // part is gone; their last "disconnected" would then reach a half-destroyed server.
    qDeleteAll(findChildren<QTcpSocket *>(Qt::FindDirectChildrenOnly));
}

bool TestHttpServer::start(const QHostAddress &address)
{
    return listen(address, 0);
}

void TestHttpServer::goAway(int ms)
{
    const QHostAddress address = serverAddress();
    const quint16 port = serverPort();
    close();
    for (QTcpSocket *socket : findChildren<QTcpSocket *>(Qt::FindDirectChildrenOnly))
        socket->abort();
    QTimer::singleShot(ms, this, [this, address, port] { listen(address, port); });
}

void TestHttpServer::goAwayAfterBytes(qint64 bytes, int ms)
{
    outageAtBytes = bytes;
    outageMs = ms;
}

int TestHttpServer::openConnectionsNow()
{
    for (QTcpSocket *socket : findChildren<QTcpSocket *>(Qt::FindDirectChildrenOnly))
        if (socket->state() == QAbstractSocket::ConnectedState)
            socket->waitForReadyRead(0);
    return openConnections;
}

bool TestHttpServer::useTls(const TlsIdentity &identity)
{
    if (identity.isNull())
        return false;
    certificate = identity.certificate;
    key = identity.key;
    return true;
}

void TestHttpServer::setRoute(const QByteArray &path, const Route &r)
{
    routes.insert(path, r);
}

TestHttpServer::Route &TestHttpServer::route(const QByteArray &path)
{
    return routes[path];
}

QUrl TestHttpServer::url(const QByteArray &path) const
{
    QUrl u;
    u.setScheme(certificate.isNull() ? QStringLiteral("http") : QStringLiteral("https"));
    u.setHost(serverAddress().toString());
    u.setPort(serverPort());
    return u.resolved(QUrl(QString::fromUtf8(path)));
}

QList<TestHttpServer::Request> TestHttpServer::requestsFor(const QByteArray &path) const
{
    QList<Request> out;
    for (const Request &r : requests)
        if (r.path == path || r.path.startsWith(path + '?'))
            out.append(r);
    return out;
}

QByteArray TestHttpServer::loginPageBody()
{
    return "<!doctype html><html><head><title>Sign in</title></head><body><form method=\"post\">"
           "<input name=\"user\"><input name=\"password\" type=\"password\"></form></body>"
           "</html>\n";
}

qint64 TestHttpServer::bytesAskedFor(const QList<Request> &requests)
{
    qint64 sum = 0;
    for (const Request &r : requests) {
        const QList<QByteArray> ab = r.headers.value("range").mid(6).split('-');
        sum += ab.size() == 2 ? ab[1].toLongLong() - ab[0].toLongLong() + 1 : 0;
    }
    return sum;
}

QByteArray TestHttpServer::randomBody(qint64 length, quint32 seed)
{
    QByteArray data(length, Qt::Uninitialized);
    QRandomGenerator gen(seed);
    for (qint64 i = 0; i < length; ++i)
        data[i] = char(gen.generate() & 0xff);
    return data;
}

TestHttpServer::Route TestHttpServer::randomRoute(qint64 length, quint32 seed)
{
    Route r;
    r.body = randomBody(length, seed);
    return r;
}

TestHttpServer::Route *TestHttpServer::routeFor(const QByteArray &pathWithQuery)
{
    const auto it = routes.find(pathWithQuery.split('?').value(0));
    return it == routes.end() ? nullptr : &*it;
}

void TestHttpServer::incomingConnection(qintptr handle)
{
    auto *c = new Connection;
    if (!certificate.isNull()) {
        auto *ssl = new QSslSocket(this);
        ssl->setSocketDescriptor(handle);
        ssl->setLocalCertificate(certificate);
        ssl->setPrivateKey(key);
        ssl->setPeerVerifyMode(QSslSocket::VerifyNone);
        ssl->startServerEncryption();
        c->socket = ssl;
    } else {
        c->socket = new QTcpSocket(this);
        c->socket->setSocketDescriptor(handle);
    }
    ++connectionCount;
    maxOpenConnections = qMax(maxOpenConnections, ++openConnections);

    // Every lambda has the socket as context, and the connection record dies with the socket, so
    // nothing queued can reach a freed record.
    connect(c->socket, &QTcpSocket::readyRead, c->socket, [this, c] { onReadyRead(c); });
    connect(c->socket, &QTcpSocket::bytesWritten, c->socket, [this, c] { finishAnswer(c); });
    connect(c->socket, &QTcpSocket::disconnected, c->socket, [this, c] {
        --openConnections;
        c->socket->deleteLater();
    });
    connect(c->socket, &QObject::destroyed, this, [this, c] {
        pendingAnswers -= c->delayed;
        delete c;
    });
}

void TestHttpServer::onReadyRead(Connection *c)
{
    c->in += c->socket->readAll();
    while (!c->busy) {
        const int end = c->in.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QList<QByteArray> lines = c->in.left(end).split('\n');
        c->in.remove(0, end + 4);
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        Request r{first.value(0), first.value(1), {}};
        for (const QByteArray &line : lines.mid(1)) {
            const int colon = line.indexOf(':');
            if (colon > 0)
                r.headers.insert(line.left(colon).trimmed().toLower(),
                                 line.mid(colon + 1).trimmed());
        }
        requests.append(r);
        const Route *route = routeFor(r.path);
        if (route && route->answerDelayMs > 0) {
            // Held unanswered for a while: requests in flight at once can be counted.
            c->busy = c->delayed = true;
            maxPendingAnswers = qMax(maxPendingAnswers, ++pendingAnswers);
            QTimer::singleShot(route->answerDelayMs, c->socket, [this, c, r] {
                c->busy = c->delayed = false;
                --pendingAnswers;
                handleRequest(c, r);
                onReadyRead(c);
            });
            return;
        }
        handleRequest(c, r);
    }
}

void TestHttpServer::handleRequest(Connection *c, const Request &request)
{
    Route *r = routeFor(request.path);
    const int number = ++requestCounts[request.path.split('?').value(0)];
    const QByteArray token = tokenOf(request.path);
    QByteArray headers;
    QByteArray payload;
    qint64 payloadStart = 0;
    int status = 200;
    bool chunked = false;  // the route's own answer only
    bool noLength = false; // likewise

    if (r && r->silentRequests.contains(number)) {
        c->busy = true; // read nothing more, answer nothing
        return;
    }
    if (!r) {
        status = 404;
        payload = "no such path";
    } else if (!r->tokens.isEmpty() && r->tokens.value(token) == 0) {
        status = 403;
        payload = "link expired";
    } else if (r->failRequests.contains(number)) {
        status = r->failStatus;
        payload = r->failBody;
        if (!r->failRetryAfter.isEmpty())
            headers += "Retry-After: " + r->failRetryAfter + "\r\n";
    } else if (!r->loginUser.isEmpty() && !loggedIn(request, *r)) {
        status = 401;
        payload = "login required";
        headers += r->digest ? "WWW-Authenticate: Digest realm=\"" + kRealm +
                                   "\", qop=\"auth\", nonce=\"" + kNonce + "\", algorithm=MD5\r\n"
                             : "WWW-Authenticate: Basic realm=\"" + kRealm + "\"\r\n";
    } else if (!r->needCookie.isEmpty() &&
               (!request.headers.value("cookie").contains(r->needCookie) ||
                !request.headers.value("referer").startsWith(r->needReferer) ||
                r->sessionAnswers == 0)) {
        status = r->loginPage ? 200 : 403;
        payload = loginPageBody();
        headers += "Content-Type: text/html; charset=utf-8\r\n";
    } else if (!r->redirectTo.isEmpty()) {
        status = 302;
        headers += "Location: " + r->redirectTo + "\r\n";
    } else {
        if (r->sessionAnswers > 0)
            --r->sessionAnswers;
        if (r->tokens.value(token) > 0)
            --r->tokens[token];
        status = r->status;
        payload = r->body;
        chunked = r->chunked;
        noLength = r->noLength;
        const QByteArray range = request.headers.value("range");
        if (status == 200 && r->honourRange && range.startsWith("bytes=")) {
            const QList<QByteArray> ab = range.mid(6).split('-');
            const qint64 len = r->body.size();
            bool okA = false, okB = true;
            qint64 a = ab.value(0).toLongLong(&okA);
            qint64 b = ab.value(1).isEmpty() ? len - 1 : ab.value(1).toLongLong(&okB);
            if (!okA || !okB || a > b || a >= len) {
                status = 416;
                headers += "Content-Range: bytes */" + QByteArray::number(len) + "\r\n";
                payload.clear();
            } else {
                b = qMin(b, len - 1);
                if (r->maxRangeLength > 0)
                    b = qMin(b, a + r->maxRangeLength - 1);
                a = qBound<qint64>(0, a + r->shiftRangeStart, len - 1);
                b = qBound<qint64>(a, b + r->shiftRangeStart, len - 1);
                status = 206;
                payloadStart = a;
                payload = r->body.mid(a, b - a + 1);
                headers += "Content-Range: bytes " + QByteArray::number(a) + '-' +
                           QByteArray::number(b) + '/' +
                           (r->starTotal ? QByteArray("*") : QByteArray::number(len)) + "\r\n";
            }
        }
        if (r->honourRange)
            headers += "Accept-Ranges: bytes\r\n";
        for (const auto &h : r->headers)
            headers += h.first + ": " + h.second + "\r\n";
    }

    // Cut the answer where the route drops or stalls the connection; the headers still announce
    // the full length, so the client sees a short body.
    const qint64 announced = payload.size();
    const auto cutAt = [&](qint64 at, int &times) {
        if (status >= 300 || times <= 0 || at < payloadStart || at >= payloadStart + payload.size())
            return false;
        --times;
        payload.truncate(at - payloadStart);
        return true;
    };
    c->closeAfter = r && cutAt(r->dropAtByte, r->dropTimes);
    c->stallAfter = r && !c->closeAfter && cutAt(r->stallAtByte, r->stallTimes);
    const bool complete = !c->closeAfter && !c->stallAfter;
    c->closeAfter = c->closeAfter || noLength;

    // The reason phrase is not read by any client here: the status code tells.
    QByteArray wire = "HTTP/1.1 " + QByteArray::number(status) + " Status\r\n";
    if (!headers.contains("Content-Type:"))
        wire += "Content-Type: application/octet-stream\r\n";
    wire += headers;
    if (chunked)
        wire += "Transfer-Encoding: chunked\r\n\r\n";
    else if (noLength)
        wire += "Connection: close\r\n\r\n";
    else
        wire += "Content-Length: " + QByteArray::number(announced) + "\r\n\r\n";
    if (chunked && !payload.isEmpty())
        payload = QByteArray::number(payload.size(), 16) + "\r\n" + payload + "\r\n";
    if (chunked && complete)
        payload += "0\r\n\r\n";
    if (request.method != "HEAD")
        wire += payload;
    c->busy = true;
    c->out = wire;
    c->headLeft = wire.indexOf("\r\n\r\n") + 4;
    c->trickleBytes =
        r && (r->trickleOnlyAt < 0 || r->trickleOnlyAt == payloadStart) ? r->trickleBytes : 0;
    c->trickleIntervalMs = r ? r->trickleIntervalMs : 0;
    sendBody(c);
}

void TestHttpServer::sendBody(Connection *c)
{
    if (c->out.isEmpty() || c->socket->state() != QAbstractSocket::ConnectedState)
        return;
    const qint64 n =
        c->trickleBytes > 0 ? qMin<qint64>(c->trickleBytes, c->out.size()) : c->out.size();
    c->socket->write(c->out.constData(), n);
    c->out.remove(0, n);
    const qint64 head = qMin(n, c->headLeft);
    c->headLeft -= head;
    bytesServed += n - head;
    if (outageAtBytes >= 0 && bytesServed >= outageAtBytes) {
        outageAtBytes = -1;
        // Not from inside this connection's own write.
        QTimer::singleShot(0, this, [this] { goAway(outageMs); });
    }
    if (!c->out.isEmpty())
        QTimer::singleShot(c->trickleIntervalMs, c->socket, [this, c] { sendBody(c); });
    finishAnswer(c);
}

void TestHttpServer::finishAnswer(Connection *c)
{
    if (!c->busy || !c->out.isEmpty() || c->socket->bytesToWrite() > 0 || c->stallAfter)
        return; // still sending, or kept open and silent after a stall
    c->busy = false;
    if (c->closeAfter)
        c->socket->disconnectFromHost();
    else if (!c->in.isEmpty())
        QTimer::singleShot(0, c->socket, [this, c] { onReadyRead(c); });
}
