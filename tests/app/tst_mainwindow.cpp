#include "adding/addurldialog.h"
#include "app/mainwindow.h"
#include "app/stylesheets.h"
#include "engine/downloadtask.h"
#include "language/translation.h"
#include "messageboxdriver.h"
#include "testhttpserver.h"
#include "views/downloadcard.h"
#include "views/widgetstyles.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

#include <memory>

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void closeHidesAndNoticesOnce();
    void closeWithoutTrayMinimises();
    void trayQuitSaves();
    void filtersShowRightCardsAndMoveHighlight();
    void toolbarToggleOnMixedSelection();
    void deleteFromListOnlyAgainstListAndFile();
    void cardDeleteStopsRunningTaskAndRemovesFile();
    void refreshDoesNotRelayoutTheList();
    void languageSwitch();
    void themeSwitchKeepsSelectedCardStyle();
    void duplicateNames_data();
    void duplicateNames();
    void declinedDuplicateAddsNothing();
    void queuedAddIsSavedPaused();
    void linkFromBrowserDownloadsThroughTheDialog();
    void listSurvivesRestart();
    void restartContinuesSegmentedDownload();

private:
    DownloadCard *addCard(MainWindow &w, const QString &name, int status, qint64 total = 0);
    QJsonArray savedList() const;
    QString listPath() const { return dataDir + QStringLiteral("/tasks.json"); }

    QString dataDir;
    std::unique_ptr<QTemporaryDir> downloads;
};

void TestMainWindow::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    MainWindow::bridgePort = 0; // never the user's own port 9090
    dataDir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
              QStringLiteral("/Torvane");
}

void TestMainWindow::init()
{
    QDir(dataDir).removeRecursively();
    downloads = std::make_unique<QTemporaryDir>();
    g_lang = QStringLiteral("ar");
    MainWindow::trayOverride = 1;
}

void TestMainWindow::cleanup()
{
    MainWindow::trayOverride = -1;
    QDir(dataDir).removeRecursively();
}

DownloadCard *TestMainWindow::addCard(MainWindow &w, const QString &name, int status, qint64 total)
{
    w.addDownload(QStringLiteral("http://127.0.0.1:9/") + name,
                  downloads->path() + QLatin1Char('/') + name, QString(), true);
    DownloadCard *card = w.cards.last();
    card->getTask()->status = status;
    card->getTask()->totalSize = total;
    card->getTask()->downloadedSize = total / 2;
    emit card->getTask()->progressUpdated();
    return card;
}

QJsonArray TestMainWindow::savedList() const
{
    QFile f(listPath());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(f.readAll()).array();
}

void TestMainWindow::closeHidesAndNoticesOnce()
{
    MainWindow::backgroundNoticePending = true;
    MainWindow w;
    addCard(w, QStringLiteral("a.zip"), 0);
    QFile::remove(listPath());
    w.show();
    w.close();
    QVERIFY(!w.isVisible());
    QVERIFY(!MainWindow::backgroundNoticePending);
    QCOMPARE(savedList().size(), 1);

    w.restoreAction->trigger();
    QVERIFY(w.isVisible());
    w.close();
    QVERIFY(!w.isVisible());
    QVERIFY(!w.forceQuit);
}

void TestMainWindow::closeWithoutTrayMinimises()
{
    MainWindow::trayOverride = 0;
    MainWindow w;
    w.show();
    w.close();
    // Still reachable from the taskbar, and the list is saved.
    QVERIFY(w.isVisible());
    QVERIFY(w.windowState() & Qt::WindowMinimized);
    QVERIFY(QFile::exists(listPath()));
}

void TestMainWindow::trayQuitSaves()
{
    MainWindow w;
    addCard(w, QStringLiteral("a.zip"), 2, 10);
    QFile::remove(listPath());
    w.show();
    const bool noticeBefore = MainWindow::backgroundNoticePending;
    w.quitAction->trigger();
    QVERIFY(w.forceQuit);
    QCOMPARE(savedList().size(), 1);
    QCOMPARE(savedList().at(0).toObject().value("status").toInt(), 2);
    w.close();
    QVERIFY(!w.isVisible());
    QCOMPARE(MainWindow::backgroundNoticePending, noticeBefore);
}

