#include "adding/addurldialog.h"
#include "app/browserbridge.h"
#include "app/mainwindow.h"
#include "app/singleinstance.h"
#include "app/startup.h"
#include "devtoolsbrowser.h"
#include "engine/downloadtask.h"
#include "language/translation.h"
#include "marionettebrowser.h"
#include "messageboxdriver.h"
#include "testdownloads.h"
#include "testfiles.h"
#include "testhome.h"
#include "testhttpserver.h"
#include "views/tasklist.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

// Registers torvane-host (the built one) with the browser through the manifest the packages
// install, so that only our extension may start it.
bool installNativeHost(const QString &folder, bool firefox)
{
    QByteArray manifest = readFile(
        QStringLiteral(TORVANE_EXTENSION_DIR "/../packaging/linux/native-messaging/%1.json.in")
            .arg(firefox ? "firefox" : "chromium"));
    manifest.replace("@TORVANE_HOST_PATH@", TORVANE_HOST_PROGRAM)
        .replace("@TORVANE_CHROMIUM_EXTENSION_ID@", ChromiumExtensionId)
        .replace("@TORVANE_FIREFOX_EXTENSION_ID@", FirefoxExtensionId);
    return manifest.contains(TORVANE_HOST_PROGRAM) && QDir().mkpath(folder) &&
           writeFile(folder + "/io.github.torvane.host.json", manifest);
}

// Starts the browser with the shipped extension talking to `port` (and with torvane-host registered
// when `native`), switches the take-over of downloads on as a user does, on the options page, which
// also has to tell which way it reaches Torvane, and opens `page`.
bool startTakingOver(TestBrowser &browser, bool firefox, quint16 port, bool native,
                     const QString &page)
{
    const QString options =
        firefox ? QStringLiteral("moz-extension://%1/options.html")
                      .arg(MarionetteBrowser::ExtensionHost)
                : QStringLiteral("chrome-extension://%1/options.html").arg(ChromiumExtensionId);
    const QString channel = native
                                ? QStringLiteral("Connected through the browser's native messaging")
                                : QStringLiteral("Connected through port 9090");
    const QString box = QStringLiteral("document.getElementById('interceptDownloads')");
    const QString extension = browser.extensionForPort(QStringLiteral(TORVANE_EXTENSION_DIR), port);
    if (extension.isEmpty() ||
        (native && !installNativeHost(browser.nativeHostsFolder(), firefox)) ||
        !browser.start(extension) || !browser.open(options) ||
        !browser.waitFor("document.getElementById('channel').textContent == \"" + channel + '"'))
        return false;
    // Clicked, then read back from the extension's storage by the page opened anew.
    browser.evaluate(box + ".click()");
    QTest::qWait(200);
    return browser.open(options) && browser.waitFor(box + ".checked") && browser.open(page);
}

} // namespace

