#include "adding/addurldialog.h"
#include "adding/categoryfolder.h"
#include "app/afterqueuenotice.h"
#include "app/mainwindow.h"
#include "app/preferences.h"
#include "app/preferencesdialog.h"
#include "app/sessionstore.h"
#include "app/sidebar.h"
#include "app/stylesheets.h"
#include "app/traynotices.h"
#include "app/windowtray.h"
#include "engine/bandwidthlimiter.h"
#include "engine/downloadqueue.h"
#include "engine/downloadtask.h"
#include "engine/http/partconnections.h"
#include "engine/storage/checkpoint.h"
#include "language/translation.h"
#include "logindriver.h"
#include "messageboxdriver.h"
#include "testdownloads.h"
#include "testhttpserver.h"
#include "views/downloadcard.h"
#include "views/downloaddetailsdialog.h"
#include "views/sizetext.h"
#include "views/tasklist.h"
#include "views/updatelinkdialog.h"
#include "views/widgetstyles.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

#include <memory>

static QString cardTexts(QWidget *card)
{
    QString texts(QLatin1Char('\n'));
    for (QWidget *child : card->findChildren<QWidget *>())
        texts += child->property("text").toString() + child->toolTip() + QLatin1Char('\n');
    return texts;
}

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup() { QDir(dataDir).removeRecursively(); }

    void toolbarThenNoticesWhileAway();
    void killedWindowResumesFromTheCheckpoint();
    void choicesListAndQueueSurviveRestart();
    void missedStartThenDownloadsAskTheUser();
    void controlsLookLikeControls();

public:
    // The window of killedWindowResumesFromTheCheckpoint(), in a child process of the test.
    static int runChildWindow(const QString &url, const QString &path)
    {
        QStandardPaths::setTestModeEnabled(true); // the parent's list
        MainWindow::bridgePort = 0;
        WindowTray::availableOverride = 1;
        MainWindow w;
        w.addDownload(url, path, QString(), false);
        return QCoreApplication::exec();
    }

private:
    // A download listed for later and set to `status`, its card in view.
    DownloadCard *addCard(MainWindow &w, const QString &name, int status)
    {
        DownloadTask *task = add(w, '/' + name.toUtf8(), name, true);
        task->status = status;
        emit task->progressUpdated();
        return card(w, int(tasks(w).size()) - 1);
    }
    static QList<DownloadTask *> tasks(MainWindow &w) { return w.listView->tasks(); }
    // The server's `route` added as a download to `name` in the downloads folder.
    DownloadTask *add(MainWindow &w, const QByteArray &route, const QString &name,
                      bool later = false)
    {
        w.addDownload(server->url(route).toString(), downloads->filePath(name), {}, later);
        return tasks(w).last();
    }
    // The card of the i-th task (oldest first), scrolled into view.
    static DownloadCard *card(MainWindow &w, int i)
    {
        w.listView->scrollToTask(tasks(w).at(i));
        return w.listView->cardFor(tasks(w).at(i));
    }
    // The details dialog of a task, shown; it is the newest one unless shown before.
    static DownloadDetailsDialog *details(MainWindow &w, DownloadTask *task)
    {
        w.listView->showDetails(task);
        return w.findChildren<DownloadDetailsDialog *>().last();
    }
    QJsonArray savedList() const { return QJsonDocument::fromJson(readFile(listPath())).array(); }
    QString listPath() const { return dataDir + QStringLiteral("/tasks.json"); }
    // The preferences the next window starts with.
    Preferences settings() const { return Preferences(dataDir + QStringLiteral("/settings.ini")); }

    QString dataDir;
    std::unique_ptr<QTemporaryDir> downloads;
    std::unique_ptr<TestHttpServer> server; // started afresh for each test
    QTemporaryDir home;
};

