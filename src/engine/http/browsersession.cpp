#include "engine/http/browsersession.h"

namespace {

QByteArray headerValue(const QString &text)
{
    QByteArray out;
    const QByteArray bytes = text.toUtf8();
    out.reserve(bytes.size());
    for (char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u != 0x7f)
            out += c;
        else if (c == '\t')
            out += ' ';
    }
    return out.trimmed();
}

} // namespace

QByteArray BrowserSession::refererHeader() const
{
    QUrl page(referrer, QUrl::StrictMode);
    const QString scheme = page.scheme().toLower();
    if (!page.isValid() || page.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return QByteArray();
    page.setFragment(QString());
    page.setUserInfo(QString());
    return headerValue(QString::fromLatin1(page.toEncoded()));
}

QByteArray BrowserSession::userAgentHeader() const
{
    return headerValue(userAgent);
}

QByteArray BrowserSession::cookieHeader() const
{
    return headerValue(cookie);
}

BrowserSession BrowserSession::withoutCookie() const
{
    BrowserSession copy = *this;
    copy.cookie.clear();
    return copy;
}

bool sameCookieHost(const QUrl &url, const QUrl &cookieLink)
{
    const QString host = url.host(QUrl::FullyEncoded).toLower();
    return !host.isEmpty() && host == cookieLink.host(QUrl::FullyEncoded).toLower();
}
