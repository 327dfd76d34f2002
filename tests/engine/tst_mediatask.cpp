// Media mode of DownloadTask driven by a fake media tool: a shell script, written per test, that
// prints scripted lines (with pauses between partial writes) and exits with a chosen code.

#include "engine/downloadtask.h"
#include "engine/mediatool.h"
#include "language/translation.h"
#include "processlist.h"

#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

struct Snapshot {
    int status = 0;
    qint64 total = 0;
    qint64 done = 0;
    double speed = 0.0;
    QString eta;
    QString message;
};

} // namespace

class TestMediaTask : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void launch_data();
    void launch();
    void batchesOfLines();
    void linesSplitAcrossReads();
    void missingTool();
    void pauseKillsWholeTreeAndResumeRestarts();
    void cancelKillsWholeTree();
    void pauseAndResumeInOneGo();
    void destroyingRunningTaskDoesNotWait();

private:
    void writeTool(const QByteArray &body);
    DownloadTask *makeTask(const QString &format = QStringLiteral("best"));
    bool seen(const std::function<bool(const Snapshot &)> &match) const;
    QString read(const QString &name) const;
    QList<qint64> waitForPids();

    std::unique_ptr<QTemporaryDir> dir;
    QString toolDir;
    QString savePath;
    std::unique_ptr<DownloadTask> task;
    QList<Snapshot> snapshots;
    int finishedCount = 0;
    QList<QString> signalOrder;
};

void TestMediaTask::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    g_lang = QStringLiteral("en");
}

void TestMediaTask::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    toolDir = dir->filePath(QStringLiteral("app"));
    QVERIFY(QDir().mkpath(toolDir));
    QVERIFY(QDir().mkpath(dir->filePath(QStringLiteral("out"))));
    savePath = dir->filePath(QStringLiteral("out/clip.mp4"));
    setMediaToolDirectory(toolDir);
    snapshots.clear();
    signalOrder.clear();
    finishedCount = 0;
}

void TestMediaTask::cleanup()
{
    task.reset();
    setMediaToolDirectory(QString());
    g_lang = QStringLiteral("en");
    // Let retired tool processes report their end and delete themselves.
    QTest::qWait(50);
}

void TestMediaTask::writeTool(const QByteArray &body)
{
    QFile f(toolDir + QStringLiteral("/core_engine.bin"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\n"
            "dir='" +
            toolDir.toUtf8() +
            "'\n"
            "prev=; out=\n"
            "for a in \"$@\"; do [ \"$prev\" = \"-o\" ] && out=\"$a\"; prev=\"$a\"; done\n");
    f.write(body);
    f.close();
    QVERIFY(f.setPermissions(f.permissions() | QFile::ExeOwner | QFile::ExeUser));
}

DownloadTask *TestMediaTask::makeTask(const QString &format)
{
    task = std::make_unique<DownloadTask>(QUrl(QStringLiteral("http://127.0.0.1:9/v?id=1")),
                                          savePath, format);
    DownloadTask *t = task.get();
    connect(t, &DownloadTask::progressUpdated, this, [this, t] {
        snapshots.append({t->status, t->totalSize, t->downloadedSize, t->currentSpeed, t->dlpEtaStr,
                          t->lastDlpMessage});
        signalOrder.append(QStringLiteral("progress"));
    });
    connect(t, &DownloadTask::finished, this, [this] {
        ++finishedCount;
        signalOrder.append(QStringLiteral("finished"));
    });
    return t;
}

bool TestMediaTask::seen(const std::function<bool(const Snapshot &)> &match) const
{
    return std::any_of(snapshots.begin(), snapshots.end(), match);
}

QString TestMediaTask::read(const QString &name) const
{
    QFile f(toolDir + QLatin1Char('/') + name);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).trimmed() : QString();
}

// The tool script of the process tests reports its own pid and that of a child it keeps running.
QList<qint64> TestMediaTask::waitForPids()
{
    QList<qint64> pids;
    QElapsedTimer clock;
    clock.start();
    while (read(QStringLiteral("pids")).isEmpty() && clock.elapsed() < 10000)
        QTest::qWait(20);
    for (const QString &p : read(QStringLiteral("pids")).split(QLatin1Char(' ')))
        pids.append(p.toLongLong());
    return pids;
}

static const QByteArray kLongRun =
    "if [ -e \"$dir/ran\" ]; then printf 'again' > \"$out\";"
    " printf '[download] 100%% of 5.00B\\n'; exit 0; fi\n"
    "touch \"$dir/ran\"\n"
    "sh -c 'sleep 30; :' &\n"
    "printf '[download]  10.0%% of 1.00MiB at 1.00KiB/s ETA 15:00\\n'\n"
    "echo \"$$ $!\" > \"$dir/pids\"\n"
    "wait\n";

void TestMediaTask::launch_data()
{
    QTest::addColumn<QByteArray>("existing");
    QTest::addColumn<QString>("toolSaw");
    QTest::newRow("empty placeholder is removed") << QByteArray("") << "absent";
    QTest::newRow("partial file is left") << QByteArray("part") << "exists";
}

