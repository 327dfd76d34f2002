#include "adding/addurldialog.h"
#include "app/browserbridge.h"
#include "app/mainwindow.h"
#include "app/singleinstance.h"
#include "app/startup.h"
#include "devtoolsbrowser.h"
#include "engine/downloadtask.h"
#include "language/translation.h"
#include "marionettebrowser.h"
#include "testfiles.h"
#include "testhome.h"
#include "testhttpserver.h"
#include "views/tasklist.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

// The manifest by which a browser finds torvane-host (the built one) and knows that only our
// extension may start it.
QByteArray nativeHostManifest(bool firefox)
{
    QJsonObject manifest{{"name", "io.github.torvane.host"},
                         {"description", "Torvane"},
                         {"path", TORVANE_HOST_PROGRAM},
                         {"type", "stdio"}};
    if (firefox)
        manifest.insert("allowed_extensions", QJsonArray{FirefoxExtensionId});
    else
        manifest.insert(
            "allowed_origins",
            QJsonArray{QStringLiteral("chrome-extension://%1/").arg(ChromiumExtensionId)});
    return QJsonDocument(manifest).toJson();
}

// What the extension's options page says of the way it reaches Torvane.
QString channelLine(bool native)
{
    return native ? QStringLiteral("Connected through the browser's native messaging")
                  : QStringLiteral("Connected through port 9090");
}

bool installNativeHost(const QString &folder, bool firefox)
{
    return QDir().mkpath(folder) &&
           writeFile(folder + "/io.github.torvane.host.json", nativeHostManifest(firefox));
}

} // namespace

// Real browsers against the running window: a web page on another loopback origin may not use the
// bridge; the shipped extension hands a protected download over, through the port or, with the
// port held by another program, through the browser's native messaging and torvane-host.
class TestBridgeBrowser : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup() { poll.stop(), poll.disconnect(); }
    void pageFetchReadsNothingAndOpensNothing();
    void protectedDownloadCompletesThroughTheWindow_data();
    void protectedDownloadCompletesThroughTheWindow();

private:
    // Watches the window for the add dialog; once its probe has filled the path, notes what it
    // shows and closes it, or presses Start.
    void watchForDialog(MainWindow &window, bool start = false);
    // Starts the browser with the shipped extension (talking to `port`), set to take the
    // browser's downloads over, and opens `page` in it; false when that failed. In Chromium the
    // session of the tab, empty on failure.
    QString startTakingOver(DevToolsBrowser &browser, quint16 port, bool native,
                            const QString &page);
    bool startTakingOver(MarionetteBrowser &browser, quint16 port, bool native,
                         const QString &page);

    QTimer poll;
    std::unique_ptr<QTemporaryDir> home; // the task list and the download folder of each test
    int dialogs = 0;
    QString shownLink, shownPath, shownInfo;
};