void TestMainWindow::filtersShowRightCardsAndMoveHighlight()
{
    MainWindow w;
    w.show();
    DownloadCard *queued = addCard(w, QStringLiteral("a.zip"), 0);
    DownloadCard *running = addCard(w, QStringLiteral("b.mp4"), 1);
    DownloadCard *done = addCard(w, QStringLiteral("c.pdf"), 2);
    DownloadCard *failed = addCard(w, QStringLiteral("d.exe"), 3);
    DownloadCard *canceled = addCard(w, QStringLiteral("e.mp3"), 4);
    const QList<DownloadCard *> all = {queued, running, done, failed, canceled};
    QList<QPushButton *> buttons = {w.btnAll, w.btnProc, w.btnQueued, w.btnComp};
    buttons += w.filterBtns;

    auto visibleSet = [&] {
        QList<DownloadCard *> shown;
        for (DownloadCard *c : all)
            if (c->isVisible())
                shown.append(c);
        return shown;
    };
    auto activeButtons = [&] {
        QList<QPushButton *> active;
        for (QPushButton *b : buttons)
            if (b->property("active").toBool())
                active.append(b);
        return active;
    };
    QCOMPARE(activeButtons(), QList<QPushButton *>{w.btnAll});

    w.btnComp->click();
    QCOMPARE(visibleSet(), QList<DownloadCard *>{done});
    QCOMPARE(activeButtons(), QList<QPushButton *>{w.btnComp});
    w.btnProc->click();
    QCOMPARE(visibleSet(), QList<DownloadCard *>{running});
    w.btnQueued->click();
    QCOMPARE(visibleSet(), QList<DownloadCard *>{queued});

    // Categories compare the English names, also while the interface is Arabic.
    QCOMPARE(g_lang, QStringLiteral("ar"));
    w.filterBtns[4]->click(); // Documents
    QCOMPARE(visibleSet(), QList<DownloadCard *>{done});
    QCOMPARE(activeButtons(), QList<QPushButton *>{w.filterBtns[4]});
    w.filterBtns[2]->click(); // Programs
    QCOMPARE(visibleSet(), QList<DownloadCard *>{failed});
    QCOMPARE(activeButtons(), QList<QPushButton *>{w.filterBtns[2]});

    // A card added under a filter shows up on top; filters apply at the click only.
    DownloadCard *added = addCard(w, QStringLiteral("f.txt"), 0);
    QTRY_VERIFY(added->isVisible());
    QCOMPARE(w.listLayout->itemAt(0)->widget(), added);

    w.btnAll->click();
    QCOMPARE(visibleSet(), all);
    QCOMPARE(activeButtons(), QList<QPushButton *>{w.btnAll});
}

void TestMainWindow::toolbarToggleOnMixedSelection()
{
    g_lang = QStringLiteral("en");
    TestHttpServer server;
    QVERIFY(server.start());
    TestHttpServer::Route slow;
    slow.body = TestHttpServer::randomBody(4 * 1024 * 1024);
    slow.trickleBytes = 1024;
    server.setRoute("/slow.bin", slow);

    MainWindow w;
    w.show();
    w.addDownload(server.url("/slow.bin").toString(), downloads->path() + "/one.bin", QString(),
                  false);
    w.addDownload(server.url("/slow.bin").toString(), downloads->path() + "/two.bin", QString(),
                  false);
    DownloadCard *one = w.cards[0];
    DownloadCard *two = w.cards[1];
    DownloadCard *finished = addCard(w, QStringLiteral("done.zip"), 2, 100);
    QTRY_COMPARE(one->getTask()->status, 1);
    QTRY_VERIFY(two->getTask()->downloadedSize > 0);
    two->getTask()->pause();
    QCOMPARE(two->getTask()->status, 0);

    // Nothing selected: " Resume", and delete asks nothing.
    QTRY_COMPARE(w.tbToggle->text(), QStringLiteral(" Resume"));
    bool boxSeen = false;
    QTimer guard;
    connect(&guard, &QTimer::timeout, [&] {
        if (auto *box = QApplication::activeModalWidget()) {
            boxSeen = true;
            box->close();
        }
    });
    guard.start(5);
    w.tbDel->click();
    QTest::qWait(50);
    guard.stop();
    QVERIFY(!boxSeen);
    QCOMPARE(w.cards.size(), 3);

    one->setSelected(true);
    two->setSelected(true);
    finished->setSelected(true);
    QTRY_COMPARE(w.tbToggle->text(), QStringLiteral(" Pause"));
    w.tbToggle->click();
    QCOMPARE(one->getTask()->status, 0);
    QCOMPARE(two->getTask()->status, 1);
    QCOMPARE(finished->getTask()->status, 2);
    QCOMPARE(w.tbToggle->text(), QStringLiteral(" Pause"));

    two->setSelected(false);
    QTRY_COMPARE(w.tbToggle->text(), QStringLiteral(" Resume"));
}