// Command line, working folder, environment and the start-to-done path of one run.
void TestMediaTask::launch()
{
    QFETCH(QByteArray, existing);
    QFETCH(QString, toolSaw);
    writeTool("printf '%s\\n' \"$@\" > \"$dir/args\"\n"
              "pwd > \"$dir/pwd\"\n"
              "echo \"$PYTHONIOENCODING $PYTHONUTF8\" > \"$dir/env\"\n"
              "if [ -e \"$out\" ]; then echo exists > \"$dir/seen\"; else echo absent > "
              "\"$dir/seen\"; fi\n"
              "printf '[download]  50.0%% of 10.00KiB at 1.00KiB/s ETA 00:05\\n'\n"
              "sleep 0.2\n"
              "printf '0123456789' > \"$out\"\n"
              "exit 0\n");
    {
        QFile f(savePath);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(existing);
    }
    DownloadTask *t = makeTask(QStringLiteral("720"));
    t->start();
    QCOMPARE(t->status, 1);
    QCOMPARE(t->lastDlpMessage, QStringLiteral("Starting processing..."));
    QTRY_COMPARE_WITH_TIMEOUT(t->status, 2, 10000);

    QCOMPARE(read(QStringLiteral("seen")), toolSaw);
    const QStringList expected{"--newline",
                               "--no-playlist",
                               "--force-ipv4",
                               "-S",
                               "res:720",
                               "--merge-output-format",
                               "mp4",
                               "--ffmpeg-location",
                               toolDir + "/media_codec.bin",
                               "-o",
                               savePath,
                               "http://127.0.0.1:9/v?id=1"};
    QCOMPARE(read(QStringLiteral("args")).split(QLatin1Char('\n')), expected);
    QCOMPARE(read(QStringLiteral("pwd")), toolDir);
    QCOMPARE(read(QStringLiteral("env")), QStringLiteral("utf-8 1"));

    QVERIFY(seen([](const Snapshot &s) { return s.total == 10240 && s.done == 5120; }));
    QCOMPARE(t->totalSize, qint64(10)); // the file on disk wins over the parsed estimate
    QCOMPARE(t->downloadedSize, qint64(10));
    QCOMPARE(t->currentSpeed, 0.0);
    QCOMPARE(finishedCount, 1);
    QCOMPARE(signalOrder.mid(signalOrder.size() - 2), QStringList({"finished", "progress"}));
}

void TestMediaTask::batchesOfLines()
{
    writeTool("printf '[generic] Extracting URL\\n[download] Destination: x\\n"
              "[download]  45.0%% of ~ 10.00MiB at  2.00MiB/s ETA 00:05\\n'\n"
              "sleep 0.3\n"
              "printf '[info] first\\n[info] second\\n'\n"
              "sleep 0.3\n"
              "printf '[download]  40.0%% of ~ 10.00MiB at  2.00MiB/s ETA 00:07\\n"
              "[download]  50.0%% of ~ 10.00MiB at Unknown B/s ETA Unknown\\n'\n"
              "sleep 0.3\n"
              "printf '[download]   1.0%% of 2.00TiB at 1.00GiB/s ETA 09:00:00\\n'\n"
              "sleep 0.3\n"
              "printf 'WARNING: not shown\\n[download] Got error: reset\\n'\n"
              "exit 0\n");
    DownloadTask *t = makeTask();
    t->start();
    QTRY_COMPARE_WITH_TIMEOUT(t->status, 2, 10000);

    QVERIFY(seen([](const Snapshot &s) {
        return s.total == 10485760 && s.done == 4718592 && s.speed == 2097152.0 &&
               s.eta == "00:05" && s.message.isEmpty();
    }));
    // One signal per batch: the first of two lines read together is never shown on its own.
    QVERIFY(seen([](const Snapshot &s) { return s.message == "[info] second"; }));
    QVERIFY(!seen([](const Snapshot &s) { return s.message == "[info] first"; }));
    // "Unknown" leaves speed and remaining time as the line before set them.
    QVERIFY(seen([](const Snapshot &s) {
        return s.done == 5242880 && s.speed == 2097152.0 && s.eta == "00:07";
    }));
    QVERIFY(seen([](const Snapshot &s) { return s.total == 2199023255552LL; }));
    QVERIFY(!seen([](const Snapshot &s) { return s.message.startsWith("WARNING"); }));
    QCOMPARE(t->lastDlpMessage, QStringLiteral("[download] Got error: reset"));
    // Done without a file at the save path: the last parsed size stands.
    QCOMPARE(t->totalSize, 2199023255552LL);
    QCOMPARE(t->downloadedSize, t->totalSize);
}

