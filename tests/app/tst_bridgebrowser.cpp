#include "adding/addurldialog.h"
#include "app/browserbridge.h"
#include "app/mainwindow.h"
#include "devtoolsbrowser.h"
#include "engine/downloadtask.h"
#include "headlessbrowser.h"
#include "language/translation.h"
#include "testhttpserver.h"
#include "views/tasklist.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrlQuery>

#include <memory>

// A real browser against the running window's bridge: a web page on another loopback origin may
// not use it, the shipped extension may.
class TestBridgeBrowser : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup() { poll.stop(), poll.disconnect(); }
    void pageFetchReadsNothingAndOpensNothing();
    void extensionHandsOverADownload();
    void protectedDownloadCompletesThroughTheWindow();

private:
    // Watches the window for the add dialog; once its probe has filled the path, notes what it
    // shows and closes it, or presses Start.
    void watchForDialog(MainWindow &window, bool start = false);
    // Starts the browser with the shipped extension, set to take the browser's downloads over
    // to the window's bridge; the session of a tab to drive, empty when that failed.
    QString startTakingOver(DevToolsBrowser &browser, MainWindow &window);

    QTimer poll;
    std::unique_ptr<QTemporaryDir> home; // the task list and the download folder of each test
    int dialogs = 0;
    QString shownLink, shownPath, shownInfo;
};

void TestBridgeBrowser::init()
{
    if (HeadlessBrowser::chromiumPath().isEmpty())
        QSKIP("no Chromium on this machine");
    QStandardPaths::setTestModeEnabled(true);
    home = std::make_unique<QTemporaryDir>();
    qputenv("HOME", home->path().toUtf8());
    g_lang = QStringLiteral("en");
    MainWindow::bridgePort = 0;
    dialogs = 0;
    shownLink = shownPath = shownInfo = QString();
}

void TestBridgeBrowser::watchForDialog(MainWindow &window, bool start)
{
    poll.disconnect();
    connect(&poll, &QTimer::timeout, this, [&window, start, this] {
        auto *dialog = window.findChild<AddUrlDialog *>();
        if (!dialog || !dialog->isVisible())
            return;
        const auto *path = dialog->findChild<QLineEdit *>("pathInput");
        if (path->text().isEmpty())
            return;
        ++dialogs;
        shownLink = dialog->findChild<QLineEdit *>("urlInput")->text();
        shownPath = path->text();
        shownInfo = dialog->findChild<QLabel *>("lblFileInfo")->text();
        if (start)
            dialog->findChild<QPushButton *>("btnStart")->click();
        else
            dialog->reject();
    });
    poll.start(20);
}

QString TestBridgeBrowser::startTakingOver(DevToolsBrowser &browser, MainWindow &window)
{
    auto *bridge = window.findChild<BrowserBridge *>();
    if (!bridge || !bridge->isListening())
        return QString();
    const QString extension =
        browser.extensionForPort(QStringLiteral(TORVANE_EXTENSION_DIR), bridge->serverPort());
    if (extension.isEmpty() || !browser.start({extension}))
        return QString();
    const QString worker =
        browser.attach(QStringLiteral("service_worker"), QStringLiteral("chrome-extension://"));
    if (worker.isEmpty() ||
        !browser.waitFor(worker, QStringLiteral("globalThis.chrome && chrome.storage")))
        return QString();
    const QJsonValue set = browser.evaluate(
        worker,
        QStringLiteral("chrome.storage.local.set({interceptDownloads: true}).then(() => 1)"));
    if (set != QJsonValue(1))
        return QString();
    browser.call(QStringLiteral("Browser.setDownloadBehavior"),
                 {{QStringLiteral("behavior"), QStringLiteral("allow")},
                  {QStringLiteral("downloadPath"), browser.downloadFolder()}});
    return browser.attach(QStringLiteral("page"));
}

namespace {

// The page: one fetch to the bridge with the extension's own address builder, its outcome posted
// back.
QByteArray pageFor(quint16 bridgePort, const QString &link)
{
    const QByteArray args =
        QJsonDocument(QJsonArray{link, bridgePort}).toJson(QJsonDocument::Compact);
    return R"(<!doctype html><html><head><meta charset="utf-8"></head><body>
<script type="module">
import { bridgeUrl } from "/message.js";
const [link, port] = )" +
           args + R"(;
let bridge;
try {
    bridge = await (await fetch(bridgeUrl(link, "f.zip", 1048576, { port }))).text();
} catch (e) {
    bridge = "error: " + e;
}
await fetch("/result?bridge=" + encodeURIComponent(bridge));
</script></body></html>)";
}

} // namespace

void TestBridgeBrowser::pageFetchReadsNothingAndOpensNothing()
{
    MainWindow window;
    auto *bridge = window.findChild<BrowserBridge *>();
    QVERIFY(bridge && bridge->isListening());
    watchForDialog(window);

    QFile builder(QStringLiteral(TORVANE_EXTENSION_DIR "/message.js"));
    QVERIFY(builder.open(QIODevice::ReadOnly));
    TestHttpServer site;
    QVERIFY(site.start());
    TestHttpServer::Route page, script;
    page.body = pageFor(bridge->serverPort(), QStringLiteral("https://example.com/evil.exe"));
    page.headers = {{"Content-Type", "text/html; charset=utf-8"}};
    script.body = builder.readAll();
    script.headers = {{"Content-Type", "text/javascript; charset=utf-8"}};
    site.setRoute("/page.html", page);
    site.setRoute("/message.js", script);
    site.setRoute("/result", TestHttpServer::Route{});

    const HeadlessBrowser::Run run = HeadlessBrowser::open(
        site.url("/page.html"), [&] { return !site.requestsFor("/result").isEmpty(); });
    QVERIFY2(run.started, qPrintable(run.output));
    QVERIFY2(run.done, qPrintable(QStringLiteral("no result:\n") + run.output));
    const QUrlQuery result(
        QUrl(QString::fromUtf8("http://x" + site.requestsFor("/result").first().path)));
    QVERIFY2(
        result.queryItemValue(QStringLiteral("bridge"), QUrl::FullyDecoded).startsWith("error"),
        qPrintable(result.queryItemValue(QStringLiteral("bridge"), QUrl::FullyDecoded)));
    QTest::qWait(300);
    QCOMPARE(dialogs, 0);
    QVERIFY(window.findChild<AddUrlDialog *>() == nullptr);
}

