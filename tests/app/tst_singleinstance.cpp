#include "adding/addurldialog.h"
#include "app/mainwindow.h"
#include "app/singleinstance.h"
#include "app/startup.h"
#include "testfiles.h"
#include "testhome.h"
#include "testhttpserver.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <memory>
#include <vector>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

// Real copies of the program: later starts are the built program, and they hand over to the
// running copy, which is this test (so that it can look at the window and answer its dialogs) or
// the built program too.

namespace {

// A later start, from another thread so that this one's event loop keeps serving the running copy.
bool handOverFromAnotherThread(const QString &dir, const QStringList &arguments)
{
    bool answered = false;
    std::unique_ptr<QThread> later(QThread::create([&] {
        answered = SingleInstance(dir).handOver(arguments) == SingleInstance::HandOver::Taken;
    }));
    later->start();
    return QTest::qWaitFor([&] { return later->isFinished(); }, 10000) && answered;
}

#ifndef Q_OS_WIN
// Leaves this process `free` file descriptors until destroyed.
class DescriptorShortage {
public:
    explicit DescriptorShortage(int free)
    {
        getrlimit(RLIMIT_NOFILE, &saved);
        rlimit low = saved;
        low.rlim_cur = qMin<rlim_t>(saved.rlim_cur, 1024); // few to fill
        setrlimit(RLIMIT_NOFILE, &low);
        for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
            fillers.push_back(fd);
        for (int i = 0; i < free && !fillers.empty(); ++i) {
            ::close(fillers.back());
            fillers.pop_back();
        }
    }
    ~DescriptorShortage()
    {
        for (int fd : fillers)
            ::close(fd);
        setrlimit(RLIMIT_NOFILE, &saved);
    }

private:
    rlimit saved{};
    std::vector<int> fillers;
};
#endif

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT

private slots:
    void init();

    void laterStartsHandOverToTheRunningCopy();
    void lockOfAKilledCopyIsTakenOver();
    void silentLockIsTakenOver();
    void hostileConnectionsNeverShutTheSocket_data();
    void hostileConnectionsNeverShutTheSocket();

private:
    // Starts the real program with these arguments and checks that it hands them over and ends.
    void runLaterStart(const QStringList &arguments);

    std::unique_ptr<QTemporaryDir> home;
    QProcessEnvironment environment;
    QString dir; // the runtime folder: lock and socket
};

void TestSingleInstance::init()
{
    // Per-user state (lock, socket, task list, downloads) in a throw-away home, so that parallel
    // runs on one machine never meet; the running copy in this process uses it too.
    home = std::make_unique<QTemporaryDir>();
    QVERIFY(home->isValid());
    environment = privateHome(home->path());
    for (const QString &name : environment.keys()) {
        if (name == QLatin1String("HOME") || name.startsWith(QLatin1String("XDG_")))
            qputenv(qPrintable(name), environment.value(name).toUtf8());
    }
    qunsetenv("XDG_DOWNLOAD_DIR");
    dir = home->path() + "/run";
}

void TestSingleInstance::runLaterStart(const QStringList &arguments)
{
    QProcess later;
    later.setProcessEnvironment(environment);
    later.setProcessChannelMode(QProcess::ForwardedChannels);
    QElapsedTimer clock;
    clock.start();
    later.start(QStringLiteral(TORVANE_PROGRAM), arguments);
    // The running copy may be this process, so its event loop turns meanwhile. A later start that
    // became a second window would never end; a generous bound catches it without timing a busy
    // machine.
    QVERIFY(QTest::qWaitFor([&] { return later.state() == QProcess::NotRunning; }, 15000));
    qInfo("later start %s ended after %lld ms", qPrintable(arguments.join(' ')), clock.elapsed());
    QCOMPARE(later.exitStatus(), QProcess::NormalExit);
    QCOMPARE(later.exitCode(), 0);
}

