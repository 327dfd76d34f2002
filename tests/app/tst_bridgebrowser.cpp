#include "adding/addurldialog.h"
#include "app/browserbridge.h"
#include "app/mainwindow.h"
#include "devtoolssession.h"
#include "headlessbrowser.h"
#include "language/translation.h"
#include "testhttpserver.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrlQuery>

#include <memory>

// A real browser talks to the bridge: a page on one loopback origin calls fetch() on the bridge,
// another origin, with the extension's own address builder. Only the bridge's CORS header lets
// the page read the answer; a control server without that header proves the browser enforces it.
class TestBridgeBrowser : public QObject {
    Q_OBJECT

private slots:
    void pageFetchReadsSuccessAndBridgeGetsTheLink();
    void extensionTakesOverDownloadsAndFallsBackWithoutProgram();
    void pageFetchOpensThePrefilledDialogOfTheWindow();
};

namespace {

// The page: one fetch to the bridge, one to the control, then the outcome posted back.
QByteArray pageFor(quint16 bridgePort, const QString &link, const QString &name, qint64 size,
                   const QUrl &control)
{
    const QByteArray args =
        QJsonDocument(QJsonArray{link, name, size, bridgePort, control.toString()})
            .toJson(QJsonDocument::Compact);
    return R"(<!doctype html><html><head><meta charset="utf-8"></head><body>
<script type="module">
import { bridgeUrl } from "/message.js";
const [link, name, size, port, control] = )" +
           args + R"(;
let bridge, controlResult;
try {
    bridge = await (await fetch(bridgeUrl(link, name, size, { port }))).text();
} catch (e) {
    bridge = "error: " + e;
}
try {
    await (await fetch(control)).text();
    controlResult = "readable";
} catch (e) {
    controlResult = "blocked";
}
await fetch("/result?bridge=" + encodeURIComponent(bridge) + "&control=" +
            encodeURIComponent(controlResult));
</script></body></html>)";
}

// Serves the page, the extension's address builder it imports, and the route it reports to.
void serveBridgePage(TestHttpServer &site, const QByteArray &html, const QByteArray &builder)
{
    TestHttpServer::Route page;
    page.body = html;
    page.headers = {{"Content-Type", "text/html; charset=utf-8"}};
    site.setRoute("/page.html", page);
    TestHttpServer::Route script;
    script.body = builder;
    script.headers = {{"Content-Type", "text/javascript; charset=utf-8"}};
    site.setRoute("/message.js", script);
    site.setRoute("/result", TestHttpServer::Route{});
}

} // namespace

void TestBridgeBrowser::pageFetchReadsSuccessAndBridgeGetsTheLink()
{
    if (HeadlessBrowser::chromiumPath().isEmpty())
        QSKIP("no Chromium on this machine");

    BrowserBridge bridge;
    QVERIFY(bridge.listen(QHostAddress::Any, 0));
    QSignalSpy links(&bridge, &BrowserBridge::linkReceived);

    TestHttpServer control;
    QVERIFY(control.start());
    control.setRoute("/plain", TestHttpServer::Route{});
    control.route("/plain").body = "not for other origins";

    QFile builder(QStringLiteral(TORVANE_EXTENSION_DIR "/message.js"));
    QVERIFY(builder.open(QIODevice::ReadOnly));

    const QString link = QStringLiteral("https://example.com/get?id=1&key=a=b+c#frag");
    const QString name = QString::fromUtf8("\u0645\u0644\u0641 & copy+1.zip");
    TestHttpServer site;
    QVERIFY(site.start());
    serveBridgePage(site, pageFor(bridge.serverPort(), link, name, 1024, control.url("/plain")),
                    builder.readAll());

    const HeadlessBrowser::Run run = HeadlessBrowser::open(
        site.url("/page.html"), [&] { return !site.requestsFor("/result").isEmpty(); });
    QVERIFY2(run.started, qPrintable(run.output));
    QVERIFY2(run.done, qPrintable(QStringLiteral("the page never reported back:\n") + run.output));

    const QUrlQuery result(
        QUrl(QString::fromUtf8("http://x" + site.requestsFor("/result").first().path)));
    QCOMPARE(result.queryItemValue(QStringLiteral("bridge"), QUrl::FullyDecoded),
             QStringLiteral("Success"));
    QCOMPARE(result.queryItemValue(QStringLiteral("control"), QUrl::FullyDecoded),
             QStringLiteral("blocked"));

    QTRY_COMPARE(links.count(), 1);
    QCOMPARE(links.at(0).at(0).toString(), link);
    QCOMPARE(links.at(0).at(1).toString(), name);
    QCOMPARE(links.at(0).at(2).toLongLong(), 1024);
}