// The shipped extension, set to hand the browser's downloads over, gets a download started by
// the page; the window opens its dialog with the link, the name and the size the browser knew.
void TestBridgeBrowser::extensionHandsOverADownload()
{
    MainWindow window;
    auto *bridge = window.findChild<BrowserBridge *>();
    QVERIFY(bridge && bridge->isListening());
    watchForDialog(window);

    // Slow enough that the download is still running when the extension pauses it.
    TestHttpServer files;
    QVERIFY(files.start());
    TestHttpServer::Route file;
    file.body = TestHttpServer::randomBody(1048576);
    file.trickleBytes = 4096;
    file.trickleIntervalMs = 50;
    file.headers = {{"Content-Disposition", "attachment; filename=\"f.zip\""}};
    files.setRoute("/get", file);
    const QString link = files.url("/get?id=7&x=a+b").toString();

    DevToolsBrowser browser;
    const QString tab = startTakingOver(browser, window);
    QVERIFY2(!tab.isEmpty(), qPrintable(browser.output()));
    browser.call(QStringLiteral("Page.navigate"), {{QStringLiteral("url"), link}}, tab);

    QTRY_VERIFY2_WITH_TIMEOUT(dialogs == 1, qPrintable(browser.output()), 30000);
    QCOMPARE(shownLink, link);
    QVERIFY2(shownPath.endsWith("/Torvane/Compressed/f.zip"), qPrintable(shownPath));
    QVERIFY2(shownInfo.startsWith("Size: 1.00 MB"), qPrintable(shownInfo));
    QVERIFY(window.taskList()->tasks().isEmpty()); // rejected: nothing added
}

// A file behind a login that Torvane alone could not fetch: a page sets the session cookie and
// leads the browser to the file; the extension hands the download over with the browser's session,
// the test presses Start in the window's dialog, and the file lands byte for byte, fetched with
// the browser's cookie, Referer and User-Agent.
void TestBridgeBrowser::protectedDownloadCompletesThroughTheWindow()
{
    MainWindow window;
    watchForDialog(window, true);

    TestHttpServer site;
    QVERIFY(site.start());
    const QString pageUrl = site.url("/page.html").toString();
    TestHttpServer::Route page, file;
    page.body = "<!doctype html><html><body><script>addEventListener('load', () => { "
                "location.href = '/locked.zip'; });</script></body></html>";
    page.headers = {{"Content-Type", "text/html; charset=utf-8"},
                    {"Set-Cookie", "sid=s3cret; Path=/; HttpOnly"}};
    file.body = TestHttpServer::randomBody(256 * 1024, 9);
    file.needCookie = "sid=s3cret";
    file.needReferer = site.url("/").toEncoded(); // the page's origin, or the whole page
    file.loginPage = true;
    file.headers = {{"Content-Type", "application/zip"},
                    {"Content-Disposition", "attachment; filename=\"locked.zip\""}};
    // Slow from the first byte, so that the browser's own download is still running when the
    // extension takes it over.
    file.trickleBytes = 4096;
    file.trickleIntervalMs = 50;
    file.trickleOnlyAt = 0;
    site.setRoute("/page.html", page);
    site.setRoute("/locked.zip", file);

    DevToolsBrowser browser;
    const QString tab = startTakingOver(browser, window);
    QVERIFY2(!tab.isEmpty(), qPrintable(browser.output()));
    browser.call(QStringLiteral("Page.navigate"), {{QStringLiteral("url"), pageUrl}}, tab);

    QTRY_VERIFY2_WITH_TIMEOUT(dialogs == 1, qPrintable(browser.output()), 30000);
    QCOMPARE(shownLink, site.url("/locked.zip").toString());
    QVERIFY2(shownInfo.startsWith("Size: 0.25 MB"), qPrintable(shownInfo));
    QTRY_COMPARE(window.taskList()->tasks().size(), 1);
    DownloadTask *task = window.taskList()->tasks().first();
    QTRY_VERIFY_WITH_TIMEOUT(task->status != 1 && task->status != 0, 30000);
    QVERIFY2(task->status == 2, qPrintable(task->lastDlpMessage));
    QVERIFY2(shownPath.endsWith("/Torvane/Compressed/locked.zip"), qPrintable(shownPath));
    QFile saved(task->savePath());
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QVERIFY(saved.readAll() == file.body);

    // The browser asked without a range; every ranged request is Torvane's, the dialog's probe
    // among them, and each carried what the browser sends.
    const auto requests = site.requestsFor("/locked.zip");
    const QByteArray browserAgent = requests.first().headers.value("user-agent");
    int ranged = 0;
    for (const auto &request : requests) {
        if (!request.headers.contains("range"))
            continue;
        ++ranged;
        QVERIFY(request.headers.value("cookie").contains("sid=s3cret"));
        QCOMPARE(request.headers.value("referer"), pageUrl.toUtf8());
        QCOMPARE(request.headers.value("user-agent"), browserAgent);
    }
    QVERIFY(ranged > 2);
}

QTEST_MAIN(TestBridgeBrowser)
#include "tst_bridgebrowser.moc"