void TestMainWindow::deleteFromListOnlyAgainstListAndFile()
{
    g_lang = QStringLiteral("en");
    MainWindow w;
    w.show();
    QList<DownloadCard *> cards;
    QList<QPointer<DownloadTask>> tasks;
    for (const char *name : {"a.zip", "b.zip", "c.zip", "d.zip"}) {
        DownloadCard *c = addCard(w, QString::fromLatin1(name), 2, 4);
        QFile f(c->getTask()->savePath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("data");
        cards.append(c);
        tasks.append(c->getTask());
    }
    QPointer<DownloadCard> gone0 = cards[0];
    QPointer<DownloadCard> gone2 = cards[2];

    cards[0]->setSelected(true);
    cards[2]->setSelected(true);
    answerNextMessageBox(QStringLiteral("Cancel"));
    w.tbDel->click();
    QCOMPARE(w.cards.size(), 4);

    answerNextMessageBox(QStringLiteral("Delete from List Only"));
    w.tbDel->click();
    QCOMPARE(w.cards, (QList<DownloadCard *>{cards[1], cards[3]}));
    QVERIFY(QFile::exists(tasks[0]->savePath()));
    QVERIFY(QFile::exists(tasks[2]->savePath()));
    QCOMPARE(savedList().size(), 2);
    QCOMPARE(savedList().at(0).toObject().value("savePath").toString(), tasks[1]->savePath());
    // The removed tasks go after their cards.
    QTRY_VERIFY(gone0.isNull() && gone2.isNull());
    QTRY_VERIFY(tasks[0].isNull() && tasks[2].isNull());

    const QString path3 = tasks[3]->savePath();
    cards[3]->setSelected(true);
    answerNextMessageBox(QStringLiteral("Delete List & File"));
    w.tbDel->click();
    QCOMPARE(w.cards, QList<DownloadCard *>{cards[1]});
    QVERIFY(!QFile::exists(path3));
    QVERIFY(QFile::exists(tasks[1]->savePath()));
    QCOMPARE(savedList().size(), 1);
}

void TestMainWindow::cardDeleteStopsRunningTaskAndRemovesFile()
{
    g_lang = QStringLiteral("en");
    TestHttpServer server;
    QVERIFY(server.start());
    TestHttpServer::Route slow;
    slow.body = TestHttpServer::randomBody(1024 * 1024);
    slow.trickleBytes = 1024;
    server.setRoute("/slow.bin", slow);

    MainWindow w;
    w.show();
    w.addDownload(server.url("/slow.bin").toString(), downloads->path() + "/run.bin", QString(),
                  false);
    DownloadCard *card = w.cards.first();
    QPointer<DownloadTask> task = card->getTask();
    QTRY_VERIFY(task->downloadedSize > 0);
    const QString path = task->savePath();

    QPushButton *deleteButton = nullptr;
    for (QPushButton *b : card->findChildren<QPushButton *>())
        if (b->toolTip() == QLatin1String("Delete") && b->window() == card->window())
            deleteButton = b;
    QVERIFY(deleteButton);
    answerNextMessageBox(QStringLiteral("Delete List & File"));
    deleteButton->click();
    QVERIFY(w.cards.isEmpty());
    QVERIFY(!QFile::exists(path));
    QVERIFY(!task.isNull());
    QCOMPARE(task->status, 4);
    QTRY_VERIFY(task.isNull());
    // Nothing keeps writing into a file that is gone.
    QTest::qWait(200);
    QVERIFY(!QFile::exists(path));
    QCOMPARE(savedList().size(), 0);
}

void TestMainWindow::refreshDoesNotRelayoutTheList()
{
    // A refresh changes texts, and so size hints. If that reached the list's layout, every tick of
    // every running card would lay out all cards again.
    struct LayoutCounter : QObject {
        int requests = 0;
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::LayoutRequest)
                ++requests;
            return false;
        }
    } counter;
    MainWindow w;
    w.show();
    for (int i = 0; i < 5; ++i)
        addCard(w, QStringLiteral("f%1.bin").arg(i), 0, 1LL << 33);
    QTest::qWait(50);
    QWidget *list = w.listLayout->parentWidget();
    list->installEventFilter(&counter);
    DownloadTask *task = w.cards.first()->getTask();
    task->status = 1;
    for (int i = 0; i < 200; ++i) {
        task->downloadedSize += 123456789;
        task->currentSpeed = 1000.0 * i;
        emit task->progressUpdated();
        QCoreApplication::processEvents();
    }
    QCOMPARE(counter.requests, 0);
    task->status = 0;
}