// The whole road: a page's fetch() reaches the running window's bridge, the page reads
// "Success", and the window opens the add dialog filled with the link, the name and the size.
void TestBridgeBrowser::pageFetchOpensThePrefilledDialogOfTheWindow()
{
    if (HeadlessBrowser::chromiumPath().isEmpty())
        QSKIP("no Chromium on this machine");
    QStandardPaths::setTestModeEnabled(true);
    g_lang = QStringLiteral("en");
    MainWindow::bridgePort = 0;
    MainWindow window;
    auto *bridge = window.findChild<BrowserBridge *>();
    QVERIFY(bridge && bridge->isListening());

    TestHttpServer files;
    QVERIFY(files.start());
    files.setRoute("/get", TestHttpServer::Route{});
    files.route("/get").body = TestHttpServer::randomBody(4096);
    const QString link = files.url("/get?id=7&x=a+b").toString();

    QFile builder(QStringLiteral(TORVANE_EXTENSION_DIR "/message.js"));
    QVERIFY(builder.open(QIODevice::ReadOnly));
    TestHttpServer site;
    QVERIFY(site.start());
    serveBridgePage(site, pageFor(bridge->serverPort(), link, "f.zip", 1048576, site.url("/none")),
                    builder.readAll());

    // The dialog runs modally inside the window; look at it once its probe has filled the path,
    // then close it.
    QString shownLink, shownPath, shownInfo;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        auto *dialog = window.findChild<AddUrlDialog *>();
        if (!dialog || !dialog->isVisible())
            return;
        const auto *path = dialog->findChild<QLineEdit *>("pathInput");
        if (path->text().isEmpty())
            return;
        shownLink = dialog->findChild<QLineEdit *>("urlInput")->text();
        shownPath = path->text();
        shownInfo = dialog->findChild<QLabel *>("lblFileInfo")->text();
        dialog->reject();
    });
    poll.start(20);

    const HeadlessBrowser::Run run = HeadlessBrowser::open(site.url("/page.html"), [&] {
        return !site.requestsFor("/result").isEmpty() && !shownPath.isEmpty();
    });
    QVERIFY2(run.started, qPrintable(run.output));
    QVERIFY2(run.done, qPrintable(QStringLiteral("no result or no dialog:\n") + run.output));
    const QUrlQuery result(
        QUrl(QString::fromUtf8("http://x" + site.requestsFor("/result").first().path)));
    QCOMPARE(result.queryItemValue(QStringLiteral("bridge"), QUrl::FullyDecoded),
             QStringLiteral("Success"));
    QCOMPARE(shownLink, link);
    QVERIFY2(shownPath.endsWith("/Torvane/Compressed/f.zip"), qPrintable(shownPath));
    QVERIFY2(shownInfo.startsWith("Size: 1.00 MB"), qPrintable(shownInfo));
    QVERIFY(window.taskCards().isEmpty()); // rejected: nothing added
}