void TestBridgeBrowser::init()
{
    QStandardPaths::setTestModeEnabled(true);
    home = std::make_unique<QTemporaryDir>();
    // torvane-host, started by the browser with this environment, finds the window's socket here.
    const QProcessEnvironment env = privateHome(home->path());
    for (const char *name : {"HOME", "XDG_RUNTIME_DIR"})
        qputenv(name, env.value(name).toUtf8());
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

QString TestBridgeBrowser::startTakingOver(DevToolsBrowser &browser, quint16 port, bool native,
                                           const QString &page)
{
    const QString extension = browser.extensionForPort(QStringLiteral(TORVANE_EXTENSION_DIR), port);
    if (native && !installNativeHost(browser.userDataFolder() + "/NativeMessagingHosts", false))
        return {};
    if (extension.isEmpty() || !browser.start({extension}))
        return {};
    const QString worker =
        browser.attach(QStringLiteral("service_worker"), QStringLiteral("chrome-extension://"));
    if (worker.isEmpty() ||
        !browser.waitFor(worker, QStringLiteral("globalThis.chrome && chrome.storage")))
        return {};
    const QJsonValue set = browser.evaluate(
        worker,
        QStringLiteral("chrome.storage.local.set({interceptDownloads: true}).then(() => 1)"));
    if (set != QJsonValue(1))
        return {};
    browser.call(QStringLiteral("Browser.setDownloadBehavior"),
                 {{QStringLiteral("behavior"), QStringLiteral("allow")},
                  {QStringLiteral("downloadPath"), browser.downloadFolder()}});
    // The options page finds Torvane the way the links will go.
    const QString tab = browser.attach(QStringLiteral("page"));
    const auto open = [&](const QString &url) {
        return !browser.call(QStringLiteral("Page.navigate"), {{QStringLiteral("url"), url}}, tab)
                    .isEmpty();
    };
    const QString shown =
        QStringLiteral("document.getElementById('channel').textContent == \"%1\"");
    if (tab.isEmpty() ||
        !open(QStringLiteral("chrome-extension://%1/options.html").arg(ChromiumExtensionId)) ||
        !browser.waitFor(tab, shown.arg(channelLine(native))) || !open(page))
        return {};
    return tab;
}

// In Firefox the take-over is switched on as a user does, on the options page, which also tells
// which way it reaches Torvane.
bool TestBridgeBrowser::startTakingOver(MarionetteBrowser &browser, quint16 port, bool native,
                                        const QString &page)
{
    const QString uuid = QStringLiteral("0e3a1f52-7c1d-4f0e-9d6b-5a2b8c4d7e10");
    const QString options = QStringLiteral("moz-extension://%1/options.html").arg(uuid);
    const QString extension = DevToolsBrowser::copyExtensionForPort(
        QStringLiteral(TORVANE_EXTENSION_DIR), port, browser.homeFolder() + "/extension");
    if (native &&
        !installNativeHost(browser.homeFolder() + "/.mozilla/native-messaging-hosts", true))
        return false;
    if (extension.isEmpty() || !browser.start(FirefoxExtensionId, uuid) ||
        !browser.installAddon(extension) || !browser.openPrivileged(options))
        return false;
    const QString shown = QStringLiteral("return document.getElementById('channel').textContent");
    if (!QTest::qWaitFor([&] { return browser.execute(shown).toString() == channelLine(native); },
                         15000))
        return false;
    // Clicked, then read back from the extension's storage by the page opened anew.
    browser.execute(QStringLiteral("document.getElementById('interceptDownloads').click()"));
    QTest::qWait(200);
    if (!browser.openPrivileged(options) ||
        !QTest::qWaitFor(
            [&] {
                return browser
                    .execute(QStringLiteral(
                        "return document.getElementById('interceptDownloads').checked"))
                    .toBool();
            },
            5000))
        return false;
    return browser.navigate(page);
}

// A page on another loopback origin fetches from the bridge with the extension's own address
// builder: the browser gets no answer it could read, and the window opens nothing.
void TestBridgeBrowser::pageFetchReadsNothingAndOpensNothing()
{
    if (DevToolsBrowser::chromiumPath().isEmpty())
        QSKIP("no Chromium on this machine");
    MainWindow::bridgePort = 0;
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

void TestBridgeBrowser::protectedDownloadCompletesThroughTheWindow_data()
{
    QTest::addColumn<bool>("firefox");
    QTest::addColumn<bool>("native");
    QTest::newRow("Chromium, port") << false << false;
    QTest::newRow("Chromium, native messaging") << false << true;
    QTest::newRow("Firefox, native messaging") << true << true;
}

// A file behind a login that Torvane alone could not fetch: a page sets the session cookie and
// leads the browser to the file; the extension hands the download over with the link as the
// browser had it, the name and size it knew, and the browser's session. The test presses Start in
// the window's dialog, and the file lands byte for byte, fetched with the browser's cookie,
// Referer and User-Agent. With another program on the port, the link goes through native
// messaging and never reaches the port.
void TestBridgeBrowser::protectedDownloadCompletesThroughTheWindow()
{
    QFETCH(bool, firefox);
    QFETCH(bool, native);
    if (firefox ? MarionetteBrowser::firefoxPath().isEmpty()
                : DevToolsBrowser::chromiumPath().isEmpty())
        QSKIP("no such browser on this machine");
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::LocalHost));
    MainWindow::bridgePort = native ? holder.serverPort() : 0;
    SingleInstance instance(home->path() + "/run");
    QVERIFY(instance.claim());
    MainWindow window;
    receiveHandOvers(instance, window);
    auto *bridge = window.findChild<BrowserBridge *>();
    QCOMPARE(bridge == nullptr, native);
    const quint16 port = native ? holder.serverPort() : bridge->serverPort();
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

    DevToolsBrowser chromium;
    MarionetteBrowser gecko;
    const bool started = firefox ? startTakingOver(gecko, port, native, pageUrl)
                                 : !startTakingOver(chromium, port, native, pageUrl).isEmpty();
    const auto output = [&] {
        return firefox ? gecko.output() : chromium.output();
    };
    QVERIFY2(started, qPrintable(output()));

    QTRY_VERIFY2_WITH_TIMEOUT(dialogs == 1, qPrintable(output()), 30000);
    QVERIFY(!holder.hasPendingConnections());
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
