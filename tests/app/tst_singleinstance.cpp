#include "adding/addurldialog.h"
#include "app/linkoffer.h"
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

#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

// Two real copies of the program. The first runs from this test binary: the program's own start-up
// code plus a reporter that prints what its windows do and takes commands on stdin. Later starts
// are the real program.

namespace {

const char FirstCopyVariable[] = "TST_SINGLEINSTANCE_FIRST_COPY";

// In the first copy: prints "shown", "hidden" and "dialog LINK" as they happen; "hide" on stdin
// hides the main window as the tray does, "accept" starts the download of the topmost add dialog
// once the dialog has worked out where the file goes.
class FirstCopyReporter : public QObject {
public:
    FirstCopyReporter()
    {
        // Read in a thread of its own, blocking: on Windows a socket notifier watches sockets only,
        // never the pipe that stdin is. The thread outlives the reporter; the process is killed.
        std::thread([this] {
            char buffer[256];
            while (std::fgets(buffer, sizeof buffer, stdin)) {
                const QByteArray line = QByteArray(buffer).trimmed();
                QMetaObject::invokeMethod(this, [this, line] { command(line); });
            }
        }).detach();
        connect(&poll, &QTimer::timeout, this, &FirstCopyReporter::report);
        poll.start(20);
    }

private:
    static MainWindow *window()
    {
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (auto *main = qobject_cast<MainWindow *>(widget))
                return main;
        return nullptr;
    }

    void command(const QByteArray &line)
    {
        if (line == "hide" && window())
            window()->hide();
        else if (line == "accept")
            ++pendingAccepts;
    }

    static void say(const QString &line)
    {
        std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
        std::fflush(stdout);
    }

    void report()
    {
        MainWindow *main = window();
        if (!main)
            return;
        const bool visible = main->isVisible() && !main->isMinimized();
        if (visible != shown) {
            shown = visible;
            say(visible ? QStringLiteral("shown") : QStringLiteral("hidden"));
        }
        for (AddUrlDialog *dialog : main->findChildren<AddUrlDialog *>()) {
            if (dialog->isVisible() && !dialog->property("reported").toBool()) {
                dialog->setProperty("reported", true);
                say(QStringLiteral("dialog ") + dialog->getUrl());
            }
        }
        auto *top = qobject_cast<AddUrlDialog *>(QApplication::activeModalWidget());
        auto *start = top ? top->findChild<QPushButton *>(QStringLiteral("btnStart")) : nullptr;
        if (pendingAccepts > 0 && start && start->isEnabled() && !top->getSavePath().isEmpty()) {
            --pendingAccepts;
            start->click();
        }
    }

    QTimer poll;
    bool shown = false;
    int pendingAccepts = 0;
};

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
    void cleanup();

    void linkFromCommandLine_data();
    void linkFromCommandLine();
    void laterStartsHandOverToTheRunningCopy();
    void lockOfAKilledCopyIsTakenOver();
    void silentLockIsTakenOver_data();
    void silentLockIsTakenOver();
    void hostileConnectionsNeverShutTheSocket_data();
    void hostileConnectionsNeverShutTheSocket();

private:
    void startFirstCopy(const QStringList &arguments = {});
    bool waitForLine(const QString &line, int occurrence = 1);
    // Starts the real program with these arguments and checks that it hands them over and ends.
    void runLaterStart(const QStringList &arguments);
    QString listOf(const QString &program) const;
    QString firstCopyList() const;

    std::unique_ptr<QTemporaryDir> home;
    QProcessEnvironment environment;
    std::unique_ptr<QProcess> firstCopy;
    QStringList firstCopyLines;
};

void TestSingleInstance::init()
{
    // Per-user state (lock, socket, task list, downloads) in a throw-away home, so that parallel
    // runs on one machine never meet.
    home = std::make_unique<QTemporaryDir>();
    QVERIFY(home->isValid());
    environment = privateHome(home->path());
    firstCopyLines.clear();
    QDir(QFileInfo(firstCopyList()).path()).removeRecursively(); // outside the home on Windows
}

void TestSingleInstance::cleanup()
{
    if (firstCopy) {
        firstCopy->kill();
        firstCopy->waitForFinished(5000);
        firstCopy.reset();
    }
    home.reset();
}

