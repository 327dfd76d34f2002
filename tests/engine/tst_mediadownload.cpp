// Media downloads with the real media tool and ffmpeg (the links that the build puts beside the
// program), from media made with ffmpeg at test time and served on loopback.

#include "engine/downloadtask.h"
#include "engine/media/mediatool.h"
#include "language/translation.h"
#include "processlist.h"
#include "testfiles.h"
#include "testhttpserver.h"
#include "testmedia.h"

#include <QtTest>

#include <memory>

namespace {

// One "codec,type[,height]" line per stream, sorted.
QStringList probe(const QString &path)
{
    QProcess p;
    p.start(QStringLiteral("ffprobe"),
            {"-v", "error", "-show_entries", "stream=codec_name,codec_type,height", "-of",
             "csv=p=0", path});
    p.waitForFinished(30000);
    QStringList streams =
        QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    streams.sort();
    return streams;
}

} // namespace

class TestMediaDownload : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void download_data();
    void download();

private:
    DownloadTask *startTask(const QByteArray &path, const QString &format,
                            const BrowserSession &session = BrowserSession());
    QList<qint64> live() const { return liveProcessesMentioning(dir.path().toUtf8()); }

    QTemporaryDir dir; // its path is in every command line these tests start
    QString outDir;
    QByteArray mp4;
    TestHttpServer server;
    std::unique_ptr<DownloadTask> task;
    qint64 parsedTotal = 0; // the largest size parsed from a progress line
};

void TestMediaDownload::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    g_lang = QStringLiteral("en");
    const QString toolDir = QStringLiteral(TORVANE_MEDIA_TOOL_DIR);
    if (!QFileInfo(toolDir + "/core_engine.bin").isExecutable() ||
        !QFileInfo(toolDir + "/media_codec.bin").isExecutable() ||
        QStandardPaths::findExecutable("ffprobe").isEmpty()) {
        if (qEnvironmentVariableIsSet("CI"))
            QFAIL(
                "core_engine.bin, media_codec.bin or ffprobe missing; run scripts/install-deps.sh");
        QSKIP("media tool not installed beside the build (scripts/install-deps.sh, then cmake)");
    }
    setMediaToolDirectory(toolDir);
    // Keep the tool away from the user's own configuration and cache.
    qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
    qputenv("XDG_CACHE_HOME", dir.filePath("cache").toUtf8());

    const QString media = dir.filePath("media");
    QVERIFY(makeSampleMedia(media));
    mp4 = readFile(media + "/v.mp4");
    serveMediaFolder(server, media, "/");
    serveMediaFolder(server, media + "/hls", "/hls/");
    TestHttpServer::Route locked = server.route("/v.mp4");
    locked.needCookie = "sid=s3cret";
    locked.needReferer = "http://page.test/";
    server.setRoute("/locked/v.mp4", locked);
    QVERIFY(server.start());
}

void TestMediaDownload::cleanup()
{
    task.reset();
    QFile::remove(dir.filePath("config/yt-dlp/config"));
    QVERIFY2(live().isEmpty(), "a tool process was left behind");
}

DownloadTask *TestMediaDownload::startTask(const QByteArray &path, const QString &format,
                                           const BrowserSession &session)
{
    outDir = dir.filePath(QLatin1String("out/") + QTest::currentTestFunction() +
                          QTest::currentDataTag());
    QDir().mkpath(outDir);
    task = std::make_unique<DownloadTask>(server.url(path), outDir + "/clip.mp4", format);
    DownloadTask *t = task.get();
    t->browserSession = session;
    parsedTotal = 0;
    connect(t, &DownloadTask::progressUpdated, this, [this, t] {
        if (t->status == 1 && t->lastDlpMessage.isEmpty()) // before the end fixes the sizes up
            parsedTotal = qMax(parsedTotal, t->totalSize);
    });
    t->start();
    return t;
}

void TestMediaDownload::download_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("streams");
    // The tool names the extracted file after the save path with the extension mp3.
    QTest::newRow("audio") << QByteArray("/v.mp4") << "audio"
                           << "clip.mp3" << QStringList{"mp3,audio"};
    QTest::newRow("hls 360, paused while ffmpeg writes it")
        << QByteArray("/hls/master.m3u8") << "360"
        << "clip.mp4" << QStringList{"aac,audio", "h264,video,360"};
    // The browser's cookie reaches the tool through a private file, never its command line. (The
    // same file without a login is torvane-fetch's video download.)
    QTest::newRow("behind a login") << QByteArray("/locked/v.mp4") << "best"
                                    << "clip.mp4" << QStringList{"aac,audio", "h264,video,90"};
}

void TestMediaDownload::download()
{
    QFETCH(QByteArray, path);
    QFETCH(QString, format);
    QFETCH(QString, file);
    QFETCH(QStringList, streams);
    const bool pause = path.startsWith("/hls");
    const QStringList segments = QDir(dir.filePath("media/hls")).entryList({"s1_*.ts"});
    if (pause) {
        // Make the tool hand the stream to ffmpeg, and slow the stream down, so that the pause
        // comes while ffmpeg is writing the file.
        QVERIFY(QDir().mkpath(dir.filePath("config/yt-dlp")));
        QVERIFY(writeFile(dir.filePath("config/yt-dlp/config"), "--downloader m3u8:ffmpeg\n"));
        for (const QString &s : segments)
            server.route("/hls/" + s.toUtf8()).trickleBytes = 400;
    }
    const BrowserSession session{"http://page.test/", "Browser/3", "theme=dark; sid=s3cret"};
    DownloadTask *t =
        startTask(path, format, path.startsWith("/locked") ? session : BrowserSession());
    if (pause) {
        const auto writers = [this] { // ffmpeg itself, not the tool whose arguments name it
            QList<qint64> found = live();
            found.removeIf([](qint64 pid) {
                const QByteArray cmd = readFile(QStringLiteral("/proc/%1/cmdline").arg(pid));
                return !cmd.left(cmd.indexOf('\0')).endsWith("media_codec.bin");
            });
            return found;
        };
        QTRY_VERIFY_WITH_TIMEOUT(!writers().isEmpty(), 60000);
        const QList<qint64> ffmpeg = writers();
        t->pause();
        // ffmpeg is killed together with the tool, not left to notice the tool's end by itself.
        for (qint64 pid : ffmpeg)
            QVERIFY(processGoneOrKilled(pid));
        QTRY_VERIFY_WITH_TIMEOUT(live().isEmpty(), 5000);
        for (const QString &s : segments)
            server.route("/hls/" + s.toUtf8()).trickleBytes = 0;
        t->resume();
    }
    QTRY_VERIFY_WITH_TIMEOUT(t->status != 1, 60000);
    QVERIFY2(t->status == 2, qPrintable(t->lastDlpMessage));
    QCOMPARE(probe(outDir + '/' + file), streams);
    if (format == "best") {
        QCOMPARE(readFile(outDir + "/clip.mp4"), mp4);
        // The tool prints the size rounded to two decimals of a KiB.
        QVERIFY2(qAbs(parsedTotal - mp4.size()) <= 16, qPrintable(QString::number(parsedTotal)));
    }
}

QTEST_GUILESS_MAIN(TestMediaDownload)
#include "tst_mediadownload.moc"
