// Media mode of DownloadTask driven by a fake media tool: a shell script printing scripted lines.

#include "engine/bandwidthlimiter.h"
#include "engine/downloadtask.h"
#include "engine/media/mediatool.h"
#include "language/translation.h"
#include "processlist.h"

#include <QtTest>

#include <memory>

class TestMediaTask : public QObject {
    Q_OBJECT

private slots:
    void run_data();
    void run();
    void onlyWebLinksReachTheTool_data();
    void onlyWebLinksReachTheTool();
    void toolKeepsToItsShareOfTheLimit();
    void stopKillsTree_data();
    void stopKillsTree();

private:
    DownloadTask *startTask(const QByteArray &script,
                            const QUrl &link = QUrl(QStringLiteral("http://127.0.0.1:9/v?id=1")));

    QTemporaryDir dir;
    QString toolDir, savePath;
    BandwidthLimiter *limiter = nullptr; // given to the next task
    QStringList shown;                   // "total done speed eta |message" at every progress signal
    int finishedCount = 0;
    // Last, so that it goes first: a task's end still reports to the members above.
    std::unique_ptr<DownloadTask> task;
};

// Starts a task on an empty placeholder file, with the script as the tool (none when empty).
DownloadTask *TestMediaTask::startTask(const QByteArray &script, const QUrl &link)
{
    task.reset();
    QStandardPaths::setTestModeEnabled(true);
    toolDir = dir.filePath(QLatin1String(QTest::currentTestFunction()) + QTest::currentDataTag());
    savePath = toolDir + QStringLiteral("/my videos/clip.mp4");
    QDir().mkpath(toolDir + QStringLiteral("/my videos"));
    QFile(savePath).open(QIODevice::WriteOnly);
    setMediaToolDirectory(toolDir);
    shown.clear();
    finishedCount = 0;
    QFile f(toolDir + QStringLiteral("/core_engine.bin"));
    if (!script.isEmpty() && f.open(QIODevice::WriteOnly)) {
        f.write("#!/bin/sh\ndir='" + toolDir.toUtf8() + "'\nprev=; out=\n" +
                "for a in \"$@\"; do [ \"$prev\" = -o ] && out=\"$a\"; prev=\"$a\"; done\n" +
                script);
        f.close();
        f.setPermissions(f.permissions() | QFile::ExeOwner);
    }
    task = std::make_unique<DownloadTask>(link, savePath, QStringLiteral("best"));
    DownloadTask *t = task.get();
    t->setBandwidthLimiter(limiter);
    connect(t, &DownloadTask::progressUpdated, this, [this, t] {
        shown << QString::number(t->totalSize) + ' ' + QString::number(t->downloadedSize) + ' ' +
                     QString::number(qint64(t->currentSpeed)) + ' ' + t->dlpEtaStr + " |" +
                     t->lastDlpMessage;
    });
    connect(t, &DownloadTask::finished, this, [this] { ++finishedCount; });
    t->start();
    return t;
}

void TestMediaTask::run_data()
{
    QTest::addColumn<int>("exitCode");
    QTest::newRow("success") << 0;
    QTest::newRow("failure") << 1;
}