void TestSingleInstance::linkFromCommandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("links");
    QTest::newRow("https link") << QStringList{"https://example.org/a/b.zip?x=1&y=2"}
                                << QStringList{"https://example.org/a/b.zip?x=1&y=2"};
    QTest::newRow("scheme in capitals, spaces around")
        << QStringList{" HTTP://example.org/f.iso "} << QStringList{"HTTP://example.org/f.iso"};
    QTest::newRow("no arguments") << QStringList{} << QStringList{};
    QTest::newRow("two links") << QStringList{"https://a.org/1", "https://a.org/2"}
                               << QStringList{"https://a.org/1", "https://a.org/2"};
    // Anything but an http(s) link is left out: paths, other schemes, options.
    QTest::newRow("others left out")
        << QStringList{"/home/user/file.zip", "file:///home/user/file.zip",
                       "http://a.org/x",      "ftp://example.org/f.zip",
                       "https:///f.zip",      "--help",
                       "javascript:x()"}
        << QStringList{"http://a.org/x"};
}

void TestSingleInstance::linkFromCommandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, links);
    QCOMPARE(linkOfferFromArguments(arguments).urls, links);
}

void TestSingleInstance::startFirstCopy(const QStringList &arguments)
{
    firstCopy = std::make_unique<QProcess>();
    QProcessEnvironment env = environment;
    env.insert(FirstCopyVariable, "1");
    firstCopy->setProcessEnvironment(env);
    firstCopy->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(firstCopy.get(), &QProcess::readyReadStandardOutput, this, [this] {
        while (firstCopy->canReadLine())
            firstCopyLines.append(QString::fromUtf8(firstCopy->readLine()).trimmed());
    });
    firstCopy->start(QCoreApplication::applicationFilePath(), arguments);
    QVERIFY(firstCopy->waitForStarted());
}

bool TestSingleInstance::waitForLine(const QString &line, int occurrence)
{
    const bool seen =
        QTest::qWaitFor([&] { return firstCopyLines.count(line) >= occurrence; }, 20000);
    if (!seen)
        qWarning() << "first copy said" << firstCopyLines << "- no" << line << occurrence;
    return seen;
}

void TestSingleInstance::runLaterStart(const QStringList &arguments)
{
    QProcess later;
    later.setProcessEnvironment(environment);
    later.setProcessChannelMode(QProcess::ForwardedChannels);
    QElapsedTimer clock;
    clock.start();
    later.start(QStringLiteral(TORVANE_PROGRAM), arguments);
    // A later start that became a second window would never end; a generous bound catches it
    // without timing a busy machine.
    QVERIFY(later.waitForFinished(15000));
    qInfo("later start %s ended after %lld ms", qPrintable(arguments.join(' ')), clock.elapsed());
    QCOMPARE(later.exitStatus(), QProcess::NormalExit);
    QCOMPARE(later.exitCode(), 0);
}

QString TestSingleInstance::listOf(const QString &program) const
{
    // A program's name picks its data folder. On Windows that folder lies in the user's profile,
    // which the environment does not move: it is the same for this process and the copies.
#ifdef Q_OS_WIN
    const QString data =
        QFileInfo(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).path();
#else
    const QString data = home->path() + "/data";
#endif
    return data + '/' + program + "/Torvane/tasks.json";
}

QString TestSingleInstance::firstCopyList() const
{
    // The first copy runs as this test program.
    return listOf(QCoreApplication::applicationName());
}

