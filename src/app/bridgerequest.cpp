#include "app/bridgerequest.h"

#include <QHostAddress>
#include <QUrl>
#include <QUrlQuery>

QByteArray bridgeReply()
{
    return QByteArrayLiteral("HTTP/1.1 200 OK\r\nAccess-Control-Allow-Origin: *\r\n\r\nSuccess");
}

BridgeRequest parseBridgeRequest(const QByteArray &data)
{
    BridgeRequest request;
    const int end = data.indexOf("\r\n\r\n");
    if (end < 0)
        return request;
    request.headerLength = end + 4;
    request.state = BridgeRequest::NotGet;

    // The method is read from the request line only, so a "GET " further down (in a header value,
    // or in the target of some other method) does not turn a POST or OPTIONS into a link.
    const QByteArray block = data.left(end + 2);
    const QByteArray line = block.left(block.indexOf("\r\n"));
    if (!line.startsWith("GET "))
        return request;
    const int httpAt = line.indexOf(" HTTP", 4);
    if (httpAt < 0)
        return request;
    request.state = BridgeRequest::Get;

    const QString target = QString::fromUtf8(line.mid(4, httpAt - 4));
    // The base only makes the target parseable; the host and path are never looked at.
    const QUrlQuery query(QUrl(QStringLiteral("http://127.0.0.1") + target));
    request.url = query.queryItemValue(QStringLiteral("url"), QUrl::FullyDecoded);
    request.name = query.queryItemValue(QStringLiteral("name"), QUrl::FullyDecoded);
    bool ok = false;
    const qint64 size =
        query.queryItemValue(QStringLiteral("size"), QUrl::FullyDecoded).toLongLong(&ok, 10);
    request.size = ok ? size : 0;
    return request;
}

bool isLoopbackPeer(const QHostAddress &address)
{
    // toIPv4Address() also accepts the IPv4-mapped IPv6 form, which a dual-stack listener reports
    // for IPv4 peers.
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4)
        return (v4 >> 24) == 127;
    return address.protocol() == QAbstractSocket::IPv6Protocol &&
           address.isEqual(QHostAddress::LocalHostIPv6, QHostAddress::StrictConversion);
}
