// torvane-host as a browser runs it: framed messages on its stdin, framed answers on its stdout,
// the running copy on the other side played by a SingleInstance of this test (or, when none runs,
// the real program that the host starts).

#include "app/linkoffer.h"
#include "app/singleinstance.h"
#include "testfiles.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

// A message's length as the browser frames it: in the machine's byte order.
QByteArray frameLength(quint32 length)
{
    return QByteArray(reinterpret_cast<const char *>(&length), sizeof length);
}

// One message as the browser frames it: its length, then the JSON.
QByteArray frame(const QByteArray &json)
{
    return frameLength(quint32(json.size())) + json;
}

} // namespace

class TestNativeHost : public QObject {
    Q_OBJECT

private slots:
    void init();
    void messages_data();
    void messages();
    void startsTorvaneWhenNoneRuns();

private:
    // Feeds the host `input`, closes its stdin and lets it run to its end with this test's event
    // loop turning; the error codes of its answers ("ok" for a success), or "(hung)".
    QStringList run(const QByteArray &input, int *exitCode = nullptr, int timeoutMs = 30000);

    std::unique_ptr<QTemporaryDir> home;
    QProcessEnvironment environment;
};

void TestNativeHost::init()
{
    home = std::make_unique<QTemporaryDir>();
    const QString root = home->path();
    QVERIFY(QDir().mkpath(root + "/run"));
    // A runtime folder others may enter is not used, and the host would look elsewhere.
    QVERIFY(QFile::setPermissions(root + "/run", QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                     QFileDevice::ExeOwner));
    environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
        environment.insert(name, root);
    environment.insert("XDG_RUNTIME_DIR", root + "/run");
    for (const char *name : {"TEMP", "TMP"}) // where the lock lives on Windows
        environment.insert(name, root + "/run");
    environment.insert("QT_QPA_PLATFORM", "offscreen");
}

QStringList TestNativeHost::run(const QByteArray &input, int *exitCode, int timeoutMs)
{
    QProcess host;
    host.setProcessEnvironment(environment);
    host.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    host.start(QStringLiteral(TORVANE_HOST_PROGRAM));
    if (!host.waitForStarted())
        return {"(not started)"};
    host.write(input);
    host.closeWriteChannel();
    if (!QTest::qWaitFor([&] { return host.state() == QProcess::NotRunning; }, timeoutMs)) {
        host.kill();
        host.waitForFinished();
        return {"(hung)"};
    }
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

void TestNativeHost::messages_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("room");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("forwarded");

    const QByteArray link = R"({"url":"https://h.example/a.zip","name":"a.zip","size":"5",)"
                            R"("referrer":"https://h.example/p","ua":"B/1","cookie":"s=1"})";
    QTest::newRow("ping") << frame(R"({"type":"ping"})") << true << QStringList{"ok"} << 0
                          << QStringList{};
    // A second message sent before the first is answered waits its turn.
    QTest::newRow("two at once")
        << frame(link) + frame(R"({"urls":["http://h.example/b","http://h.example/c"]})") << true
        << QStringList{"ok", "ok"} << 0
        << QStringList{"https://h.example/a.zip", "http://h.example/b http://h.example/c"};
    QTest::newRow("queue full") << frame(link) << false << QStringList{"busy"} << 0
                                << QStringList{};
    // Nothing that the program could read as a path, an option or a script goes on.
    QTest::newRow("no web link")
        << frame("{\"urls\":[\"file:///etc/passwd\",\"--config=/tmp/x\",\"javascript:x()\","
                 "\"ftp://h/f\",\"data:,x\",\"https:///nohost\"]}")
        << true << QStringList{"not-web-link"} << 0 << QStringList{};
    QTest::newRow("malformed, then a good one")
        << frame("{nope") + frame("[1]") + frame("") + frame(R"({"type":"ping"})") << true
        << QStringList{"malformed", "malformed", "malformed", "ok"} << 0 << QStringList{};
    QTest::newRow("too large") << frameLength(1024 * 1024 + 1) + QByteArray(64, 'x') << true
                               << QStringList{"too-large"} << 1 << QStringList{};
    QTest::newRow("cut short") << frameLength(100) + "{\"url\":" << true << QStringList{} << 1
                               << QStringList{};
    QTest::newRow("nothing") << QByteArray() << true << QStringList{} << 0 << QStringList{};
}

void TestNativeHost::messages()
{
    QFETCH(QByteArray, input);
    QFETCH(bool, room);
    QFETCH(QStringList, answers);
    QFETCH(int, exitCode);
    QFETCH(QStringList, forwarded);

    SingleInstance torvane(home->path() + "/run");
    QVERIFY(torvane.claim());
    QList<LinkOffer> offers;
    torvane.setLinkTaker([&](const LinkOffer &offer) {
        if (room)
            offers << offer;
        return room;
    });
    int code = -1;
    QCOMPARE(run(input, &code), answers);
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

// With no copy running, the host starts the program beside it, which takes the link.
void TestNativeHost::startsTorvaneWhenNoneRuns()
{
    const QByteArray link = frame(R"({"url":"http://127.0.0.1:9/f.zip"})");
    QCOMPARE(run(link), QStringList{"ok"});
    const QString lockPath = home->path() + "/run/torvane.lock";
    const QByteArray pid = readFile(lockPath).split('\n').first();
    QVERIFY2(pid.toInt() > 0, lockPath.toUtf8());
#ifdef Q_OS_WIN
    const HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, DWORD(pid.toUInt()));
    QVERIFY(process && TerminateProcess(process, 1));
    CloseHandle(process);
#else
    QVERIFY(::kill(pid.toInt(), SIGTERM) == 0);
#endif
    QLockFile lock(lockPath);
    QVERIFY(QTest::qWaitFor([&] { return lock.tryLock(0); }, 10000));
}

QTEST_GUILESS_MAIN(TestNativeHost)
#include "tst_nativehost.moc"
