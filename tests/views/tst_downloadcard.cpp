#include "engine/downloadtask.h"
#include "language/translation.h"
#include "messageboxdriver.h"
#include "views/downloadcard.h"
#include "views/widgetstyles.h"

#include <QCheckBox>
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
    void initTestCase();
    void init();
    void drawsEachState_data();
    void drawsEachState();
    void createsPlaceholderAndFolders();
    void clickSelection();
    void deleteChoices_data();
    void deleteChoices();

private:
    DownloadTask *newTask(const QString &url, const QString &name);

    QTemporaryDir dir;
    QWidget *list = nullptr;
};

void TestDownloadCard::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(dir.isValid());
}

void TestDownloadCard::init()
{
    g_lang = QStringLiteral("en");
    delete list;
    list = new QWidget;
    new QVBoxLayout(list);
}

DownloadTask *TestDownloadCard::newTask(const QString &url, const QString &name)
{
    return new DownloadTask(QUrl(url), dir.path() + QLatin1Char('/') + name, QString(), list);
}

void TestDownloadCard::drawsEachState_data()
{
    QTest::addColumn<bool>("media");
    QTest::addColumn<int>("status");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<qint64>("done");
    QTest::addColumn<double>("speed");
    QTest::addColumn<QString>("toolEta");
    QTest::addColumn<QString>("message");
    // expected
    QTest::addColumn<QString>("speedText");
    QTest::addColumn<QString>("etaText");
    QTest::addColumn<QString>("sizeText");
    QTest::addColumn<QString>("percent");
    QTest::addColumn<QString>("barState");
    QTest::addColumn<int>("barValue");  // -1: busy indicator, -2: left as it was
    QTest::addColumn<QString>("shown"); // c t p f d for cancel toggle play folder delete

    const qint64 MiB = 1048576;
    QTest::newRow("downloading") << false << 1 << 700 * MiB << qint64(12.5 * MiB) << 2.0 * MiB
                                 << QString() << QString() << "2.00 MB/s"
                                 << "5m 43s"
                                 << "12.50 / 700.00 MB"
                                 << "1%"
                                 << "downloading" << 1 << "ctfd";
    QTest::newRow("paused keeps no tool eta")
        << true << 0 << 100 * MiB << 50 * MiB << 0.0 << "00:42" << QString() << "Paused"
        << "--:--"
        << "50.00 / 100.00 MB"
        << "50%"
        << "paused" << 50 << "ctfd";
    QTest::newRow("done") << false << 2 << 5 * 1024 * MiB << 5 * 1024 * MiB << 0.0 << QString()
                          << QString() << "Done"
                          << ""
                          << "5120.00 MB"
                          << "100%"
                          << "done" << 100 << "pfd";
    QTest::newRow("error") << false << 3 << 10 * MiB << 3 * MiB << 0.0 << QString() << QString()
                           << "Error"
                           << ""
                           << "3.00 / 10.00 MB"
                           << "30%"
                           << "error" << 30 << "cfd";
    QTest::newRow("canceled looks like error")
        << false << 4 << 10 * MiB << 1 * MiB << 0.0 << QString() << QString() << "Canceled"
        << ""
        << "1.00 / 10.00 MB"
        << "10%"
        << "error" << 10 << "cfd";
    QTest::newRow("past the total")
        << false << 0 << 100LL << 104LL << 0.0 << QString() << QString() << "Paused"
        << "--:--"
        << "0.00 / 0.00 MB"
        << "104%"
        << "paused" << 100 << "ctfd";
    const QString long41 = QString(41, QLatin1Char('x'));
    QTest::newRow("unknown size, long message")
        << true << 1 << 0LL << 3 * MiB << 1.0 * MiB << QString() << long41 << "1.00 MB/s"
        << "--:--" << QString(37, QLatin1Char('x')) + "..."
        << "..."
        << "downloading" << -1 << "ctfd";
    const QString exact40 = QString(40, QLatin1Char('y'));
    QTest::newRow("unknown size, 40 characters")
        << true << 1 << 0LL << 0LL << 0.0 << QString() << exact40 << "0.00 MB/s"
        << "--:--" << exact40 << "..."
        << "downloading" << -1 << "ctfd";
    QTest::newRow("unknown size, paused")
        << true << 0 << 0LL << 0LL << 0.0 << QString() << QString() << "Paused"
        << "--:--"
        << ""
        << "0%"
        << "paused" << -2 << "ctfd";
}

