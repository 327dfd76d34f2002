#include "adding/addurldialog.h"
#include "app/browserbridge.h"
#include "app/mainwindow.h"
#include "devtoolsbrowser.h"
#include "headlessbrowser.h"
#include "language/translation.h"
#include "testhttpserver.h"
#include "views/tasklist.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <QUrlQuery>

// A real browser against the running window's bridge: a web page on another loopback origin may
// not use it, the shipped extension may.
class TestBridgeBrowser : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup() { poll.stop(), poll.disconnect(); }
    void pageFetchReadsNothingAndOpensNothing();
    void extensionHandsOverADownload();

private:
    // Watches the window for the add dialog; once its probe has filled the path, notes what it
    // shows and closes it.
    void watchForDialog(MainWindow &window);

    QTimer poll;
    int dialogs = 0;
    QString shownLink, shownPath, shownInfo;
};

void TestBridgeBrowser::init()
{
    if (HeadlessBrowser::chromiumPath().isEmpty())
        QSKIP("no Chromium on this machine");
    QStandardPaths::setTestModeEnabled(true);
    g_lang = QStringLiteral("en");
    MainWindow::bridgePort = 0;
    dialogs = 0;
    shownLink = shownPath = shownInfo = QString();
}

void TestBridgeBrowser::watchForDialog(MainWindow &window)
{
    poll.disconnect();
    connect(&poll, &QTimer::timeout, this, [&window, this] {
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
        dialog->reject();
    });
    poll.start(20);
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
    const QString extension =
        browser.extensionForPort(QStringLiteral(TORVANE_EXTENSION_DIR), bridge->serverPort());
    QVERIFY(!extension.isEmpty());
    QVERIFY2(browser.start({extension}), qPrintable(browser.output()));
    const QString worker =
        browser.attach(QStringLiteral("service_worker"), QStringLiteral("chrome-extension://"));
    QVERIFY2(!worker.isEmpty(), qPrintable(browser.output()));
    QVERIFY2(browser.waitFor(worker, QStringLiteral("globalThis.chrome && chrome.storage")),
             qPrintable(browser.output()));
    const QJsonValue set = browser.evaluate(
        worker,
        QStringLiteral("chrome.storage.local.set({interceptDownloads: true}).then(() => 1)"));
    QVERIFY2(set == QJsonValue(1), qPrintable(browser.output()));
    browser.call(QStringLiteral("Browser.setDownloadBehavior"),
                 {{QStringLiteral("behavior"), QStringLiteral("allow")},
                  {QStringLiteral("downloadPath"), browser.downloadFolder()}});
    const QString tab = browser.attach(QStringLiteral("page"));
    QVERIFY2(!tab.isEmpty(), qPrintable(browser.output()));
    browser.call(QStringLiteral("Page.navigate"), {{QStringLiteral("url"), link}}, tab);

    QTRY_VERIFY2_WITH_TIMEOUT(dialogs == 1, qPrintable(browser.output()), 30000);
    QCOMPARE(shownLink, link);
    QVERIFY2(shownPath.endsWith("/Torvane/Compressed/f.zip"), qPrintable(shownPath));
    QVERIFY2(shownInfo.startsWith("Size: 1.00 MB"), qPrintable(shownInfo));
    QVERIFY(window.taskList()->tasks().isEmpty()); // rejected: nothing added
}

QTEST_MAIN(TestBridgeBrowser)
#include "tst_bridgebrowser.moc"
