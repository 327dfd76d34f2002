#include "engine/http/httpsession.h"

#include "engine/http/proxysettings.h"
#include "engine/http/trustedcertificates.h"
#include "language/translation.h"

#include <QAuthenticator>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>

#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
#include <QHttp1Configuration>
#endif

namespace {

const QByteArray kUserAgent = "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36";

// Asked for every connection, so that a proxy chosen in the preferences holds from the next
// request on, also for transfers that are already running.
class ChosenProxy : public QNetworkProxyFactory {
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery &query) override
    {
        const ProxySettings chosen = ProxySettings::current();
        if (chosen.mode == ProxySettings::Mode::None || chosen.bypasses(query.peerHostName()))
            return {QNetworkProxy(QNetworkProxy::NoProxy)};
        if (chosen.mode == ProxySettings::Mode::Manual)
            return {chosen.manualProxy()};
        return systemProxyForQuery(query);
    }
};

} // namespace

HttpSession::HttpSession(QObject *parent) : QObject(parent)
{
    manager = new QNetworkAccessManager(this);
    manager->setProxyFactory(new ChosenProxy);
    connect(manager, &QNetworkAccessManager::authenticationRequired, this, &HttpSession::giveLogin);
#if QT_VERSION < QT_VERSION_CHECK(6, 5, 0)
    manager2 = new QNetworkAccessManager(this);
    manager2->setProxyFactory(new ChosenProxy);
    connect(manager2, &QNetworkAccessManager::authenticationRequired, this,
            &HttpSession::giveLogin);
#endif
}

// Qt asks here for every 401 it cannot answer from its own cache of logins that worked, which is
// kept per server and realm. The request's URL is where any redirects have led, so the login
// looked up is the one given for that very server.
void HttpSession::giveLogin(QNetworkReply *reply, QAuthenticator *authenticator)
{
    const Login login = HostLogins::shared().find(reply->url());
    reply->setProperty("loginRealm", authenticator->realm());
    reply->setProperty("loginRefused", false);
    if (login.isNull())
        return; // the 401 ends the request; the user is asked
    if (authenticator->user() == login.user && authenticator->password() == login.password) {
        // Given to this request already, and answered with another 401.
        reply->setProperty("loginRefused", true);
        return;
    }
    authenticator->setUser(login.user);
    authenticator->setPassword(login.password);
}

QNetworkReply *HttpSession::get(const QUrl &url, int part, const QByteArray &range, int timeoutMs,
                                bool wantDigest)
{
    QNetworkRequest request = createRequest(url);
    if (!range.isEmpty())
        request.setRawHeader("Range", range);
    if (wantDigest)
        request.setRawHeader("Want-Repr-Digest", "sha-256=10, sha-512=5");
    if (timeoutMs > 0)
        request.setTransferTimeout(timeoutMs);
    return send(request, part);
}

QNetworkReply *HttpSession::send(QNetworkRequest request, int part)
{
    QSslConfiguration ssl = request.sslConfiguration();
    ssl.setPeerVerifyMode(QSslSocket::VerifyPeer);
    request.setSslConfiguration(ssl);
    QNetworkReply *reply = managerForPart(part)->get(request);
    connect(reply, &QNetworkReply::sslErrors, this,
            [this, reply](const QList<QSslError> &errors) { handleSslErrors(reply, errors); });
    return reply;
}

void HttpSession::setBrowserSession(const BrowserSession &session, const QUrl &link)
{
    browser = session;
    cookieLink = link;
}

QUrl HttpSession::redirectTarget(const QNetworkReply *reply, int &followed)
{
    const int code = statusOf(reply);
    const int policy = reply->request().attribute(QNetworkRequest::RedirectPolicyAttribute).toInt();
    // Only the redirects this session left to its caller; Qt has judged all the others.
    if (policy != QNetworkRequest::ManualRedirectPolicy || code < 300 || code >= 400 ||
        !reply->hasRawHeader("Location"))
        return QUrl();
    const QUrl target = reply->url().resolved(
        QUrl::fromEncoded(reply->rawHeader("Location").trimmed(), QUrl::TolerantMode));
    const QString from = reply->url().scheme().toLower();
    const QString to = target.scheme().toLower();
    const bool web = to == QLatin1String("http") || to == QLatin1String("https");
    const bool downgrade = from == QLatin1String("https") && to == QLatin1String("http");
    if (!target.isValid() || target.host().isEmpty() || !web || downgrade ||
        followed >= MaxRedirects)
        return QUrl();
    ++followed;
    return target;
}

