#include "engine/downloadtask.h"
#include "engine/http/trustedcertificates.h"
#include "engine/storage/filehasher.h"
#include "language/translation.h"
#include "messageboxdriver.h"
#include "testdownloads.h"
#include "testhttpserver.h"
#include "views/downloadcard.h"
#include "views/downloaddetailsdialog.h"
#include "views/tasklist.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>

// What the user sees of downloads: a card in each state, a task's details dialog, then the list
// with many more tasks than cards after filtering, scrolling, selecting, adding and removing.
// Tasks are put into their states by hand; the engine runs only to fetch again a finished
// download whose file has gone.
class TestViews : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QWidget standalone;         // holds every task, and the cards outside the list
    TaskList list;              // declared after the tasks' holder, it goes before them
    QList<DownloadTask *> made; // the list's tasks, oldest first

    DownloadTask *task(const QString &name, int status, QUrl link = {})
    {
        if (link.isEmpty())
            link = QUrl("http://127.0.0.1:9/" + name);
        auto *t = new DownloadTask(link, dir.filePath(name), {}, &standalone);
        t->status = status;
        return t;
    }

    template <typename W = QLabel> static W *child(QObject *in, const char *name)
    {
        return in->findChild<W *>(QLatin1String(name));
    }

    // Task i of the list: name "t<i>.<ext>" with the extension and status cycling through these.
    static constexpr int kTasks = 240;
    static constexpr const char *kSuffixes[] = {"zip", "pdf", "exe", "mp3", "iso", "txt"};
    static constexpr int kStatuses[] = {2, 0, 3, 2, 4, 1, 0};
    DownloadTask *addTask(int i)
    {
        DownloadTask *t =
            task(QStringLiteral("t%1.%2").arg(i).arg(kSuffixes[i % 6]), kStatuses[i % 7]);
        t->totalSize = 1000 * 1048576LL;
        t->downloadedSize = i * 1048576LL;
        list.addTask(t);
        emit t->progressUpdated();
        made.append(t);
        return t;
    }

    // The tasks of the cards on screen, top to bottom.
    QList<DownloadTask *> tasksOnScreen() const
    {
        QMap<int, DownloadTask *> byTop;
        const QRect view = list.viewport()->rect();
        for (DownloadCard *card : list.viewport()->findChildren<DownloadCard *>())
            if (card->isVisible() && view.intersects(card->geometry()))
                byTop.insert(card->y(), card->getTask());
        return byTop.values();
    }

    QString cardTexts(DownloadTask *task)
    {
        list.scrollToTask(task);
        DownloadCard *card = list.cardFor(task);
        if (!card)
            return QStringLiteral("<no card>");
        QStringList texts;
        for (QLabel *label : card->findChildren<QLabel *>())
            if (!label->text().isEmpty())
                texts.append(label->text());
        return texts.join(QLatin1Char('|'));
    }

    void scrollTo(int value)
    {
        list.verticalScrollBar()->setValue(value);
        QCoreApplication::processEvents();
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        g_lang = QStringLiteral("en"); // also for a function run on its own
    }

    void cardStatesAndFiles()
    {
        // Task: status ("v" verified, "c" being checked, "w" waiting 8 s for its server), total and
        // done (MiB), speed (MiB/s), tool line length, tool eta. Card: speed, eta, size, percent,
        // bar state and value, buttons shown (cancel, toggle, play, folder, delete).
        const QStringList rows = {
            "1 700 12.5 2 0 -|2.00 MB/s|5m 43s|12.50 / 700.00 MB|1%|downloading|1|11011",
            "0 100 50 0 0 00:42|Paused|--:--|50.00 / 100.00 MB|50%|paused|50|11011",
            "2v 5120 5120 0 0 -|Verified (SHA-256)||5120.00 MB|100%|done|100|00111",
            "1c 700 700 0 0 -|Verifying...|--:--|700.00 / 700.00 MB|100%|downloading|100|11011",
            // Waiting out an outage: the countdown instead of the speed and the remaining time.
            "1w 700 12.5 0 8 -|Waiting for the server — retrying in 8 s||12.50 / 700.00 MB|1%|"
            "paused|1|11011",
            // Failed, with why, cut the same way.
            "3 10 3 0 41 -|Error|" + QString(37, 'x') + "...|3.00 / 10.00 MB|30%|error|30|10011",
            "4 10 1 0 0 -|Canceled||1.00 / 10.00 MB|10%|error|10|10011",
            // Hostile numbers: no overflow of the percentage, no negative or endless time left.
            "0 100 95367431640 0 0 -|Paused|--:--|95367431640.00 / 100.00 MB|999%|paused|100|11011",
            "1 100 104 1 0 -|1.00 MB/s|--:--|104.00 / 100.00 MB|104%|downloading|100|11011",
            "1 10240 0 0.00000095367431640625 0 -|0.00 MB/s|--:--|0.00 / 10240.00 MB|0%|"
            "downloading|0|11011",
            // Unknown size: the tool's line instead of sizes, cut after 40 characters.
            "1 0 3 1 41 -|1.00 MB/s|--:--|" + QString(37, 'x') + "...|...|downloading|busy|11011",
            "1 0 0 0 40 -|0.00 MB/s|--:--|" + QString(40, 'x') + "|...|downloading|busy|11011"};
        for (const QString &row : rows) {
            const QStringList in = row.section('|', 0, 0).split(' ');
            DownloadCard *card = new DownloadCard(task("file.zip", 0), &standalone);
            DownloadTask *t = card->getTask();
            t->status = in[0].left(1).toInt();
            t->checking = in[0].endsWith('c');
            t->retryInSeconds = in[0].endsWith('w') ? 8 : -1;
            if (in[0].endsWith('v'))
                t->checksum.state = ChecksumResult::Verified;
            t->totalSize = qint64(in[1].toDouble() * 1048576);
            t->downloadedSize = qint64(in[2].toDouble() * 1048576);
            t->currentSpeed = in[3].toDouble() * 1048576;
            t->lastDlpMessage = QString(in[4].toInt(), 'x');
            t->dlpEtaStr = in[5] == QLatin1String("-") ? QString() : in[5];
            emit t->progressUpdated();

            QString shown;
            for (QPushButton *b : {card->btnCancel, card->btnToggle, card->btnPlay, card->btnFolder,
                                   card->btnDelete})
                shown += b->isVisibleTo(card) ? '1' : '0';
            const QString bar =
                card->prog->maximum() ? QString::number(card->prog->value()) : "busy";
            const QString got = QStringLiteral("%1|%2|%3|%4|%5|%6|%7")
                                    .arg(card->speedLbl->text(), card->etaLbl->text(),
                                         card->sizeLbl->text(), card->percentLbl->text(),
                                         card->prog->property("status").toString(), bar, shown);
            QCOMPARE(row.section('|', 0, 0) + '|' + got, row);
        }

        // A new card makes its folders and an empty placeholder, and leaves an existing file as it
        // is; a finished download whose file the user moved or deleted gets none: its card says
        // so, Open File has nothing to open, and the pause/resume button fetches the file again.
        // Deleting asks whether the file goes too.
        QVERIFY(writeFile(dir.filePath(QStringLiteral("kept.txt")), "content"));
        const QList<DownloadCard *> cards = {
            new DownloadCard(task("deep/er/name.pdf", 0), &standalone),
            new DownloadCard(task("kept.txt", 0), &standalone),
            new DownloadCard(task("f.zip", 0), &standalone)};
        const QFileInfo placeholder(cards[0]->getTask()->savePath());
        QVERIFY(placeholder.exists() && placeholder.size() == 0);
        TestHttpServer server;
        QVERIFY(server.start());
        const TestHttpServer::Route route = TestHttpServer::randomRoute(3 * 1048576, 5);
        server.setRoute("/gone.iso", route);
        DownloadTask *gone = task("gone.iso", 2, server.url("/gone.iso"));
        gone->totalSize = gone->downloadedSize = route.body.size();
        DownloadCard *card = new DownloadCard(gone, &standalone);
        emit gone->progressUpdated(); // as the list does for a task restored from the saved list
        QVERIFY(!QFile::exists(gone->savePath()));
        QCOMPARE(card->speedLbl->text(), QStringLiteral("File missing"));
        QVERIFY(card->btnPlay->isVisibleTo(card) && !card->btnPlay->isEnabled());
        card->btnToggle->click();
        QCOMPARE(downloadFault(*gone, route.body), QString());
        QCOMPARE(card->speedLbl->text(), QStringLiteral("Done"));
        QVERIFY(card->btnPlay->isEnabled() && !card->btnToggle->isVisibleTo(card));

        // Delete: the answer, then whether the file is still there, the delete requests and the
        // task's status (the transfer is stopped before its file goes).
        const QList<QPair<QString, QList<int>>> answers = {{"Delete List & File", {0, 1, 4}},
                                                           {"Delete from List Only", {1, 1, 0}},
                                                           {"Cancel", {1, 0, 0}}};
        for (int i = 0; i < 3; ++i) {
            DownloadTask *task = cards[i]->getTask(); // paused
            QSignalSpy spy(cards[i], &DownloadCard::requestDelete);
            answerNextMessageBox(answers[i].first);
            cards[i]->btnDelete->click();
            const QList<int> got = {QFile::exists(task->savePath()), int(spy.count()),
                                    task->status};
            QCOMPARE(got, answers[i].second);
        }
        QCOMPARE(readFile(dir.filePath(QStringLiteral("kept.txt"))), QByteArray("content"));
    }

    // Arabic mirrors the dialog but not its paths, and a language switch follows live. Running,
    // paused, failed with the tool's message, failed on a certificate (the only failure that
    // offers to trust one, with its fingerprint; trusting pins it for the host, on disk), "Retry"
    // back to work without the offer, then canceled: a canceled task stays canceled whatever the
    // button is pressed for. The end of a transfer switches to the completed view, with the file's
    // checksum, which a dialog opened later starts in.
    void stateWalk()
    {
        TrustedCertificates::shared().useDirectory(dir.filePath("state"));
        g_lang = QStringLiteral("ar");
        DownloadTask *t = task("b.zip", 1);
        t->totalSize = 1048576000;
        t->downloadedSize = 13107200;
        DownloadDetailsDialog d(t, nullptr);
        QCOMPARE(d.layoutDirection(), Qt::RightToLeft);
        d.show();
        QCOMPARE(child<QLineEdit>(&d, "dstEdit")->layoutDirection(), Qt::LeftToRight);
        g_lang = QStringLiteral("en");
        QTRY_COMPARE(d.layoutDirection(), Qt::LeftToRight);
        QTRY_COMPARE(child<QPushButton>(&d, "btnHide")->text(), QStringLiteral("Hide"));
        QCOMPARE(child(&d, "downLbl")->text(), QStringLiteral("12.50 MB (1%)"));
        QPushButton *toggle = child<QPushButton>(&d, "btnPauseResume");
        QPushButton *trust = child<QPushButton>(&d, "btnTrust");
        toggle->click();
        QTRY_COMPARE(child(&d, "statusLbl")->text(), QStringLiteral("Paused"));

        t->status = 1; // waiting out an outage: the countdown, and why
        t->retryInSeconds = 4;
        t->lastDlpMessage = QStringLiteral("Connection failed: Connection refused");
        QTRY_COMPARE(child(&d, "statusLbl")->text(),
                     QStringLiteral("Waiting for the server — retrying in 4 s\n") +
                         t->lastDlpMessage);
        t->retryInSeconds = -1;

        t->status = 3;
        t->lastDlpMessage = QStringLiteral("ERROR: HTTP Error 404");
        QTRY_COMPARE(child(&d, "statusLbl")->text(), QStringLiteral("ERROR: HTTP Error 404"));
        QCOMPARE(toggle->text(), QStringLiteral("Retry"));
        QVERIFY(trust->isHidden());

        QByteArray digest(32, char(0xaa));
        digest[1] = 0x0f; // hex digits print upper case, with leading zeros
        t->lastDlpMessage =
            QStringLiteral("Certificate not trusted: The certificate is self-signed");
        t->refusedCertificate = {QStringLiteral("127.0.0.1"), digest, t->lastDlpMessage};
        QTRY_VERIFY(trust->isVisible());
        QCOMPARE(child(&d, "certLbl")->text(), "AA:0F:" + QString("AA:").repeated(13) + "AA\n" +
                                                   QString("AA:").repeated(15) + "AA");
        QCOMPARE(trust->text(), QStringLiteral("Trust this certificate for \u2066127.0.0.1\u2069"));
        trust->click();
        QVERIFY(!trust->isEnabled() && trust->text() == QStringLiteral("Certificate trusted"));
        TrustedCertificates::shared().useDirectory(dir.filePath("state"));
        QVERIFY(TrustedCertificates::shared().isTrusted(QStringLiteral("127.0.0.1"), digest));

        // A file that did not match its server's digest: both digests, in rows of 32 digits.
        t->refusedCertificate = RefusedCertificate();
        t->lastDlpMessage = QStringLiteral("Checksum mismatch");
        t->checksum.state = ChecksumResult::Mismatch;
        t->checksum.expected.algorithm = QCryptographicHash::Sha512;
        t->checksum.expected.digest = QByteArray(64, char(0x11));
        t->checksum.expected.source = QStringLiteral("Repr-Digest");
        t->checksum.actual = QByteArray(64, char(0x22));
        QTRY_COMPARE(child(&d, "expectedLbl")->text(),
                     "SHA-512 (Repr-Digest)\n" +
                         QString(32, '1').append('\n').repeated(4).chopped(1));
        QCOMPARE(child(&d, "actualLbl")->text(),
                 QString(32, '2').append('\n').repeated(4).chopped(1));
        // Every row of both is readable: the dialog grows for them.
        for (const char *name : {"expectedLbl", "actualLbl"})
            QTRY_VERIFY(child(&d, name)->height() >= child(&d, name)->sizeHint().height());

        toggle->click();
        QCOMPARE(t->status, 1);
        QTRY_VERIFY(trust->isHidden() && child(&d, "expectedLbl")->isHidden());

        child<QPushButton>(&d, "btnCancel")->click();
        QVERIFY(t->status == 4 && d.isHidden());
        toggle->click();
        QCOMPARE(t->status, 4);

        d.show();
        QVERIFY(writeFile(t->savePath(), "abc")); // a finished download's file, not "File missing"
        t->downloadedSize = t->totalSize;
        t->status = 2;
        QTRY_VERIFY(!child<QWidget>(&d, "completedWidget")->isHidden());
        QCOMPARE(child(&d, "CompStatus")->text(), QStringLiteral("1000.00 MB  |  \u2714 Done"));
        // The file's SHA-256, and a pasted SHA-256, SHA-1 or MD5 (alone or as sha256sum prints it)
        // compared with the file; the digests are the published ones of "abc".
        const QString sha256 =
            QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
        const QPair<QString, QString> rows[] = {
            {sha256.toUpper() + QStringLiteral("  abc.txt"), "\u2714 Matches (SHA-256)"},
            {"a9993e364706816aba3e25717850c26c9cd0d89d", "\u2714 Matches (SHA-1)"},
            {" 900150983cd24fb0d6963f7d28e17f72 ", "\u2714 Matches (MD5)"},
            {QString(sha256).replace(0, 1, QLatin1Char('c')), "\u2718 Does not match (SHA-256)"},
            {sha256 + QLatin1Char('0'), "Not a SHA-256, SHA-1 or MD5 checksum"},
        };
        QTRY_COMPARE(child<QLineEdit>(&d, "sha256Edit")->text(), sha256);
        for (const auto &[pasted, result] : rows) {
            child<QLineEdit>(&d, "expectedEdit")->setText(pasted);
            QTRY_COMPARE(child(&d, "checksumResult")->text(), result);
        }
        t->checksum.state = ChecksumResult::Verified;
        t->checksum.expected.source = QStringLiteral("b.zip.sha256");
        DownloadDetailsDialog reopened(t, nullptr);
        QVERIFY(!child<QWidget>(&reopened, "completedWidget")->isHidden());
        QCOMPARE(
            child(&reopened, "CompStatus")->text(),
            QStringLiteral("1000.00 MB  |  \u2714 \u2068Verified (SHA-256)\u2069\n\u2068Digest "
                           "from \u2066b.zip.sha256\u2069\u2069"));

        // A large file is read in the background with a progress line; closing the dialog stops
        // the reading, and opening it again starts over.
        QFile file(t->savePath());
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(qint64(8) << 30)); // sparse
        file.close();
        QLineEdit *sha = child<QLineEdit>(&reopened, "sha256Edit");
        for (int showing = 0; showing < 2; ++showing) {
            reopened.show();
            QTRY_VERIFY(sha->text().startsWith(QStringLiteral("Computing... ")));
            QCOMPARE(reopened.findChildren<FileHasher *>().size(), 1);
            reopened.hide();
            QTRY_VERIFY(reopened.findChildren<FileHasher *>().isEmpty());
        }
        QVERIFY(sha->text().startsWith(QStringLiteral("Computing... ")));
    }

    // A shown list of kTasks tasks, laid out once after the adds. Every filter shows exactly its
    // tasks, newest first, at the top and at the bottom of the list. Each filter undoes the one
    // before it; no task is a video, and that filter shows no card.
    void listOfManyTasks()
    {
        list.resize(700, 400);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        for (int i = 0; i < kTasks; ++i)
            addTask(i);
        QCoreApplication::processEvents();
        // The filter (type and category) and the status it shows (-1: any).
        const std::tuple<int, QString, int> filters[] = {{2, {}, 0},          {0, {}, -1},
                                                         {1, {}, 1},          {3, {}, 2},
                                                         {4, "Programs", -1}, {4, "Videos", -1}};
        for (const auto &[type, category, status] : filters) {
            list.applyFilter(type, category);
            QList<DownloadTask *> expected;
            for (int i = kTasks - 1; i >= 0; --i)
                if ((status < 0 || made[i]->status == status) &&
                    (category.isEmpty() || made[i]->category == category))
                    expected.append(made[i]);
            QCOMPARE(list.shownTasks(), expected);

            for (int end : {0, 1}) {
                scrollTo(end ? list.verticalScrollBar()->maximum() : 0);
                const QList<DownloadTask *> onScreen = tasksOnScreen();
                QVERIFY(onScreen.size() >= qMin(4, int(expected.size())));
                const QList<DownloadTask *> want =
                    end ? expected.mid(expected.size() - onScreen.size())
                        : expected.mid(0, onScreen.size());
                QCOMPARE(onScreen, want);
            }
        }

        // Selections live with the tasks: scrolling a selected card away and back, hiding it
        // behind a filter, Ctrl+A (which takes what the filter shows) and a plain click (which
        // leaves only one).
        list.applyFilter(0, QString());
        scrollTo(0);
        const QList<DownloadTask *> top = tasksOnScreen();
        QTest::mouseClick(list.cardFor(top[0]), Qt::LeftButton);
        QTest::mouseClick(list.cardFor(top[2]), Qt::LeftButton, Qt::ControlModifier);
        QCOMPARE(list.selectedTasks(), QList<DownloadTask *>({top[2], top[0]})); // oldest first

        scrollTo(list.verticalScrollBar()->maximum());
        for (DownloadTask *t : tasksOnScreen())
            QVERIFY(!list.cardFor(t)->isSelected()); // the recycled cards do not carry it along
        scrollTo(0);
        QVERIFY(list.cardFor(top[0])->isSelected() && list.cardFor(top[2])->isSelected());

        // Hidden by a filter, still selected; Ctrl+A adds what the filter shows.
        list.applyFilter(3, QString());
        QTest::keyClick(&list, Qt::Key_A, Qt::ControlModifier);
        const QList<DownloadTask *> done = list.shownTasks();
        const int alsoSelected = int(top[0]->status != 2) + int(top[2]->status != 2);
        QCOMPARE(int(list.selectedTasks().size()), int(done.size()) + alsoSelected);
        for (DownloadTask *t : tasksOnScreen())
            QVERIFY(list.cardFor(t)->isSelected());

        // A plain click deselects every other task, also those out of view and filtered out.
        QTest::mouseClick(list.cardFor(done[1]), Qt::LeftButton);
        QCOMPARE(list.selectedTasks(), QList<DownloadTask *>{done[1]});
        list.applyFilter(0, QString());
        QVERIFY(!list.cardFor(top[0])->isSelected());
        QVERIFY(list.anySelectedWithStatus(2) && !list.anySelectedWithStatus(0));

        // A card shows its task's figures of now: progress reported while it was out of view, and
        // nothing left over from the task the recycled card showed before; refreshing it lays out
        // nothing. New tasks come in on top, whatever the filter and scroll position; removing
        // the first, the last and a middle task keeps the others in order, on screen as in the
        // saved order. Placeholders are made for the rows in view, once the list holds still.
        DownloadTask *running = made.last();
        QTRY_VERIFY(QFile::exists(running->savePath()));
        scrollTo(list.verticalScrollBar()->maximum());
        QTRY_VERIFY(QFile::exists(made[1]->savePath()));
        QVERIFY(!list.cardFor(running));
        // A finished download is not given an empty file in place of the one it no longer finds.
        QVERIFY(!QFile::exists(made.first()->savePath()));

        running->status = 1;
        running->currentSpeed = 2 * 1048576.0;
        running->downloadedSize = 500 * 1048576LL;
        emit running->progressUpdated();
        // Out of view while it finishes: the next card to show it reads the figures of then.
        DownloadTask *other = made[kTasks - 3];
        other->status = 2;
        other->downloadedSize = other->totalSize;
        emit other->progressUpdated();
        // Never reported since listed: the look of a new card, not figures of another task.
        DownloadTask *fresh = task("new.bin", 0);
        list.addTask(fresh);

        QCOMPARE(cardTexts(running),
                 running->fileName + "|2.00 MB/s|4m 10s|500.00 / 1000.00 MB|50%");
        // Its bar paints again once the card has shown the figures (updates held off meanwhile).
        QVERIFY(list.cardFor(running)->findChild<QProgressBar *>()->updatesEnabled());
        QCOMPARE(cardTexts(other), other->fileName + "|Done|1000.00 MB|100%");
        QCOMPARE(cardTexts(fresh), QStringLiteral("new.bin|Wait...|0%"));

        // A refresh must not reach the list's layout, or each tick would lay out all cards again.
        struct LayoutCounter : QObject {
            int requests = 0;
            bool eventFilter(QObject *, QEvent *event) override
            {
                requests += event->type() == QEvent::LayoutRequest;
                return false;
            }
        } counter;
        QTest::qWait(50);
        list.viewport()->installEventFilter(&counter);
        for (int i = 0; i < 200; ++i) {
            running->downloadedSize += 1048576;
            running->currentSpeed = 1000.0 * i;
            emit running->progressUpdated();
            QCoreApplication::processEvents();
        }
        QVERIFY(list.cardFor(running));
        QCOMPARE(counter.requests, 0);

        list.applyFilter(3, QString());
        scrollTo(300);
        DownloadTask *newest = addTask(kTasks);
        QCOMPARE(list.shownTasks().first(), newest);
        scrollTo(0);
        QCOMPARE(tasksOnScreen().first(), newest);
        list.applyFilter(0, QString());
        const QList<DownloadTask *> gone = {made.first(), made[kTasks / 2], fresh, newest};
        list.removeTasks(gone);
        QList<DownloadTask *> expected = made;
        for (DownloadTask *t : gone)
            expected.removeOne(t);
        QCOMPARE(list.tasks(), expected);
        std::reverse(expected.begin(), expected.end());
        QCOMPARE(list.shownTasks(), expected);
        scrollTo(list.verticalScrollBar()->maximum());
        QCOMPARE(tasksOnScreen().last(), made[1]);
        for (DownloadTask *t : gone)
            QVERIFY(!list.cardFor(t));
    }
};

QTEST_MAIN(TestViews)
#include "tst_views.moc"
