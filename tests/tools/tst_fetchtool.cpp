// torvane-fetch run as a user or a benchmark runs it, each outcome checked on disk and by the
// exit code: media and login-bound files, digests, a speed limit, certificates, an outage waited
// out, proxies, a server that asks for a login, and runs killed on the way that a later run
// finishes byte-exact (the transfers themselves, a full disk among them, are the engine tests').

#include "engine/storage/checkpoint.h"
#include "localdaemon.h"
#include "testcertificates.h"
#include "testfiles.h"
#include "testhttpserver.h"
#include "testmedia.h"
#include "wine.h"

#include <QtTest>

class TestFetchTool : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void fetch_data();
    void fetch();
    void killedAndRunAgain();

private:
    // Runs the program to its end with the server's event loop turning, the media tool kept away
    // from the user's own configuration and cache; false if it hung.
    bool run(QProcess &fetch, const QStringList &arguments);
    // The output path for `name` in a folder of the current row.
    QString outPath(const QString &name);

    QString program;
    QTemporaryDir dir;
    TestHttpServer server;
    TestCertificates certificates;
    // The file over HTTPS, under a self-signed certificate and under one a throw-away authority
    // issued.
    TestHttpServer selfSigned;
    TestHttpServer issued;
    TestHttpServer elsewhere; // another host, where a redirect leads
    QByteArray file;
    QByteArray video;
};

void TestFetchTool::initTestCase()
{
    program = qEnvironmentVariable("TORVANE_FETCH", QStringLiteral(TORVANE_FETCH_PROGRAM));
    QVERIFY2(QFileInfo(program).isExecutable(), qPrintable(program));
    qInfo("program: %s", qPrintable(program));

    file = TestHttpServer::randomBody(3 * 1024 * 1024 + 17, 5);
    TestHttpServer::Route route;
    route.body = file;
    server.setRoute("/data.bin", route);
    TestHttpServer::Route slow = route; // about two seconds, so that an outage meets it running
    slow.trickleBytes = 2048;
    slow.trickleIntervalMs = 10;
    slow.headers = {{"ETag", "\"1\""}};
    server.setRoute("/outage.bin", slow);
    // Larger than the parts' read buffers can hold, as a proxy's connection must keep up with.
    TestHttpServer::Route large;
    large.body = TestHttpServer::randomBody(24 * 1024 * 1024 + 7, 6);
    server.setRoute("/large.bin", large);
    TestHttpServer::Route secret = route;
    secret.needCookie = "sid=s3cret";
    secret.needReferer = "http://page.test/";
    secret.loginPage = true;
    secret.headers = {{"Content-Type", "application/zip"}};
    server.setRoute("/secret.zip", secret);
    TestHttpServer::Route locked = route;
    locked.loginUser = "alice";
    locked.loginPassword = "s3cret";
    elsewhere.setRoute("/data.bin", locked);
    QVERIFY(elsewhere.start());
    QUrl there = elsewhere.url("/data.bin");
    there.setHost("localhost"); // the same machine under another name
    locked.redirectTo = there.toEncoded();
    server.setRoute("/away.bin", locked);
    locked.redirectTo.clear();
    locked.digest = true;
    server.setRoute("/digest-login.bin", locked);
    if (makeSampleMedia(dir.filePath("media"))) {
        video = readFile(dir.filePath("media/v.mp4"));
        serveMediaFolder(server, dir.filePath("media"), "/");
    }
    QVERIFY(server.start());
    QVERIFY(selfSigned.useTls(certificates.selfSigned()) && issued.useTls(certificates.issued()));
    for (TestHttpServer *tls : {&selfSigned, &issued}) {
        tls->setRoute("/data.bin", route);
        QVERIFY(tls->start());
    }
}

