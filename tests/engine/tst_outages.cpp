// Outages are waited out: a server that answers 503 for a while, or is away when the download
// starts, is waited for, and the download completes byte-exact with no retry by hand. An outage
// longer than the user allows ends in error with its reason, resumable from the bytes on the disk.
// (A server that restarts mid-download is the "outage waited out" row of tst_fetchtool; a missing
// file still failing at once is tst_downloadqueue's.)
#include "engine/downloadtask.h"
#include "engine/http/retryschedule.h"
#include "engine/networkwatch.h"
#include "language/translation.h"
#include "testdownloads.h"
#include "testhttpserver.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class TstOutages : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    std::unique_ptr<TestHttpServer> server;
    QByteArray body;
    bool sawWaiting = false;

    // A download of /f.bin whose waits start at `baseMs`, noting whether it ever showed a wait.
    std::unique_ptr<DownloadTask> task(int baseMs)
    {
        auto t = std::make_unique<DownloadTask>(server->url("/f.bin"), dir.filePath("f.bin"), "");
        t->setRetryBaseDelayMs(baseMs);
        DownloadTask *raw = t.get();
        connect(raw, &DownloadTask::progressUpdated, this, [this, raw] {
            if (raw->retryInSeconds >= 0 && !raw->lastDlpMessage.isEmpty())
                sawWaiting = true;
        });
        return t;
    }

private slots:
    void initTestCase() { g_lang = QStringLiteral("en"); }
    void init()
    {
        // A request's failure reported twice (an abort on top of its own error).
        QTest::failOnWarning(QRegularExpression("must only be called once"));
        QFile::remove(dir.filePath("f.bin"));
        server = std::make_unique<TestHttpServer>();
        QVERIFY(server->start());
        // Trickled, so that every part is still running when the server goes.
        auto r = TestHttpServer::randomRoute(1024 * 1024 + 5, 3);
        body = r.body;
        r.trickleBytes = 4096;
        r.trickleIntervalMs = 10;
        r.headers = {{"ETag", "\"v1\""}};
        server->setRoute("/f.bin", r);
        sawWaiting = false;
    }
    void cleanup() { setGiveUpAfterMs(10 * 60 * 1000); }

    void retryAfter_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<qint64>("ms");
        QTest::newRow("seconds") << QByteArray(" 120 ") << qint64(120000);
        QTest::newRow("seconds past the cap") << QByteArray("86400") << kRetryAfterCapMs;
        QTest::newRow("negative") << QByteArray("-3") << qint64(-1);
        QTest::newRow("absent") << QByteArray() << qint64(-1);
        QTest::newRow("words") << QByteArray("soon") << qint64(-1);
        QTest::newRow("IMF date") << QByteArray("Mon, 07 Dec 2026 12:00:30 GMT") << qint64(30000);
        QTest::newRow("RFC 850 date")
            << QByteArray("Monday, 07-Dec-26 12:01:00 GMT") << qint64(60000);
        QTest::newRow("asctime date") << QByteArray("Mon Dec  7 12:00:10 2026") << qint64(10000);
        QTest::newRow("date gone by") << QByteArray("Sun, 06 Dec 2026 12:00:00 GMT") << qint64(0);
        QTest::newRow("date past the cap")
            << QByteArray("Tue, 08 Dec 2026 12:00:00 GMT") << kRetryAfterCapMs;
    }
    void retryAfter()
    {
        QFETCH(QByteArray, value);
        QFETCH(qint64, ms);
        const QDateTime now(QDate(2026, 12, 7), QTime(12, 0), Qt::UTC);
        QCOMPARE(retryAfterMs(value, now), ms);
    }

    void waitedOut_data()
    {
        QTest::addColumn<QString>("outage");
        QTest::newRow("503 with Retry-After for a while") << "503";
        QTest::newRow("server away at the start") << "start";
        QTest::newRow("network back: no wait to the end") << "network";
        QTest::newRow("longer than allowed: fails, and a resume continues") << "too long";
    }
    // Waited out; or, past the time allowed, failed with its reason and resumed by hand.
    void waitedOut()
    {
        QFETCH(QString, outage);
        // Only the news of the network ends a wait this long in time.
        auto t = task(outage == "network" ? 60000 : 50);
        if (outage == "too long") {
            server->goAwayAfterBytes(body.size() / 3, 2500);
            setGiveUpAfterMs(500);
        } else if (outage == "503") {
            TestHttpServer::Route &r = server->route("/f.bin");
            r.failRequests = {2, 3, 4, 5, 6, 7, 8, 9, 10, 11}; // every part, and two tries more
            r.failRetryAfter = "1";
        } else {
            server->goAway(outage == "start" ? 1200 : 300);
        }
        QElapsedTimer clock;
        clock.start();
        t->start();
        int requestsBefore = 0;
        if (outage == "network") {
            QVERIFY(QTest::qWaitFor([&] { return server->isListening() && sawWaiting; }, 5000));
            emit NetworkWatch::shared()->regained();
        } else if (outage == "too long") { // fails with its reason, resumable
            QVERIFY(waitForEnd(*t));
            QCOMPARE(t->status, 3);
            QCOMPARE(t->retryInSeconds, -1);
            QCOMPARE(t->lastDlpMessage, QStringLiteral("Connection failed: Connection refused"));
            QVERIFY(QTest::qWaitFor([&] { return server->isListening(); }, 5000));
            requestsBefore = int(server->requests.size());
            t->resume();
        }
        QCOMPARE(downloadFault(*t, body), QString());
        QVERIFY(sawWaiting);
        QCOMPARE(t->retryInSeconds, -1);
        QVERIFY(t->lastDlpMessage.isEmpty());
        const QList<TestHttpServer::Request> requests = server->requestsFor("/f.bin");
        if (outage == "too long") { // from the bytes on the disk
            QVERIFY(TestHttpServer::bytesAskedFor(server->requests.mid(requestsBefore)) <
                    body.size());
        } else if (outage == "503") {
            QVERIFY(clock.elapsed() >= 2000); // two rounds of the second the server asked for
        } else {
            // The probe was asked again, and the file still came in eight parts.
            QVERIFY(requests.size() >= 9);
            QCOMPARE(requests.first().headers.value("range"), QByteArray("bytes=0-0"));
        }
    }
};

QTEST_GUILESS_MAIN(TstOutages)
#include "tst_outages.moc"
