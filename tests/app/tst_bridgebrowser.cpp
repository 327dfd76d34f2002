#include "app/browserbridge.h"
#include "headlessbrowser.h"
#include "testhttpserver.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>
#include <QUrlQuery>

// A real browser talks to the bridge: a page on one loopback origin calls fetch() on the bridge,
// another origin, with the extension's own address builder. Only the bridge's CORS header lets
// the page read the answer; a control server without that header proves the browser enforces it.
class TestBridgeBrowser : public QObject {
    Q_OBJECT

private slots:
    void pageFetchReadsSuccessAndBridgeGetsTheLink();
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
    TestHttpServer::Route page;
    page.body = pageFor(bridge.serverPort(), link, name, 1024, control.url("/plain"));
    page.headers = {{"Content-Type", "text/html; charset=utf-8"}};
    site.setRoute("/page.html", page);
    TestHttpServer::Route script;
    script.body = builder.readAll();
    script.headers = {{"Content-Type", "text/javascript; charset=utf-8"}};
    site.setRoute("/message.js", script);
    site.setRoute("/result", TestHttpServer::Route{});

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

QTEST_MAIN(TestBridgeBrowser)
#include "tst_bridgebrowser.moc"