void TestMainWindow::languageSwitch()
{
    MainWindow w;
    DownloadCard *done = addCard(w, QStringLiteral("a.zip"), 2, 10);
    const QString arabicDone = T(QStringLiteral("Done"));
    auto cardLabels = [done] {
        QStringList texts;
        for (QLabel *l : done->findChildren<QLabel *>())
            texts << l->text();
        return texts;
    };
    auto cardTips = [done] {
        QStringList tips;
        for (QPushButton *b : done->findChildren<QPushButton *>())
            tips << b->toolTip();
        return tips;
    };

    QCOMPARE(QGuiApplication::layoutDirection(), Qt::RightToLeft);
    QCOMPARE(w.btnLang->text(), QStringLiteral("🌐 EN"));
    QCOMPARE(w.btnTheme->text(), QStringLiteral("🌙 ليل"));
    QCOMPARE(w.btnAll->text(), T(QStringLiteral(" All")));
    QVERIFY(cardLabels().contains(arabicDone));
    QVERIFY(cardTips().contains(T(QStringLiteral("Cancel"))));

    w.btnLang->click();
    QCOMPARE(g_lang, QStringLiteral("en"));
    QCOMPARE(QGuiApplication::layoutDirection(), Qt::LeftToRight);
    QCOMPARE(w.btnLang->text(), QStringLiteral("🌐 AR"));
    QCOMPARE(w.btnTheme->text(), QStringLiteral("🌙 Dark"));
    QCOMPARE(w.btnAll->text(), QStringLiteral(" All"));
    QCOMPARE(w.btnComp->text(), QStringLiteral(" Completed"));
    QCOMPARE(w.btnAdd->text(), QStringLiteral(" Add URL"));
    QCOMPARE(w.tbDel->text(), QStringLiteral(" Delete"));
    QCOMPARE(w.tbToggle->text(), QStringLiteral(" Resume"));
    QCOMPARE(w.filterBtns.first()->text(), QStringLiteral("   ├─  Videos"));
    QCOMPARE(w.filterBtns.last()->text(), QStringLiteral("   └─  Other"));
    QCOMPARE(w.restoreAction->text(), QStringLiteral("Restore"));
    QCOMPARE(w.quitAction->text(), QStringLiteral("Quit"));
    // Tooltips follow at once; the card's state word waits for its next refresh.
    QVERIFY(cardTips().contains(QStringLiteral("Cancel")));
    QVERIFY(cardLabels().contains(arabicDone));
    emit done->getTask()->progressUpdated();
    QVERIFY(cardLabels().contains(QStringLiteral("Done")));

    w.btnLang->click();
    QCOMPARE(QGuiApplication::layoutDirection(), Qt::RightToLeft);
    QCOMPARE(w.filterBtns.last()->text(), QStringLiteral("   └─  ") + T(QStringLiteral("Other")));
}

void TestMainWindow::themeSwitchKeepsSelectedCardStyle()
{
    MainWindow w;
    QCOMPARE(qApp->styleSheet(), QString::fromUtf8(LightStyleSheet));
    DownloadCard *card = addCard(w, QStringLiteral("a.zip"), 0);
    card->setSelected(true);
    w.btnTheme->click();
    QVERIFY(w.isDarkMode);
    QCOMPARE(qApp->styleSheet(), QString::fromUtf8(DarkStyleSheet));
    QCOMPARE(card->styleSheet(), QString::fromLatin1(SelectedCardStyle));
    QCOMPARE(w.btnTheme->text(), QStringLiteral("☀️ نهار"));
    w.btnTheme->click();
    QCOMPARE(qApp->styleSheet(), QString::fromUtf8(LightStyleSheet));
    QCOMPARE(card->styleSheet(), QString::fromLatin1(SelectedCardStyle));
}

void TestMainWindow::duplicateNames_data()
{
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("expected");
    QTest::newRow("first free number") << QStringList{"clip.mp4", "clip (1).mp4"} << "clip.mp4"
                                       << "clip (2).mp4";
    QTest::newRow("last suffix only") << QStringList{"archive.tar.gz"} << "archive.tar.gz"
                                      << "archive.tar (1).gz";
    QTest::newRow("no suffix") << QStringList{"README"} << "README"
                               << "README (1).";
    QTest::newRow("free name asks nothing") << QStringList{} << "new.zip"
                                            << "new.zip";
}

