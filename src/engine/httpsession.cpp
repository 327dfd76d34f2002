#include "engine/httpsession.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>

#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
#include <QHttp1Configuration>
#endif

namespace {

const QByteArray kUserAgent = "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36";

} // namespace

HttpSession::HttpSession(QObject *parent) : QObject(parent)
{
    manager = new QNetworkAccessManager(this);
#if QT_VERSION < QT_VERSION_CHECK(6, 5, 0)
    manager2 = new QNetworkAccessManager(this);
#endif
}

QNetworkReply *HttpSession::get(const QUrl &url, int part, const QByteArray &range, int timeoutMs)
{
    QNetworkRequest request = createRequest(url);
    if (!range.isEmpty())
        request.setRawHeader("Range", range);
    if (timeoutMs > 0)
        request.setTransferTimeout(timeoutMs);
    QNetworkReply *reply = managerForPart(part)->get(request);
    connect(reply, &QNetworkReply::sslErrors, this,
            [this, reply](const QList<QSslError> &errors) { handleSslErrors(reply, errors); });
    return reply;
}

QNetworkRequest HttpSession::createRequest(const QUrl &url) const
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         int(QNetworkRequest::NoLessSafeRedirectPolicy));
    request.setRawHeader("User-Agent", kUserAgent);
    request.setRawHeader("Accept", "*/*");
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    ssl.setPeerVerifyMode(QSslSocket::VerifyNone);
    request.setSslConfiguration(ssl);
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

// Every TLS complaint of every request of the transfer is decided here.
void HttpSession::handleSslErrors(QNetworkReply *reply, const QList<QSslError> &errors)
{
    Q_UNUSED(errors);
    reply->ignoreSslErrors();
}

int HttpSession::statusOf(const QNetworkReply *reply)
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

void HttpSession::drop(QNetworkReply *reply, QObject *receiver)
{
    QObject::disconnect(reply, nullptr, receiver, nullptr);
    // A reply that already carries an error status is about to fail on its own, and aborting it
    // would race that report; deleting it stops its request just as well.
    if (reply->error() == QNetworkReply::NoError && statusOf(reply) < 400)
        reply->abort();
    reply->deleteLater();
}