// What the command line adds to the engine's transfers: its options, what it says on stderr, the
// summary line and the exit code (0 only when the task ended done, status 2).
void TestFetchTool::fetch_data()
{
    // The file from selfSigned or issued over HTTPS, from nginx, else from the test's own server.
    QTest::addColumn<QString>("tls");
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("status");   // of the summary; -1: refused before it starts, no summary
    QTest::addColumn<QString>("said"); // on stderr, "|" between two things said
    QTest::addColumn<bool>("kept");    // the served bytes are on disk afterwards, else no file
    const QString http, nothing;
    const QByteArray data = "/data.bin";
    QTest::newRow("behind a login, with the session")
        << http << QByteArray("/secret.zip")
        << QStringList{"--cookie",          "theme=dark; sid=s3cret", "--referer",
                       "http://page.test/", "--user-agent",           "TestBrowser/1.0"}
        << 2 << nothing << true;
    // The user's digest is checked before the run counts as done (the server's, in
    // tst_httptransfer); a mismatch keeps the file and says both digests.
    QTest::newRow("--checksum that does not match")
        << http << data << QStringList{"--checksum", "md5:" + QString(32, '0')} << 3
        << "torvane-fetch: expected md5 000" << true;
    QTest::newRow("--checksum that is no digest")
        << http << data << QStringList{"--checksum=sha256:0"} << -1
        << "torvane-fetch: --checksum: not sha256:HEX" << false;
    QTest::newRow("speed limit") << http << data << QStringList{"--limit-rate", "1M"} << 2
                                 << nothing << true;
    QTest::newRow("rate that is no rate") << http << data << QStringList{"--limit-rate=2X"} << -1
                                          << "torvane-fetch: --limit-rate: not a rate: 2X" << false;
    // The server goes away a third of the way in for two seconds, as a restart would: the tool
    // says it waits and why, and finishes on its own.
    QTest::newRow("outage waited out")
        << http << QByteArray("/outage.bin") << QStringList{"--retry-for", "60"} << 2
        << "Waiting for the server — retrying in |Connection failed: Connection refused" << true;
    // -u answers the link's server (a real one's Basic login: nginx serving the file from a
    // folder), never another host a redirect leads to.
    const QStringList login{"-u", "alice:s3cret"};
    QTest::newRow("-u, Digest") << http << QByteArray("/digest-login.bin") << login << 2 << nothing
                                << true;
    QTest::newRow("-u, Basic from nginx") << "nginx" << data << login << 2 << nothing << true;
    QTest::newRow("-u, redirected to another host")
        << http << QByteArray("/away.bin") << login << 3 << "torvane-fetch: Login required\n"
        << false;
    // Certificates are verified, against the system's roots or those --cacert names, unless
    // --insecure says to take any.
    QTest::newRow("self-signed")
        << "selfSigned" << data << QStringList() << 3
        << "torvane-fetch: Certificate not trusted: The certificate is self-signed, and untrusted"
        << false;
    QTest::newRow("self-signed, --insecure")
        << "selfSigned" << data << QStringList{"--insecure"} << 2 << nothing << true;
    QTest::newRow("issued by an authority given with --cacert")
        << "issued" << data << QStringList{"--cacert", certificates.authorityFile()} << 2 << nothing
        << true;
    // A row with -x runs through a proxy started for it (@PORT@: its port) that lets in alice
    // with s3cret alone: microsocks for SOCKS5, else tinyproxy.
    const QString proxy = "alice:s3cret@127.0.0.1:@PORT@";
    QTest::newRow("tinyproxy, every part")
        << http << data << QStringList{"-x", "http://" + proxy} << 2 << nothing << true;
    QTest::newRow("tinyproxy, HTTPS through CONNECT")
        << "selfSigned" << data << QStringList{"-x", proxy, "--insecure"} << 2 << nothing << true;
    // The extension sends it to the media tool, which the program finds beside itself and which
    // reads the password from its input, never from a command line.
    QTest::newRow("tinyproxy, the media tool too")
        << http << QByteArray("/v.mp4") << QStringList{"-x", "http://" + proxy} << 2 << nothing
        << true;
    QTest::newRow("tinyproxy without the password")
        << http << data << QStringList{"-x", "http://127.0.0.1:@PORT@"} << 3
        << "torvane-fetch: The proxy refused the user name or password\n"
        << false;
    QTest::newRow("microsocks, names through the proxy")
        << http << QByteArray("/large.bin") << QStringList{"-x", "socks5h://" + proxy} << 2
        << nothing << true;
    // A speed limit leaves data waiting in the parts' replies; none may stall for it.
    QTest::newRow("microsocks under a speed limit")
        << http << QByteArray("/large.bin")
        << QStringList{"-x", "socks5://" + proxy, "--limit-rate", "16M"} << 2 << nothing << true;
}