// Units, "Unknown", tags, ignored lines, several lines in one read, and lines cut across reads
// (down to a UTF-8 character); the last line lacks its newline and stays shown. The pauses between
// writes are long enough for each write to arrive as a read of its own also on a busy machine.
void TestMediaTask::run()
{
    QFETCH(int, exitCode);
    g_lang = QStringLiteral("en");
    DownloadTask *t = startTask(
        "echo \"[env] $(pwd) $PYTHONIOENCODING $(cat \"$out\" 2>&- || echo absent)\"; sleep 0.6\n"
        "printf '[generic] Extracting URL\\n[download] Destination: x\\n"
        "[download]  45.0%% of ~ 10.00MiB'; sleep 0.6\n"
        "printf ' at  2.00MiB/s ETA 00:05\\n'; sleep 0.6\n"
        "printf '[info] first\\n[info] second\\n'; sleep 0.6\n"
        "printf '[download]  40.0%% of ~ 10.00MiB at  2.00MiB/s ETA 00:07\\n"
        "[download]  50.0%% of ~ 10.00MiB at Unknown B/s ETA Unknown\\n'; sleep 0.6\n"
        "printf '[download]   1.0%% of 2.00TiB at 1.00GiB/s ETA 09:00:00\\n'; sleep 0.6\n"
        "printf 'WARNING: not shown\\n[Merger] Merging into \"'; sleep 0.6\n"
        "printf 'clip.mp4\"\\nERR'; sleep 0.6\n"
        "printf 'OR: broken \\331'; sleep 0.6\n"
        "printf '\\201 end'; printf 0123456789 > \"$out\"; exit " +
        QByteArray::number(exitCode) + "\n");
    QCOMPARE(t->lastDlpMessage, QStringLiteral("Starting processing..."));
    QTRY_COMPARE_WITH_TIMEOUT(t->status, exitCode ? 3 : 2, 10000);

    // An empty placeholder left in place would make the tool skip the download as done.
    QVERIFY(shown.contains("0 0 0  |[env] " + toolDir + " utf-8 absent"));
    // The speed here may already be the 500 ms tick's own sample, so it is not compared.
    QVERIFY(!shown.filter(QRegularExpression("^10485760 4718592 \\d+ 00:05 \\|\\[info\\] second$"))
                 .isEmpty());
    QVERIFY(shown.contains("10485760 5242880 2097152 00:07 |")); // "Unknown" keeps the last ones
    QVERIFY(shown.contains("2199023255552 21990232555 1073741824 09:00:00 |"));
    QVERIFY(!shown.filter("|[Merger] Merging into \"clip.mp4\"").isEmpty());
    // Neither half lines, nor a line shown only in passing (one signal per read), nor warnings.
    const QString all = shown.join('\n') + '\n';
    QVERIFY(!all.contains(QRegularExpression("4718592 0  \\||into \"\n|info\\] first|WARNING")));
    QCOMPARE(t->lastDlpMessage, QString::fromUtf8("ERROR: broken \u0641 end"));
    QCOMPARE(finishedCount, exitCode ? 0 : 1);
    // On success the file on disk wins over the parsed size.
    QCOMPARE(t->totalSize, exitCode ? 2199023255552LL : 10);
}

void TestMediaTask::onlyWebLinksReachTheTool_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("toolSaw"); // the tool's last two arguments; empty: never started
    QTest::addColumn<QString>("refusal"); // empty: the download completes
    const QString notWeb = QStringLiteral("Error: Video links must begin with http:// or https://");
    QTest::newRow("web") << "https://127.0.0.1:9/--x.mp4"
                         << "--\nhttps://127.0.0.1:9/--x.mp4" << QString();
    QTest::newRow("option") << "--config-locations=x.mp4"
                            << "" << notWeb;
    QTest::newRow("local file") << "file:///tmp/x.mp4"
                                << "" << notWeb;
    QTest::newRow("no host") << "https:x.mp4"
                             << "" << notWeb;
    QTest::newRow("no tool installed") << "https://127.0.0.1:9/x.mp4"
                                       << "" << QStringLiteral("System Error: Missing yt-dlp.exe");
}

