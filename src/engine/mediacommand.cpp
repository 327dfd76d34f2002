#include "engine/mediacommand.h"

#include "language/translation.h"

bool isMediaToolLink(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")) &&
           !url.host().isEmpty();
}

QStringList mediaToolArguments(const QString &format, const QString &ffmpegPath,
                               const QString &savePath, const QUrl &url)
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
    args << QStringLiteral("-o") << savePath;
    args << QStringLiteral("--") << url.toString();
    return args;
}

QStringList mediaListingArguments(const QUrl &url)
{
    return {QStringLiteral("-J"), QStringLiteral("--no-playlist"), QStringLiteral("--"),
            url.toString()};
}

QString refusedMediaLinkText()
{
    return T(QStringLiteral("Error: Video links must begin with http:// or https://"));
}