void TestSingleInstance::laterStartsHandOverToTheRunningCopy()
{
    TestHttpServer server;
    QVERIFY(server.start());
    const TestHttpServer::Route first = TestHttpServer::randomRoute(300 * 1024 + 3, 1),
                                second = TestHttpServer::randomRoute(200 * 1024 + 5, 2);
    // Names of this run alone: on Windows the files go to the user's own Downloads folder, where
    // an earlier run's would make the add dialog ask about a file that exists.
    const QByteArray tag = QFileInfo(home->path()).fileName().toUtf8();
    server.setRoute("/first-" + tag + ".zip", first);
    server.setRoute("/second-" + tag + ".zip", second);
    const QString firstLink = server.url("/first-" + tag + ".zip").toString();
    const QString secondLink = server.url("/second-" + tag + ".zip").toString();

    // The running copy's list, with one task in it.
    const QString list =
        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/Torvane/tasks.json";
    const QJsonObject seeded{{"url", "https://example.invalid/seed.zip"},
                             {"savePath", home->path() + "/seed.zip"},
                             {"format", ""},
                             {"status", 2},
                             {"totalSize", 5},
                             {"downloadedSize", 5}};
    QVERIFY(QDir().mkpath(QFileInfo(list).path()));
    QVERIFY(writeFile(list, QJsonDocument(QJsonArray{seeded}).toJson()));
    MainWindow::bridgePort = 0;
    SingleInstance running(dir);
    QVERIFY(running.claim());
    MainWindow window;
    receiveHandOvers(running, window);

    // A later start without a link brings the window back from the tray, and opens nothing.
    runLaterStart({});
    QTRY_VERIFY(window.isVisible());
    window.hide();
    // Each add dialog as it comes: its link (and whether the window had come back for it); its
    // download starts once the dialog has worked out where the file goes. While the first one
    // runs its own event loop, the next start is still taken in at once; its links (only the
    // http(s) one) wait their turn in the queue, not in a second dialog.
    QStringList asked;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        auto *dialog = qobject_cast<AddUrlDialog *>(QApplication::activeModalWidget());
        auto *start = dialog ? dialog->findChild<QPushButton *>("btnStart") : nullptr;
        if (!start || !start->isEnabled() || dialog->getSavePath().isEmpty())
            return;
        poll.stop();
        asked << dialog->getUrl() + (window.isVisible() ? "" : " (hidden)");
        if (asked.size() == 1) {
            runLaterStart({"file:///etc/hostname", secondLink});
            QTest::qWait(300);
            if (QApplication::activeModalWidget() != dialog)
                asked << "a second dialog";
        }
        start->click();
        poll.start();
    });
    poll.start(20);
    runLaterStart({firstLink});
    QTRY_COMPARE_WITH_TIMEOUT(asked, (QStringList{firstLink, secondLink}), 20000);

    QJsonArray saved;
    QVERIFY(QTest::qWaitFor(
        [&] {
            saved = QJsonDocument::fromJson(readFile(list)).array();
            return saved.size() == 3 && saved.at(1)["status"].toInt() == 2 &&
                   saved.at(2)["status"].toInt() == 2;
        },
        30000));
    // One list with everything: the seeded task and both handed-over links, downloaded whole.
    QCOMPARE(saved.at(0).toObject(), seeded);
    QCOMPARE(saved.at(1)["url"].toString(), firstLink);
    QCOMPARE(saved.at(2)["url"].toString(), secondLink);
    QVERIFY(readFile(saved.at(1)["savePath"].toString()) == first.body);
    QVERIFY(readFile(saved.at(2)["savePath"].toString()) == second.body);
    // The later starts ended before they could load or write a list of their own (a program's
    // name picks its data folder; on Windows it lies in the user's profile).
    const QString laterList =
        QFileInfo(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).path() +
        "/torvane/Torvane/tasks.json";
    QVERIFY(!readFile(laterList).contains(firstLink.toUtf8()));
    for (int i : {1, 2})
        QFile::remove(saved.at(i)["savePath"].toString());
}