void TestMainWindow::init()
{
    // The settings and lists of these runs live in a home folder of their own, apart from the
    // user's and from other runs of this test at the same time.
    qputenv("HOME", home.path().toUtf8());
    QStandardPaths::setTestModeEnabled(true);
    MainWindow::bridgePort = 0; // never the user's own port 9090
    dataDir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/Torvane";
    downloads = std::make_unique<QTemporaryDir>();
    server = std::make_unique<TestHttpServer>();
    QVERIFY(server->start());
    g_lang = QStringLiteral("ar");
    setDownloadLocation(QString());
    WindowTray::availableOverride = 1;
}

// The toolbar's toggle and delete act on the selected tasks, also those a filter hides; a new add
// of a target already listed asks first. Closed, the window hides in the tray, which says so once.
// A download that ends while the window is away (not in front of the user) tells so from the tray,
// once; a click opens its details. A copied link to a file is offered the same way. Quit in the
// tray menu saves the list; without a tray, closing minimises, so the program stays reachable.
void TestMainWindow::toolbarThenNoticesWhileAway()
{
    g_lang = QStringLiteral("en");
    server->setRoute("/slow.bin", TestHttpServer::randomRoute(4 * 1024 * 1024));
    server->route("/slow.bin").trickleBytes = 1024;
    server->setRoute("/ok.bin", TestHttpServer::randomRoute(64 * 1024, 2));
    server->setRoute("/gone.bin", {});
    server->route("/gone.bin").status = 404;
    TrayNotices::backgroundNoticePending = true;
    MainWindow w;
    w.show();
    DownloadTask *one = add(w, "/slow.bin", "one.bin"), *two = add(w, "/slow.bin", "two.bin");
    addCard(w, QStringLiteral("done.zip"), 2)->setSelected(true);
    DownloadTask *done = tasks(w)[2];
    QTRY_VERIFY(one->status == 1 && two->downloadedSize > 0);
    two->pause();

    // A running task in the selection offers "Pause"; the toggle flips each unfinished task.
    for (DownloadTask *t : {one, two})
        w.listView->cardFor(t)->setSelected(true);
    QTRY_COMPARE(w.tbToggle->text(), QStringLiteral(" Pause"));
    w.tbToggle->click();
    QCOMPARE(QList<int>({one->status, two->status, done->status}), QList<int>({0, 1, 2}));

    // Hidden by a filter (no card), selected tasks still count and their status is followed.
    w.sidebar->btnComp->click();
    QVERIFY(!w.listView->cardFor(two));
    two->pause();
    QTRY_COMPARE(w.tbToggle->text(), QStringLiteral(" Resume"));
    w.tbToggle->click();
    QCOMPARE(QList<int>({one->status, two->status}), QList<int>({1, 1}));
    one->pause();
    w.sidebar->btnAll->click();
    w.listView->cardFor(two)->setSelected(false);

    // Selected now: one (paused, partly fetched) and done; their files stay, and the
    // checkpoint of the paused one goes with its task.
    const QStringList files = {one->savePath(), done->savePath()};
    QTRY_VERIFY(QFile::exists(Checkpoint::pathFor(files[0])));
    answerNextMessageBox(QStringLiteral("Cancel"));
    w.tbDel->click();
    QCOMPARE(tasks(w).size(), 3);
    answerNextMessageBox(QStringLiteral("Delete from List Only"));
    w.tbDel->click();
    QCOMPARE(tasks(w), QList<DownloadTask *>{two});
    QVERIFY(QFile::exists(files[0]) && QFile::exists(files[1]));
    QVERIFY(!QFile::exists(Checkpoint::pathFor(files[0])));

    // A running download deleted with its file is stopped first, and its task goes after the card.
    QPointer<DownloadTask> running = two;
    w.listView->cardFor(two)->setSelected(true);
    answerNextMessageBox(QStringLiteral("Delete List & File"));
    w.tbDel->click();
    QVERIFY(tasks(w).isEmpty());
    QVERIFY(running && running->status == 4);
    QTRY_VERIFY(running.isNull());
    QTest::qWait(200); // nothing writes its file, parts or checkpoint again
    QCOMPARE(QDir(downloads->path()).entryList({"two.bin*"}), QStringList());
    QVERIFY(QFile::exists(files[0]));
    QCOMPARE(savedList().size(), 0);

    // A queued add is saved at once, and its placeholder makes the same target a duplicate:
    // declining adds nothing; accepting takes the first free number, before the last suffix only.
    QVERIFY(writeFile(downloads->filePath("a.tar (1).gz"), {}));
    add(w, "/a.tar.gz", "a.tar.gz", true);
    answerNextMessageBox(QStringLiteral("No"));
    add(w, "/a.tar.gz", "a.tar.gz", true);
    QCOMPARE(tasks(w).size() + savedList().size(), 2);
    answerNextMessageBox(QStringLiteral("Yes"));
    QCOMPARE(add(w, "/a.tar.gz", "a.tar.gz", true)->savePath(),
             downloads->filePath("a.tar (2).gz"));

    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QStringList seen;
    connect(w.notices, &TrayNotices::shown, this,
            [&seen](DownloadTask *, const QString &title, const QString &message) {
                seen << title + QLatin1Char('|') + message;
            });

    const QByteArray served = server->route("/ok.bin").body;
    QCOMPARE(downloadFault(*add(w, "/ok.bin", "front.bin"), served), QString());
    w.close();
    QVERIFY(!w.isVisible() && !w.forceQuit);
    QVERIFY(!TrayNotices::backgroundNoticePending); // the balloon came, and only this once
    QCOMPARE(downloadFault(*add(w, "/ok.bin", "away.bin"), served), QString());
    DownloadTask *failed = add(w, "/gone.bin", "gone.bin");
    QTRY_COMPARE(failed->status, 3);
    QTest::qWait(50);
    QCOMPARE(seen, QStringList({"Download complete|away.bin",
                                "Download failed|gone.bin\n" + failed->lastDlpMessage}));

    auto *details = w.listView->findChildren<DownloadDetailsDialog *>().last();
    details->hide();
    emit w.tray->trayIcon()->messageClicked();
    QVERIFY(details->isVisible() && details->windowTitle().startsWith("gone.bin"));

    // With notices turned off, the clipboard watch, a setting of its own, offers a copied link to
    // a file, and only a click on the notice opens the add dialog with it.
    DownloadPreferences chosen;
    chosen.notices = false;
    chosen.watchClipboard = true;
    w.applyDownloadPreferences(chosen);
    const QString copied = server->url("/ok.bin").toString();
    QGuiApplication::clipboard()->setText(copied);
    QTest::qWait(50);
    QVERIFY(!QApplication::activeModalWidget());
    QString offered;
    answerNextDialog<AddUrlDialog>([&offered](AddUrlDialog *dialog) {
        offered = dialog->getUrl();
        dialog->reject();
    });
    emit w.tray->trayIcon()->messageClicked();
    QTRY_COMPARE(offered, copied);

    QFile::remove(listPath());
    w.tray->quitAction()->trigger();
    QCOMPARE(savedList().at(3)["status"].toInt(), 2); // away.bin
    WindowTray::availableOverride = 0;
    MainWindow trayless;
    trayless.show();
    trayless.close();
    QVERIFY(trayless.isVisible() && (trayless.windowState() & Qt::WindowMinimized));
}

