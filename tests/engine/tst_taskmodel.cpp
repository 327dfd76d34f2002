// The task's life-cycle guards, and the rules the task is built on: categories, media hosts and
// saved part progress (the header parsers' promises are fuzz_headers').
#include "engine/categories.h"
#include "engine/downloadtask.h"
#include "engine/storage/transferprogress.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TstTaskModel : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void categoriesAndModes_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("category");
        QTest::addColumn<bool>("media");
        const struct {
            const char *tag, *url, *name, *category;
            bool media;
        } rows[] = {
            {"upper-case video suffix", "http://a.test/x", "Clip.WEBM", "Videos", true},
            {"last suffix counts", "http://a.test/x", "a.tar.gz", "Compressed", false},
            {"no dot", "http://a.test/x", "README", "Other", false},
            {"media host", "https://www.youtube.com/watch?v=1", "v.bin", "Programs", true},
            {"inside a longer host", "https://cdn.dropbox.com/f", "f.zip", "Compressed", true},
            // Only the host counts, not the rest of the link.
            {"host in the query", "https://a.test/?u=tiktok.com", "f.zip", "Compressed", false},
        };
        for (const auto &r : rows)
            QTest::newRow(r.tag) << QString(r.url) << QString(r.name) << QString(r.category)
                                 << r.media;
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
        for (int i = 0; i < 8; ++i)
            p.partOffsets.append(partRange(1000, 8, i).first + 10);
        QVERIFY(p.isValid());
        QCOMPARE(p.downloadedBytes(), qint64(80));
        // Ranges after a split are kept explicitly and must still cover every byte once.
        p.partStarts = {0, 200, 250, 375, 500, 625, 750, 875};
        p.partEnds = {124, 249, 374, 499, 624, 749, 874, 999};
        p.partOffsets[1] = 200;
        QVERIFY(!p.isValid()); // a gap at 125..199
        p.partEnds[0] = 199;
        QVERIFY(p.isValid());
        p.partOffsets[3] = 0; // outside its own range
        QVERIFY(!p.isValid());
    }
};

QTEST_GUILESS_MAIN(TstTaskModel)
#include "tst_taskmodel.moc"
