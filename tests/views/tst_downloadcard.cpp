#include "engine/downloadtask.h"
#include "language/translation.h"
#include "messageboxdriver.h"
#include "testdownloads.h"
#include "testhttpserver.h"
#include "views/downloadcard.h"

#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

class TestDownloadCard : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        g_lang = QStringLiteral("en"); // also for a function run on its own
    }
    void drawsEachState();
    void placeholderSelectionAndDelete();
    void finishedDownloadWithoutItsFileIsFetchedAgain();

private:
    DownloadCard *newCard(const QString &name)
    {
        g_lang = QStringLiteral("en");
        auto *task =
            new DownloadTask(QUrl("http://127.0.0.1:9/" + name), dir.filePath(name), {}, &list);
        auto *card = new DownloadCard(task, &list);
        layout->addWidget(card);
        return card;
    }

    QTemporaryDir dir;
    QWidget list;
    QVBoxLayout *layout = new QVBoxLayout(&list);
};

void TestDownloadCard::drawsEachState()
{
    // Task: status (with "v": its file verified, "c": being checked, "w": waiting 8 s for its
    // server), total and done (MiB), speed
    // (MiB/s), tool line length, tool eta. Card: speed|
    // eta|size|percent|bar state|bar value|buttons shown (cancel, toggle, play, folder, delete).
    const QStringList rows = {
        "1 700 12.5 2 0 -|2.00 MB/s|5m 43s|12.50 / 700.00 MB|1%|downloading|1|11011",
        "0 100 50 0 0 00:42|Paused|--:--|50.00 / 100.00 MB|50%|paused|50|11011",
        "2 5120 5120 0 0 -|Done||5120.00 MB|100%|done|100|00111",
        "2v 5120 5120 0 0 -|Verified (SHA-256)||5120.00 MB|100%|done|100|00111",
        "1c 700 700 0 0 -|Verifying...|--:--|700.00 / 700.00 MB|100%|downloading|100|11011",
        "3 10 3 0 0 -|Error||3.00 / 10.00 MB|30%|error|30|10011",
        // Waiting out an outage: the countdown instead of the speed and the remaining time.
        "1w 700 12.5 0 8 -|Waiting for the server — retrying in 8 s||12.50 / 700.00 MB|1%|paused|1|"
        "11011",
        // Why it failed, cut the same way.
        "3 10 3 0 41 -|Error|" + QString(37, 'x') + "...|3.00 / 10.00 MB|30%|error|30|10011",
        "4 10 1 0 0 -|Canceled||1.00 / 10.00 MB|10%|error|10|10011",
        "0 100 104 0 0 -|Paused|--:--|104.00 / 100.00 MB|104%|paused|100|11011", // bar pinned full
        // Hostile numbers: no overflow of the percentage, no negative or endless remaining time.
        "0 100 95367431640 0 0 -|Paused|--:--|95367431640.00 / 100.00 MB|999%|paused|100|11011",
        "1 100 104 1 0 -|1.00 MB/s|--:--|104.00 / 100.00 MB|104%|downloading|100|11011",
        "1 10240 0 0.00000095367431640625 0 -|0.00 MB/s|--:--|0.00 / 10240.00 MB|0%|downloading|0|"
        "11011",
        // Unknown size: the tool's line instead of sizes, cut after 40 characters.
        "1 0 3 1 41 -|1.00 MB/s|--:--|" + QString(37, 'x') + "...|...|downloading|busy|11011",
        "1 0 0 0 40 -|0.00 MB/s|--:--|" + QString(40, 'x') + "|...|downloading|busy|11011"};
    for (const QString &row : rows) {
        const QStringList in = row.section('|', 0, 0).split(' ');
        DownloadCard *card = newCard(QStringLiteral("file.zip"));
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
        for (QPushButton *b :
             {card->btnCancel, card->btnToggle, card->btnPlay, card->btnFolder, card->btnDelete})
            shown += b->isVisibleTo(card) ? '1' : '0';
        const QString bar = card->prog->maximum() ? QString::number(card->prog->value()) : "busy";
        const QString got = QStringLiteral("%1|%2|%3|%4|%5|%6|%7")
                                .arg(card->speedLbl->text(), card->etaLbl->text(),
                                     card->sizeLbl->text(), card->percentLbl->text(),
                                     card->prog->property("status").toString(), bar, shown);
        QCOMPARE(row.section('|', 0, 0) + '|' + got, row);
    }
}

