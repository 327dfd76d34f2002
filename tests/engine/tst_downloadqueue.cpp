// The queue that limits how many downloads run at once, with real tasks against the in-process
// server: who runs, who waits and in which order, through every way a run can stop.
#include "engine/downloadqueue.h"
#include "engine/downloadtask.h"
#include "testfiles.h"
#include "testhttpserver.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TstDownloadQueue : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    TestHttpServer server;
    DownloadQueue *queue = nullptr;
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
        TestHttpServer::Route slow;
        slow.body = TestHttpServer::randomBody(512 * 1024, 3);
        slow.trickleBytes = 1024;
        server.setRoute("/slow.bin", slow);
        server.setRoute("/fast.bin", {});
        server.route("/fast.bin").body = TestHttpServer::randomBody(300 * 1024, 4);
        server.setRoute("/missing.bin", {});
        server.route("/missing.bin").status = 404;
    }

    void init()
    {
        queue = new DownloadQueue(this);
        mostRunning = 0;
    }
    void cleanup()
    {
        for (DownloadTask *t : queue->findChildren<DownloadTask *>())
            disconnect(t, nullptr, this, nullptr); // the count stops before the tasks go
        delete queue;
        server.route("/slow.bin").trickleBytes = 1024;
    }

    // With one slot, four starts: the first runs and the others wait in order. Each way of
    // stopping hands the slot to the oldest waiting task: a pause (the paused task, started
    // again, joins the end of the line), a cancel, a failure and the end of a download.
    void slotPassesOnInOrder()
    {
        queue->setLimit(1);
        QList<DownloadTask *> ended;
        connect(queue, &DownloadQueue::ended, this, [&ended](DownloadTask *t) { ended.append(t); });
        DownloadTask *a = task("/slow.bin", "a.bin");
        DownloadTask *b = task("/slow.bin", "b.bin");
        DownloadTask *c = task("/missing.bin", "c.bin");
        DownloadTask *d = task("/fast.bin", "d.bin");
        for (DownloadTask *t : {a, b, c, d})
            t->start();
        QCOMPARE(a->status, 1);
        QCOMPARE(queue->waiting(), (QList<DownloadTask *>{b, c, d}));
        QVERIFY(b->queued && b->status == 0 && d->queued);

        QTRY_VERIFY(a->downloadedSize > 0);
        a->pause();
        QVERIFY(!a->queued);
        QTRY_COMPARE(b->status, 1);
        a->resume();
        QVERIFY(a->queued && a->status == 0);
        QCOMPARE(queue->waiting(), (QList<DownloadTask *>{c, d, a}));

        server.route("/slow.bin").trickleBytes = 0;
        b->cancel();
        QTRY_COMPARE_WITH_TIMEOUT(a->status, 2, 20000);
        QCOMPARE(QList<int>({b->status, c->status, d->status}), QList<int>({4, 3, 2}));
        QCOMPARE(ended, (QList<DownloadTask *>{a, b, c, d, a}));
        QCOMPARE(mostRunning, 1);
        QVERIFY(queue->waiting().isEmpty() && queue->runningCount() == 0);
        QVERIFY(readFile(a->savePath()) == server.route("/slow.bin").body);
        QVERIFY(readFile(d->savePath()) == server.route("/fast.bin").body);
    }

    // A waiting task leaves the line when paused, canceled or deleted; a failed one retried
    // waits like any other. Lifting the limit starts everyone waiting.
    void waitingTasksLeaveAndJoin()
    {
        queue->setLimit(1);
        QSignalSpy changed(queue, &DownloadQueue::changed);
        DownloadTask *a = task("/slow.bin", "a2.bin");
        DownloadTask *b = task("/slow.bin", "b2.bin");
        DownloadTask *c = task("/slow.bin", "c2.bin");
        DownloadTask *d = task("/slow.bin", "d2.bin");
        DownloadTask *failed = task("/slow.bin", "e2.bin");
        failed->status = 3;
        for (DownloadTask *t : {a, b, c, d, failed})
            t->start();
        QVERIFY(failed->queued && failed->status == 0);
        b->pause();
        c->cancel();
        delete d;
        QVERIFY(!b->queued && b->status == 0 && !c->queued && c->status == 4);
        QCOMPARE(queue->waiting(), QList<DownloadTask *>{failed});
        QCOMPARE(changed.size(), 7); // four joined, three left

        queue->setLimit(0);
        QTRY_COMPARE(failed->status, 1);
        b->resume();
        QCOMPARE(b->status, 1);
        QCOMPARE(queue->runningCount(), 3);
    }
};

QTEST_GUILESS_MAIN(TstDownloadQueue)
#include "tst_downloadqueue.moc"