QNetworkRequest HttpSession::createRequest(const QUrl &url) const
{
    QNetworkRequest request(url);
    const QByteArray userAgent = browser.userAgentHeader();
    request.setRawHeader("User-Agent", userAgent.isEmpty() ? kUserAgent : userAgent);
    const QByteArray referer = browser.refererHeader();
    if (!referer.isEmpty())
        request.setRawHeader("Referer", referer);
    const QByteArray cookie = browser.cookieHeader();
    const bool withCookie = !cookie.isEmpty() && sameCookieHost(url, cookieLink);
    if (withCookie)
        request.setRawHeader("Cookie", cookie);
    // Qt keeps every header on a redirect, the cookie included, wherever it leads.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         int(withCookie ? QNetworkRequest::ManualRedirectPolicy
                                        : QNetworkRequest::NoLessSafeRedirectPolicy));
    request.setRawHeader("Accept", "*/*");
    // Ranges count bytes of the file as stored: a compressed transfer encoding would shift every
    // offset, so ask for the identity encoding (this also keeps Qt from inflating bodies).
    request.setRawHeader("Accept-Encoding", "identity");
    // Each part gets a TCP connection of its own; HTTP/2 would multiplex all parts over one.
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    QHttp1Configuration http1;
    http1.setNumberOfConnectionsPerHost(8);
    request.setHttp1Configuration(http1);
#endif
    return request;
}

QNetworkAccessManager *HttpSession::managerForPart(int part) const
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    Q_UNUSED(part);
    return manager;
#else
    // Before Qt 6.5 a manager opens at most six connections per host; two managers with four
    // parts each give every part its own connection.
    return part % 2 == 0 ? manager : manager2;
#endif
}

// Every TLS complaint of every request is decided here, during the handshake: an answer whose
// certificate is not taken never sends a byte.
void HttpSession::handleSslErrors(QNetworkReply *reply, const QList<QSslError> &errors)
{
    QSslCertificate certificate = reply->sslConfiguration().peerCertificate();
    if (certificate.isNull() && !errors.isEmpty())
        certificate = errors.first().certificate();
    const QString host = reply->url().host(QUrl::FullyEncoded).toLower();
    const QByteArray digest = TrustedCertificates::digestOf(certificate);
    const TrustedCertificates &trusted = TrustedCertificates::shared();
    if (trusted.insecure() || trusted.isTrusted(host, digest)) {
        // Only these errors about this very certificate. Qt keeps the list for its later
        // connections to the host, where a plain ignoreSslErrors() would take any certificate.
        reply->ignoreSslErrors(errors);
        return;
    }
    QStringList problems;
    for (const QSslError &error : errors) {
        if (!problems.contains(error.errorString()))
            problems.append(error.errorString());
    }
    reply->setProperty("refusedHost", host);
    reply->setProperty("refusedSha256", digest);
    reply->setProperty(
        "refusedReason",
        T(QStringLiteral("Certificate not trusted: %1")).arg(problems.join(QStringLiteral("; "))));
}

RefusedCertificate HttpSession::refusalOf(const QNetworkReply *reply)
{
    RefusedCertificate refused;
    if (!reply || reply->error() == QNetworkReply::NoError)
        return refused;
    refused.reason = reply->property("refusedReason").toString();
    if (!refused.isNull()) {
        refused.host = reply->property("refusedHost").toString();
        refused.sha256 = reply->property("refusedSha256").toByteArray();
    }
    return refused;
}

bool HttpSession::throughSocks5(const QUrl &url)
{
    // The system's settings are not asked: on Windows that query may wait for the network's
    // proxy discovery, and this runs on the window's thread for every request.
    const ProxySettings chosen = ProxySettings::current();
    return chosen.mode == ProxySettings::Mode::Manual && !chosen.bypasses(url.host()) &&
           chosen.manualProxy().type() == QNetworkProxy::Socks5Proxy;
}

QString HttpSession::proxyProblem(const QNetworkReply *reply)
{
    switch (reply->error()) {
    case QNetworkReply::ProxyAuthenticationRequiredError:
        return T(QStringLiteral("The proxy refused the user name or password"));
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::UnknownProxyError:
        return T(QStringLiteral("Cannot reach the proxy: %1")).arg(reply->errorString());
    default: return QString();
    }
}

LoginRequest HttpSession::loginAskedBy(const QNetworkReply *reply)
{
    LoginRequest request;
    // Only a login Qt can give (Basic, Digest) is worth asking for.
    if (statusOf(reply) != 401 || !reply->property("loginRealm").isValid())
        return request;
    request.url = reply->url();
    request.realm = reply->property("loginRealm").toString();
    request.refused = reply->property("loginRefused").toBool();
    return request;
}

int HttpSession::statusOf(const QNetworkReply *reply)
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

void HttpSession::drop(QNetworkReply *reply, QObject *receiver)
{
    QObject::disconnect(reply, nullptr, receiver, nullptr);
    // Never abort(): it reports an error of its own, and a reply whose connection has just failed
    // (every part, when the server goes away) has that failure on its way from Qt's network
    // thread, which abort() cannot see yet; Qt then reports twice ("this method must only be
    // called once"). Deleting the reply stops its request and closes its connection just as well.
    reply->deleteLater();
}
