#include "adding/addurldialog.h"
#include "app/browserbridge.h"
#include "app/mainwindow.h"
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

// A real browser talks to the running window's bridge: a page on one loopback origin calls fetch()
// on the bridge, another origin, with the extension's own address builder. Only the bridge's CORS
// header lets the page read the answer; a server without that header proves the browser enforces
// it.
class TestBridgeBrowser : public QObject {
    Q_OBJECT

private slots:
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

} // namespace

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

    // The link's server sends no CORS header: the page's own fetch of it must be blocked.
    TestHttpServer files;
    QVERIFY(files.start());
    files.setRoute("/get", TestHttpServer::Route{});
    files.route("/get").body = TestHttpServer::randomBody(4096);
    const QString link = files.url("/get?id=7&x=a+b").toString();

    QFile builder(QStringLiteral(TORVANE_EXTENSION_DIR "/message.js"));
    QVERIFY(builder.open(QIODevice::ReadOnly));
    TestHttpServer site;
    QVERIFY(site.start());
    TestHttpServer::Route page, script;
    page.body = pageFor(bridge->serverPort(), link, "f.zip", 1048576, files.url("/get"));
    page.headers = {{"Content-Type", "text/html; charset=utf-8"}};
    script.body = builder.readAll();
    script.headers = {{"Content-Type", "text/javascript; charset=utf-8"}};
    site.setRoute("/page.html", page);
    site.setRoute("/message.js", script);
    site.setRoute("/result", TestHttpServer::Route{});

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
    QCOMPARE(result.queryItemValue(QStringLiteral("control"), QUrl::FullyDecoded),
             QStringLiteral("blocked"));
    QCOMPARE(shownLink, link);
    QVERIFY2(shownPath.endsWith("/Torvane/Compressed/f.zip"), qPrintable(shownPath));
    QVERIFY2(shownInfo.startsWith("Size: 1.00 MB"), qPrintable(shownInfo));
    QVERIFY(window.taskList()->tasks().isEmpty()); // rejected: nothing added
}

QTEST_MAIN(TestBridgeBrowser)
#include "tst_bridgebrowser.moc"
