// Media mode of DownloadTask, driven by a fake media tool printing scripted lines (faketool.cpp)
// and by the real media tool and ffmpeg (the links that the build puts beside the program) on
// media made with ffmpeg at test time and served on loopback.

#include "engine/bandwidthlimiter.h"
#include "engine/downloadtask.h"
#include "engine/media/mediatool.h"
#include "language/translation.h"
#include "processlist.h"
#include "testdownloads.h"
#include "testhttpserver.h"
#include "testmedia.h"
#include "wine.h"

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

class TestMediaTask : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void run_data();
    void run();
    void refusals_data();
    void refusals();
    void stopKillsTree_data();
    void stopKillsTree();
    void realTool_data();
    void realTool();

private:
    DownloadTask *startTask(const QByteArray &script,
                            const QUrl &link = QUrl(QStringLiteral("http://127.0.0.1:9/v?id=1")),
                            const QString &format = QStringLiteral("best"),
                            const BrowserSession &session = BrowserSession());
    // Every process the tests started, real or fake, and still running.
    QList<qint64> toolProcesses() const { return liveProcessesMentioning(dir.path().toUtf8()); }

    QTemporaryDir dir; // its path is in every command line these tests start
    QString toolDir, savePath;
    QString realToolDir; // where the next task finds the real tool; empty: the fake one
    TestHttpServer server;
    qint64 parsedTotal = 0;   // the largest size parsed from a progress line
    BandwidthLimiter limiter; // shared by every task, as the program's own is
    QStringList shown;        // "total done speed eta |message" at every progress signal
    int finishedCount = 0;
    // Last, so that it goes first: a task's end still reports to the members above.
    std::unique_ptr<DownloadTask> task;
};

// Starts a task on an empty placeholder file, with the real tool if one is set, or else the fake
// tool running the script (none when empty).
DownloadTask *TestMediaTask::startTask(const QByteArray &script, const QUrl &link,
                                       const QString &format, const BrowserSession &session)
{
    task.reset();
    QStandardPaths::setTestModeEnabled(true);
    toolDir = dir.filePath(QLatin1String(QTest::currentTestFunction()) + QTest::currentDataTag());
    savePath = toolDir + QStringLiteral("/my videos/clip.mp4");
    QDir().mkpath(toolDir + QStringLiteral("/my videos"));
    writeFile(savePath, {});
    setMediaToolDirectory(realToolDir.isEmpty() ? toolDir : realToolDir);
    shown.clear();
    finishedCount = 0;
    parsedTotal = 0;
    if (!script.isEmpty() && writeFile(toolDir + QStringLiteral("/script"), script)) {
        const QString here = QCoreApplication::applicationDirPath();
        QFile::copy(QStandardPaths::findExecutable("torvane-faketool", {here}), mediaToolPath());
    }
    task = std::make_unique<DownloadTask>(link, savePath, format);
    DownloadTask *t = task.get();
    t->browserSession = session;
    t->setBandwidthLimiter(&limiter);
    connect(t, &DownloadTask::progressUpdated, this, [this, t] {
        shown << QString::number(t->totalSize) + ' ' + QString::number(t->downloadedSize) + ' ' +
                     QString::number(qint64(t->currentSpeed)) + ' ' + t->dlpEtaStr + " |" +
                     t->lastDlpMessage;
        if (t->status == 1 && t->lastDlpMessage.isEmpty()) // before the end fixes the sizes up
            parsedTotal = qMax(parsedTotal, t->totalSize);
    });
    connect(t, &DownloadTask::finished, this, [this] { ++finishedCount; });
    t->start();
    return t;
}

void TestMediaTask::cleanup()
{
    task.reset();
    realToolDir.clear();
    QFile::remove(dir.filePath("config/yt-dlp/config"));
    QVERIFY2(toolProcesses().isEmpty(), "a tool process was left behind");
}

void TestMediaTask::run_data()
{
    QTest::addColumn<int>("exitCode");
    QTest::newRow("success") << 0;
    QTest::newRow("failure") << 1;
}

// Units, figures no file has, "Unknown", tags, errors, ignored lines, several lines in one read,
// and lines cut across reads (down to a UTF-8 character, each print a read of its own); the last
// line lacks its newline and stays shown. The tool cannot join the shared limit: it gets its share
// as its own rate option, and gives the share back when it ends.
void TestMediaTask::run()
{
    QFETCH(int, exitCode);
    g_lang = QStringLiteral("en");
    limiter.setLimit(3000000);
    QObject other;
    QCOMPARE(limiter.beginMediaRun(&other), qint64(3000000)); // alone
    DownloadTask *t =
        startTask(R"(print [env] $cwd $enc $out $args\n
print [generic] Extracting URL\n[download] Destination: x\n[download]  45.0% of ~ 10.00MiB
print  at  2.00MiB/s ETA 00:05\n
print [info] first\n[info] second\n
print [download]  40.0% of ~ 10.00MiB at  2.00MiB/s ETA 00:07\n)"
                  R"([download]  50.0% of ~ 10.00MiB at Unknown B/s ETA Unknown\n
print [download] 100% of   42.24KiB in 00:00:00 at 6.31MiB/s\n[download]  42.5% of )"
                  R"(~1099999999999999999999.00MiB at 99999999999999999999GiB/s ETA 00:01\n
