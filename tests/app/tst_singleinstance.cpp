#include "adding/addurldialog.h"
#include "app/linkoffer.h"
#include "app/mainwindow.h"
#include "app/singleinstance.h"
#include "app/startup.h"
#include "processlist.h"
#include "testfiles.h"
#include "testhome.h"
#include "testhttpserver.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
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
#include <QTimer>

#include <memory>
#include <vector>

#ifndef Q_OS_WIN
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

// Real copies of the program: later starts are the built program, and they hand over to the
// running copy, which is this test (so that it can look at the window and answer its dialogs) or
// the built program too. torvane-host, which a browser runs, hands links over the same way.

namespace {

// A message as the browser frames it for torvane-host: its length in the machine's byte order
// (the true one unless told otherwise), then the message.
QByteArray frame(const QByteArray &json, qint64 length = -1)
{
    const quint32 told = quint32(length < 0 ? json.size() : length);
    return QByteArray(reinterpret_cast<const char *>(&told), sizeof told) + json;
}

#ifndef Q_OS_WIN
// Leaves this process `free` file descriptors until destroyed.
struct DescriptorShortage {
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
    void hostMessages_data();
    void hostMessages();
    void hostStartsACopyThatOutlivesBeingKilled();
    void silentLockIsTakenOver();
    void hostileConnectionsNeverShutTheSocket_data();
    void hostileConnectionsNeverShutTheSocket();

private:
    // Runs a built program in this test's home, with `input` on its stdin, to its end; the running
    // copy may be this process, so its event loop turns meanwhile. False when it still ran after
    // `ms`, as a later start that became a second window would: a generous bound catches that
    // without timing a busy machine.
    bool runToEnd(QProcess &program, const QString &path, const QStringList &arguments,
                  const QByteArray &input = QByteArray(), int ms = 15000);
    // Starts the real program with these arguments and checks that it hands them over and ends.
    void runLaterStart(const QStringList &arguments);
    // Feeds torvane-host `input` as a browser would; the error codes of its answers ("ok" for a
    // success), or "(hung)".
    QStringList runHost(const QByteArray &input, int *exitCode = nullptr);

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

bool TestSingleInstance::runToEnd(QProcess &program, const QString &path,
                                  const QStringList &arguments, const QByteArray &input, int ms)
{
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(path, arguments);
    if (!program.waitForStarted())
        return false;
    program.write(input);
    program.closeWriteChannel();
    if (QTest::qWaitFor([&] { return program.state() == QProcess::NotRunning; }, ms))
        return true;
    program.kill();
    program.waitForFinished();
    return false;
}

void TestSingleInstance::runLaterStart(const QStringList &arguments)
{
    QProcess later;
    QVERIFY(runToEnd(later, QStringLiteral(TORVANE_PROGRAM), arguments));
    QCOMPARE(later.exitStatus(), QProcess::NormalExit);
    QCOMPARE(later.exitCode(), 0);
}

QStringList TestSingleInstance::runHost(const QByteArray &input, int *exitCode)
{
    QProcess host;
    if (!runToEnd(host, QStringLiteral(TORVANE_HOST_PROGRAM), {}, input, 30000))
        return {"(hung)"};
    if (exitCode)
        *exitCode = host.exitCode();
    QByteArray out = host.readAllStandardOutput();
    QStringList answers;
    while (out.size() >= 4) {
        quint32 length = 0;
        memcpy(&length, out.constData(), sizeof length);
        const QJsonObject answer = QJsonDocument::fromJson(out.mid(4, length)).object();
        answers << (answer["ok"].toBool() ? QStringLiteral("ok") : answer["error"].toString());
        out.remove(0, 4 + length);
    }
    return answers;
}

void TestSingleInstance::laterStartsHandOverToTheRunningCopy()
{
    TestHttpServer server;
    QVERIFY(server.start());
    // Names of this run alone: on Windows the files go to the user's own Downloads folder, where
    // an earlier run's would make the add dialog ask about a file that exists.
    const QByteArray tag = QFileInfo(home->path()).fileName().toUtf8();
    QList<TestHttpServer::Route> routes;
    QStringList links;
    for (int i : {1, 2}) {
        routes << TestHttpServer::randomRoute(i * 100 * 1024 + 3, i);
        const QByteArray path = "/" + QByteArray::number(i) + "-" + tag + ".zip";
        server.setRoute(path, routes.last());
        links << server.url(path).toString();
    }
    // The running copy's list starts empty (on Windows it lies in the user's profile, where an
    // earlier run left its tasks).
    const QString list =
        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + "/Torvane/tasks.json";
    QFile::remove(list);
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
            runLaterStart({"file:///etc/hostname", links.at(1)});
            QTest::qWait(300);
            if (QApplication::activeModalWidget() != dialog)
                asked << "a second dialog";
        }
        start->click();
        poll.start();
    });
    poll.start(20);
    runLaterStart({links.at(0)});
    QTRY_COMPARE_WITH_TIMEOUT(asked, links, 20000);

    // The running copy's list has both handed-over links, downloaded whole.
    QJsonArray saved;
    QVERIFY(QTest::qWaitFor(
        [&] {
            saved = QJsonDocument::fromJson(readFile(list)).array();
            return saved.size() == 2 && saved.at(0)["status"].toInt() == 2 &&
                   saved.at(1)["status"].toInt() == 2;
        },
        30000));
    for (int i : {0, 1}) {
        QCOMPARE(saved.at(i)["url"].toString(), links.at(i));
        QVERIFY(readFile(saved.at(i)["savePath"].toString()) == routes.at(i).body);
        QFile::remove(saved.at(i)["savePath"].toString());
    }
    // The later starts ended before they could load or write a list of their own (a program's
    // name picks its data folder; on Windows it lies in the user's profile).
    const QString laterList =
        QFileInfo(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).path() +
        "/torvane/Torvane/tasks.json";
    QVERIFY(!readFile(laterList).contains(links.at(0).toUtf8()));
}

