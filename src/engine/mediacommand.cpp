#include "engine/mediacommand.h"

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
    args << url.toString();
    return args;
}
