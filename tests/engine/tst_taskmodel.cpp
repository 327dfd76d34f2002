// The task's life-cycle guards and signal counts, the speed sample, and the pure rules the task
// is built on: categories, media hosts, header parsing and part plans.
#include "engine/categories.h"
#include "engine/downloadtask.h"
#include "engine/httpheaders.h"
#include "engine/transferprogress.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TstTaskModel : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

    DownloadTask *makeTask(const QString &url, const QString &name)
    {
        return new DownloadTask(QUrl(url), dir.filePath(name), "best", this);
    }

private slots:
    void categoriesAndModes_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("category");
        QTest::addColumn<bool>("media");
        QTest::newRow("upper-case video suffix") << "http://a.test/x"
                                                 << "Clip.WEBM"
                                                 << "Videos" << true;
        QTest::newRow("last suffix counts") << "http://a.test/x"
                                            << "archive.tar.gz"
                                            << "Compressed" << false;
        QTest::newRow("no dot") << "http://a.test/x"
                                << "README"
                                << "Other" << false;
        QTest::newRow("program") << "http://a.test/x"
                                 << "setup.msi"
                                 << "Programs" << false;
        QTest::newRow("audio") << "http://a.test/x"
                               << "song.FLAC"
                               << "Audio" << false;
        QTest::newRow("document") << "http://a.test/x"
                                  << "r.pptx"
                                  << "Documents" << false;
        QTest::newRow("media host") << "https://www.youtube.com/watch?v=1"
                                    << "v.bin"
                                    << "Programs" << true;
        QTest::newRow("short host") << "https://youtu.be/abc"
                                    << "v.bin"
                                    << "Programs" << true;
        QTest::newRow("host inside a longer name") << "https://cdn.dropbox.com/f"
                                                   << "f.zip"
                                                   << "Compressed" << true;
        QTest::newRow("host in the query does not count") << "https://a.test/?u=tiktok.com"
                                                          << "f.zip"
                                                          << "Compressed" << false;
        QTest::newRow("host in the path does not count") << "https://a.test/instagram.com/f"
                                                         << "f.pdf"
                                                         << "Documents" << false;
    }
    void categoriesAndModes()
    {
        QFETCH(QString, url);
        QFETCH(QString, name);
        QFETCH(QString, category);
        QFETCH(bool, media);
        DownloadTask task(QUrl(url), dir.filePath(name), "best");
        QCOMPARE(task.category, category);
        QCOMPARE(task.isMediaTask(), media);
        QCOMPARE(task.fileName, name);
        QCOMPARE(task.status, 0);
    }

    void hostListIsTheSevenInOrder()
    {
        QCOMPARE(mediaHosts(),
                 (QStringList{"youtube.com", "youtu.be", "facebook.com", "instagram.com",
                              "tiktok.com", "twitter.com", "x.com"}));
        QCOMPARE(categoryNames(),
                 (QStringList{"Videos", "Audio", "Programs", "Compressed", "Documents", "Other"}));
        // The suffix lists never overlap: a suffix belongs to one category.
        QCOMPARE(categoryForSuffix("bin"), QString("Programs"));
        QCOMPARE(categoryForSuffix("exfat"), QString("Compressed"));
        QCOMPARE(categoryForSuffix(""), QString("Other"));
    }

    void guardsAndSignalCounts()
    {
        // A task on a closed port: start() reaches the network but nothing answers in time.
        DownloadTask *task = makeTask("http://127.0.0.1:9/none.bin", "g.bin");
        QSignalSpy progress(task, &DownloadTask::progressUpdated);

        task->pause(); // not running: nothing
        QCOMPARE(progress.count(), 0);
        QCOMPARE(task->status, 0);

        task->start();
        QCOMPARE(task->status, 1);
        QCOMPARE(progress.count(), 0); // start() itself emits nothing
        task->start();                 // already running: nothing
        QCOMPARE(progress.count(), 0);

        // Cancel while running: once from the pause (status 0), once as canceled.
        QList<int> seen;
        connect(task, &DownloadTask::progressUpdated, this, [&] { seen.append(task->status); });
        task->cancel();
        QCOMPARE(seen, (QList<int>{0, 4}));
        QCOMPARE(task->status, 4);

        // Cancel on a paused task: one signal.
        DownloadTask *paused = makeTask("http://127.0.0.1:9/p.bin", "p.bin");
        QSignalSpy pausedSpy(paused, &DownloadTask::progressUpdated);
        paused->cancel();
        QCOMPARE(pausedSpy.count(), 1);
        QCOMPARE(paused->status, 4);

        // A done task ignores start and resume but can still be canceled.
        DownloadTask *done = makeTask("http://127.0.0.1:9/d.bin", "d.bin");
        done->status = 2;
        QSignalSpy doneSpy(done, &DownloadTask::progressUpdated);
        done->start();
        done->resume();
        QCOMPARE(done->status, 2);
        QCOMPARE(doneSpy.count(), 0);
        done->cancel();
        QCOMPARE(done->status, 4);
    }

    void speedSampleIsTheRateOfTheLastInterval()
    {
        DownloadTask task(QUrl("http://127.0.0.1:9/s.bin"), dir.filePath("s.bin"), "best");
        task.status = 1; // sampled as if running, without any network
        task.downloadedSize = 300;
        QMetaObject::invokeMethod(&task, "updateSpeed");
        QTest::qWait(500);
        task.downloadedSize = 800;
        QSignalSpy progress(&task, &DownloadTask::progressUpdated);
        QMetaObject::invokeMethod(&task, "updateSpeed");
        QCOMPARE(progress.count(), 1);
        // 500 bytes over about 500 ms.
        QVERIFY2(task.currentSpeed > 900.0 && task.currentSpeed <= 1000.0,
                 qPrintable(QString::number(task.currentSpeed)));
        task.status = 0;
        const double before = task.currentSpeed;
        task.downloadedSize = 5000;
        QMetaObject::invokeMethod(&task, "updateSpeed");
        QCOMPARE(task.currentSpeed, before); // not running: the tick does nothing
        QCOMPARE(progress.count(), 1);
    }

    void headerParsing()
    {
        QCOMPARE(contentRangeTotal("bytes 0-0/1000"), qint64(1000));
        QCOMPARE(contentRangeTotal("bytes 0-0/*"), qint64(0));
        QCOMPARE(contentRangeTotal("bytes 0-0"), qint64(0));
        QCOMPARE(contentRangeTotal("bytes 0-0/5000000000"), qint64(5000000000));
        QCOMPARE(parseDecimalHeader(" 42 "), qint64(42));
        QCOMPARE(parseDecimalHeader("-1"), qint64(0));
        QCOMPARE(parseDecimalHeader("12abc"), qint64(0));
        const ContentRange cr = parseContentRange("bytes 875-1002/1003");
        QVERIFY(cr.valid);
        QCOMPARE(cr.first, qint64(875));
        QCOMPARE(cr.last, qint64(1002));
        QCOMPARE(cr.total, qint64(1003));
        QVERIFY(!parseContentRange("bytes 10-5/100").valid);
        QVERIFY(!parseContentRange("bytes 0-100/100").valid);
        QCOMPARE(parseContentRange("bytes 0-9/*").total, qint64(-1));
    }

    void partPlans()
    {
        QCOMPARE(partCountFor(1000), 8);
        QCOMPARE(partCountFor(3), 3);
        QCOMPARE(partRange(1000, 8, 0).last, qint64(124));
        QCOMPARE(partRange(1003, 8, 7).first, qint64(875));
        QCOMPARE(partRange(1003, 8, 7).last, qint64(1002));
        // Saved progress must match its own plan to be used at all.
        TransferProgress p;
        p.totalSize = 1000;
        p.numParts = 8;
        for (int i = 0; i < 8; ++i)
            p.partOffsets.append(partRange(1000, 8, i).first + 10);
        QVERIFY(p.isValid());
        QCOMPARE(p.downloadedBytes(), qint64(80));
        const TransferProgress back = TransferProgress::fromJson(p.toJson());
        QCOMPARE(back.partOffsets, p.partOffsets);
        // Ranges after a split: they must still tile the file exactly.
        TransferProgress split = p;
        split.partStarts = {0, 125, 250, 375, 500, 625, 750, 875};
        split.partEnds = {124, 249, 374, 499, 624, 749, 874, 999};
        split.partStarts[1] = 200; // part 0 took over 125..199? no: now a gap at 125..199
        QVERIFY(!split.isValid());
        split.partEnds[0] = 199;
        split.partOffsets[0] = 150;
        split.partOffsets[1] = 200;
        QVERIFY(split.isValid());
        QCOMPARE(TransferProgress::fromJson(split.toJson()).partEnds, split.partEnds);
        QCOMPARE(split.downloadedBytes(), qint64(150 + 0 + 6 * 10));
        p.partOffsets[3] = 0; // outside part 3's range
        QVERIFY(!p.isValid());
        p.partOffsets.removeLast();
        QVERIFY(!p.isValid());
    }
};

QTEST_GUILESS_MAIN(TstTaskModel)
#include "tst_taskmodel.moc"