void TestMainWindow::duplicateNames()
{
    QFETCH(QStringList, existing);
    QFETCH(QString, target);
    QFETCH(QString, expected);
    for (const QString &name : existing) {
        QFile f(downloads->path() + QLatin1Char('/') + name);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    MainWindow w;
    QString question;
    if (!existing.isEmpty())
        answerNextMessageBox(QStringLiteral("نعم"), &question);
    QString path = downloads->path() + QLatin1Char('/') + target;
    QVERIFY(w.handleDuplicateFile(path));
    QCOMPARE(path, downloads->path() + QLatin1Char('/') + expected);
    if (!existing.isEmpty())
        QCOMPARE(question, T(QStringLiteral("File already exists. Download as a new file?")));
}

void TestMainWindow::declinedDuplicateAddsNothing()
{
    g_lang = QStringLiteral("en");
    MainWindow w;
    addCard(w, QStringLiteral("a.zip"), 0);
    const QByteArray before = [this] {
        QFile f(listPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    // The first card's placeholder makes the same target a duplicate.
    for (const QString &answer : {QStringLiteral("No"), QStringLiteral("(escape)")}) {
        answerNextMessageBox(answer);
        w.addDownload(QStringLiteral("http://127.0.0.1:9/a.zip"), downloads->path() + "/a.zip",
                      QString(), true);
        QCOMPARE(w.cards.size(), 1);
        QFile f(listPath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), before);
    }
    answerNextMessageBox(QStringLiteral("Yes"));
    w.addDownload(QStringLiteral("http://127.0.0.1:9/a.zip"), downloads->path() + "/a.zip",
                  QString(), true);
    QCOMPARE(w.cards.size(), 2);
    QCOMPARE(w.cards.last()->getTask()->savePath(), downloads->path() + "/a (1).zip");
}

void TestMainWindow::queuedAddIsSavedPaused()
{
    MainWindow w;
    w.addDownload(QStringLiteral("http://127.0.0.1:9/later.zip"), downloads->path() + "/later.zip",
                  QString(), true);
    QCOMPARE(w.cards.size(), 1);
    QTest::qWait(100);
    QCOMPARE(w.cards.first()->getTask()->status, 0);
    const QJsonArray saved = savedList();
    QCOMPARE(saved.size(), 1);
    QCOMPARE(saved.at(0).toObject().value("status").toInt(), 0);
    QCOMPARE(saved.at(0).toObject().value("url").toString(),
             QStringLiteral("http://127.0.0.1:9/later.zip"));
}

void TestMainWindow::linkFromBrowserDownloadsThroughTheDialog()
{
    TestHttpServer server;
    QVERIFY(server.start());
    TestHttpServer::Route route;
    route.body = TestHttpServer::randomBody(3 * 1024 * 1024 + 5, 11);
    server.setRoute("/e2e.bin", route);
    const QString target = downloads->path() + QStringLiteral("/e2e.bin");

    MainWindow w;
    w.showMinimized();
    // Once the dialog's probe has answered, point it at the test folder and press "Start".
    bool clicked = false;
    QTimer driver;
    connect(&driver, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<AddUrlDialog *>(QApplication::activeModalWidget());
        if (!dialog || clicked)
            return;
        auto *info = dialog->findChild<QLabel *>(QStringLiteral("lblFileInfo"));
        if (!info || info->text().isEmpty())
            return;
        dialog->findChild<QLineEdit *>(QStringLiteral("pathInput"))->setText(target);
        clicked = true;
        dialog->findChild<QPushButton *>(QStringLiteral("btnStart"))->click();
    });
    driver.start(20);
    w.openAddDialog(server.url("/e2e.bin").toString(), QStringLiteral("e2e.bin"), 0);
    driver.stop();
    QVERIFY(clicked);
    // The window came forward for the dialog.
    QVERIFY(!(w.windowState() & Qt::WindowMinimized));

    QCOMPARE(w.cards.size(), 1);
    DownloadTask *task = w.cards.first()->getTask();
    QCOMPARE(task->savePath(), target);
    QTRY_COMPARE_WITH_TIMEOUT(task->status, 2, 30000);
    QFile f(target);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(f.readAll() == route.body);
    // Finishing saved the list with the task done.
    QTRY_COMPARE(savedList().at(0).toObject().value("status").toInt(), 2);

    // An empty link opens nothing.
    w.openAddDialog(QString(), QStringLiteral("x"), 1);
    QCOMPARE(w.cards.size(), 1);
}

void TestMainWindow::listSurvivesRestart()
{
    const qint64 big = 6LL * 1024 * 1024 * 1024 + 3;
    {
        MainWindow w;
        addCard(w, QStringLiteral("A.iso"), 1, big); // written as paused
        addCard(w, QStringLiteral("B.iso"), 2, big);
        addCard(w, QStringLiteral("C.iso"), 3, big);
        addCard(w, QStringLiteral("D.iso"), 4, big);
        w.saveTasks();
    }
    MainWindow w;
    QCOMPARE(w.cards.size(), 4);
    const QStringList names = {"A.iso", "B.iso", "C.iso", "D.iso"};
    const int statuses[] = {0, 2, 3, 4};
    for (int i = 0; i < 4; ++i) {
        const DownloadTask *t = w.cards[i]->getTask();
        QCOMPARE(t->fileName, names[i]);
        QCOMPARE(t->status, statuses[i]);
        QCOMPARE(t->totalSize, big);
        QCOMPARE(t->downloadedSize, big / 2);
    }
    // The last task of the file is on top.
    QCOMPARE(w.listLayout->itemAt(0)->widget(), w.cards[3]);
    QCOMPARE(w.listLayout->itemAt(3)->widget(), w.cards[0]);
    // Restored cards show their state at once, and nothing starts by itself.
    QStringList labels;
    for (QLabel *l : w.cards[0]->findChildren<QLabel *>())
        labels << l->text();
    QVERIFY(labels.contains(T(QStringLiteral("Paused"))));
    QTest::qWait(100);
    QCOMPARE(w.cards[0]->getTask()->status, 0);

    w.saveTasks();
    const QJsonArray saved = savedList();
    QCOMPARE(saved.size(), 4);
    for (int i = 0; i < 4; ++i)
        QVERIFY(saved.at(i).toObject().value("savePath").toString().endsWith(names[i]));
}

void TestMainWindow::restartContinuesSegmentedDownload()
{
    TestHttpServer server;
    QVERIFY(server.start());
    TestHttpServer::Route route;
    route.body = TestHttpServer::randomBody(2 * 1024 * 1024 + 13, 7);
    route.trickleBytes = 2048;
    route.headers.append(qMakePair(QByteArray("ETag"), QByteArray("\"v1\"")));
    server.setRoute("/big.bin", route);
    const QString path = downloads->path() + QStringLiteral("/big.bin");

    qint64 savedBytes = 0;
    {
        auto w = std::make_unique<MainWindow>();
        w->show();
        w->addDownload(server.url("/big.bin").toString(), path, QString(), false);
        DownloadTask *task = w->cards.first()->getTask();
        QTRY_VERIFY_WITH_TIMEOUT(task->downloadedSize > route.body.size() / 4, 20000);
        QVERIFY(task->downloadedSize < route.body.size());
        w->close(); // hides to the tray and saves
        savedBytes = task->transferProgress().downloadedBytes();
        QVERIFY(QFile::exists(dataDir + QStringLiteral("/transfers.json")));
    } // the window goes, and its tasks with it, mid-transfer
    QVERIFY(savedBytes > 0);

    server.route("/big.bin").trickleBytes = 0;
    const int requestsBefore = int(server.requests.size());
    MainWindow w;
    QCOMPARE(w.cards.size(), 1);
    DownloadTask *task = w.cards.first()->getTask();
    QCOMPARE(task->status, 0);
    QVERIFY(task->downloadedSize > 0);
    task->resume();
    QTRY_COMPARE_WITH_TIMEOUT(task->status, 2, 30000);

    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(f.readAll() == route.body);

    // Each part continued where it stopped rather than starting over, in parallel.
    qint64 requested = 0;
    int ranged = 0;
    static const QRegularExpression range(QStringLiteral("bytes=(\\d+)-(\\d+)"));
    for (int i = requestsBefore; i < server.requests.size(); ++i) {
        const auto m = range.match(QString::fromLatin1(server.requests[i].headers.value("range")));
        if (!m.hasMatch())
            continue;
        requested += m.captured(2).toLongLong() - m.captured(1).toLongLong() + 1;
        ++ranged;
    }
    QVERIFY2(requested <= route.body.size() - savedBytes + 1,
             qPrintable(QStringLiteral("%1 bytes asked again").arg(requested)));
    QVERIFY(ranged > 1);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
