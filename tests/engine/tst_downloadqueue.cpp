// The queue that limits how many downloads run at once, with real tasks against the in-process
// server: who runs, who waits and in which order, through every way a run can stop.
#include "engine/downloadqueue.h"
#include "engine/downloadtask.h"
#include "testfiles.h"
#include "testhttpserver.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TstDownloadQueue : public QObject {
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
    void slotPassesOnInOrder()
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
        QCOMPARE(a->status, 1);
        QCOMPARE(queue->waiting(), (QList<DownloadTask *>{b, c, d, failed}));
        QVERIFY(b->queued && b->status == 0 && failed->queued && failed->status == 0);
        QVERIFY(!paused->queued && paused->status == 0 && !canceled->queued);

        QTRY_VERIFY(a->downloadedSize > 0);
        a->pause();
        QVERIFY(!a->queued);
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
};

QTEST_GUILESS_MAIN(TstDownloadQueue)
#include "tst_downloadqueue.moc"