// The window killed mid-download (no save path runs, as in a crash or a power cut), then a new
// window: the card tells where the download stands from the checkpoint the killed one left,
// although the list was last saved before the size was known, once it comes into view (rows out
// of view read nothing), and so does the details dialog. Resume continues from there, and at
// most about two seconds of transfer come twice. A restored task deleted takes its checkpoint
// with it, although it never made a transfer that would know of it.
void TestMainWindow::killedWindowResumesFromTheCheckpoint()
{
    TestHttpServer::Route route = TestHttpServer::randomRoute(8 * 512 * 1024, 8);
    route.trickleBytes = 1024; // every 20 ms on each of eight connections
    route.headers.append(qMakePair(QByteArray("ETag"), QByteArray("\"v1\"")));
    server->setRoute("/crash.bin", route);
    const double bytesPerSecond = 8 * 1024 * 50.0;
    const QUrl url = server->url("/crash.bin");
    const QString path = downloads->path() + QStringLiteral("/crash.bin");

    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {"-childwindow", url.toString(), path});
    // Wherever the kill falls between two checkpoints.
    QVERIFY(QTest::qWaitFor([&] { return server->bytesServed > route.body.size() / 3; }, 30000));
    child.kill();
    QVERIFY(child.waitForFinished(10000));
    QCOMPARE(savedList().at(0)["totalSize"].toInt(), 0);
    server->route("/crash.bin").trickleBytes = 0;
    // Newer downloads above it fill the window.
    QJsonArray list = savedList();
    for (int i = 0; i < 30; ++i)
        list.append(QJsonObject{{"url", QStringLiteral("http://127.0.0.1:9/%1.zip").arg(i)},
                                {"savePath", downloads->filePath(QStringLiteral("%1.zip").arg(i))},
                                {"status", 4}});
    QVERIFY(writeFile(listPath(), QJsonDocument(list).toJson()));
    const TransferProgress kept = Checkpoint::read(path, url);
    QVERIFY(kept.isValid());

    MainWindow w;
    w.show();
    DownloadTask *task = tasks(w).first();
    QCoreApplication::processEvents();
    QCOMPARE(task->totalSize, 0);
    const qint64 percent = percentOf(kept.downloadedBytes(), kept.totalSize);
    const QString card0 = cardTexts(card(w, 0));
    QVERIFY2(card0.contains(QStringLiteral("\n%1%\n").arg(percent)), qPrintable(card0));
    QCOMPARE(details(w, task)->findChild<QLabel *>("downLbl")->text(),
             mbText(kept.downloadedBytes()) + QStringLiteral(" MB (%1%)").arg(percent));
    const QString deleted = Checkpoint::pathFor(tasks(w).at(1)->savePath());
    QVERIFY(QFile::copy(Checkpoint::pathFor(path), deleted));
    w.removeTask(tasks(w).at(1));
    QVERIFY(!QFile::exists(deleted));
    task->resume();
    QCOMPARE(downloadFault(*task, route.body, 30000), QString());
    const qint64 twice = server->bytesServed - route.body.size();
    qInfo("fetched twice: %lld bytes (%.2f s of transfer)", twice, double(twice) / bytesPerSecond);
    QVERIFY(twice <= 2 * bytesPerSecond);
    // Saved on the change of status, with no save point of the list in between.
    QTRY_COMPARE(savedList().at(0)["status"].toInt(), 2);
}

