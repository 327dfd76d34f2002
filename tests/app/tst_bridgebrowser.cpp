#include "adding/addurldialog.h"
#include "app/browserbridge.h"
#include "app/mainwindow.h"
#include "devtoolsbrowser.h"
#include "engine/downloadtask.h"
#include "language/translation.h"
#include "testhttpserver.h"
#include "views/tasklist.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

// A real browser against the running window's bridge: a web page on another loopback origin may
// not use it, the shipped extension may.
class TestBridgeBrowser : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup() { poll.stop(), poll.disconnect(); }
    void pageFetchReadsNothingAndOpensNothing();
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
    if (DevToolsBrowser::chromiumPath().isEmpty())
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

// A page on another loopback origin fetches from the bridge with the extension's own address
// builder: the browser gets no answer it could read, and the window opens nothing.
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
    page.body = "<!doctype html><html><body></body></html>";
    page.headers = {{"Content-Type", "text/html; charset=utf-8"}};
    script.body = builder.readAll();
    script.headers = {{"Content-Type", "text/javascript; charset=utf-8"}};
    site.setRoute("/page.html", page);
    site.setRoute("/message.js", script);

    DevToolsBrowser browser;
    QVERIFY2(browser.start(), qPrintable(browser.output()));
    const QString tab = browser.attach(QStringLiteral("page"));
    QVERIFY2(!tab.isEmpty(), qPrintable(browser.output()));
    browser.call(QStringLiteral("Page.navigate"),
                 {{QStringLiteral("url"), site.url("/page.html").toString()}}, tab);
    QVERIFY2(browser.waitFor(tab, QStringLiteral("location.pathname == '/page.html' && "
                                                 "document.readyState == 'complete'")),
             qPrintable(browser.output()));
    const QJsonValue answer = browser.evaluate(
        tab, QStringLiteral("import('/message.js').then(m => fetch(m.bridgeUrl("
                            "'https://example.com/evil.exe', 'f.zip', 1048576, {port: %1}))"
                            ".then(r => r.text(), e => 'error: ' + e))")
                 .arg(bridge->serverPort()));
    QVERIFY2(answer.toString().startsWith("error"), qPrintable(browser.output()));
    QTest::qWait(300);
    QCOMPARE(dialogs, 0);
    QVERIFY(window.findChild<AddUrlDialog *>() == nullptr);
}

// A file behind a login that Torvane alone could not fetch: a page sets the session cookie and
// leads the browser to the file; the extension hands the download over with the link as the
// browser had it, the name and size it knew, and the browser's session. The test presses Start in
// the window's dialog, and the file lands byte for byte, fetched with the browser's cookie,
// Referer and User-Agent.
void TestBridgeBrowser::protectedDownloadCompletesThroughTheWindow()
{
    MainWindow window;
    watchForDialog(window, true);

    TestHttpServer site;
    QVERIFY(site.start());
    const QString pageUrl = site.url("/page.html").toString();
    TestHttpServer::Route page, file;
    page.body = "<!doctype html><html><body><script>addEventListener('load', () => { "
                "location.href = '/locked.zip?id=7&x=a+b'; });</script></body></html>";
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
    QCOMPARE(shownLink, site.url("/locked.zip?id=7&x=a+b").toString());
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