void TestBridgeBrowser::extensionTakesOverDownloadsAndFallsBackWithoutProgram()
{
    if (HeadlessBrowser::chromiumPath().isEmpty())
        QSKIP("no Chromium on this machine");
    // The extension knows only the program's own port.
    auto bridge = std::make_unique<BrowserBridge>();
    if (!bridge->listen(QHostAddress::LocalHost, BridgePort))
        QSKIP("port 9090 is taken on this machine");
    QSignalSpy links(bridge.get(), &BrowserBridge::linkReceived);

    TestHttpServer site;
    QVERIFY(site.start());
    TestHttpServer::Route attachment;
    attachment.body = TestHttpServer::randomBody(300000, 1);
    attachment.headers = {{"Content-Type", "application/octet-stream"},
                          {"Content-Disposition", "attachment; filename=\"report 1.bin\""}};
    site.setRoute("/get.php", attachment);
    TestHttpServer::Route later;
    later.body = TestHttpServer::randomBody(250000, 2);
    later.headers = {{"Content-Type", "application/octet-stream"},
                     {"Content-Disposition", "attachment"}};
    site.setRoute("/later.bin", later);

    QTemporaryDir downloads;
    QVERIFY(downloads.isValid());
    HeadlessBrowser browser;
    QVERIFY2(
        browser.start(QUrl(QStringLiteral("about:blank")),
                      {QStringLiteral("--load-extension=" TORVANE_EXTENSION_DIR),
                       // Debian's Chromium still honours --load-extension behind this switch.
                       QStringLiteral("--disable-features=DisableLoadExtensionCommandLineSwitch")}),
        qPrintable(browser.output()));

    QUrl workerUrl, pageUrl;
    const bool found = QTest::qWaitFor(
        [&] {
            const QJsonArray targets = browser.targets();
            for (const QJsonValue &v : targets) {
                const QJsonObject t = v.toObject();
                const QUrl ws(t.value(QStringLiteral("webSocketDebuggerUrl")).toString());
                if (t.value(QStringLiteral("type")) == QStringLiteral("service_worker") &&
                    t.value(QStringLiteral("url"))
                        .toString()
                        .endsWith(QStringLiteral("/background.js")))
                    workerUrl = ws;
                else if (t.value(QStringLiteral("type")) == QStringLiteral("page"))
                    pageUrl = ws;
            }
            return !workerUrl.isEmpty() && !pageUrl.isEmpty();
        },
        30000);
    if (!found) // (QVERIFY2 would build its message, and so stop the browser, even on success)
        QFAIL(qPrintable(QStringLiteral("the extension did not start:\n") + browser.stop()));

    DevToolsSession extension, tab, chrome;
    QVERIFY2(extension.open(workerUrl), qPrintable(extension.error()));
    QVERIFY2(tab.open(pageUrl), qPrintable(tab.error()));
    QVERIFY2(chrome.open(browser.browserWebSocketUrl()), qPrintable(chrome.error()));
    chrome.call(QStringLiteral("Browser.setDownloadBehavior"),
                {{"behavior", "allow"}, {"downloadPath", downloads.path()}});
    QVERIFY2(chrome.error().isEmpty(), qPrintable(chrome.error()));

    // The worker's extension APIs appear a moment after its target does.
    QVERIFY(QTest::qWaitFor(
        [&] {
            return extension.evaluate(
                       QStringLiteral("typeof chrome === 'object' && !!chrome.storage"), 2000) ==
                   QStringLiteral("true");
        },
        20000));
    // Off until the user turns it on.
    QCOMPARE(
        extension.evaluate(QStringLiteral("chrome.storage.local.get({interceptDownloads: false})"
                                          ".then((s) => s.interceptDownloads)")),
        QStringLiteral("false"));
    extension.evaluate(QStringLiteral("chrome.storage.local.set({interceptDownloads: true})"));
    QVERIFY2(extension.error().isEmpty(), qPrintable(extension.error()));

    // Taken over: the program gets the link with the server's name and the size, the browser
    // forgets the download and leaves no file behind.
    const QUrl first = site.url("/get.php?id=7&k=a+b");
    tab.call(QStringLiteral("Page.navigate"), {{"url", first.toString()}});
    QTRY_COMPARE_WITH_TIMEOUT(links.count(), 1, 20000);
    QCOMPARE(links.at(0).at(0).toString(), first.toString());
    QCOMPARE(links.at(0).at(1).toString(), QStringLiteral("report 1.bin"));
    QCOMPARE(links.at(0).at(2).toLongLong(), attachment.body.size());
    const QString noDownloads = QStringLiteral("chrome.downloads.search({}).then((d) => d.length)");
    QTRY_COMPARE_WITH_TIMEOUT(extension.evaluate(noDownloads), QStringLiteral("0"), 10000);
    QVERIFY2(QDir(downloads.path()).entryList(QDir::Files).isEmpty(),
             qPrintable(QDir(downloads.path()).entryList(QDir::Files).join(",")));

    // Program gone: the user is told, and the browser downloads the file after all.
    bridge.reset();
    tab.call(QStringLiteral("Page.navigate"), {{"url", site.url("/later.bin").toString()}});
    const QString states =
        QStringLiteral("chrome.downloads.search({}).then((d) => d.map((i) => i.state).join(','))");
    QTRY_COMPARE_WITH_TIMEOUT(extension.evaluate(states), QStringLiteral("\"complete\""), 20000);
    QFile saved(downloads.filePath(QStringLiteral("later.bin")));
    QVERIFY2(saved.open(QIODevice::ReadOnly),
             qPrintable(QDir(downloads.path()).entryList(QDir::Files).join(',')));
    QVERIFY(saved.readAll() == later.body);
    QCOMPARE(extension.evaluate(QStringLiteral(
                 "chrome.notifications.getAll().then((n) => Object.keys(n).length)")),
             QStringLiteral("1"));
    QCOMPARE(links.count(), 1);
}

QTEST_MAIN(TestBridgeBrowser)
#include "tst_bridgebrowser.moc"
