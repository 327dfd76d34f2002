#include "app/bridgerequest.h"

#include "engine/bytecount.h"

#include <QHostAddress>
#include <QList>

namespace {

// One query value: percent-escapes decoded as UTF-8, a plus sign left as it is. An escape that is
// not one ("%zz", a lone "%") stays as written and spoils nothing else.
QString decodedQueryPart(const QByteArray &part)
{
    const auto hex = [](char c) {
        return c >= '0' && c <= '9'   ? c - '0'
               : c >= 'a' && c <= 'f' ? c - 'a' + 10
               : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                      : -1;
    };
    QByteArray bytes;
    bytes.reserve(part.size());
    for (int i = 0; i < part.size(); ++i) {
        const int high = i + 2 < part.size() && part.at(i) == '%' ? hex(part.at(i + 1)) : -1;
        const int low = high >= 0 ? hex(part.at(i + 2)) : -1;
        if (low >= 0) {
            bytes += char(high * 16 + low);
            i += 2;
        } else {
            bytes += part.at(i);
        }
    }
    return QString::fromUtf8(bytes);
}

// The first value of `key` in the query (the text after "?", without a fragment); empty when the
// key is absent.
QString queryValue(const QByteArray &query, const QString &key)
{
    for (const QByteArray &item : query.split('&')) {
        const int eq = item.indexOf('=');
        const QByteArray name = eq < 0 ? item : item.left(eq);
        if (decodedQueryPart(name) == key)
            return eq < 0 ? QString() : decodedQueryPart(item.mid(eq + 1));
    }
    return QString();
}

// A browser sends Origin with what a page asks for (fetch, XHR, forms) and Sec-Fetch-Site with
// every request. Chromium sends an extension's own origin; Firefox sends none for an extension
// allowed to reach the address, and "same-origin" as the site. A person typing the address, a
// bookmark, or a program like curl send no origin and at most "none" as the site.
bool comesFromWebPage(const QByteArray &headerBlock)
{
    const QByteArray ownOrigin = QByteArray("chrome-extension://") + ChromiumExtensionId;
    bool ours = false;
    bool otherOrigin = false;
    bool crossSite = false;
    const QList<QByteArray> lines = headerBlock.split('\n');
    for (int i = 1; i < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        const int colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed().toLower();
        if (name == "origin") {
            // Pages, "null" from sandboxed frames and files, and every other extension.
            (value == ownOrigin ? ours : otherOrigin) = true;
        } else if (name == "sec-fetch-site") {
            crossSite = crossSite || (value != "none" && value != "same-origin");
        }
    }
    // Only a page's fetch carries an Origin; an <img> or a link it follows carries the site alone.
    return otherOrigin || (crossSite && !ours);
}

} // namespace

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
    if (comesFromWebPage(block)) {
        request.state = BridgeRequest::FromWebPage;
        return request;
    }
    request.state = BridgeRequest::Get;

    // Only the query of the target counts; its path, and a fragment after "#", play no part.
    QByteArray query = line.mid(4, httpAt - 4);
    const int question = query.indexOf('?');
    query = question < 0 ? QByteArray() : query.mid(question + 1);
    const int hash = query.indexOf('#');
    if (hash >= 0)
        query.truncate(hash);
    request.url = queryValue(query, QStringLiteral("url"));
    const QString many = queryValue(query, QStringLiteral("urls"));
    for (const QString &link : many.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (!link.trimmed().isEmpty())
            request.urls.append(link.trimmed());
    }
    request.name = queryValue(query, QStringLiteral("name"));
    bool ok = false;
    const qint64 size = queryValue(query, QStringLiteral("size")).toLongLong(&ok, 10);
    request.size = ok ? byteCountOrZero(size) : 0;
    request.session.referrer = queryValue(query, QStringLiteral("referrer"));
    request.session.userAgent = queryValue(query, QStringLiteral("ua"));
    request.session.cookie = queryValue(query, QStringLiteral("cookie"));
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