print [download] 5% of 1.00kB at 1.00kB/s ETA 00:00\n[download] 150.0% of 2.00MB at 1.5.5KiB/s\n)"
                  R"([download] Got error: reset\n[download] Destination: /tmp/a.mp4\n
print [download]   1.0% of 2.00TiB at 1.00GiB/s ETA 09:00:00\n
print WARNING: not shown\n[Merger] Merging into "
print clip.mp4"\nERR
print OR: broken \xd9
print \x81 end
write out 0123456789
exit )" + QByteArray::number(exitCode));
    QTRY_COMPARE_WITH_TIMEOUT(t->status, exitCode ? 3 : 2, 10000);

    // An empty placeholder left in place would make the tool skip the download as done. The link
    // comes last, after "--", so that no link is read as an option.
    const QString env = shown.filter("0 0 0  |[env] " + toolDir + " utf-8 absent --").value(0);
    QVERIFY2(env.contains(" --limit-rate 1500000 ") &&
                 env.endsWith(" -- http://127.0.0.1:9/v?id=1"),
             qPrintable(shown.join('\n')));
    // The speed here may already be the 500 ms tick's own sample, so it is not compared.
    QVERIFY(!shown.filter(QRegularExpression("^10485760 4718592 \\d+ 00:05 \\|\\[info\\] second$"))
                 .isEmpty());
    QVERIFY(shown.contains("10485760 5242880 2097152 00:07 |")); // "Unknown" keeps the last ones
    QVERIFY(shown.contains("2199023255552 21990232555 1073741824 09:00:00 |"));
    // Decimal and binary units both count 1,024; figures no file has are left out rather than
    // turned into garbage, and percentages held to all of it. "Destination" is no message.
    QVERIFY(shown.contains("43253 43253 6616514 00:01 |"));
    QVERIFY(shown.contains("2097152 2097152 1024 00:00 |[download] Got error: reset"));
    QVERIFY(!shown.filter("|[Merger] Merging into \"clip.mp4\"").isEmpty());
    // Neither half lines, nor a line shown only in passing (one signal per read), nor warnings.
    const QString all = shown.join('\n') + '\n';
    QVERIFY(!all.contains(QRegularExpression("4718592 0  \\||into \"\n|info\\] first|WARNING")));
    QCOMPARE(t->lastDlpMessage, QString::fromUtf8("ERROR: broken \u0641 end"));
    QCOMPARE(finishedCount, exitCode ? 0 : 1);
    // On success the file on disk wins over the parsed size.
    QCOMPARE(t->totalSize, exitCode ? 2199023255552LL : 10);
    QObject third;
    QCOMPARE(limiter.beginMediaRun(&third), qint64(1500000));
}

void TestMediaTask::refusals_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("refusal");
    const QString notWeb = QStringLiteral("Error: Video links must begin with http:// or https://");
    QTest::newRow("option") << "--config-locations=x.mp4" << notWeb;
    QTest::newRow("no tool installed")
        << "https://127.0.0.1:9/x.mp4" << QStringLiteral("System Error: Missing yt-dlp.exe");
}

// Links that are no web address would reach the tool as an option or a local path; without the
// tool nothing starts. Either refusal is told in the user's language, and is no success.
void TestMediaTask::refusals()
{
    QFETCH(QString, link);
    QFETCH(QString, refusal);
    g_lang = QStringLiteral("ar");
    const bool noTool = refusal.startsWith(QLatin1String("System"));
    DownloadTask *t = startTask(noTool ? QByteArray() : "write args $args", QUrl(link));
    QTRY_COMPARE_WITH_TIMEOUT(t->status, 3, 10000);
    QCOMPARE(finishedCount, 0);
    QVERIFY(!QFile::exists(toolDir + QStringLiteral("/args"))); // the tool never started
    QCOMPARE(t->lastDlpMessage, T(refusal));
    QVERIFY(t->lastDlpMessage != refusal);
}

void TestMediaTask::stopKillsTree_data()
{
    QTest::addColumn<QString>("action");
    QTest::newRow("pause, resume after the end is seen") << "pause";
    QTest::newRow("pause, resume before the end is seen") << "pause+resume";
    QTest::newRow("cancel") << "cancel";
    QTest::newRow("destroy") << "destroy";
}

