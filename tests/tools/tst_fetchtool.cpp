// torvane-fetch as a user or a benchmark runs it: a segmented file, a video through the media tool
// found beside the program, and a missing file, each checked on disk and by the exit code.

#include "testhttpserver.h"
#include "testmedia.h"

#include <QtTest>

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestFetchTool : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void fetch_data();
    void fetch();

private:
    QString program;
    QTemporaryDir dir;
    TestHttpServer server;
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
    TestHttpServer::Route missing;
    missing.status = 404;
    missing.body = "not here";
    server.setRoute("/gone.zip", missing);
    if (makeSampleMedia(dir.filePath("media"))) {
        video = readFile(dir.filePath("media/v.mp4"));
        serveMediaFolder(server, dir.filePath("media"), "/");
    }
    QVERIFY(server.start());
}

void TestFetchTool::fetch_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("status");
    QTest::newRow("segmented file") << QByteArray("/data.bin") << "data.bin" << 0 << 2;
    // The extension sends it to the media tool, which the program finds beside itself.
    QTest::newRow("video") << QByteArray("/v.mp4") << "clip.mp4" << 0 << 2;
    QTest::newRow("missing file") << QByteArray("/gone.zip") << "gone.zip" << 1 << 3;
}

void TestFetchTool::fetch()
{
    QFETCH(QByteArray, path);
    QFETCH(QString, name);
    QFETCH(int, exitCode);
    QFETCH(int, status);
    const bool media = path.endsWith(".mp4");
    const QString toolDir = QFileInfo(QFileInfo(program).canonicalFilePath()).path();
    if (media && (video.isEmpty() || !QFileInfo(toolDir + "/core_engine.bin").isExecutable())) {
        // Required in CI and for an installed program, whose package links the media tool.
        if (qEnvironmentVariableIsSet("CI") || qEnvironmentVariableIsSet("TORVANE_FETCH"))
            QFAIL("ffmpeg or the media tool beside the program is missing");
        QSKIP("no ffmpeg, or no media tool beside the program");
    }

    const QString out = dir.filePath(QString::fromLatin1(QTest::currentDataTag()) + '/' + name);
    QDir().mkpath(QFileInfo(out).path());
    QProcess fetch;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Keep the media tool away from the user's own configuration and cache.
    env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    env.insert("XDG_CACHE_HOME", dir.filePath("cache"));
    fetch.setProcessEnvironment(env);
    fetch.start(program, {server.url(path).toString(), out});
    // The server lives in this process: keep its event loop turning while the program runs.
    QVERIFY(QTest::qWaitFor([&] { return fetch.state() == QProcess::NotRunning; }, 120000));
    const QString summary = QString::fromUtf8(fetch.readAllStandardOutput()).trimmed();
    QCOMPARE(fetch.exitStatus(), QProcess::NormalExit);
    QVERIFY2(summary.endsWith(QStringLiteral(" status=") + QString::number(status)),
             qPrintable(summary + '\n' + QString::fromUtf8(fetch.readAllStandardError())));
    QCOMPARE(fetch.exitCode(), exitCode);
    if (exitCode == 0)
        QVERIFY(readFile(out) == (media ? video : file));
    else
        QVERIFY(readFile(out) != "not here");
}

QTEST_GUILESS_MAIN(TestFetchTool)
#include "tst_fetchtool.moc"
