#include "engine/http/hostlogins.h"

#include "language/translation.h"

#include <QUrl>

QString loginRequiredText(const LoginRequest &request)
{
    return request.refused ? T(QStringLiteral("The user name or password was not accepted"))
                           : T(QStringLiteral("Login required"));
}

HostLogins &HostLogins::shared()
{
    static HostLogins logins;
    return logins;
}

QString HostLogins::originOf(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    const QString host = url.host(QUrl::FullyEncoded).toLower();
    if (host.isEmpty())
        return QString();
    const int port = url.port(scheme == QLatin1String("https") ? 443 : 80);
    return scheme + QStringLiteral("://") + host + QLatin1Char(':') + QString::number(port);
}

Login HostLogins::find(const QUrl &url) const
{
    return entries.value(originOf(url)).login;
}

void HostLogins::set(const QUrl &url, const Login &login, bool remember)
{
    const QString origin = originOf(url);
    if (!origin.isEmpty())
        entries.insert(origin, Entry{login, remember});
}

bool HostLogins::isRemembered(const QUrl &url) const
{
    return entries.value(originOf(url)).remember;
}

QMap<QString, Login> HostLogins::remembered() const
{
    QMap<QString, Login> kept;
    for (auto it = entries.cbegin(); it != entries.cend(); ++it) {
        if (it->remember)
            kept.insert(it.key(), it->login);
    }
    return kept;
}

void HostLogins::restore(const QMap<QString, Login> &logins)
{
    for (auto it = logins.cbegin(); it != logins.cend(); ++it) {
        if (!it.key().isEmpty() && !it->isNull())
            entries.insert(it.key(), Entry{*it, true});
    }
}
