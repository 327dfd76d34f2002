// The task's life-cycle guards, the rules the task is built on (categories, media hosts, saved
// part progress; the header parsers' promises are fuzz_headers'), and the queue that limits how
// many downloads run at once, with real tasks against the in-process server: who runs, who waits
// and in which order, through every way a run can stop.
#include "engine/categories.h"
#include "engine/downloadqueue.h"
#include "engine/downloadtask.h"
#include "engine/storage/transferprogress.h"
#include "testfiles.h"
#include "testhttpserver.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TstTaskModel : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    TestHttpServer server;
    DownloadQueue *queue = new DownloadQueue(this);
    int mostRunning = 0;

    DownloadTask *task(const char *path, const char *name)
    {
        auto *t = new DownloadTask(server.url(path), dir.filePath(QLatin1String(name)), {}, queue);
        t->setQueue(queue);
        // Count what runs at every report of every task.
        connect(t, &DownloadTask::progressUpdated, this, [this] {
            int running = 0;
            for (const DownloadTask *other : queue->findChildren<DownloadTask *>())
                running += other->status == 1;
            mostRunning = qMax(mostRunning, running);
        });
        return t;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(server.start());
        server.setRoute("/slow.bin", TestHttpServer::randomRoute(512 * 1024, 3));
        server.route("/slow.bin").trickleBytes = 1024;
        server.setRoute("/fast.bin", TestHttpServer::randomRoute(300 * 1024, 4));
        server.setRoute("/missing.bin", {});
        server.route("/missing.bin").status = 404;
    }
    void cleanupTestCase()
    {
        for (DownloadTask *t : queue->findChildren<DownloadTask *>())
            disconnect(t, nullptr, this, nullptr); // the count stops before the tasks go
        delete queue;
    }

    // With one slot, the first start runs and the others wait in order; a waiting task leaves
    // the line when paused, canceled or deleted, and a failed one started again waits like any
    // other. Each way of stopping hands the slot to the oldest waiting task: a pause (the paused
    // task, started again, joins the end of the line), a cancel, a failure and the end of a
    // download. Lifting the limit starts everyone waiting, and a start then runs at once.
    void queueSlotPassesOnInOrder()
    {
        queue->setLimit(1);
        QList<DownloadTask *> ended;
        connect(queue, &DownloadQueue::ended, this, [&ended](DownloadTask *t) { ended.append(t); });
        DownloadTask *a = task("/slow.bin", "a.bin");
        DownloadTask *b = task("/slow.bin", "b.bin");
        DownloadTask *c = task("/missing.bin", "c.bin");
        DownloadTask *d = task("/fast.bin", "d.bin");
        DownloadTask *failed = task("/fast.bin", "e.bin");
        DownloadTask *paused = task("/slow.bin", "p.bin");
        DownloadTask *canceled = task("/slow.bin", "k.bin");
        DownloadTask *deleted = task("/slow.bin", "g.bin");
        failed->status = 3;
        for (DownloadTask *t : {a, paused, b, canceled, c, deleted, d, failed})
            t->start();
        paused->pause();
        canceled->cancel();
        delete deleted;
        QCOMPARE(queue->waiting(), (QList<DownloadTask *>{b, c, d, failed}));
        QVERIFY(b->queued && b->status == 0 && failed->queued && failed->status == 0);
        QVERIFY(!paused->queued && paused->status == 0 && !canceled->queued);

        QTRY_VERIFY(a->downloadedSize > 0);
        a->pause();
        QTRY_COMPARE(b->status, 1);
        a->resume();
        QVERIFY(a->queued && a->status == 0);
        QCOMPARE(queue->waiting(), (QList<DownloadTask *>{c, d, failed, a}));

        server.route("/slow.bin").trickleBytes = 0;
        b->cancel();
        QTRY_COMPARE_WITH_TIMEOUT(a->status, 2, 20000);
        QCOMPARE(QList<int>({b->status, c->status, d->status, failed->status, canceled->status}),
                 QList<int>({4, 3, 2, 2, 4}));
        QCOMPARE(ended, (QList<DownloadTask *>{a, b, c, d, failed, a}));
        QCOMPARE(mostRunning, 1);
        QVERIFY(queue->waiting().isEmpty() && queue->runningCount() == 0);
        QVERIFY(readFile(a->savePath()) == server.route("/slow.bin").body);
        QVERIFY(readFile(d->savePath()) == server.route("/fast.bin").body);

        server.route("/slow.bin").trickleBytes = 1024;
        b->start();
        canceled->start();
        QCOMPARE(queue->waiting(), QList<DownloadTask *>{canceled});
        queue->setLimit(0);
        QTRY_COMPARE(canceled->status, 1);
        paused->resume();
        QCOMPARE(paused->status, 1);
        QCOMPARE(queue->runningCount(), 3);
    }

    // The category comes from the name's last suffix, whatever its case; media mode from that
    // suffix or from the link's host (only the host, not the rest of the link).
    void categoriesAndModes()
    {
        const char *rows[][3] = {
            {"http://a.test/x", "Clip.WEBM", "Videos, media"},
            {"http://a.test/x", "a.tar.gz", "Compressed"},
            {"http://a.test/x", "README", "Other"},
            {"https://www.youtube.com/watch?v=1", "v.bin", "Programs, media"},
            {"https://cdn.dropbox.com/f", "f.zip", "Compressed, media"},
            {"https://a.test/?u=tiktok.com", "f.zip", "Compressed"},
        };
        for (const auto &[url, name, outcome] : rows) {
            DownloadTask task(QUrl(url), dir.filePath(name), "best");
            QCOMPARE(task.category + (task.isMediaTask() ? ", media" : ""), QString(outcome));
        }
    }

    // A second start of a running task, or a start or resume of a done one, would run another
    // transfer over the same file: they do nothing, not even a report. Cancel ends either.
    void guardsAndSignalCounts()
    {
        for (const int status : {1, 2}) {
            // Nothing listens on port 9: a started task stays in its probe while we look.
            DownloadTask task(QUrl("http://127.0.0.1:9/g.bin"), dir.filePath("g.bin"), "best");
            QSignalSpy progress(&task, &DownloadTask::progressUpdated);
            task.pause(); // not running: nothing
            if (status == 2)
                task.status = 2;
            task.start();
            task.start();
            task.resume();
            QCOMPARE(task.status, status);
            QCOMPARE(progress.count(), 0);
            task.cancel();
            QCOMPARE(task.status, 4);
        }
    }

    void savedProgressMustTileTheFile()
    {
        TransferProgress p;
        p.totalSize = 1000;
        p.numParts = 8;
        // Ranges after a split are kept explicitly and must still cover every byte once.
        p.partStarts = {0, 200, 250, 375, 500, 625, 750, 875};
        p.partEnds = {124, 249, 374, 499, 624, 749, 874, 999};
        p.partOffsets = {10, 200, 260, 385, 510, 635, 760, 885};
        QVERIFY(!p.isValid()); // a gap at 125..199
        p.partEnds[0] = 199;
        QVERIFY(p.isValid());
        QCOMPARE(p.downloadedBytes(), qint64(70));
        p.partOffsets[3] = 0; // outside its own range
        QVERIFY(!p.isValid());
    }
};

QTEST_GUILESS_MAIN(TstTaskModel)
#include "tst_taskmodel.moc"
