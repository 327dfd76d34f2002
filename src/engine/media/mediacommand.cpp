#include "engine/media/mediacommand.h"

#include "engine/http/weblink.h"
#include "language/translation.h"

bool isMediaToolLink(const QUrl &url)
{
    return isWebLink(url);
}

QStringList mediaToolArguments(const QString &format, const QString &ffmpegPath,
                               const QString &savePath, const QUrl &url,
                               const BrowserSession &session, const QString &cookieFile,
                               qint64 rateLimit)
{
    QStringList args{QStringLiteral("--newline"), QStringLiteral("--no-playlist"),
                     QStringLiteral("--force-ipv4")};
    if (format == QLatin1String("audio")) {
        args << QStringLiteral("-x") << QStringLiteral("--audio-format") << QStringLiteral("mp3");
    } else if (format == QLatin1String("best")) {
        args << QStringLiteral("-f") << QStringLiteral("bestvideo+bestaudio/best")
             << QStringLiteral("--merge-output-format") << QStringLiteral("mp4");
    } else {
        args << QStringLiteral("-S") << QStringLiteral("res:%1").arg(format)
             << QStringLiteral("--merge-output-format") << QStringLiteral("mp4");
    }
    args << QStringLiteral("--ffmpeg-location") << ffmpegPath;
    if (rateLimit > 0)
        args << QStringLiteral("--limit-rate") << QString::number(rateLimit);
    args << QStringLiteral("-o") << savePath;
    if (!session.refererHeader().isEmpty())
        args << QStringLiteral("--referer") << QString::fromUtf8(session.refererHeader());
    if (!session.userAgentHeader().isEmpty())
        args << QStringLiteral("--user-agent") << QString::fromUtf8(session.userAgentHeader());
    if (!cookieFile.isEmpty())
        args << QStringLiteral("--cookies") << cookieFile;
    args << QStringLiteral("--") << url.toString();
    return args;
}

QByteArray mediaToolCookies(const BrowserSession &session, const QUrl &url, qint64 expires)
{
    const QByteArray host = url.host(QUrl::FullyEncoded).toLower().toUtf8();
    const QByteArray secure =
        url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 ? "TRUE" : "FALSE";
    QByteArray file = "# Netscape HTTP Cookie File\n";
    bool any = false;
    for (const QByteArray &pair : session.cookieHeader().split(';')) {
        const int eq = pair.indexOf('=');
        const QByteArray name = (eq < 0 ? QByteArray() : pair.left(eq)).trimmed();
        const QByteArray value = (eq < 0 ? pair : pair.mid(eq + 1)).trimmed();
        if (name.isEmpty() && value.isEmpty())
            continue;
        file += host + "\tFALSE\t/\t" + secure + '\t' + QByteArray::number(expires) + '\t' + name +
                '\t' + value + '\n';
        any = true;
    }
    return any && !host.isEmpty() ? file : QByteArray();
}

QStringList mediaListingArguments(const QUrl &url)
{
    return {QStringLiteral("-J"), QStringLiteral("--no-playlist"), QStringLiteral("--"),
            url.toString()};
}

namespace {

bool mediaToolUsesProxy(const ProxySettings &proxy, const QUrl &url)
{
    return proxy.mode == ProxySettings::Mode::Manual && !proxy.bypasses(url.host());
}

} // namespace

void addMediaProxyArguments(QStringList &args, const ProxySettings &proxy, const QUrl &url)
{
    QStringList options;
    if (mediaToolUsesProxy(proxy, url))
        options << QStringLiteral("--config-locations") << QStringLiteral("-");
    else if (proxy.mode != ProxySettings::Mode::System || proxy.bypasses(url.host()))
        options << QStringLiteral("--proxy") << QString();
    const qsizetype end = args.indexOf(QStringLiteral("--"));
    for (qsizetype i = 0; i < options.size(); ++i)
        args.insert(end < 0 ? args.size() : end + i, options[i]);
}

QByteArray mediaProxyInput(const ProxySettings &proxy, const QUrl &url)
{
    if (!mediaToolUsesProxy(proxy, url))
        return QByteArray();
    // Every character that a configuration line could read as quoting or spacing is
    // percent-encoded in the URL already.
    return "--proxy '" + proxy.toUrl().toUtf8() + "'\n";
}

QString refusedMediaLinkText()
{
    return T(QStringLiteral("Error: Video links must begin with http:// or https://"));
}
