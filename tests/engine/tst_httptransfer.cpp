// Downloads against the in-process server: every test that finishes compares the file on disk
// with the served bytes.
#include "engine/downloadtask.h"
#include "testhttpserver.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Waits until the task leaves the running state (or the timeout passes).
bool waitForEnd(DownloadTask &task, int timeoutMs = 20000)
{
    return QTest::qWaitFor([&] { return task.status != 1; }, timeoutMs);
}

QList<QByteArray> rangesOf(const QList<TestHttpServer::Request> &requests)
{
    QList<QByteArray> out;
    for (const auto &r : requests)
        out.append(r.headers.value("range"));
    return out;
}

} // namespace

class TstHttpTransfer : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir;
    TestHttpServer *server = nullptr;

    QString target(const QString &name) const { return dir.filePath(name); }

    // Runs one task to its end and checks it completed with exactly `expected` on disk.
    void expectExactDownload(const QByteArray &path, const QByteArray &expected,
                             DownloadTask **out = nullptr)
    {
        auto *task = new DownloadTask(server->url(path), target("out.bin"), "best", this);
        task->setRetryBaseDelayMs(20);
        QSignalSpy finished(task, &DownloadTask::finished);
        task->start();
        QVERIFY(waitForEnd(*task));
        QCOMPARE(task->status, 2);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(task->totalSize, qint64(expected.size()));
        QCOMPARE(task->downloadedSize, qint64(expected.size()));
        const QByteArray onDisk = readFile(target("out.bin"));
        QCOMPARE(onDisk.size(), expected.size());
        QVERIFY(onDisk == expected);
        if (out)
            *out = task;
        else
            delete task;
    }