void TestDownloadCard::drawsEachState()
{
    QFETCH(bool, media);
    QFETCH(int, status);
    QFETCH(qint64, total);
    QFETCH(qint64, done);
    QFETCH(double, speed);
    QFETCH(QString, toolEta);
    QFETCH(QString, message);

    DownloadTask *task = newTask(media ? QStringLiteral("https://www.youtube.com/watch?v=abc")
                                       : QStringLiteral("http://127.0.0.1:9/file.zip"),
                                 media ? QStringLiteral("clip.mp4") : QStringLiteral("file.zip"));
    auto *card = new DownloadCard(task, list);
    list->layout()->addWidget(card);
    list->show();
    QCOMPARE(card->prog->property("status").toString(), QStringLiteral("pending"));

    task->status = status;
    task->totalSize = total;
    task->downloadedSize = done;
    task->currentSpeed = speed;
    task->dlpEtaStr = toolEta;
    task->lastDlpMessage = message;
    QSignalSpy selection(card, &DownloadCard::selectionChanged);
    emit task->progressUpdated();
    QCOMPARE(selection.count(), 1);

    QTEST(card->speedLbl->text(), "speedText");
    QTEST(card->etaLbl->text(), "etaText");
    QTEST(card->sizeLbl->text(), "sizeText");
    QTEST(card->percentLbl->text(), "percent");
    QTEST(card->prog->property("status").toString(), "barState");
    QFETCH(int, barValue);
    if (barValue == -1) {
        QCOMPARE(card->prog->maximum(), 0);
    } else if (barValue >= 0) {
        QCOMPARE(card->prog->maximum(), 100);
        QCOMPARE(card->prog->value(), barValue);
    }
    QFETCH(QString, shown);
    QCOMPARE(card->btnCancel->isVisible(), shown.contains('c'));
    QCOMPARE(card->btnToggle->isVisible(), shown.contains('t'));
    QCOMPARE(card->btnPlay->isVisible(), shown.contains('p'));
    QCOMPARE(card->btnFolder->isVisible(), shown.contains('f'));
    QCOMPARE(card->btnDelete->isVisible(), shown.contains('d'));
    QCOMPARE(card->btnToggle->toolTip(),
             status == 1 ? QStringLiteral("Pause") : QStringLiteral("Resume"));
}

void TestDownloadCard::createsPlaceholderAndFolders()
{
    const QString path = dir.path() + QStringLiteral("/deep/er/name.pdf");
    auto *task = new DownloadTask(QUrl(QStringLiteral("http://127.0.0.1:9/name.pdf")), path,
                                  QString(), list);
    QVERIFY(!QFile::exists(path));
    DownloadCard card(task, list);
    QVERIFY(QFile::exists(path));
    QCOMPARE(QFileInfo(path).size(), 0);

    // An existing file is left as it is.
    QFile existing(dir.path() + QStringLiteral("/kept.txt"));
    QVERIFY(existing.open(QIODevice::WriteOnly));
    existing.write("content");
    existing.close();
    auto *second =
        newTask(QStringLiteral("http://127.0.0.1:9/kept.txt"), QStringLiteral("kept.txt"));
    DownloadCard card2(second, list);
    QCOMPARE(QFileInfo(existing.fileName()).size(), 7);
}

void TestDownloadCard::clickSelection()
{
    QList<DownloadCard *> cards;
    for (int i = 0; i < 3; ++i) {
        auto *card = new DownloadCard(newTask(QStringLiteral("http://127.0.0.1:9/f%1.zip").arg(i),
                                              QStringLiteral("f%1.zip").arg(i)),
                                      list);
        list->layout()->addWidget(card);
        cards.append(card);
    }
    list->show();

    QTest::mouseClick(cards[0], Qt::LeftButton);
    QVERIFY(cards[0]->isSelected());
    QCOMPARE(cards[0]->styleSheet(), QString::fromLatin1(SelectedCardStyle));
    QTest::mouseClick(cards[1], Qt::LeftButton, Qt::ControlModifier);
    QVERIFY(cards[0]->isSelected() && cards[1]->isSelected() && !cards[2]->isSelected());

    // A plain click on a selected card keeps it and clears the others, one signal per card.
    QSignalSpy spy0(cards[0], &DownloadCard::selectionChanged);
    QSignalSpy spy2(cards[2], &DownloadCard::selectionChanged);
    QTest::mouseClick(cards[1], Qt::LeftButton);
    QVERIFY(!cards[0]->isSelected() && cards[1]->isSelected() && !cards[2]->isSelected());
    QCOMPARE(cards[0]->styleSheet(), QString());
    QCOMPARE(spy0.count(), 1);
    QCOMPARE(spy2.count(), 1);

    // Ctrl-click on the selected card releases only that card.
    QTest::mouseClick(cards[1], Qt::LeftButton, Qt::ControlModifier);
    QVERIFY(!cards[1]->isSelected());
}

void TestDownloadCard::deleteChoices_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("fileKept");
    QTest::addColumn<bool>("requested");
    QTest::newRow("list and file") << "Delete List & File" << false << true;
    QTest::newRow("list only") << "Delete from List Only" << true << true;
    QTest::newRow("cancel") << "Cancel" << true << false;
}

void TestDownloadCard::deleteChoices()
{
    QFETCH(QString, answer);
    const QString name = QStringLiteral("victim-%1.bin").arg(QTest::currentDataTag());
    auto *task = newTask(QStringLiteral("http://127.0.0.1:9/") + name, name);
    auto *card = new DownloadCard(task, list);
    list->layout()->addWidget(card);
    QVERIFY(QFile::exists(task->savePath()));
    task->status = 0;

    QSignalSpy spy(card, &DownloadCard::requestDelete);
    QString question;
    answerNextMessageBox(answer, &question);
    card->btnDelete->click();
    QCOMPARE(question, QStringLiteral("Delete the downloaded file from disk too?"));
    QTEST(QFile::exists(task->savePath()), "fileKept");
    QFETCH(bool, requested);
    QCOMPARE(spy.count(), requested ? 1 : 0);
    if (requested)
        QCOMPARE(spy.at(0).at(0).value<DownloadCard *>(), card);
    // The card never deletes its task; removing the file stops the transfer first.
    QCOMPARE(task->status, answer == QLatin1String("Delete List & File") ? 4 : 0);
}

QTEST_MAIN(TestDownloadCard)
#include "tst_downloadcard.moc"