void TestFetchTool::fetch()
{
    QFETCH(QString, tls);
    QFETCH(QByteArray, path);
    QFETCH(QStringList, options);
    QFETCH(int, status);
    QFETCH(QString, said);
    QFETCH(bool, kept);
    const bool media = path.endsWith(".mp4");
    const QString toolDir = QFileInfo(QFileInfo(program).canonicalFilePath()).path();
    if (media && (video.isEmpty() || !QFileInfo(toolDir + "/core_engine.bin").isExecutable())) {
        // Required in CI and for an installed program, whose package links the media tool; not
        // under Wine, as Debian has no Windows build of either tool to give the Windows one.
        if ((qEnvironmentVariableIsSet("CI") || qEnvironmentVariableIsSet("TORVANE_FETCH")) &&
            !runningUnderWine())
            QFAIL("ffmpeg or the media tool beside the program is missing");
        QSKIP("no ffmpeg, or no media tool beside the program");
    }

    const bool nginx = tls == "nginx";
    if (nginx)
        tls.clear();
    if (!tls.isEmpty() && runningUnderWine())
        QSKIP(NoTlsServerUnderWine);
    LocalDaemon proxy;
    const bool proxied = options.contains("-x");
    const bool socks = options.join(' ').contains("socks5");
    if (proxied || nginx) {
#ifdef Q_OS_WIN
        QSKIP("tinyproxy, microsocks and nginx are Linux programs, out of a Windows test's reach");
#endif
        const QString www = dir.filePath("www");
        QVERIFY2(nginx ? QDir().mkpath(www) && writeFile(www + path, file) &&
                             proxy.startNginx(www, "alice", "s3cret")
                 : socks ? proxy.startMicrosocks("alice", "s3cret")
                         : proxy.startTinyproxy("alice", "s3cret"),
                 qPrintable(proxy.error()));
        options.replaceInStrings("@PORT@", QString::number(proxy.port()));
    }
    TestHttpServer &from = tls == "selfSigned" ? selfSigned : tls == "issued" ? issued : server;
    QUrl link = nginx ? QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(proxy.port()).arg(path))
                      : from.url(path);
    if (options.join(' ').contains("socks5h:")) // the proxy, not the program, resolves the name
        link.setHost("localhost");
    const QString out = outPath(QString::fromLatin1(path.mid(1)));
    if (path == "/outage.bin")
        server.goAwayAfterBytes(server.bytesServed + file.size() / 3, 2000);
    QProcess fetch;
    const int requestsBefore = from.requestsFor(path).size();
    const int connectionsBefore = from.connectionCount;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(run(fetch, options + QStringList{link.toString(), out}));
    const QString summary = QString::fromUtf8(fetch.readAllStandardOutput()).trimmed();
    // Windows ends the lines with CR LF.
    const QString errors = QString::fromUtf8(fetch.readAllStandardError().replace("\r\n", "\n"));
    QCOMPARE(fetch.exitCode(), status == 2 ? 0 : 1);
    for (const QString &part : said.split('|'))
        QVERIFY2(errors.contains(part), qPrintable(errors));
    // A request's failure reported twice (an abort on top of its own error).
    QVERIFY2(!errors.contains("must only be called once"), qPrintable(errors));
    if (status < 0)
        QVERIFY(summary.isEmpty());
    else
        QVERIFY2(summary.endsWith(QStringLiteral(" status=") + QString::number(status)),
                 qPrintable(summary + '\n' + errors));
    if (kept)
        QVERIFY(readFile(out) == (media ? video : from.route(path).body));
    else
        // A proxy's refusal leaves the empty file the run made; the other refusals leave none.
        QVERIFY(proxied ? QFileInfo(out).size() == 0 : !QFile::exists(out));
    if (!kept && (proxied || !tls.isEmpty())) // refused by the proxy or in the handshake
        QCOMPARE(from.requestsFor(path).size(), requestsBefore);
    if (proxied && kept) {
        // A connection that stopped delivering is dropped only after the stall time (30 s).
        QVERIFY2(clock.elapsed() < 15000, qPrintable(QString::number(clock.elapsed())));
        // Nothing reached the server but through the proxy: tinyproxy marks what it forwards (and
        // sees only a tunnel of HTTPS), microsocks tells each connection it made.
        const QList<TestHttpServer::Request> got = from.requestsFor(path).mid(requestsBefore);
        if (socks || !tls.isEmpty()) {
            const QByteArray made =
                socks ? "connected to " + link.host().toUtf8() + ':' +
                            QByteArray::number(from.serverPort())
                      : QByteArray("Established connection to host \"127.0.0.1\"");
            QCOMPARE(proxy.log().count(made), from.connectionCount - connectionsBefore);
        } else {
            for (const TestHttpServer::Request &r : got)
                QVERIFY2(r.headers.value("via").contains("tinyproxy"), r.path.constData());
        }
        if (!media) // the probe and the eight parts
            QVERIFY2(got.size() >= 9, qPrintable(QString::number(got.size())));
    }
    if (path == "/away.bin") {
        QVERIFY(!elsewhere.requests.isEmpty());
        for (const TestHttpServer::Request &r : std::as_const(elsewhere.requests))
            QVERIFY2(!r.headers.contains("authorization"), r.headers.value("authorization"));
    }
    if (options.value(0) == QLatin1String("--limit-rate")) {
        // 1 MiB/s: never faster than the limit allows. The upper bound only catches a stall: a
        // busy machine, or Wine's slow start, takes its time.
        const double seconds = summary.section(" seconds=", 1).section(' ', 0, 0).toDouble();
        const double expected = double(file.size()) / (1024 * 1024);
        QVERIFY2(seconds > 0.95 * expected && seconds < 3 * expected, qPrintable(summary));
        // The probe and one request per part: what a part's connection holds back when the
        // server is done is still read, not asked for again.
        QCOMPARE(server.requestsFor(path).size() - requestsBefore, 9);
    }
}