void TestSingleInstance::laterStartsHandOverToTheRunningCopy()
{
    TestHttpServer server;
    QVERIFY(server.start());
    TestHttpServer::Route first, second;
    first.body = TestHttpServer::randomBody(300 * 1024 + 3, 1);
    second.body = TestHttpServer::randomBody(200 * 1024 + 5, 2);
    // Names of this run alone: on Windows the files go to the user's own Downloads folder, where
    // an earlier run's would make the add dialog ask about a file that exists.
    const QByteArray tag = QFileInfo(home->path()).fileName().toUtf8();
    server.setRoute("/first-" + tag + ".zip", first);
    server.setRoute("/second-" + tag + ".zip", second);
    const QString firstLink = server.url("/first-" + tag + ".zip").toString();
    const QString secondLink = server.url("/second-" + tag + ".zip").toString();

    const QJsonObject seeded{{"url", "https://example.invalid/seed.zip"},
                             {"savePath", home->path() + "/seed.zip"},
                             {"format", ""},
                             {"status", 2},
                             {"totalSize", 5},
                             {"downloadedSize", 5}};
    QVERIFY(QDir().mkpath(QFileInfo(firstCopyList()).path()));
    QVERIFY(writeFile(firstCopyList(), QJsonDocument(QJsonArray{seeded}).toJson()));

    startFirstCopy();
    QVERIFY(waitForLine("shown"));
    firstCopy->write("hide\n");
    QVERIFY(waitForLine("hidden"));

    // A link handed over brings the window back from the tray and opens the add dialog with it.
    runLaterStart({firstLink});
    QVERIFY(waitForLine("shown", 2));
    QVERIFY(waitForLine("dialog " + firstLink));

    // While that dialog runs its own event loop, the next start is still taken in at once; its
    // links (only the http(s) one) wait their turn in the queue, not in a second dialog.
    runLaterStart({"file:///etc/hostname", secondLink});
    QTest::qWait(300);
    QVERIFY(!firstCopyLines.contains("dialog " + secondLink));
    firstCopy->write("accept\n");
    QVERIFY(waitForLine("dialog " + secondLink));

    firstCopy->write("accept\n");
    QJsonArray saved;
    QVERIFY(QTest::qWaitFor(
        [&] {
            saved = QJsonDocument::fromJson(readFile(firstCopyList())).array();
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
    // The later starts ended before they could load or write a list of their own.
    QVERIFY(!readFile(listOf("torvane")).contains(firstLink.toUtf8()));
    for (int i : {1, 2}) // in the user's own Downloads folder on Windows
        QFile::remove(saved.at(i)["savePath"].toString());
    QCOMPARE(firstCopy->state(), QProcess::Running);
}

void TestSingleInstance::lockOfAKilledCopyIsTakenOver()
{
    startFirstCopy();
    QVERIFY(waitForLine("shown"));
    const QString lock = home->path() + "/run/torvane.lock";
    QVERIFY(QFileInfo::exists(lock));
#ifndef Q_OS_WIN // there the socket is a named pipe, no file
    QVERIFY(QFileInfo::exists(home->path() + "/run/torvane.socket"));
#endif
    firstCopy->kill();
    QVERIFY(firstCopy->waitForFinished(5000));
    QVERIFY(QFileInfo::exists(lock));

    // The next start becomes the running copy despite the lock and socket left behind, and opens
    // the link it was started with...
    firstCopyLines.clear();
    const QString link = "http://127.0.0.1:9/after-crash.zip";
    startFirstCopy({link});
    QVERIFY(waitForLine("shown"));
    QVERIFY(waitForLine("dialog " + link));
    // ...and answers later starts: one without a link only brings the hidden window back.
    firstCopy->write("hide\n");
    QVERIFY(waitForLine("hidden"));
    runLaterStart({});
    QVERIFY(waitForLine("shown", 2));
    QTest::qWait(200);
    QCOMPARE(firstCopyLines.filter("dialog").size(), 1);
}

void TestSingleInstance::silentLockIsTakenOver_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("garbage") << QByteArray("\x01\xff not a lock\n");
    // The id of a running process of this very program, as when the system gave a crashed copy's
    // id to the next one: its holder does not listen.
    QTest::newRow("a running copy's id, nobody listening") << QByteArray("own");
}

void TestSingleInstance::silentLockIsTakenOver()
{
    QFETCH(QByteArray, contents);
    const QString dir = home->path() + "/run";
    const QString lockPath = dir + "/torvane.lock";
    if (contents == "own") {
        QLockFile own(lockPath);
        QVERIFY(own.tryLock(0));
        contents = readFile(lockPath);
        own.unlock();
    }
    QVERIFY(writeFile(lockPath, contents));
    SingleInstance next(dir);
    QVERIFY(next.claim());
    QVERIFY(handOverFromAnotherThread(dir, {}));
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
    const QString dir = home->path() + "/run";
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

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet(FirstCopyVariable)) {
        MainWindow::bridgePort = 0;
        QApplication app(argc, argv);
        FirstCopyReporter reporter;
        return runTorvane(app);
    }
    QApplication app(argc, argv);
    TestSingleInstance test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_singleinstance.moc"