// The tool keeps a child running; pause, cancel and destruction must end both, and a resume must
// start a new run.
void TestMediaTask::stopKillsTree()
{
    QFETCH(QString, action);
    DownloadTask *t = startTask("child\n--\nwrite out again");
    const auto live = [this] { // of the first run's tool and child, by the pids they recorded
        int n = 0;
        for (const char *name : {"/tool", "/child"})
            n += processIsLive(readFile(toolDir + name).toLongLong());
        return n;
    };
    QTRY_COMPARE_WITH_TIMEOUT(live(), 2, 10000);

    QElapsedTimer clock;
    clock.start();
    if (action == "destroy") {
        task.reset();
        QVERIFY(clock.elapsed() < 1000); // only a wait for the process would take that long
    } else {
        action == "cancel" ? t->cancel() : t->pause();
    }
    if (action != "pause+resume") {
        QTRY_COMPARE_WITH_TIMEOUT(live(), 0, 5000);
        QTest::qWait(200); // the killed run's end must change nothing, nor reach a deleted task
        if (task)
            QCOMPARE(t->status, action == "cancel" ? 4 : 0);
    }
    if (action.startsWith("pause")) {
        t->resume();
        QTRY_COMPARE_WITH_TIMEOUT(t->status, 2, 10000);
        QCOMPARE(t->totalSize, qint64(5)); // "again", written by the second run
        QCOMPARE(finishedCount, 1);
        QTRY_COMPARE_WITH_TIMEOUT(live(), 0, 5000);
    }
}

void TestMediaTask::realTool_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QStringList>("streams");
    // The mp4 is behind a login: the browser's cookie reaches the tool through a private file,
    // never its command line. (The same file without a login is torvane-fetch's video download.)
    QTest::newRow("audio, behind a login")
        << QByteArray("/v.mp4") << "audio" << QStringList{"mp3,audio"};
    QTest::newRow("hls 360, paused while ffmpeg writes it")
        << QByteArray("/hls/master.m3u8") << "360" << QStringList{"aac,audio", "h264,video,360"};
    QTest::newRow("best, behind a login")
        << QByteArray("/v.mp4") << "best" << QStringList{"aac,audio", "h264,video,90"};
}

void TestMediaTask::realTool()
{
    QFETCH(QByteArray, path);
    QFETCH(QString, format);
    QFETCH(QStringList, streams);
    const QString installed = QStringLiteral(TORVANE_MEDIA_TOOL_DIR);
    if (!QFileInfo(installed + "/core_engine.bin").isExecutable() ||
        !QFileInfo(installed + "/media_codec.bin").isExecutable() ||
        QStandardPaths::findExecutable("ffprobe").isEmpty()) {
        // Under Wine they are always missing: Debian has no Windows yt-dlp or ffmpeg.
        if (qEnvironmentVariableIsSet("CI") && !runningUnderWine())
            QFAIL("media tool, ffmpeg or ffprobe missing; run scripts/install-deps.sh");
        QSKIP("media tool not installed beside the build (scripts/install-deps.sh, then cmake)");
    }
    if (!server.isListening()) { // the first row makes and serves the media
        // Keep the tool away from the user's own configuration and cache.
        qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
        qputenv("XDG_CACHE_HOME", dir.filePath("cache").toUtf8());
        const QString media = dir.filePath("media");
        QVERIFY(makeSampleMedia(media));
        serveMediaFolder(server, media, "/");
        serveMediaFolder(server, media + "/hls", "/hls/");
        server.route("/v.mp4").needCookie = "sid=s3cret";
        server.route("/v.mp4").needReferer = "http://page.test/";
        QVERIFY(server.start());
    }
    realToolDir = installed;
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
    DownloadTask *t = startTask({}, server.url(path), format,
                                {"http://page.test/", "Browser/3", "theme=dark; sid=s3cret"});
    if (pause) {
        const auto writers = [this] { // ffmpeg itself, not the tool whose arguments name it
            QList<qint64> found = toolProcesses();
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
        QTRY_VERIFY_WITH_TIMEOUT(toolProcesses().isEmpty(), 5000);
        for (const QString &s : segments)
            server.route("/hls/" + s.toUtf8()).trickleBytes = 0;
        t->resume();
    }
    QVERIFY2(waitForEnd(*t, 60000) && t->status == 2, qPrintable(t->lastDlpMessage));
    // The tool names the extracted file after the save path with the extension mp3.
    QCOMPARE(probe(format == "audio" ? toolDir + "/my videos/clip.mp3" : savePath), streams);
    if (format == "best") {
        const QByteArray mp4 = server.route("/v.mp4").body;
        QCOMPARE(readFile(savePath), mp4);
        // The tool prints the size rounded to two decimals of a KiB.
        QVERIFY2(qAbs(parsedTotal - mp4.size()) <= 16, qPrintable(QString::number(parsedTotal)));
    }
}

QTEST_GUILESS_MAIN(TestMediaTask)
#include "tst_mediatask.moc"