// A copy killed outright leaves its lock and socket behind. The next start becomes the running
// copy all the same, opens the link it was started with (its add dialog asks the server about
// it), and answers later starts.
void TestSingleInstance::lockOfAKilledCopyIsTakenOver()
{
    TestHttpServer server;
    QVERIFY(server.start());
    QProcess first, next;
    for (QProcess *copy : {&first, &next})
        copy->setProcessEnvironment(environment);
    first.start(QStringLiteral(TORVANE_PROGRAM), {});
    QVERIFY(QTest::qWaitFor([&] { return handOverFromAnotherThread(dir, {}); }, 20000));
    QVERIFY(QFileInfo::exists(dir + "/torvane.lock"));
#ifndef Q_OS_WIN // there the socket is a named pipe, no file
    QVERIFY(QFileInfo::exists(dir + "/torvane.socket"));
#endif
    first.kill();
    QVERIFY(first.waitForFinished(5000));
    QVERIFY(QFileInfo::exists(dir + "/torvane.lock"));

    next.start(QStringLiteral(TORVANE_PROGRAM), {server.url("/after-crash.zip").toString()});
    QTRY_VERIFY_WITH_TIMEOUT(!server.requestsFor("/after-crash.zip").isEmpty(), 20000);
    runLaterStart({});
    QCOMPARE(next.state(), QProcess::Running);
    next.kill();
    QVERIFY(next.waitForFinished(5000));
}

// A lock nobody answers for is taken over: empty, garbled, or with the id of a running process
// of this very program, as when the system gave a crashed copy's id to the next one.
void TestSingleInstance::silentLockIsTakenOver()
{
    const QString lockPath = dir + "/torvane.lock";
    QLockFile own(lockPath);
    QVERIFY(own.tryLock(0));
    const QByteArray ownId = readFile(lockPath);
    own.unlock();
    for (const QByteArray &contents : {QByteArray(), QByteArray("\x01\xff not a lock\n"), ownId}) {
        QVERIFY(writeFile(lockPath, contents));
        SingleInstance next(dir);
        QVERIFY(next.claim());
        QVERIFY(handOverFromAnotherThread(dir, {}));
    }
}

void TestSingleInstance::hostileConnectionsNeverShutTheSocket_data()
{
    QTest::addColumn<int>("free"); // file descriptors left to this process meanwhile
    QTest::addColumn<int>("idle"); // connections that never send a message
    QTest::addColumn<bool>("listenerLost");
    // Without the cap the connections would take every descriptor (each is two in this process).
    QTest::newRow("more idle connections than the cap") << 48 << 30 << false;
    QTest::newRow("out of descriptors: the listener closes") << 1 << 1 << true;
}

void TestSingleInstance::hostileConnectionsNeverShutTheSocket()
{
#ifdef Q_OS_WIN
    QSKIP("descriptor limits are a Unix thing");
#else
    QFETCH(int, free);
    QFETCH(int, idle);
    QFETCH(bool, listenerLost);
    SingleInstance running(dir);
    QVERIFY(running.claim());
    std::vector<std::unique_ptr<QLocalSocket>> sockets;
    auto closed = [&] {
        return std::count_if(sockets.begin(), sockets.end(), [](const auto &s) {
            return s->state() == QLocalSocket::UnconnectedState;
        });
    };
    {
        DescriptorShortage shortage(free);
        for (int i = 0; i < idle; ++i) {
            sockets.push_back(std::make_unique<QLocalSocket>());
            sockets.back()->connectToServer(running.serverName());
        }
        if (listenerLost) {
            QTRY_VERIFY(!QFile::exists(running.serverName()));
        } else {
            // Those past the cap are turned away at once, the others wait for their deadline.
            QTRY_VERIFY(closed() >= idle - SingleInstance::MaxOpenConnections);
            QCOMPARE(closed(), qsizetype(idle - SingleInstance::MaxOpenConnections));
            QVERIFY(QFile::exists(running.serverName()));
        }
    }
    // Later starts get through once the idle connections are dropped or the listener is back.
    QVERIFY(handOverFromAnotherThread(dir, {}));
    QTRY_COMPARE(closed(), qsizetype(idle));
#endif
}

QTEST_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
