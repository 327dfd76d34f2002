#include "engine/http/weblink.h"

bool isWebLink(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           !url.host().isEmpty();
}

bool isWebLink(const QString &text)
{
    return isWebLink(QUrl(text.trimmed()));
}