// Real browsers against the running window: the shipped extension hands a protected download over,
// through the port or, with the port held by another program, through the browser's native
// messaging and torvane-host; a web page on another loopback origin may not use the bridge.
class TestBridgeBrowser : public QObject {
    Q_OBJECT

private slots:
    void protectedDownloadCompletesThroughTheWindow_data();
    void protectedDownloadCompletesThroughTheWindow();
};

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
// messaging and never reaches the port. Clicked again with the keep-in-browser key held, the link
// stays with the browser. Then the page fetches a link from the bridge: the browser gets no answer
// it could read, and the window opens nothing.
void TestBridgeBrowser::protectedDownloadCompletesThroughTheWindow()
{
    QFETCH(bool, firefox);
    QFETCH(bool, native);
    if (firefox ? MarionetteBrowser::firefoxPath().isEmpty()
                : DevToolsBrowser::chromiumPath().isEmpty())
        QSKIP("no such browser on this machine");
    // The task list and the download folder in a home of their own; torvane-host, started by the
    // browser with this environment, finds the window's socket there.
    QTemporaryDir home;
    const QProcessEnvironment env = privateHome(home.path());
    for (const char *name : {"HOME", "XDG_RUNTIME_DIR"})
        qputenv(name, env.value(name).toUtf8());
    QStandardPaths::setTestModeEnabled(true);
    g_lang = QStringLiteral("en");
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::LocalHost));
    MainWindow::bridgePort = native ? holder.serverPort() : 0;
    SingleInstance instance(home.path() + "/run");
    QVERIFY(instance.claim());
    MainWindow window;
    receiveHandOvers(instance, window);
    const quint16 port =
        native ? holder.serverPort() : window.findChild<BrowserBridge *>()->serverPort();
    // Once the add dialog's probe has filled the path: what it shows, then Start.
    QString shownLink, shownPath, shownInfo;
    answerNextDialog<AddUrlDialog>([&](AddUrlDialog *dialog) {
        (void)QTest::qWaitFor([&] { return !dialog->getSavePath().isEmpty(); }, 30000);
        shownLink = dialog->getUrl();
        shownPath = dialog->getSavePath();
        shownInfo = dialog->findChild<QLabel *>("lblFileInfo")->text();
        dialog->findChild<QPushButton *>("btnStart")->click();
    });

    TestHttpServer site;
    QVERIFY(site.start());
    const QString pageUrl = site.url("/page.html").toString();
    TestHttpServer::Route page, file, keep;
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
    keep.body = "<!doctype html><a href='/locked.zip?id=7&amp;x=a+b' style='position: fixed; "
                "inset: 0'>locked.zip</a>";
    keep.headers = {{"Content-Type", "text/html; charset=utf-8"}};
    site.setRoute("/keep.html", keep);

    const std::unique_ptr<TestBrowser> browser(
        firefox ? static_cast<TestBrowser *>(new MarionetteBrowser) : new DevToolsBrowser);
    QVERIFY2(startTakingOver(*browser, firefox, port, native, pageUrl),
             qPrintable(browser->output()));

    QTRY_VERIFY2_WITH_TIMEOUT(!shownLink.isEmpty(), qPrintable(browser->output()), 30000);
    QVERIFY(!holder.hasPendingConnections());
    QCOMPARE(shownLink, site.url("/locked.zip?id=7&x=a+b").toString());
    QVERIFY2(shownInfo.startsWith("Size: 0.25 MB"), qPrintable(shownInfo));
    QTRY_COMPARE(window.taskList()->tasks().size(), 1);
    DownloadTask *task = window.taskList()->tasks().first();
    QTRY_VERIFY(task->status != 0);
    QCOMPARE(downloadFault(*task, file.body, 30000), QString());
    QVERIFY2(shownPath.endsWith("/Torvane/Compressed/locked.zip"), qPrintable(shownPath));

    // The browser asked without a range; every ranged request is Torvane's, the dialog's probe
    // among them, and each carried what the browser sends (the route refuses any without the
    // cookie).
    const auto requests = site.requestsFor("/locked.zip");
    const QByteArray browserAgent = requests.first().headers.value("user-agent");
    int ranged = 0;
    for (const auto &request : requests) {
        if (request.headers.contains("range")) {
            ++ranged;
            QCOMPARE(request.headers.value("referer"), pageUrl.toUtf8());
            QCOMPARE(request.headers.value("user-agent"), browserAgent);
        }
    }
    QVERIFY(ranged > 2);

    // The same link clicked with the key that keeps a download in the browser (Alt unless the
    // options say otherwise): no dialog, and the browser's own download completes; the one handed
    // over before left no copy of its own beside it.
    const auto browserCopies = [&] {
        int copies = 0;
        for (const QFileInfo &saved : QDir(browser->downloadsFolder()).entryInfoList(QDir::Files))
            copies += readFile(saved.filePath()) == file.body;
        return copies;
    };
    QCOMPARE(browserCopies(), 0);
    // A dialog now is the kept link handed over after all: closed, so that the test fails rather
    // than waits on it.
    int handedOver = 0;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
        if (auto *dialog = qobject_cast<AddUrlDialog *>(QApplication::activeModalWidget())) {
            ++handedOver;
            dialog->reject();
        }
    });
    watch.start(20);
    QVERIFY(browser->open(site.url("/keep.html").toString()));
    QVERIFY2(browser->altClick(20, 20), qPrintable(browser->output()));
    QTRY_COMPARE_WITH_TIMEOUT(browserCopies(), 1, 30000);
    QCOMPARE(handedOver, 0);

    if (native) // the port's holder would never answer
        return;
    const QJsonValue answer = browser->evaluate(
        "fetch('http://127.0.0.1:" + QString::number(port) +
        "/?url=https%3A%2F%2Fexample.com%2Fevil.exe').then(r => r.text(), e => 'error: ' + e)");
    QVERIFY2(answer.toString().startsWith("error"), qPrintable(browser->output()));
    QTest::qWait(300);
    QVERIFY(!QApplication::activeModalWidget());
}

QTEST_MAIN(TestBridgeBrowser)
#include "tst_bridgebrowser.moc"