// What the user chose comes back after a restart: language, theme, the window's place and the
// download preferences; so does the list, each task in its state, the running one paused with
// its parts' progress. With one download at a time, started downloads run one after the other,
// also across the restart, in the order they were started; "Download Later" stays out. Then three
// links in one dialog: a name already on disk is asked about once ("No" leaves its row out), and
// two rows with one name are numbered apart, each download to its own file.
void TestMainWindow::choicesListAndQueueSurviveRestart()
{
    TestHttpServer::Route slow = TestHttpServer::randomRoute(256 * 1024, 9);
    slow.trickleBytes = 1024;
    server->setRoute("/q.bin", slow);
    slow.body = TestHttpServer::randomBody(2 * 1024 * 1024 + 13, 7);
    slow.headers.append(qMakePair(QByteArray("ETag"), QByteArray("\"v1\"")));
    server->setRoute("/big.bin", slow);
    QTemporaryDir folder;
    const QRect placed(60, 50, 1200, 760);
    {
        MainWindow w;
        w.show();
        DownloadCard *failed = addCard(w, QStringLiteral("failed.iso"), 3);
        // Tooltips follow the language at once; a selected card keeps its look in the new theme.
        w.btnLang->click();
        QVERIFY(cardTexts(failed).contains(QStringLiteral("\nCancel\n")));
        failed->setSelected(true);
        w.btnTheme->click();
        QCOMPARE(failed->styleSheet(), QString::fromLatin1(SelectedCardStyle));
        w.setGeometry(placed);
        answerNextDialog<PreferencesDialog>([&folder](PreferencesDialog *d) {
            d->findChild<QLineEdit *>("folderEdit")->setText(folder.path());
            d->findChild<QComboBox *>("atOnceCombo")->setCurrentIndex(1);
            d->findChild<QCheckBox *>("limitCheck")->setChecked(true);
            d->findChild<QLineEdit *>("limitEdit")->setText(QStringLiteral("512"));
            d->findChild<QComboBox *>("limitUnit")->setCurrentIndex(0);
            d->findChild<QCheckBox *>("noticesCheck")->setChecked(false);
            d->findChild<QPushButton *>("btnSave")->click();
        });
        w.btnPrefs->click();
        QCOMPARE(QList<qint64>({w.queue->limit(), w.limiter->limit(), w.notices->isEnabled()}),
                 QList<qint64>({1, 512 * 1024, 0}));

        add(w, "/big.bin", "big.bin");
        for (const char *name : {"1.bin", "2.bin"})
            add(w, "/q.bin", name);
        add(w, "/q.bin", "later.bin", true);
        const QList<DownloadTask *> all = tasks(w);
        // A limit of its own, set in its details dialog.
        auto *ownLimit = details(w, all[4])->findChild<QLineEdit *>("limitEdit");
        ownLimit->setText(QStringLiteral("500K"));
        QTest::keyClick(ownLimit, Qt::Key_Return);
        QVERIFY(cardTexts(card(w, 2)).contains(QStringLiteral("\nQueued\n")));
        // Saved are only the parts' bytes known to be on the disk.
        QTRY_VERIFY_WITH_TIMEOUT(all[1]->transferProgress().downloadedBytes() >
                                     server->route("/big.bin").body.size() / 4,
                                 20000);
        w.close(); // hides to the tray and saves, the running task as paused
        // The window goes, and its tasks with it, mid-transfer.
    }

    // A new process starts from the defaults.
    g_lang = QStringLiteral("ar");
    QGuiApplication::setLayoutDirection(Qt::RightToLeft);
    qApp->setStyleSheet(QString());
    setDownloadLocation(QString());
    server->route("/q.bin").trickleBytes = server->route("/big.bin").trickleBytes = 0;
    MainWindow w;
    w.show();
    QCOMPARE(g_lang, QStringLiteral("en"));
    QCOMPARE(QGuiApplication::layoutDirection(), Qt::LeftToRight);
    QCOMPARE(qApp->styleSheet(), QString::fromUtf8(DarkStyleSheet));
    QCOMPARE(w.geometry(), placed);
    QCOMPARE(QList<qint64>({w.queue->limit(), w.limiter->limit(), w.notices->isEnabled()}),
             QList<qint64>({1, 512 * 1024, 0}));
    QCOMPARE(categoryFolder("a.zip"), folder.path() + "/Torvane/Compressed");

    // Each in its state; the running one is back paused, the waiting ones run in their order.
    const QList<DownloadTask *> all = tasks(w);
    QCOMPARE(all.size(), 5);
    QCOMPARE(all[0]->status, 3);
    QCOMPARE(w.queue->waiting(), all.mid(2, 2));
    int mostRunning = 0;
    for (DownloadTask *t : all)
        // The list, not the window: it goes before the tasks report their cancel.
        connect(t, &DownloadTask::progressUpdated, w.listView, [&all, &mostRunning] {
            mostRunning =
                qMax(mostRunning, int(std::count_if(all.cbegin(), all.cend(),
                                                    [](auto *o) { return o->status == 1; })));
        });
    QTRY_COMPARE_WITH_TIMEOUT(all[3]->status, 2, 20000);
    for (DownloadTask *t : all.mid(2, 2))
        QCOMPARE(downloadFault(*t, server->route("/q.bin").body), QString());
    QCOMPARE(mostRunning, 1);
    QVERIFY(all[1]->status == 0 && !all[1]->queued && all[4]->status == 0 && !all[4]->queued);
    // The download's own limit came back with its session data, not in the list.
    QCOMPARE(all[4]->speedLimit(), 500 * 1024);
    QCOMPARE(details(w, all[4])->findChild<QLineEdit *>("limitEdit")->text(), "500K");
    QVERIFY(!readFile(listPath()).contains("speedLimit"));

    // Resumed, each part continues where it stopped rather than starting over: it asks again at
    // most an overlap of the bytes it has, to compare them with the disk.
    const qint64 missing = server->route("/big.bin").body.size() -
                           Checkpoint::read(all[1]->savePath(), all[1]->url()).downloadedBytes();
    const int before = server->requests.size();
    all[1]->resume();
    QCOMPARE(downloadFault(*all[1], server->route("/big.bin").body, 30000), QString());
    const qint64 asked = TestHttpServer::bytesAskedFor(server->requests.mid(before));
    QVERIFY2(asked <= missing + 8 * PartConnections::ResumeOverlap,
             qPrintable(QStringLiteral("%1 asked, %2 missing").arg(asked).arg(missing)));

    const QByteArray paths[] = {"/1/same.bin", "/2/same.bin", "/taken.bin"};
    QStringList links;
    for (const QByteArray &path : paths) {
        server->setRoute(path, TestHttpServer::randomRoute(96 * 1024, quint32(links.size() + 20)));
        links << server->url(path).toString();
    }
    const QString category = categoryFolder("x.bin");
    QVERIFY(QDir().mkpath(category) && writeFile(category + "/taken.bin", "mine"));
    // Started at once, before the probes answer: the names are the links' own until then.
    answerNextDialog<AddUrlDialog>([](AddUrlDialog *dialog) {
        answerNextMessageBox(QStringLiteral("No"));
        dialog->findChild<QPushButton *>("btnStart")->click();
    });
    w.openAddDialog(LinkOffer{links, {}, 0, {}});
    QCOMPARE(tasks(w).size(), 7);
    QCOMPARE(readFile(category + "/taken.bin"), QByteArray("mine"));
    QCOMPARE(tasks(w).at(6)->savePath(), category + "/same (1).bin");
    QTRY_COMPARE_WITH_TIMEOUT(tasks(w).at(6)->status, 2, 20000); // the later of the two
    for (int i = 0; i < 2; ++i)
        QCOMPARE(downloadFault(*tasks(w).at(5 + i), server->route(paths[i]).body), QString());
}