bool TestFetchTool::run(QProcess &fetch, const QStringList &arguments)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    env.insert("XDG_CACHE_HOME", dir.filePath("cache"));
    fetch.setProcessEnvironment(env);
    fetch.start(program, arguments);
    // The server lives in this process: keep its event loop turning while the program runs.
    return QTest::qWaitFor([&] { return fetch.state() == QProcess::NotRunning; }, 120000) &&
           fetch.exitStatus() == QProcess::NormalExit;
}

QString TestFetchTool::outPath(const QString &name)
{
    const QString out = dir.filePath(QString::fromLatin1(QTest::currentDataTag()) + '/' + name);
    QDir().mkpath(QFileInfo(out).path());
    return out;
}

// SIGKILL at several points of a throttled download, each time run again: every run continues
// from the checkpoint the killed one left and says so, the file ends byte-exact, and each kill
// costs at most about two seconds of transfer fetched twice.
void TestFetchTool::killedAndRunAgain()
{
    // Eight parts of 1 MiB, each connection sending 1 KiB every 10 ms.
    TestHttpServer::Route r;
    r.body = TestHttpServer::randomBody(8 * 1024 * 1024, 11);
    r.trickleBytes = 1024;
    r.trickleIntervalMs = 10;
    r.headers = {{"ETag", "\"1\""}};
    const double bytesPerSecond = 8 * r.trickleBytes * 100.0;
    server.setRoute("/kill.bin", r);
    const QUrl url = server.url("/kill.bin");
    const QString out = dir.filePath("kill/kill.bin");
    const qint64 servedBefore = server.bytesServed;
    qint64 continuesFrom = -1;
    const QList<double> killPoints = {0.3, 0.6, 0.9}; // of the file served in all
    for (double point : killPoints) {
        QProcess fetch;
        fetch.start(program, {url.toString(), out});
        QVERIFY(QTest::qWaitFor(
            [&] { return server.bytesServed - servedBefore >= point * r.body.size(); }, 60000));
        QCOMPARE(fetch.state(), QProcess::Running);
        fetch.kill();
        QVERIFY(fetch.waitForFinished(10000));
        const QString said = QString::fromUtf8(fetch.readAllStandardError());
        if (continuesFrom >= 0)
            QVERIFY2(said.startsWith(QStringLiteral("torvane-fetch: resuming from %1 of %2 bytes")
                                         .arg(continuesFrom)
                                         .arg(r.body.size())),
                     qPrintable(said));
        continuesFrom = Checkpoint::read(out, url).downloadedBytes();
        QVERIFY(continuesFrom > 0);
    }
    QProcess fetch;
    QVERIFY(run(fetch, {url.toString(), out}));
    QCOMPARE(fetch.exitCode(), 0);
    QVERIFY(readFile(out) == r.body);
    QVERIFY(!QFile::exists(Checkpoint::pathFor(out)));
    const qint64 twice = server.bytesServed - servedBefore - r.body.size();
    qInfo("fetched twice after %d kills: %lld bytes (%.2f s of transfer)", int(killPoints.size()),
          twice, double(twice) / bytesPerSecond);
    QVERIFY(twice <= killPoints.size() * 2 * bytesPerSecond);
}

QTEST_GUILESS_MAIN(TestFetchTool)
#include "tst_fetchtool.moc"
