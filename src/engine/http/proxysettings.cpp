#include "engine/http/proxysettings.h"

#include "language/translation.h"

#include <QMutex>
#include <QNetworkProxy>
#include <QUrl>

namespace {

// Guarded: Qt may ask for the proxy of a connection outside the thread that sets the choice.
QMutex choiceLock;
ProxySettings choice;

QString bareHost(QString host)
{
    host = host.trimmed().toLower();
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    while (host.endsWith(QLatin1Char('.')))
        host.chop(1);
    return host;
}

} // namespace

QNetworkProxy ProxySettings::manualProxy() const
{
    QNetworkProxy proxy(kind == Kind::Socks5 ? QNetworkProxy::Socks5Proxy
                                             : QNetworkProxy::HttpProxy,
                        host, quint16(port), user, password);
    if (kind == Kind::Socks5 && !remoteNames)
        proxy.setCapabilities(proxy.capabilities() & ~QNetworkProxy::HostNameLookupCapability);
    return proxy;
}

QString ProxySettings::toUrl() const
{
    if (mode != Mode::Manual)
        return QString();
    QUrl url;
    url.setScheme(kind == Kind::Http ? QStringLiteral("http")
                  : remoteNames      ? QStringLiteral("socks5h")
                                     : QStringLiteral("socks5"));
    url.setHost(host, QUrl::StrictMode);
    url.setPort(port);
    url.setUserName(QString::fromLatin1(QUrl::toPercentEncoding(user)), QUrl::StrictMode);
    url.setPassword(QString::fromLatin1(QUrl::toPercentEncoding(password)), QUrl::StrictMode);
    // Fully encoded: nothing but letters, digits and "-._~%:@/[]" is left to be misread.
    return url.isValid() && !url.host().isEmpty() ? QString::fromLatin1(url.toEncoded())
                                                  : QString();
}

bool ProxySettings::bypasses(const QString &target) const
{
    const QString name = bareHost(target);
    for (const QString &entry : bypass) {
        QString suffix = bareHost(entry);
        if (suffix == QLatin1String("*"))
            return true;
        while (suffix.startsWith(QLatin1Char('.')))
            suffix.remove(0, 1);
        if (!suffix.isEmpty() && (name == suffix || name.endsWith(QLatin1Char('.') + suffix)))
            return true;
    }
    return false;
}

ProxySettings ProxySettings::fromUrl(const QString &text, QString *error)
{
    const QString trimmed = text.trimmed();
    const QUrl url(trimmed.contains(QLatin1String("://")) ? trimmed
                                                          : QStringLiteral("http://") + trimmed,
                   QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    ProxySettings proxy;
    proxy.kind = scheme == QLatin1String("http") ? Kind::Http : Kind::Socks5;
    proxy.remoteNames = scheme != QLatin1String("socks5");
    const bool known = scheme == QLatin1String("http") || scheme == QLatin1String("socks5") ||
                       scheme == QLatin1String("socks5h");
    const int port = url.port(1080);
    if (!url.isValid() || !known || url.host().isEmpty() || port < 1 ||
        (!url.path().isEmpty() && url.path() != QLatin1String("/"))) {
        if (error)
            *error = T(QStringLiteral("Not a proxy this program can use: %1")).arg(trimmed);
        return ProxySettings();
    }
    proxy.mode = Mode::Manual;
    proxy.host = url.host();
    proxy.port = port;
    proxy.user = url.userName(QUrl::FullyDecoded);
    proxy.password = url.password(QUrl::FullyDecoded);
    return proxy;
}

QStringList ProxySettings::bypassList(const QString &text)
{
    QStringList hosts;
    for (const QString &entry : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (!entry.trimmed().isEmpty())
            hosts.append(entry.trimmed());
    }
    return hosts;
}

ProxySettings ProxySettings::current()
{
    QMutexLocker locker(&choiceLock);
    return choice;
}

void ProxySettings::setCurrent(const ProxySettings &settings)
{
    QMutexLocker locker(&choiceLock);
    choice = settings;
}
