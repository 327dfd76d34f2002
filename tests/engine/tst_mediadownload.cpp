// Media downloads with the real media tool and ffmpeg (the links that the build puts beside the
// program), from media made with ffmpeg at test time and served on loopback.

#include "engine/categories.h"
#include "engine/downloadtask.h"
#include "engine/mediatool.h"
#include "language/translation.h"
#include "processlist.h"
#include "testhttpserver.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <memory>

namespace {

struct Stream {
    QString type;
    QString codec;
    int height = 0;
};

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestMediaDownload : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void mp4Best();
    void audioOnly();
    void hlsHeight360();
    void listingGivesHeights();
    void pauseDuringHlsLeavesNoFfmpegAndResumeCompletes();
    void cancelLeavesNoProcess();

private:
    bool runFfmpeg(const QStringList &args);
    QList<Stream> probe(const QString &path);
    DownloadTask *makeTask(const QByteArray &path, const QString &format);
    void serveFolder(const QString &folder, const QByteArray &prefix);

    QTemporaryDir dir;
    QString marker; // a folder name in every command line these tests start
    QString outDir;
    QByteArray mp4;
    TestHttpServer server;
    std::unique_ptr<DownloadTask> task;
    qint64 bestTotalSeen = 0;
};

bool TestMediaDownload::runFfmpeg(const QStringList &args)
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

QList<Stream> TestMediaDownload::probe(const QString &path)
{
    QProcess p;
    p.start(QStringLiteral("ffprobe"),
            {"-v", "error", "-show_entries", "stream=codec_type,codec_name,height", "-of", "json",
             path});
    p.waitForFinished(30000);
    QList<Stream> out;
    const QJsonArray streams =
        QJsonDocument::fromJson(p.readAllStandardOutput()).object().value("streams").toArray();
    for (const QJsonValue &v : streams) {
        const QJsonObject o = v.toObject();
        out.append({o.value("codec_type").toString(), o.value("codec_name").toString(),
                    o.value("height").toInt()});
    }
    return out;
}

void TestMediaDownload::serveFolder(const QString &folder, const QByteArray &prefix)
{
    const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files);
    for (const QFileInfo &fi : files) {
        TestHttpServer::Route r;
        r.body = readFile(fi.filePath());
        const QByteArray type = fi.suffix() == "m3u8" ? "application/vnd.apple.mpegurl"
                                : fi.suffix() == "ts" ? "video/mp2t"
                                                      : "video/mp4";
        r.headers.append({"Content-Type", type});
        server.setRoute(prefix + fi.fileName().toUtf8(), r);
    }
}

void TestMediaDownload::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    g_lang = QStringLiteral("en");
    const QString toolDir = QStringLiteral(TORVANE_MEDIA_TOOL_DIR);
    const bool haveTools = QFileInfo(toolDir + "/core_engine.bin").isExecutable() &&
                           QFileInfo(toolDir + "/media_codec.bin").isExecutable() &&
                           !QStandardPaths::findExecutable("ffprobe").isEmpty();
    if (!haveTools) {
        if (qEnvironmentVariableIsSet("CI"))
            QFAIL(
                "core_engine.bin, media_codec.bin or ffprobe missing; run scripts/install-deps.sh");
        QSKIP("media tool not installed beside the build (scripts/install-deps.sh, then cmake)");
    }
    setMediaToolDirectory(toolDir);
    QVERIFY(dir.isValid());
    marker = dir.path();

    // Keep the tool away from the user's own configuration and cache.
    qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
    qputenv("XDG_CACHE_HOME", dir.filePath("cache").toUtf8());

    const QString media = dir.filePath("media");
    QVERIFY(QDir().mkpath(media + "/hls"));
    QVERIFY(
        runFfmpeg({"-f",        "lavfi",     "-i",         "testsrc=size=160x90:rate=15:duration=3",
                   "-f",        "lavfi",     "-i",         "sine=frequency=440:duration=3",
                   "-c:v",      "libx264",   "-preset",    "ultrafast",
                   "-c:a",      "aac",       "-b:a",       "32k",
                   "-shortest", "-movflags", "+faststart", media + "/v.mp4"}));
    QVERIFY(runFfmpeg({"-f",
                       "lavfi",
                       "-i",
                       "testsrc=size=320x180:rate=15:duration=4",
                       "-f",
                       "lavfi",
                       "-i",
                       "sine=frequency=440:duration=4",
                       "-filter_complex",
                       "[0:v]split=2[a][b];[a]scale=1280:720[v1];[b]scale=640:360[v2]",
                       "-map",
                       "[v1]",
                       "-map",
                       "1:a",
                       "-map",
                       "[v2]",
                       "-map",
                       "1:a",
                       "-c:v",
                       "libx264",
                       "-preset",
                       "ultrafast",
                       "-g",
                       "15",
                       "-b:v:0",
                       "200k",
                       "-b:v:1",
                       "100k",
                       "-c:a",
                       "aac",
                       "-b:a",
                       "32k",
                       "-var_stream_map",
                       "v:0,a:0 v:1,a:1",
                       "-master_pl_name",
                       "master.m3u8",
                       "-f",
                       "hls",
                       "-hls_time",
                       "1",
                       "-hls_playlist_type",
                       "vod",
                       "-hls_segment_filename",
                       media + "/hls/s%v_%03d.ts",
                       media + "/hls/p%v.m3u8"}));
    mp4 = readFile(media + "/v.mp4");
    QVERIFY(!mp4.isEmpty());
    serveFolder(media, "/");
    serveFolder(media + "/hls", "/hls/");
    QVERIFY(server.start());
}

