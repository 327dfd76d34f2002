// The speed a task shows (a sliding window over its samples), the rate texts of a speed limit, and
// the limit shared by several downloads measured against the in-process server.
#include "engine/bandwidthlimiter.h"
#include "engine/downloadtask.h"
#include "engine/ratetext.h"
#include "engine/speedwindow.h"
#include "testdownloads.h"
#include "testhttpserver.h"

#include <QTemporaryDir>
#include <QTest>

#include <memory>

class TstBandwidth : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void speedFollowsTheAverage_data()
    {
        QTest::addColumn<int>("burstAtMs"); // when in each second its megabyte lands
        QTest::addColumn<int>("jitterMs");  // bursts alternately this much earlier and later
        QTest::newRow("bursts between samples") << 250 << 0;
        QTest::newRow("bursts on the samples, early and late") << 500 << 5;
    }
    // Samples twice a second of a transfer at 1 MB/s that comes in bursts: the first figure comes
    // with the first sample, counted from the bytes at the start; later ones stay close to the
    // average however the bursts fall against the samples; when the bytes stop the figure falls
    // to zero, and a count started again (fewer bytes) is no negative speed.
    void speedFollowsTheAverage()
    {
        QFETCH(int, burstAtMs);
        QFETCH(int, jitterMs);
        auto received = [&](qint64 ms) {
            qint64 bursts = 0;
            while (bursts * 1000 + burstAtMs + (bursts % 2 ? jitterMs : -jitterMs) <= ms)
                ++bursts;
            return 300 + bursts * 1000000;
        };
        SpeedWindow window;
        window.reset(0, 300);
        QCOMPARE(window.rate(), 0.0);
        for (qint64 ms = 500; ms <= 20000; ms += 500) {
            window.add(ms, received(ms));
            if (ms == 500)
                QCOMPARE(window.rate(), 2e6);
            if (ms >= 3500)
                QVERIFY2(qAbs(window.rate() - 1e6) <= 0.2e6,
                         qPrintable(QStringLiteral("%1 ms: %2").arg(ms).arg(window.rate())));
        }
        for (qint64 ms = 20500; ms <= 25000; ms += 500)
            window.add(ms, received(20000));
        QCOMPARE(window.rate(), 0.0);
        window.add(25500, 50);
        QCOMPARE(window.rate(), 0.0);
    }

    void rateText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("bytesPerSecond");
        QTest::newRow("plain bytes") << "1500" << qint64(1500);
        QTest::newRow("m, either case") << "2m" << qint64(2097152);
        QTest::newRow("K") << "100K" << qint64(102400);
        QTest::newRow("zero: no limit") << "0" << qint64(0);
        QTest::newRow("empty") << "" << qint64(-1);
        QTest::newRow("other unit") << "2X" << qint64(-1);
        QTest::newRow("negative") << "-1" << qint64(-1);
        QTest::newRow("too large, in G") << "9000000000G" << qint64(-1);
    }
    void rateText()
    {
        QFETCH(QString, text);
        QFETCH(qint64, bytesPerSecond);
        QCOMPARE(parseRateText(text), bytesPerSecond);
    }

    // Limits of a few bytes a second still deliver, at their pace, and the parts waiting for
    // their next byte are not taken for stalled connections. A download's own limit works inside
    // the shared one: the lower of the two holds, also when its own is set while it runs, and
    // without any shared limiter.
    void tinyLimitsDeliverEveryByte_data()
    {
        QTest::addColumn<qint64>("limit"); // the shared one; -1: no shared limiter at all
        QTest::addColumn<qint64>("ownLimit");
        QTest::addColumn<int>("size");
        QTest::newRow("1 B/s, three parts") << qint64(1) << qint64(0) << 3;
        QTest::newRow("own 8 B/s under a shared 1M") << qint64(1 << 20) << qint64(8) << 18;
        QTest::newRow("shared 8 B/s over an own 1M") << qint64(8) << qint64(1 << 20) << 18;
        QTest::newRow("own 8 B/s, no shared limiter") << qint64(-1) << qint64(8) << 18;
    }
    void tinyLimitsDeliverEveryByte()
    {
        QFETCH(qint64, limit);
        QFETCH(qint64, ownLimit);
        QFETCH(int, size);
        TestHttpServer server;
        QVERIFY(server.start());
        const auto r = TestHttpServer::randomRoute(size, 50);
        server.setRoute("/tiny", r);
        BandwidthLimiter limiter;
        limiter.setLimit(limit);
        DownloadTask task(server.url("/tiny"), dir.filePath("tiny"), "best");
        if (limit >= 0)
            task.setBandwidthLimiter(&limiter);
        task.setStallTimeoutMs(1000);
        QElapsedTimer clock;
        clock.start();
        task.start();
        task.setSpeedLimit(ownLimit); // while its probe is out
        QCOMPARE(downloadFault(task, r.body, 30000), QString());
        // At most a byte ahead of the lower limit, and no part was asked twice.
        const qint64 pace = limit > 0 && (ownLimit <= 0 || limit < ownLimit) ? limit : ownLimit;
        QVERIFY(clock.elapsed() >= 1000 * (size - 1) / pace);
        QCOMPARE(server.requestsFor("/tiny").size(), 1 + qMin(size, 8));
    }

    // Two downloads of eight parts each under one limit: together they keep to it, every part
    // moves, a pause and resume go on from where they were, and lifting the limit lets both
    // finish at once with the served bytes.
    void sharedLimitHoldsAcrossTasks()
    {
        TestHttpServer server;
        QVERIFY(server.start());
        const qint64 limit = 2 * 1024 * 1024;
        QList<QByteArray> bodies;
        std::vector<std::unique_ptr<DownloadTask>> tasks;
        BandwidthLimiter limiter;
        limiter.setLimit(limit);
        for (int i = 0; i < 2; ++i) {
            const QByteArray path = "/shared" + QByteArray::number(i);
            server.setRoute(path, TestHttpServer::randomRoute(16 * 1024 * 1024 + i, 40 + i));
            bodies.append(server.route(path).body);
            tasks.push_back(std::make_unique<DownloadTask>(
                server.url(path), dir.filePath(QString::number(i)), "best"));
            tasks.back()->setBandwidthLimiter(&limiter);
            tasks.back()->start();
        }
        auto received = [&] {
            return tasks[0]->downloadedSize + tasks[1]->downloadedSize;
        };
        auto offsets = [&] {
            return tasks[0]->transferProgress().partOffsets +
                   tasks[1]->transferProgress().partOffsets;
        };
        QVERIFY(QTest::qWaitFor(
            [&] { return tasks[0]->downloadedSize && tasks[1]->downloadedSize; }, 10000));
        QTest::qWait(1000);
        // A media tool started now would get its share of the limit beside the two downloads.
        QCOMPARE(limiter.beginMediaRun(this), limit / 3);
        limiter.endMediaRun(this);

        QElapsedTimer clock;
        clock.start();
        const qint64 before = received();
        const QVector<qint64> partsBefore = offsets();
        QTest::qWait(6000);
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        const double rate = double(received() - before) / seconds;
        const QVector<qint64> partsAfter = offsets();
        // The refill counts the time that passed, not the ticks, so a busy machine stays close.
        QVERIFY2(rate > 0.95 * limit && rate < 1.05 * limit,
                 qPrintable(QStringLiteral("%1 bytes/s").arg(rate, 0, 'f', 0)));
        QCOMPARE(partsAfter.size(), 16);
        const double fairShare = rate * seconds / 16;
        for (int i = 0; i < 16; ++i)
            QVERIFY2(partsAfter[i] - partsBefore[i] > 0.5 * fairShare,
                     qPrintable(QString::number(i)));

        // Connections given up by a pause and asked anew by the resume, still under the limit.
        tasks[0]->pause();
        tasks[0]->resume();
        QTest::qWait(500);
        limiter.setLimit(0);
        for (int i = 0; i < 2; ++i)
            QCOMPARE(downloadFault(*tasks[i], bodies[i], 30000), QString());
    }
};

QTEST_GUILESS_MAIN(TstBandwidth)
#include "tst_bandwidth.moc"
