#pragma once

#include "engine/http/browsersession.h"
#include "engine/http/hostlogins.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSslError>

struct RefusedCertificate;
class QAuthenticator;
class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;
class QUrl;

// The requests of one HTTP transfer: how every request is built, which connection pool and proxy
// (ProxySettings::current()) carries it, what a TLS complaint about the server means, and how a
// request is dropped. Each part gets a
// TCP connection of its own, and bodies arrive byte for byte as stored, so that ranges and offsets
// agree.
//
// Every server certificate is verified against the system's trusted roots and the host name. One
// that fails is taken only when the user trusted exactly that certificate for that host
// (TrustedCertificates); otherwise the request ends before any byte of the answer, with
// refusalOf() telling why.
//
// With a browser's session, every request carries its Referer and User-Agent, and requests to the
// host of the session's link carry its cookie. Qt would carry a Cookie header along a redirect to
// any other host, so requests with a cookie do not follow redirects themselves: the 3xx answer
// comes back, and the caller asks again at redirectTarget(), with or without the cookie as the
// new host deserves.
//
// A server that asks for a login (HTTP Basic or Digest) is given the one HostLogins holds for it,
// and only for it: never one given for another server, whichever redirect led there. A request
// that has no login to give, or whose login was refused, ends with the server's 401, and
// loginAskedBy() tells what to ask the user.
class HttpSession : public QObject {
    Q_OBJECT

public:
    explicit HttpSession(QObject *parent);

    // A GET of `url` for part `part` (the probe counts as part 0). `range` is the Range header's
    // value, none when empty; a `timeoutMs` above 0 ends a transfer that stays silent that long.
    // `wantDigest` asks the server for the file's digest (Want-Repr-Digest), as the probe does.
    QNetworkReply *get(const QUrl &url, int part, const QByteArray &range, int timeoutMs = 0,
                       bool wantDigest = false);
    // Sends a request built elsewhere; its certificate is decided as for every other request.
    QNetworkReply *send(QNetworkRequest request, int part = 0);

    // The browser's session for requests from now on; its cookie goes only to `link`'s host.
    void setBrowserSession(const BrowserSession &session, const QUrl &link);

    // Where a redirect that came back to the caller leads: the Location resolved against the
    // reply's URL, counted in `followed` (the redirects this request has followed so far). Invalid
    // when the answer is no such redirect or may not be followed (another scheme than http(s),
    // from https to http, or MaxRedirects followed already).
    static QUrl redirectTarget(const QNetworkReply *reply, int &followed);
    // Redirects followed by hand before a request gives up, as many as Qt itself follows.
    static constexpr int MaxRedirects = 20;

    // The certificate that ended `reply`, if one did; null otherwise.
    static RefusedCertificate refusalOf(const QNetworkReply *reply);

    // Why the proxy failed `reply`, in the user's words; empty when the proxy was not the
    // problem. A proxy that refuses the user name or password fails every request alike.
    static QString proxyProblem(const QNetworkReply *reply);

    // Whether requests for `url` go through a SOCKS5 proxy given by hand. Qt 6.4 stops reading
    // such a connection for good once a reply's read buffer has run full.
    static bool throughSocks5(const QUrl &url);

    // The login a reply that ended with 401 needs; null for any other reply.
    static LoginRequest loginAskedBy(const QNetworkReply *reply);

    // The HTTP status of a reply; 0 before any answer.
    static int statusOf(const QNetworkReply *reply);
    // Ends a request that is no longer wanted; nothing it still reports reaches `receiver`.
    static void drop(QNetworkReply *reply, QObject *receiver);

private:
    QNetworkRequest createRequest(const QUrl &url) const;
    QNetworkAccessManager *managerForPart(int part) const;
    void handleSslErrors(QNetworkReply *reply, const QList<QSslError> &errors);
    void giveLogin(QNetworkReply *reply, QAuthenticator *authenticator);

    BrowserSession browser;
    QUrl cookieLink; // the link the browser's cookie belongs to

    QNetworkAccessManager *manager = nullptr;
    // A second connection pool: Qt 6.4 opens at most six HTTP/1.1 connections per host and
    // manager, so the parts are spread over two managers to get one connection each.
    QNetworkAccessManager *manager2 = nullptr;
};