void TestSingleInstance::hostMessages_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("forwarded");

    const QByteArray link = R"({"url":"https://h.example/a.zip","name":"a.zip","size":"5",)"
                            R"("referrer":"https://h.example/p","ua":"B/1","cookie":"s=1"})";
    // A message sent before the one ahead is answered waits its turn; the third finds no room.
    QTest::newRow("three at once")
        << frame(link) + frame(R"({"urls":["http://h.example/b","http://h.example/c"]})") +
               frame(link)
        << QStringList{"ok", "ok", "busy"} << 0
        << QStringList{"https://h.example/a.zip", "http://h.example/b http://h.example/c"};
    // Nothing that the program could read as a path, an option or a script goes on.
    QTest::newRow("no web link")
        << frame("{\"urls\":[\"file:///etc/passwd\",\"--config=/tmp/x\",\"javascript:x()\","
                 "\"ftp://h/f\",\"data:,x\",\"https:///nohost\"]}")
        << QStringList{"not-web-link"} << 0 << QStringList{};
    QTest::newRow("malformed, then a good one")
        << frame("{nope") + frame("[1]") + frame("") + frame(R"({"type":"ping"})")
        << QStringList{"malformed", "malformed", "malformed", "ok"} << 0 << QStringList{};
    QTest::newRow("too large") << frame(QByteArray(64, 'x'), 1024 * 1024 + 1)
                               << QStringList{"too-large"} << 1 << QStringList{};
    QTest::newRow("cut short") << frame("{\"url\":", 100) << QStringList{} << 1 << QStringList{};
}

// What torvane-host forwards to a running copy (played by this test) and answers the browser.
void TestSingleInstance::hostMessages()
{
    QFETCH(QByteArray, input);
    QFETCH(QStringList, answers);
    QFETCH(int, exitCode);
    QFETCH(QStringList, forwarded);

    SingleInstance torvane(dir);
    QVERIFY(torvane.claim());
    QList<LinkOffer> offers;
    torvane.setLinkTaker([&](const LinkOffer &offer) {
        const bool room = offers.size() < 2; // the running copy's queue holds two
        if (room)
            offers << offer;
        return room;
    });
    int code = -1;
    QCOMPARE(runHost(input, &code), answers);
    QCOMPARE(code, exitCode);
    QStringList got;
    for (const LinkOffer &offer : offers)
        got << offer.urls.join(' ');
    QCOMPARE(got, forwarded);
    if (!offers.isEmpty())
        QCOMPARE(
            offers.first(),
            (LinkOffer{
                {"https://h.example/a.zip"}, "a.zip", 5, {"https://h.example/p", "B/1", "s=1"}}));
}

// With no copy running, torvane-host starts the program beside it, which takes the link. That
// copy, killed outright, leaves its lock and socket behind; the next start becomes the running
// copy all the same, opens the link it was started with (its add dialog asks the server about
// it), and answers later starts.
void TestSingleInstance::hostStartsACopyThatOutlivesBeingKilled()
{
    const QByteArray link = frame(R"({"url":"http://127.0.0.1:9/f.zip"})");
    QCOMPARE(runHost(link), QStringList{"ok"});
    const qint64 first = readFile(dir + "/torvane.lock").split('\n').first().toLongLong();
    QVERIFY(first > 0);
#ifdef Q_OS_WIN
    const HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, DWORD(first));
    QVERIFY(process && TerminateProcess(process, 1));
    CloseHandle(process);
#else
    QVERIFY(::kill(pid_t(first), SIGKILL) == 0);
#endif
    QTRY_VERIFY(!processIsLive(first));
    QVERIFY(QFileInfo::exists(dir + "/torvane.lock"));
#ifndef Q_OS_WIN // there the socket is a named pipe, no file
    QVERIFY(QFileInfo::exists(dir + "/torvane.socket"));
#endif

    TestHttpServer server;
    QVERIFY(server.start());
    QProcess next;
    next.setProcessEnvironment(environment);
    next.start(QStringLiteral(TORVANE_PROGRAM), {server.url("/after-crash.zip").toString()});
    QTRY_VERIFY_WITH_TIMEOUT(!server.requestsFor("/after-crash.zip").isEmpty(), 20000);
    runLaterStart({}); // answered by `next`: a later start left alone would run on
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
        runLaterStart({});
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
    runLaterStart({});
    QTRY_COMPARE(closed(), qsizetype(idle));
#endif
}

QTEST_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