void TestDownloadCard::placeholderSelectionAndDelete()
{
    // A new card makes its folders and an empty placeholder; an existing file is left as it is.
    QVERIFY(writeFile(dir.filePath(QStringLiteral("kept.txt")), "content"));
    const QList<DownloadCard *> cards = {newCard(QStringLiteral("deep/er/name.pdf")),
                                         newCard(QStringLiteral("kept.txt")),
                                         newCard(QStringLiteral("f.zip"))};
    const QFileInfo made(cards[0]->getTask()->savePath());
    QVERIFY(made.exists() && made.size() == 0);
    // Outside the list too, a plain click selects one card alone.
    QTest::mouseClick(cards[0], Qt::LeftButton);
    QTest::mouseClick(cards[1], Qt::LeftButton);
    QVERIFY(!cards[0]->isSelected() && cards[1]->isSelected());

    // Delete: the answer, then whether the file is still there, the delete requests and the
    // task's status (the transfer is stopped before its file goes).
    const QList<QPair<QString, QList<int>>> rows = {{"Delete List & File", {0, 1, 4}},
                                                    {"Delete from List Only", {1, 1, 0}},
                                                    {"Cancel", {1, 0, 0}}};
    for (int i = 0; i < 3; ++i) {
        DownloadTask *task = cards[i]->getTask(); // paused
        QSignalSpy spy(cards[i], &DownloadCard::requestDelete);
        answerNextMessageBox(rows[i].first);
        cards[i]->btnDelete->click();
        const QList<int> got = {QFile::exists(task->savePath()), int(spy.count()), task->status};
        QCOMPARE(got, rows[i].second);
    }
    QCOMPARE(readFile(dir.filePath(QStringLiteral("kept.txt"))), QByteArray("content"));
}

// The user moved or deleted a finished download's file: the card says so instead of making an
// empty file under its name, Open File has nothing to open, and the pause/resume button fetches
// it again.
void TestDownloadCard::finishedDownloadWithoutItsFileIsFetchedAgain()
{
    TestHttpServer server;
    QVERIFY(server.start());
    const TestHttpServer::Route route = TestHttpServer::randomRoute(3 * 1048576, 5);
    server.setRoute("/gone.iso", route);
    const QString path = dir.filePath(QStringLiteral("gone.iso"));
    auto *task = new DownloadTask(server.url("/gone.iso"), path, {}, &list);
    task->status = 2;
    task->totalSize = task->downloadedSize = route.body.size();
    auto *card = new DownloadCard(task, &list);
    layout->addWidget(card);
    emit task->progressUpdated(); // as the list does for a task restored from the saved list

    QVERIFY(!QFile::exists(path));
    QCOMPARE(card->speedLbl->text(), QStringLiteral("File missing"));
    QVERIFY(card->btnPlay->isVisibleTo(card) && !card->btnPlay->isEnabled());
    QCOMPARE(card->btnToggle->toolTip(), QStringLiteral("Retry"));

    card->btnToggle->click();
    QCOMPARE(downloadFault(*task, route.body), QString());
    QCOMPARE(card->speedLbl->text(), QStringLiteral("Done"));
    QVERIFY(card->btnPlay->isEnabled() && !card->btnToggle->isVisibleTo(card));
}

QTEST_MAIN(TestDownloadCard)
#include "tst_downloadcard.moc"