// A start time that passed while the program was closed resumes the saved download at launch,
// and only once; when it is done the user's command runs in its folder after the notice. The
// next time the queue is done, the notice is cancelled and nothing runs. Then two downloads stop
// at one server that wants a login: one question for both, asked again with the reason after a
// wrong password; the login remembered is kept in the private sessions file. A cancelled question
// leaves its download failed, saying why. A signed link expires mid-download: links the browser
// hands over are offered to the download waiting for one; one to another file is refused with
// the check that failed, the fresh one continues the same card to the served bytes.
void TestMainWindow::missedStartThenDownloadsAskTheUser()
{
    server->setRoute("/later.bin", TestHttpServer::randomRoute(128 * 1024, 4));
    {
        MainWindow w;
        add(w, "/later.bin", "later.bin", true);
    }
    const QDateTime launch = QDateTime::currentDateTime();
    DownloadPreferences chosen;
    chosen.schedule = {true, launch.time().addSecs(-3600), false, {}, Schedule::kEveryDay};
    chosen.afterQueue = AfterQueue::Command;
#ifdef Q_OS_WIN
    chosen.afterCommand = QStringLiteral("cmd /c \"cd > after.txt\"");
#else
    chosen.afterCommand = QStringLiteral("sh -c \"pwd -P > after.txt\"");
#endif
    settings().setDownloads(chosen);
    settings().setScheduleChecked(launch.addSecs(-7200));
    AfterQueueNotice::delayMs = 300;

    MainWindow w;
    QVERIFY(settings().scheduleChecked() >= launch.addSecs(-1));
    const QByteArray served = server->route("/later.bin").body;
    QCOMPARE(downloadFault(*tasks(w).first(), served), QString());
    const QString ran = downloads->filePath("after.txt");
    QTRY_COMPARE(readFile(ran).trimmed(),
                 QDir::toNativeSeparators(QDir(downloads->path()).canonicalPath()).toUtf8());

    QTRY_VERIFY(!w.findChild<AfterQueueNotice *>());
    QVERIFY(QFile::remove(ran));
    QCOMPARE(downloadFault(*add(w, "/later.bin", "again.bin"), served), QString());
    QTRY_VERIFY(w.findChild<AfterQueueNotice *>());
    w.findChild<AfterQueueNotice *>()->findChild<QPushButton *>("btnCancel")->click();
    QTest::qWait(3 * AfterQueueNotice::delayMs);
    QVERIFY(!QFile::exists(ran));

    TestHttpServer::Route locked = TestHttpServer::randomRoute(1024 * 1024 + 5, 12);
    locked.loginUser = "alice";
    locked.loginPassword = "s3cret";
    server->setRoute("/locked.bin", locked);
    HostLogins::shared().set(server->url("/"), Login(), false);
    w.applyDownloadPreferences(DownloadPreferences()); // nothing runs when the queue is done
    QStringList reasons;
    const QList<DownloadTask *> both = {add(w, "/locked.bin", "a.bin"),
                                        add(w, "/locked.bin", "b.bin")};
    answerLogins({"wrong", "s3cret"}, &reasons, true, [&both] {
        return std::all_of(both.cbegin(), both.cend(), [](const DownloadTask *t) {
            return t->status == 3 && !t->loginRequest.isNull();
        });
    });
    QTRY_VERIFY_WITH_TIMEOUT(both[0]->status == 2 && both[1]->status == 2, 20000);
    QCOMPARE(reasons, (QStringList{"", T("The user name or password was not accepted")}));
    for (const DownloadTask *task : both)
        QVERIFY(readFile(task->savePath()) == locked.body);
    QVERIFY(SessionStore(dataDir).logins().value(HostLogins::originOf(server->url("/"))) ==
            (Login{"alice", "s3cret"}));

    HostLogins::shared().set(server->url("/"), Login(), false);
    answerLogins({""}, &reasons);
    DownloadTask *cancelled = add(w, "/locked.bin", "c.bin");
    QTRY_COMPARE(reasons.size(), 3);
    QTest::qWait(50);
    QCOMPARE(cancelled->status, 3);
    QCOMPARE(cancelled->lastDlpMessage, T("Login required"));

    TestHttpServer::Route file = TestHttpServer::randomRoute(512 * 1024 + 3, 40);
    file.tokens = {{"old", 9}, {"new", -1}}; // the probe and the eight parts
    file.dropAtByte = 300 * 1024;            // asked again once its link has expired
    file.dropTimes = 1;
    server->setRoute("/f.bin", file);
    server->setRoute("/other/f.bin", TestHttpServer::randomRoute(file.body.size(), 41));
    DownloadTask *task = add(w, "/f.bin?token=old", "f.bin");
    QTRY_COMPARE_WITH_TIMEOUT(task->status, 3, 20000);
    QVERIFY(card(w, 5)->findChild<QPushButton *>("btnUpdateLink")->isVisibleTo(card(w, 5)));

    LinkOffer offer{{server->url("/other/f.bin").toString()}, "f.bin", file.body.size(), {}};
    QString asked;
    QString refusal;
    answerNextMessageBox(QStringLiteral("نعم"), &asked);
    answerNextDialog<UpdateLinkDialog>([&refusal](UpdateLinkDialog *dialog) {
        auto *startOver = dialog->findChild<QPushButton *>("btnStartOver");
        if (QTest::qWaitFor([&] { return !startOver->isHidden(); }, 10000))
            refusal = dialog->findChild<QLabel *>("linkCheckLine")->text();
        dialog->reject();
    });
    w.openAddDialog(offer);
    QVERIFY(asked.contains(QChar(0x2068) + QStringLiteral("f.bin") + QChar(0x2069)));
    QCOMPARE(refusal,
             T("Not the same file: %1").arg(T("Its first bytes differ from those on the disk")));
    QCOMPARE(task->status, 3);
    QCOMPARE(task->url(), server->url("/f.bin?token=old"));

    answerNextMessageBox(QStringLiteral("نعم"));
    offer.urls = QStringList{server->url("/f.bin?token=new").toString()};
    w.openAddDialog(offer); // checked, then continued at once
    QCOMPARE(downloadFault(*task, file.body), QString());
    QCOMPARE(tasks(w).size(), 6);
    QCOMPARE(savedList().at(5).toObject().value("url").toString(), offer.urls.first());
}

