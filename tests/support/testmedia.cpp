#include "testmedia.h"

#include "testfiles.h"
#include "testhttpserver.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

static bool runFfmpeg(const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("ffmpeg"), QStringList{"-v", "error", "-y"} + args);
    if (!p.waitForFinished(120000) || p.exitCode() != 0) {
        qWarning().noquote() << p.readAll();
        return false;
    }
    return true;
}

bool makeSampleMedia(const QString &media)
{
    const QString sine = QStringLiteral(" -f lavfi -i sine=frequency=440:duration=");
    return QDir().mkpath(media + "/hls") &&
           runFfmpeg(words("-f lavfi -i testsrc=size=160x90:rate=15:duration=3" + sine +
                           "3 -c:v libx264 -preset ultrafast -c:a aac -b:a 32k -shortest "
                           "-movflags +faststart")
                     << media + "/v.mp4") &&
           // Two variants from one source, each with its audio, in one-second segments.
           runFfmpeg(words("-f lavfi -i testsrc=size=320x180:rate=15:duration=4" + sine +
                           "4 -filter_complex "
                           "[0:v]split=2[a][b];[a]scale=1280:720[v1];[b]scale=640:360[v2] "
                           "-map [v1] -map 1:a -map [v2] -map 1:a -c:v libx264 -preset ultrafast "
                           "-g 15 -b:v:0 200k -b:v:1 100k -c:a aac -b:a 32k")
                     << "-var_stream_map"
                     << "v:0,a:0 v:1,a:1"
                     << words("-master_pl_name master.m3u8 -f hls -hls_time 1 "
                              "-hls_playlist_type vod -hls_segment_filename")
                     << media + "/hls/s%v_%03d.ts" << media + "/hls/p%v.m3u8");
}

void serveMediaFolder(TestHttpServer &server, const QString &folder, const QByteArray &prefix)
{
    for (const QFileInfo &fi : QDir(folder).entryInfoList(QDir::Files)) {
        TestHttpServer::Route r;
        r.body = readFile(fi.filePath());
        const QByteArray type = fi.suffix() == "m3u8" ? "application/vnd.apple.mpegurl"
                                : fi.suffix() == "ts" ? "video/mp2t"
                                                      : "video/mp4";
        r.headers.append({"Content-Type", type});
        server.setRoute(prefix + fi.fileName().toUtf8(), r);
    }
}