// Links that are no web address would reach the tool as an option or a local path; without the
// tool nothing starts. Either refusal is told in the user's language, and is no success.
void TestMediaTask::onlyWebLinksReachTheTool()
{
    QFETCH(QString, link);
    QFETCH(QString, toolSaw);
    QFETCH(QString, refusal);
    g_lang = QStringLiteral("ar");
    const bool noTool = refusal.startsWith(QLatin1String("System"));
    DownloadTask *t = startTask(
        noTool ? QByteArray() : "printf '%s\\n' \"$@\" | tail -n 2 > \"$dir/args\"\n", QUrl(link));
    QVERIFY(t->isMediaTask());
    QTRY_COMPARE_WITH_TIMEOUT(t->status, refusal.isEmpty() ? 2 : 3, 10000);
    QCOMPARE(finishedCount, refusal.isEmpty() ? 1 : 0);
    QFile args(toolDir + QStringLiteral("/args"));
    QCOMPARE(args.open(QIODevice::ReadOnly) ? QString::fromUtf8(args.readAll()).trimmed() : "",
             toolSaw);
    if (!refusal.isEmpty()) {
        QCOMPARE(t->lastDlpMessage, T(refusal));
        QVERIFY(t->lastDlpMessage != refusal);
    }
}

// The tool cannot join the shared limit: it gets its share as its own rate option, and gives the
// share back when it ends.
void TestMediaTask::toolKeepsToItsShareOfTheLimit()
{
    BandwidthLimiter shared;
    shared.setLimit(3000000);
    QObject other;
    QCOMPARE(shared.beginMediaRun(&other), qint64(3000000)); // alone
    limiter = &shared;
    DownloadTask *t = startTask("echo \"[args] $*\"; exit 0\n");
    limiter = nullptr;
    QTRY_COMPARE_WITH_TIMEOUT(t->status, 2, 10000);
    QVERIFY2(t->lastDlpMessage.contains(" --limit-rate 1500000 "), qPrintable(t->lastDlpMessage));
    QObject third;
    QCOMPARE(shared.beginMediaRun(&third), qint64(1500000));
    task.reset(); // while the limiter it was given still exists
}

void TestMediaTask::stopKillsTree_data()
{
    QTest::addColumn<QString>("action");
    QTest::newRow("pause, resume after the end is seen") << "pause";
    QTest::newRow("pause, resume before the end is seen") << "pause+resume";
    QTest::newRow("cancel") << "cancel";
    QTest::newRow("destroy") << "destroy";
}

// The tool keeps a child running (both name the tool's folder in their command lines); pause,
// cancel and destruction must end both, and a resume must start a new run.
void TestMediaTask::stopKillsTree()
{
    QFETCH(QString, action);
    DownloadTask *t =
        startTask("if [ -e \"$dir/ran\" ]; then printf 'again' > \"$out\"; exit 0; fi\n"
                  "touch \"$dir/ran\"; sh -c 'touch \"$0/child\"; sleep 30; :' \"$dir\" & wait\n");
    const QByteArray mark = toolDir.toUtf8();
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(toolDir + "/child"), 10000);
    QVERIFY(liveProcessesMentioning(mark).size() >= 2);

    QElapsedTimer clock;
    clock.start();
    if (action == "destroy") {
        task.reset();
        QVERIFY(clock.elapsed() < 1000); // only a wait for the process would take that long
    } else {
        action == "cancel" ? t->cancel() : t->pause();
        QCOMPARE(t->status, action == "cancel" ? 4 : 0);
    }
    if (action != "pause+resume") {
        QTRY_COMPARE_WITH_TIMEOUT(liveProcessesMentioning(mark).size(), 0, 5000);
        QTest::qWait(200); // the killed run's end must change nothing, nor reach a deleted task
        if (task)
            QCOMPARE(t->status, action == "cancel" ? 4 : 0);
    }
    if (action.startsWith("pause")) {
        t->resume();
        QTRY_COMPARE_WITH_TIMEOUT(t->status, 2, 10000);
        QCOMPARE(t->totalSize, qint64(5)); // "again", written by the second run
        QCOMPARE(finishedCount, 1);
        QTRY_COMPARE_WITH_TIMEOUT(liveProcessesMentioning(mark).size(), 0, 5000);
    }
}

QTEST_GUILESS_MAIN(TestMediaTask)
#include "tst_mediatask.moc"