// In both themes, check boxes (also a list's rows, as in the add dialog's links), and radio buttons
// show a box with an edge while unchecked and the accent inside it when checked, at the start of
// the line (the sheets have no rule of their own for either direction, so each theme is seen in
// one). The platform's bare tick showed nothing at all for an unchecked row in the dark theme.
void TestMainWindow::controlsLookLikeControls()
{
    const auto plain = qScopeGuard([] { qApp->setStyleSheet(QString()); });
    for (const bool dark : {false, true}) {
        qApp->setStyleSheet(QString::fromUtf8(dark ? DarkStyleSheet : LightStyleSheet));
        QWidget page;
        page.setLayoutDirection(dark ? Qt::LeftToRight : Qt::RightToLeft);
        auto *column = new QVBoxLayout(&page);
        QList<QAbstractButton *> buttons;
        for (bool checked : {false, true})
            for (QAbstractButton *b :
                 QList<QAbstractButton *>{new QCheckBox("Limit to"), new QRadioButton("System")}) {
                b->setAutoExclusive(false);
                b->setChecked(checked);
                column->addWidget(b);
                buttons << b;
            }
        auto *view = new QListWidget;
        for (Qt::CheckState state : {Qt::Unchecked, Qt::Checked})
            (new QListWidgetItem(QStringLiteral("file.zip"), view))->setCheckState(state);
        column->addWidget(view);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        const QImage shot = page.grab().toImage();

        // The 20 pixels at the start of a line hold the box: its edge stands out from what is
        // around it, and a checked one is filled with the accent.
        const auto boxAt = [&](const QRect &line, bool checked) {
            const QRect box = QStyle::visualRect(page.layoutDirection(), line,
                                                 QRect(line.left(), line.top(), 20, line.height()));
            const QColor around = shot.pixelColor(box.center().x(), box.top());
            int edge = 0, accent = 0;
            for (int y = box.top(); y <= box.bottom(); ++y)
                for (int x = box.left(); x <= box.right(); ++x) {
                    const QColor c = shot.pixelColor(x, y);
                    edge += qAbs(c.red() - around.red()) + qAbs(c.green() - around.green()) +
                                qAbs(c.blue() - around.blue()) >
                            120;
                    accent +=
                        qAbs(c.red() - 0x02) + qAbs(c.green() - 0x84) + qAbs(c.blue() - 0xc7) < 40;
                }
            return edge >= 40 && (accent >= 40) == checked;
        };
        const char *look = dark ? "dark" : "light";
        for (int i = 0; i < buttons.size(); ++i)
            QVERIFY2(boxAt(buttons[i]->geometry(), i >= 2), look);
        for (int i : {0, 1}) {
            const QRect row = view->visualItemRect(view->item(i));
            QVERIFY2(boxAt(row.translated(view->viewport()->mapTo(&page, QPoint())), i), look);
        }
    }
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args[1] == QLatin1String("-childwindow"))
        return TestMainWindow::runChildWindow(args[2], args[3]);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestMainWindow test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_mainwindow.moc"
