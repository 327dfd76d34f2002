// Media mode of DownloadTask driven by a fake media tool printing scripted lines (faketool.cpp),
// and the lines the media tool prints read one at a time.

#include "engine/bandwidthlimiter.h"
#include "engine/downloadtask.h"
#include "engine/media/mediaprogress.h"
#include "engine/media/mediatool.h"
#include "language/translation.h"
#include "processlist.h"
#include "testfiles.h"

#include <QtTest>

#include <memory>

class TestMediaTask : public QObject {
    Q_OBJECT

private slots:
    void lines_data();
    void lines();
    void run_data();
    void run();
    void refusals_data();
    void refusals();
    void stopKillsTree_data();
    void stopKillsTree();

private:
    DownloadTask *startTask(const QByteArray &script,
                            const QUrl &link = QUrl(QStringLiteral("http://127.0.0.1:9/v?id=1")));

    QTemporaryDir dir;
    QString toolDir, savePath;
    BandwidthLimiter limiter; // shared by every task, as the program's own is
    QStringList shown;        // "total done speed eta |message" at every progress signal
    int finishedCount = 0;
    // Last, so that it goes first: a task's end still reports to the members above.
    std::unique_ptr<DownloadTask> task;
};

// Starts a task on an empty placeholder file, the fake tool running the script (none when empty).
DownloadTask *TestMediaTask::startTask(const QByteArray &script, const QUrl &link)
{
    task.reset();
    QStandardPaths::setTestModeEnabled(true);
    toolDir = dir.filePath(QLatin1String(QTest::currentTestFunction()) + QTest::currentDataTag());
    savePath = toolDir + QStringLiteral("/my videos/clip.mp4");
    QDir().mkpath(toolDir + QStringLiteral("/my videos"));
    writeFile(savePath, {});
    setMediaToolDirectory(toolDir);
    shown.clear();
    finishedCount = 0;
    if (!script.isEmpty() && writeFile(toolDir + QStringLiteral("/script"), script)) {
        const QString here = QCoreApplication::applicationDirPath();
        QFile::copy(QStandardPaths::findExecutable("torvane-faketool", {here}), mediaToolPath());
    }
    task = std::make_unique<DownloadTask>(link, savePath, QStringLiteral("best"));
    DownloadTask *t = task.get();
    t->setBandwidthLimiter(&limiter);
    connect(t, &DownloadTask::progressUpdated, this, [this, t] {
        shown << QString::number(t->totalSize) + ' ' + QString::number(t->downloadedSize) + ' ' +
                     QString::number(qint64(t->currentSpeed)) + ' ' + t->dlpEtaStr + " |" +
                     t->lastDlpMessage;
    });
    connect(t, &DownloadTask::finished, this, [this] { ++finishedCount; });
    t->start();
    return t;
}

// One line at a time (bytes in "percent past all"; "~" estimates, "Unknown" figures, GiB and TiB,
// hours, tags, errors and warnings are read through a task in run()).
void TestMediaTask::lines_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("read"); // total, done, speed (-1: none) and eta
    const int P = MediaLineInfo::Progress, M = MediaLineInfo::Message, I = MediaLineInfo::Ignored;
    QTest::newRow("decimal units")
        << "[download] 100.0% of 2.00MB at 1.00kB/s ETA 00:00" << P << "2097152 2097152 1024 00:00";
    QTest::newRow("summary") << "[download] 100% of   42.24KiB in 00:00:00 at 6.31MiB/s" << P
                             << "43253 43253 6616514 ";
    // Figures no file has: sizes left out rather than turned into garbage, percentages held.
    QTest::newRow("size past any file") << "[download]  42.5% of ~1099999999999999999999.00MiB at "
                                           "99999999999999999999GiB/s ETA 00:01"
                                        << P << "0 0 -1 00:01";
    QTest::newRow("percent past all")
        << "[download] 150.0% of 1000B at 1.5.5KiB/s" << P << "1000 1000 -1 ";
    QTest::newRow("error in download line") << "[download] Got error: reset" << M << "0 0 -1 ";
    QTest::newRow("destination") << "[download] Destination: /tmp/a.mp4" << I << "0 0 -1 ";
}

void TestMediaTask::lines()
{
    QFETCH(QString, line);
    QFETCH(int, kind);
    QFETCH(QString, read);
    const MediaLineInfo info = parseMediaLine(line);
    QCOMPARE(int(info.kind), kind);
    QCOMPARE(info.message, kind == MediaLineInfo::Message ? line.trimmed() : QString());
    QCOMPARE(QStringLiteral("%1 %2 %3 %4")
                 .arg(info.totalSize)
                 .arg(info.downloadedSize)
                 .arg(info.hasSpeed ? qint64(info.speed) : -1)
                 .arg(info.eta),
             read);
}

void TestMediaTask::run_data()
{
    QTest::addColumn<int>("exitCode");
    QTest::newRow("success") << 0;
    QTest::newRow("failure") << 1;
}

// Units, "Unknown", tags, ignored lines, several lines in one read, and lines cut across reads
// (down to a UTF-8 character, each print a read of its own); the last line lacks its newline and
// stays shown. The tool cannot join the shared limit: it gets its share as its own rate option,
// and gives the share back when it ends.
void TestMediaTask::run()
{
    QFETCH(int, exitCode);
    g_lang = QStringLiteral("en");
    limiter.setLimit(3000000);
    QObject other;
    QCOMPARE(limiter.beginMediaRun(&other), qint64(3000000)); // alone
    DownloadTask *t = startTask(R"(print [env] $cwd $enc $out $args\n
print [generic] Extracting URL\n[download] Destination: x\n[download]  45.0% of ~ 10.00MiB
print  at  2.00MiB/s ETA 00:05\n
print [info] first\n[info] second\n
print [download]  40.0% of ~ 10.00MiB at  2.00MiB/s ETA 00:07\n)"
                                R"([download]  50.0% of ~ 10.00MiB at Unknown B/s ETA Unknown\n
print [download]   1.0% of 2.00TiB at 1.00GiB/s ETA 09:00:00\n
print WARNING: not shown\n[Merger] Merging into "
print clip.mp4"\nERR
print OR: broken \xd9
print \x81 end
write out 0123456789
exit )" + QByteArray::number(exitCode));
    QCOMPARE(t->lastDlpMessage, QStringLiteral("Starting processing..."));
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
    QTest::newRow("no host") << "https:x.mp4" << notWeb;
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
    QVERIFY(t->isMediaTask());
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
        QCOMPARE(t->status, action == "cancel" ? 4 : 0);
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

QTEST_GUILESS_MAIN(TestMediaTask)
#include "tst_mediatask.moc"