void TestMediaDownload::cleanupTestCase()
{
    setMediaToolDirectory(QString());
}

void TestMediaDownload::init()
{
    outDir = dir.filePath(QStringLiteral("out/%1").arg(QTest::currentTestFunction()));
    QVERIFY(QDir().mkpath(outDir));
}

void TestMediaDownload::cleanup()
{
    task.reset();
    QFile::remove(dir.filePath("config/yt-dlp/config"));
    QVERIFY2(liveProcessesMentioning(marker.toUtf8()).isEmpty(), "a tool process was left behind");
}

DownloadTask *TestMediaDownload::makeTask(const QByteArray &path, const QString &format)
{
    task = std::make_unique<DownloadTask>(server.url(path), outDir + "/clip.mp4", format);
    DownloadTask *t = task.get();
    bestTotalSeen = 0;
    connect(t, &DownloadTask::progressUpdated, this, [this, t] {
        // Sizes parsed from a progress line, before the end fixes them up.
        if (t->status == 1 && t->lastDlpMessage.isEmpty())
            bestTotalSeen = qMax(bestTotalSeen, t->totalSize);
    });
    return t;
}

void TestMediaDownload::mp4Best()
{
    DownloadTask *t = makeTask("/v.mp4", "best");
    t->start();
    QTRY_COMPARE_WITH_TIMEOUT(t->status, 2, 60000);
    // The tool prints the size rounded to two decimals of a KiB.
    QVERIFY2(qAbs(bestTotalSeen - mp4.size()) <= 16, qPrintable(QString::number(bestTotalSeen)));
    QCOMPARE(readFile(outDir + "/clip.mp4"), mp4);
    QCOMPARE(t->totalSize, qint64(mp4.size()));
    QCOMPARE(t->downloadedSize, t->totalSize);
    const QList<Stream> streams = probe(outDir + "/clip.mp4");
    QVERIFY(std::any_of(streams.begin(), streams.end(),
                        [](const Stream &s) { return s.type == "video" && s.height == 90; }));
}

void TestMediaDownload::audioOnly()
{
    DownloadTask *t = makeTask("/v.mp4", "audio");
    t->start();
    QTRY_COMPARE_WITH_TIMEOUT(t->status, 2, 60000);
    QVERIFY(bestTotalSeen > 0);
    // The tool names the extracted file after the save path with the extension mp3.
    const QList<Stream> streams = probe(outDir + "/clip.mp3");
    QCOMPARE(streams.size(), 1);
    QCOMPARE(streams.first().type, QStringLiteral("audio"));
    QCOMPARE(streams.first().codec, QStringLiteral("mp3"));
}

void TestMediaDownload::hlsHeight360()
{
    server.requests.clear();
    DownloadTask *t = makeTask("/hls/master.m3u8", "360");
    t->start();
    QTRY_COMPARE_WITH_TIMEOUT(t->status, 2, 60000);
    QVERIFY(bestTotalSeen > 0);
    const QList<Stream> streams = probe(outDir + "/clip.mp4");
    QVERIFY(std::any_of(streams.begin(), streams.end(),
                        [](const Stream &s) { return s.type == "video" && s.height == 360; }));
    QVERIFY(std::any_of(streams.begin(), streams.end(),
                        [](const Stream &s) { return s.type == "audio"; }));
    QVERIFY(server.requestsFor("/hls/s0_000.ts").isEmpty()); // the 720p variant was not fetched
    QCOMPARE(t->totalSize, QFileInfo(outDir + "/clip.mp4").size());
}

