#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QSet>
#include <QSslCertificate>
#include <QSslKey>
#include <QTcpServer>
#include <QUrl>

struct TlsIdentity;

// An HTTP/1.1 server for tests, on a loopback address and a free port, living in the test's
// thread. Each path is scripted with a Route: honour or ignore Range, redirect, fail chosen
// requests, trickle, drop the connection at a byte, stall, send chunked bodies. It counts
// connections (also the most open at once) and the body bytes it sent, and logs every request. With
// useTls() it speaks HTTPS with a certificate from TestCertificates.
class TestHttpServer : public QTcpServer {
    Q_OBJECT

public:
    struct Route {
        QByteArray body;
        int status = 200;         // status of a plain answer (404 with a body, ...)
        bool honourRange = true;  // false: a ranged request gets 200 and the whole body
        bool starTotal = false;   // Content-Range ".../*" on 206 answers
        bool chunked = false;     // chunked transfer encoding, no Content-Length
        bool noLength = false;    // neither length nor chunking: body ends at close
        QByteArray redirectTo;    // answer 302 with this Location
        QSet<int> silentRequests; // 1-based request numbers on this path never answered
        QSet<int> failRequests;   // 1-based request numbers on this path that get a 503
        int failStatus = 503;
        QByteArray failBody = "server error page";
        QByteArray failRetryAfter;  // Retry-After on those answers, when not empty
        qint64 dropAtByte = -1;     // close the connection before sending this file offset...
        int dropTimes = 0;          // ...this many times in all
        qint64 stallAtByte = -1;    // stop sending (keep the connection) at this file offset...
        int stallTimes = 0;         // ...this many times in all
        qint64 maxRangeLength = -1; // answer a range with at most this many bytes (206)
        qint64 shiftRangeStart = 0; // answer a range with a Content-Range shifted by this
        int trickleBytes = 0;       // send this many bytes per tick...
        int trickleIntervalMs = 20; // ...every this many milliseconds
        int answerDelayMs = 0;      // hold each request this long before answering it
        qint64 trickleOnlyAt = -1;  // trickle only answers that start at this file offset
        QList<QPair<QByteArray, QByteArray>> headers; // extra headers on every answer
        // A file behind a login: a request whose Cookie lacks needCookie, or whose Referer does
        // not start with needReferer, gets 403 with a page, or with loginPage the login page as
        // a 200 text/html answer, as many sites send it.
        QByteArray needCookie;
        QByteArray needReferer;
        bool loginPage = false;
        int sessionAnswers = -1; // the session expires after this many answers; -1 never
        // Signed links: a request must carry "token=" one of these in its query, and the token
        // serves that many answers more (-1: no end); an unknown or spent one gets 403.
        QHash<QByteArray, int> tokens;
        // A file behind an HTTP login: a request without this user and password gets 401 with a
        // Basic challenge, or with `digest` a Digest one (MD5, qop "auth"), realm "Torvane test".
        QByteArray loginUser;
        QByteArray loginPassword;
        bool digest = false;
    };

    struct Request {
        QByteArray method;
        QByteArray path;                      // path with query, as requested
        QMap<QByteArray, QByteArray> headers; // lower-case names
    };

    explicit TestHttpServer(QObject *parent = nullptr);
    ~TestHttpServer() override;

    // Listens on 127.0.0.1 (or the given loopback address) and a free port.
    bool start(const QHostAddress &address = QHostAddress::LocalHost);
    // Goes away as a restarting server does: stops listening and cuts every connection, so that
    // new ones are refused, and listens on the same address and port again after `ms`.
    void goAway(int ms);
    // Goes away for `ms` once this many body bytes have been served in all.
    void goAwayAfterBytes(qint64 bytes, int ms);

    // Answers with TLS and this certificate from the next connection on.
    bool useTls(const TlsIdentity &identity);

    void setRoute(const QByteArray &path, const Route &route);
    Route &route(const QByteArray &path);
    QUrl url(const QByteArray &path) const;

    QList<Request> requests; // every request, in arrival order
    QList<Request> requestsFor(const QByteArray &path) const;
    int connectionCount = 0; // connections accepted in all
    int openConnections = 0;
    // openConnections after looking at each socket directly: under Wine, a client's close that
    // came while Qt's notifier was being re-armed is never reported (no FD_CLOSE is posted).
    int openConnectionsNow();
    int maxOpenConnections = 0;
    qint64 bytesServed = 0;    // body bytes handed to the sockets, on every path
    int maxPendingAnswers = 0; // the most requests held by Route::answerDelayMs at once

    // The page a protected route answers without the session.
    static QByteArray loginPageBody();
    // Bytes the requests asked for with their ranges (the probe's one byte included).
    static qint64 bytesAskedFor(const QList<Request> &requests);
    // Random bytes of a given length, the same for the same seed.
    static QByteArray randomBody(qint64 length, quint32 seed = 1);
    // A route that serves randomBody(length, seed).
    static Route randomRoute(qint64 length, quint32 seed = 1);

protected:
    void incomingConnection(qintptr handle) override;

private:
    struct Connection;
    Route *routeFor(const QByteArray &pathWithQuery);
    void onReadyRead(Connection *c);
    void handleRequest(Connection *c, const Request &request);
    void sendBody(Connection *c);
    void finishAnswer(Connection *c);

    QHash<QByteArray, Route> routes;
    QHash<QByteArray, int> requestCounts;
    QSslCertificate certificate; // none: plain HTTP
    QSslKey key;
    int pendingAnswers = 0;
    qint64 outageAtBytes = -1;
    int outageMs = 0;
};