private slots:
    void init()
    {
        QVERIFY(dir.isValid());
        QFile::remove(target("out.bin"));
        server = new TestHttpServer(this);
        QVERIFY(server->start());
    }
    void cleanup()
    {
        delete server;
        server = nullptr;
    }

    void segmentedOverEightConnections()
    {
        // Trickled so that all parts are in flight together.
        TestHttpServer::Route r;
        r.body = TestHttpServer::randomBody(8 * 40 * 1024 + 3);
        r.trickleBytes = 8192;
        r.trickleIntervalMs = 10;
        server->setRoute("/file.bin", r);
        expectExactDownload("/file.bin", r.body);

        const auto requests = server->requestsFor("/file.bin");
        QCOMPARE(requests.size(), 9);
        QCOMPARE(requests.first().headers.value("range"), QByteArray("bytes=0-0"));
        const qint64 partSize = r.body.size() / 8;
        QList<QByteArray> expected;
        for (int i = 0; i < 8; ++i) {
            const qint64 last = i == 7 ? r.body.size() - 1 : (i + 1) * partSize - 1;
            expected.append("bytes=" + QByteArray::number(i * partSize) + '-' +
                            QByteArray::number(last));
        }
        QList<QByteArray> got = rangesOf(requests.mid(1));
        std::sort(got.begin(), got.end());
        std::sort(expected.begin(), expected.end());
        QCOMPARE(got, expected);
        QVERIFY2(server->maxOpenConnections >= 8,
                 qPrintable(QString::number(server->maxOpenConnections)));
        // No compressed encoding may shift the offsets.
        QCOMPARE(requests.last().headers.value("accept-encoding"), QByteArray("identity"));
    }

    void idleConnectionsTakeOverTheSlowestPart()
    {
        TestHttpServer::Route r;
        r.body = TestHttpServer::randomBody(24 * 1024 * 1024, 30);
        r.trickleBytes = 16 * 1024; // part 0 crawls, the others are fast
        r.trickleIntervalMs = 10;
        r.trickleOnlyAt = 0;
        server->setRoute("/uneven.bin", r);
        DownloadTask *task = nullptr;
        expectExactDownload("/uneven.bin", r.body, &task);
        // Bytes of part 0's range were asked for by other connections.
        int inside = 0;
        for (const QByteArray &range : rangesOf(server->requestsFor("/uneven.bin"))) {
            const qint64 first = range.mid(6).split('-')[0].toLongLong();
            inside += first > 0 && first < 3 * 1024 * 1024 ? 1 : 0;
        }
        QVERIFY(inside >= 1);
        delete task;
    }

    void thousandBytesGiveTheDocumentedRanges()
    {
        TestHttpServer::Route r;
        r.body = TestHttpServer::randomBody(1003);
        server->setRoute("/k.bin", r);
        expectExactDownload("/k.bin", r.body);
        QList<QByteArray> got = rangesOf(server->requestsFor("/k.bin").mid(1));
        std::sort(got.begin(), got.end());
        QCOMPARE(got.first(), QByteArray("bytes=0-124"));
        QVERIFY(got.contains("bytes=875-1002"));
    }

    void serversThatBendRanges_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("range ignored: 200 with the whole body") << 0;
        QTest::newRow("star total: one connection") << 1;
        QTest::newRow("chunked without a length") << 2;
        QTest::newRow("short answers to every range") << 3;
        QTest::newRow("content-range that does not match") << 4;
        QTest::newRow("body until close, no length") << 5;
    }
    void serversThatBendRanges()
    {
        QFETCH(int, kind);
        TestHttpServer::Route r;
        r.body = TestHttpServer::randomBody(300 * 1024 + 17, 7);
        switch (kind) {
        case 0:
            r.honourRange = false;
            break;
        case 1:
            r.starTotal = true;
            break;
        case 2:
            r.honourRange = false;
            r.chunked = true;
            break;
        case 3:
            r.maxRangeLength = 10000;
            break;
        case 4:
            r.shiftRangeStart = 100;
            break;
        case 5:
            r.honourRange = false;
            r.noLength = true;
            break;
        }
        server->setRoute("/bend.bin", r);
        expectExactDownload("/bend.bin", r.body);
    }

    void redirectChainIsFollowedOnce()
    {
        TestHttpServer::Route file;
        file.body = TestHttpServer::randomBody(64 * 1024, 3);
        server->setRoute("/final.bin", file);
        TestHttpServer::Route a, b;
        a.redirectTo = "/b";
        b.redirectTo = server->url("/final.bin").toEncoded();
        server->setRoute("/a", a);
        server->setRoute("/b", b);
        expectExactDownload("/a", file.body);
        // The parts go straight to where the probe ended.
        QCOMPARE(server->requestsFor("/a").size(), 1);
        QCOMPARE(server->requestsFor("/final.bin").size(), 9);
    }

    void errorPageIsNeverContent()
    {
        TestHttpServer::Route r;
        r.status = 404;
        r.body = "<html>not here</html>";
        server->setRoute("/gone.bin", r);
        DownloadTask task(server->url("/gone.bin"), target("out.bin"), "best");
        QSignalSpy finished(&task, &DownloadTask::finished);
        task.start();
        QVERIFY(waitForEnd(task));
        QCOMPARE(task.status, 3);
        QCOMPARE(finished.count(), 0);
        QCOMPARE(task.downloadedSize, qint64(0));
        QVERIFY(!readFile(target("out.bin")).contains("not here"));
    }

    void unusableLinksFailAtOnce()
    {
        for (const QString &link : {QString("ftp-x://127.0.0.1/f.bin"), QString()}) {
            DownloadTask task{QUrl(link), target("out.bin"), "best"};
            task.start();
            QVERIFY(waitForEnd(task, 3000));
            QCOMPARE(task.status, 3);
        }
    }

    void droppedConnectionsAreContinued()
    {
        TestHttpServer::Route r;
        r.body = TestHttpServer::randomBody(512 * 1024, 11);
        r.dropAtByte = 100000; // inside part 1
        r.dropTimes = 2;
        server->setRoute("/drop.bin", r);
        expectExactDownload("/drop.bin", r.body);
        // The part came back for the rest of its range, not from its start.
        const auto ranges = rangesOf(server->requestsFor("/drop.bin"));
        QVERIFY(ranges.contains("bytes=100000-131071"));
    }

    void serverErrorsAreRetriedAndNeverWritten()
    {
        TestHttpServer::Route r;
        r.body = TestHttpServer::randomBody(256 * 1024, 12);
        r.failRequests = {3, 5, 6};
        r.failBody = QByteArray(4000, 'E');
        server->setRoute("/flaky.bin", r);
        expectExactDownload("/flaky.bin", r.body);
        QCOMPARE(server->requestsFor("/flaky.bin").size(), 12);
    }

    void persistentFailureEndsInErrorNotDone()
    {
        TestHttpServer::Route r;
        r.body = TestHttpServer::randomBody(64 * 1024, 13);
        for (int i = 4; i < 100; ++i)
            r.failRequests.insert(i);
        server->setRoute("/broken.bin", r);
        DownloadTask task(server->url("/broken.bin"), target("out.bin"), "best");
        task.setRetryBaseDelayMs(5);
        QSignalSpy finished(&task, &DownloadTask::finished);
        task.start();
        QVERIFY(waitForEnd(task));
        QCOMPARE(task.status, 3);
        QCOMPARE(finished.count(), 0);
        QVERIFY(task.downloadedSize < task.totalSize);
        // Nothing keeps running after the failure.
        const int requests = server->requests.size();
        QTest::qWait(200);
        QCOMPARE(server->requests.size(), requests);
    }

    void stalledPartIsRetried()
    {
        TestHttpServer::Route r;
        r.body = TestHttpServer::randomBody(128 * 1024, 14);
        r.stallAtByte = 70000;
        r.stallTimes = 1;
        server->setRoute("/stall.bin", r);
        auto *task = new DownloadTask(server->url("/stall.bin"), target("out.bin"), "best", this);
        task->setStallTimeoutMs(600);
        task->start();
        QVERIFY(waitForEnd(*task));
        QCOMPARE(task->status, 2);
        QVERIFY(readFile(target("out.bin")) == r.body);
        delete task;
    }

    void tinyTotalsNeverAskForEmptyRanges_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("1") << 1;
        QTest::newRow("3") << 3;
        QTest::newRow("7") << 7;
        QTest::newRow("8") << 8;
        QTest::newRow("9") << 9;
    }
    void tinyTotalsNeverAskForEmptyRanges()
    {
        QFETCH(int, size);
        TestHttpServer::Route r;
        r.body = TestHttpServer::randomBody(size, 15);
        server->setRoute("/tiny.bin", r);
        expectExactDownload("/tiny.bin", r.body);
        for (const QByteArray &range : rangesOf(server->requestsFor("/tiny.bin"))) {
            if (range.isEmpty())
                continue;
            const QList<QByteArray> ab = range.mid(6).split('-');
            QVERIFY2(ab[0].toLongLong() <= ab[1].toLongLong(), range.constData());
        }
    }

    void httpsWithSelfSignedCertificate()
    {
        QVERIFY(server->useTls());
        TestHttpServer::Route r;
        r.body = TestHttpServer::randomBody(200 * 1024, 16);
        server->setRoute("/secure.bin", r);
        expectExactDownload("/secure.bin", r.body);
    }

    void pauseAndResumeContinueEachPart()
    {
        TestHttpServer::Route r;
        r.body = TestHttpServer::randomBody(8 * 64 * 1024, 17);
        r.trickleBytes = 4096;
        r.trickleIntervalMs = 10;
        server->setRoute("/slow.bin", r);
        DownloadTask task(server->url("/slow.bin"), target("out.bin"), "best");
        task.start();
        QVERIFY(QTest::qWaitFor([&] { return task.downloadedSize > 100 * 1024; }, 10000));
        QSignalSpy progress(&task, &DownloadTask::progressUpdated);
        task.pause();
        QCOMPARE(task.status, 0);
        QCOMPARE(progress.count(), 1);
        const qint64 atPause = task.downloadedSize;
        const int requestsAtPause = server->requests.size();
        QTest::qWait(300);
        // Nothing writes or asks after a pause.
        QCOMPARE(task.downloadedSize, atPause);
        QCOMPARE(progress.count(), 1);
        QCOMPARE(server->requests.size(), requestsAtPause);

        task.resume();
        QCOMPARE(task.status, 1);
        QVERIFY(waitForEnd(task));
        QCOMPARE(task.status, 2);
        QVERIFY(readFile(target("out.bin")) == r.body);
        // Each resumed request starts where its part had stopped, not at the part's start.
        const auto resumed = server->requests.mid(requestsAtPause);
        QVERIFY(!resumed.isEmpty() && resumed.size() <= 8);
        for (const auto &req : resumed) {
            const qint64 first = req.headers.value("range").mid(6).split('-')[0].toLongLong();
            QVERIFY2(first % (64 * 1024) != 0, req.headers.value("range").constData());
        }
    }

    void pauseWhileProbingLeavesNothingBehind()
    {
        TestHttpServer::Route r;
        r.body = TestHttpServer::randomBody(64 * 1024, 18);
        r.silentRequests = {1}; // the probe's answer never comes
        server->setRoute("/p.bin", r);
        DownloadTask task(server->url("/p.bin"), target("out.bin"), "best");
        task.start();
        QTest::qWait(150);
        task.pause();
        QTest::qWait(150);
        QCOMPARE(task.status, 0);
        task.resume(); // size still unknown: starts over with a new probe
        QVERIFY(waitForEnd(task));
        QCOMPARE(task.status, 2);
        QVERIFY(readFile(target("out.bin")) == r.body);
    }

    void cancelWhileWaitingToRetry()
    {
        TestHttpServer::Route r;
        r.body = TestHttpServer::randomBody(64 * 1024, 19);
        r.failRequests = {2, 3, 4, 5, 6, 7, 8, 9};
        server->setRoute("/c.bin", r);
        DownloadTask task(server->url("/c.bin"), target("out.bin"), "best");
        task.setRetryBaseDelayMs(300);
        task.start();
        QVERIFY(QTest::qWaitFor([&] { return server->requests.size() >= 9; }, 5000));
        QTest::qWait(50);
        task.cancel();
        const int requests = server->requests.size();
        QTest::qWait(800);
        QCOMPARE(task.status, 4);
        QCOMPARE(server->requests.size(), requests);
    }

    void progressSurvivesARestart()
    {
        TestHttpServer::Route r;
        r.body = TestHttpServer::randomBody(8 * 64 * 1024, 20);
        r.trickleBytes = 4096;
        r.trickleIntervalMs = 10;
        r.headers = {{"ETag", "\"v1\""}};
        server->setRoute("/r.bin", r);
        TransferProgress saved;
        qint64 total = 0;
        {
            DownloadTask first(server->url("/r.bin"), target("out.bin"), "best");
            first.start();
            QVERIFY(QTest::qWaitFor([&] { return first.downloadedSize > 150 * 1024; }, 10000));
            saved = TransferProgress::fromJson(first.transferProgress().toJson());
            total = first.totalSize;
        } // destroyed while running, like a program that quits
        QVERIFY(saved.isValid());
        const int before = server->requests.size();

        server->route("/r.bin").trickleBytes = 0;
        DownloadTask second(server->url("/r.bin"), target("out.bin"), "best");
        second.totalSize = total;
        second.downloadedSize = saved.downloadedBytes();
        second.restoreTransferProgress(saved);
        second.resume();
        QVERIFY(waitForEnd(second));
        QCOMPARE(second.status, 2);
        QVERIFY(readFile(target("out.bin")) == r.body);
        // No probe and no part from its very start: every part continued.
        for (const auto &req : server->requests.mid(before))
            QVERIFY(req.headers.value("range") != "bytes=0-0");
    }

    void changedFileIsFetchedAnewNotSpliced()
    {
        TestHttpServer::Route r;
        r.body = TestHttpServer::randomBody(8 * 32 * 1024, 21);
        r.trickleBytes = 4096;
        r.trickleIntervalMs = 10;
        r.headers = {{"ETag", "\"old\""}};
        server->setRoute("/v.bin", r);
        DownloadTask task(server->url("/v.bin"), target("out.bin"), "best");
        task.start();
        QVERIFY(QTest::qWaitFor([&] { return task.downloadedSize > 64 * 1024; }, 10000));
        task.pause();
        // The file is replaced on the server while the download is paused.
        TestHttpServer::Route &now = server->route("/v.bin");
        now.body = TestHttpServer::randomBody(8 * 32 * 1024 + 5, 22);
        now.headers = {{"ETag", "\"new\""}};
        now.trickleBytes = 0;
        task.resume();
        QVERIFY(waitForEnd(task));
        QCOMPARE(task.status, 2);
        QVERIFY(readFile(target("out.bin")) == now.body);
    }

    void restoredWithoutProgressIsNeverDoneWithMissingBytes()
    {
        TestHttpServer::Route r;
        r.body = TestHttpServer::randomBody(100 * 1024, 23);
        server->setRoute("/n.bin", r);
        // A pre-sized file full of zeros, as a segmented run leaves it.
        {
            QFile f(target("out.bin"));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.resize(r.body.size());
        }
        DownloadTask task(server->url("/n.bin"), target("out.bin"), "best");
        task.totalSize = r.body.size();
        task.downloadedSize = 40 * 1024;
        task.resume();
        QVERIFY(waitForEnd(task));
        QCOMPARE(task.status, 2);
        QVERIFY(readFile(target("out.bin")) == r.body);
    }

    void restoredShorterFileContinuesFromItsLength()
    {
        TestHttpServer::Route r;
        r.body = TestHttpServer::randomBody(1000, 24);
        server->setRoute("/s.bin", r);
        {
            QFile f(target("out.bin"));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(r.body.left(400));
        }
        DownloadTask task(server->url("/s.bin"), target("out.bin"), "best");
        task.totalSize = 1000;
        task.downloadedSize = 400;
        QSignalSpy progress(&task, &DownloadTask::progressUpdated);
        task.resume();
        QCOMPARE(task.downloadedSize, qint64(400));
        QVERIFY(waitForEnd(task));
        QCOMPARE(task.status, 2);
        QCOMPARE(rangesOf(server->requests), QList<QByteArray>{"bytes=400-999"});
        QVERIFY(readFile(target("out.bin")) == r.body);
    }

    void destroyingARunningTaskStopsItsRequests()
    {
        TestHttpServer::Route r;
        r.body = TestHttpServer::randomBody(256 * 1024, 25);
        r.trickleBytes = 1024;
        r.trickleIntervalMs = 20;
        server->setRoute("/d.bin", r);
        auto *task = new DownloadTask(server->url("/d.bin"), target("out.bin"), "best");
        task->start();
        QVERIFY(QTest::qWaitFor([&] { return task->downloadedSize > 0; }, 5000));
        delete task;
        QVERIFY(QTest::qWaitFor([&] { return server->openConnections == 0; }, 5000));
    }
};

QTEST_GUILESS_MAIN(TstHttpTransfer)
#include "tst_httptransfer.moc"