// The listing command of the add dialog: heights from the JSON the tool prints, highest first.
void TestMediaDownload::listingGivesHeights()
{
    const QString link = server.url("/hls/master.m3u8?via=www.youtube.com").toString();
    QVERIFY(containsMediaHost(link));
    QProcess p;
    p.setWorkingDirectory(mediaToolDirectory());
    QSignalSpy done(&p, &QProcess::finished);
    p.start(mediaToolPath(), {"-J", "--no-playlist", link});
    // The server answers from this thread's event loop, so wait without blocking it.
    QVERIFY(done.wait(60000));
    const QByteArray json = p.readAllStandardOutput();
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
    const QJsonDocument doc = QJsonDocument::fromJson(json);
    QVERIFY(doc.isObject());
    QList<int> heights;
    const QJsonArray formats = doc.object().value("formats").toArray();
    for (const QJsonValue &v : formats) {
        const QJsonObject f = v.toObject();
        const int h = f.value("height").toInt();
        if (f.value("vcodec").toString() != "none" && h > 0 && !heights.contains(h))
            heights.append(h);
    }
    std::sort(heights.begin(), heights.end(), std::greater<int>());
    QCOMPARE(heights, QList<int>({720, 360}));
}

void TestMediaDownload::pauseDuringHlsLeavesNoFfmpegAndResumeCompletes()
{
    // Make the tool hand the stream to ffmpeg, and slow the stream down, so that the pause comes
    // while ffmpeg is writing the file.
    QVERIFY(QDir().mkpath(dir.filePath("config/yt-dlp")));
    {
        QFile config(dir.filePath("config/yt-dlp/config"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("--downloader m3u8:ffmpeg\n");
    }
    const QStringList segments = QDir(dir.filePath("media/hls")).entryList({"s1_*.ts"});
    for (const QString &s : segments) {
        server.route("/hls/" + s.toUtf8()).trickleBytes = 400;
        server.route("/hls/" + s.toUtf8()).trickleIntervalMs = 20;
    }

    DownloadTask *t = makeTask("/hls/master.m3u8", "360");
    t->start();
    const auto ffmpegPids = [this] {
        QList<qint64> found;
        const QList<qint64> pids = liveProcessesMentioning(marker.toUtf8());
        for (qint64 pid : pids) {
            // ffmpeg itself, not the tool whose arguments name it
            const QByteArray program = readFile(QStringLiteral("/proc/%1/cmdline").arg(pid));
            if (program.left(program.indexOf('\0')).endsWith("media_codec.bin"))
                found.append(pid);
        }
        return found;
    };
    QTRY_VERIFY_WITH_TIMEOUT(!ffmpegPids().isEmpty(), 60000);
    QCOMPARE(t->status, 1);

    const QList<qint64> writers = ffmpegPids();
    t->pause();
    QCOMPARE(t->status, 0);
    // ffmpeg is killed together with the tool, not left to notice the tool's end by itself.
    for (qint64 pid : writers)
        QVERIFY(processGoneOrKilled(pid));
    QTRY_VERIFY_WITH_TIMEOUT(liveProcessesMentioning(marker.toUtf8()).isEmpty(), 5000);
    QTest::qWait(300);
    QCOMPARE(t->status, 0);

    for (const QString &s : segments)
        server.route("/hls/" + s.toUtf8()).trickleBytes = 0;
    t->resume();
    QCOMPARE(t->lastDlpMessage, QStringLiteral("Starting processing..."));
    QTRY_COMPARE_WITH_TIMEOUT(t->status, 2, 60000);
    const QList<Stream> streams = probe(outDir + "/clip.mp4");
    QVERIFY(std::any_of(streams.begin(), streams.end(),
                        [](const Stream &s) { return s.type == "video" && s.height == 360; }));
}

void TestMediaDownload::cancelLeavesNoProcess()
{
    server.route("/v.mp4").trickleBytes = 200;
    server.route("/v.mp4").trickleIntervalMs = 20;
    DownloadTask *t = makeTask("/v.mp4", "best");
    t->start();
    QTRY_VERIFY_WITH_TIMEOUT(t->downloadedSize > 0 && t->downloadedSize < t->totalSize, 60000);
    t->cancel();
    QCOMPARE(t->status, 4);
    QTRY_VERIFY_WITH_TIMEOUT(liveProcessesMentioning(marker.toUtf8()).isEmpty(), 5000);
    QTest::qWait(300);
    QCOMPARE(t->status, 4);
    server.route("/v.mp4").trickleBytes = 0;
}

QTEST_GUILESS_MAIN(TestMediaDownload)
#include "tst_mediadownload.moc"