void TestMediaTask::linesSplitAcrossReads()
{
    writeTool("printf '[download]  45.0%% of ~ 10.00MiB'; sleep 0.3\n"
              "printf ' at  2.00MiB/s ETA 00:05\\n'; sleep 0.3\n"
              "printf '[Merger] Merging formats into \"'; sleep 0.3\n"
              "printf 'clip.mp4\"\\nERR'; sleep 0.3\n"
              "printf 'OR: broken \\331'; sleep 0.3\n"
              "printf '\\201 end'\n"
              "exit 1\n");
    DownloadTask *t = makeTask();
    t->start();
    QTRY_COMPARE_WITH_TIMEOUT(t->status, 3, 10000);

    QVERIFY(seen([](const Snapshot &s) {
        return s.total == 10485760 && s.speed == 2097152.0 && s.eta == "00:05";
    }));
    // Half a progress line would have set the sizes without a remaining time.
    QVERIFY(!seen([](const Snapshot &s) { return s.total > 0 && s.eta.isEmpty(); }));
    QVERIFY(seen([](const Snapshot &s) {
        return s.message == "[Merger] Merging formats into \"clip.mp4\"";
    }));
    QVERIFY(!seen([](const Snapshot &s) {
        return s.message == "[Merger] Merging formats into \"" || s.message.startsWith("OR");
    }));
    // The last line had no newline; the tool's end completes it, and a failure keeps it shown.
    QCOMPARE(t->lastDlpMessage, QString::fromUtf8("ERROR: broken \u0641 end"));
    QCOMPARE(finishedCount, 0);
}

void TestMediaTask::missingTool()
{
    g_lang = QStringLiteral("ar");
    DownloadTask *t = makeTask(); // no script written: the folder holds no tool
    t->start();
    QTRY_COMPARE_WITH_TIMEOUT(t->status, 3, 10000);
    QCOMPARE(t->lastDlpMessage, T(QStringLiteral("System Error: Missing yt-dlp.exe")));
    QVERIFY(t->lastDlpMessage != QStringLiteral("System Error: Missing yt-dlp.exe"));
    QCOMPARE(finishedCount, 0);
}

void TestMediaTask::pauseKillsWholeTreeAndResumeRestarts()
{
    writeTool(kLongRun);
    DownloadTask *t = makeTask();
    t->start();
    const QList<qint64> pids = waitForPids();
    QCOMPARE(pids.size(), 2);
    QTRY_COMPARE(t->downloadedSize, qint64(104857));
    QVERIFY(processIsLive(pids[0]) && processIsLive(pids[1]));

    const int before = snapshots.size();
    t->pause();
    QCOMPARE(t->status, 0);
    QCOMPARE(t->currentSpeed, 0.0);
    QCOMPARE(snapshots.size(), before + 1);
    // The tool and the child it started both go.
    QTRY_VERIFY_WITH_TIMEOUT(!processIsLive(pids[0]) && !processIsLive(pids[1]), 5000);
    // The killed run's end changes nothing.
    QTest::qWait(200);
    QCOMPARE(t->status, 0);
    QCOMPARE(snapshots.size(), before + 1);

    t->resume();
    QCOMPARE(t->status, 1);
    QCOMPARE(t->lastDlpMessage, QStringLiteral("Starting processing..."));
    QTRY_COMPARE_WITH_TIMEOUT(t->status, 2, 10000);
    QFile f(savePath);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("again"));
    QCOMPARE(t->totalSize, qint64(5));
    QCOMPARE(finishedCount, 1);
}

void TestMediaTask::cancelKillsWholeTree()
{
    writeTool(kLongRun);
    DownloadTask *t = makeTask();
    t->start();
    const QList<qint64> pids = waitForPids();
    QCOMPARE(pids.size(), 2);

    const int before = snapshots.size();
    t->cancel();
    QCOMPARE(t->status, 4);
    QCOMPARE(snapshots.size(), before + 2);
    QCOMPARE(snapshots[before].status, 0);
    QCOMPARE(snapshots[before + 1].status, 4);
    QTRY_VERIFY_WITH_TIMEOUT(!processIsLive(pids[0]) && !processIsLive(pids[1]), 5000);
    QTest::qWait(200);
    QCOMPARE(t->status, 4);
    QCOMPARE(snapshots.size(), before + 2);
}

// A resume before the paused run's end has been noticed must still start a new run.
void TestMediaTask::pauseAndResumeInOneGo()
{
    writeTool(kLongRun);
    DownloadTask *t = makeTask();
    t->start();
    const QList<qint64> pids = waitForPids();
    t->pause();
    t->resume();
    QCOMPARE(t->status, 1);
    QTRY_COMPARE_WITH_TIMEOUT(t->status, 2, 10000);
    QCOMPARE(finishedCount, 1);
    QTRY_VERIFY_WITH_TIMEOUT(!processIsLive(pids[0]) && !processIsLive(pids[1]), 5000);
}

void TestMediaTask::destroyingRunningTaskDoesNotWait()
{
    writeTool(kLongRun);
    DownloadTask *t = makeTask();
    t->start();
    const QList<qint64> pids = waitForPids();
    QElapsedTimer clock;
    clock.start();
    task.reset();
    // A generous bound that only a wait for the process would break.
    QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
    QTRY_VERIFY_WITH_TIMEOUT(!processIsLive(pids[0]) && !processIsLive(pids[1]), 5000);
    // The tool's end arrives after the task is gone and must reach nothing of it.
    QTest::qWait(200);
}

QTEST_GUILESS_MAIN(TestMediaTask)
#include "tst_mediatask.moc"
