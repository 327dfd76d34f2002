#include "app/bridgerequest.h"
#include "app/browserbridge.h"

#include <QElapsedTimer>
#include <QNetworkInterface>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace {

// One client connection to the bridge, driven byte by byte from the test.
struct Client {
    QTcpSocket socket;
    QByteArray received;

    bool open(const QHostAddress &address, quint16 port)
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] { received += socket.readAll(); });
        socket.connectToHost(address, port);
        return socket.waitForConnected(5000);
    }
    void send(const QByteArray &bytes)
    {
        socket.write(bytes);
        socket.flush();
    }
    // Lets the bridge run for a while; true when the bridge closed the connection meanwhile.
    bool closedWithin(int ms)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms && socket.state() != QAbstractSocket::UnconnectedState)
            QTest::qWait(10);
        received += socket.readAll();
        return socket.state() == QAbstractSocket::UnconnectedState;
    }
};

QByteArray get(const QByteArray &target)
{
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:9090\r\nUser-Agent: test\r\n\r\n";
}

} // namespace

class TestBrowserBridge : public QObject {
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void notAnswered_data();
    void notAnswered();
    void loopbackPeer_data();
    void loopbackPeer();

    void splitRequestAnsweredOnceAfterEmptyLine();
    void requestWithoutUrlAnsweredButOpensNothing();
    void notGetGetsNoReplyAndIsClosedAtDeadline();
    void answersLoopbackOverIPv4AndIPv6();
    void refusesPeerOnAnotherAddress();
    void oversizedRequestClosedWithoutReply();
    void idleAndExcessConnectionsAreClosedAndBridgeStaysUsable();
};

void TestBrowserBridge::parse_data()
{
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("name");
    QTest::addColumn<qint64>("size");

    QTest::newRow("percent-encoded link")
        << QByteArray("/?url=https%3A%2F%2Fexample.com%2Fa%2Ff.zip&name=f.zip&size=1024")
        << "https://example.com/a/f.zip"
        << "f.zip" << qint64(1024);
    QTest::newRow("path ignored") << QByteArray("/add/x?url=http%3A%2F%2Fh%2F&name=f.zip&size=1")
                                  << "http://h/"
                                  << "f.zip" << qint64(1);
    QTest::newRow("plus stays plus, %20 is a space")
        << QByteArray("/?url=u&name=My+File.mp4") << "u"
        << "My+File.mp4" << qint64(0);
    QTest::newRow("space") << QByteArray("/?url=u&name=My%20File.mp4") << "u"
                           << "My File.mp4" << qint64(0);
    QTest::newRow("escaped delimiters")
        << QByteArray(
               "/?url=http%3A%2F%2Fh%2Fq%3Fa%3D1%26b%3D2%2B3%23frag&name=a%26b%3Dc%2B%23.txt")
        << "http://h/q?a=1&b=2+3#frag"
        << "a&b=c+#.txt" << qint64(0);
    QTest::newRow("arabic name as UTF-8")
        << QByteArray("/?url=u&name=%D9%85%D9%84%D9%81.pdf&size=77") << "u"
        << QString::fromUtf8("\u0645\u0644\u0641.pdf") << qint64(77);
    QTest::newRow("first value wins") << QByteArray("/?url=a&url=b&size=5&size=6") << "a"
                                      << "" << qint64(5);
    QTest::newRow("size not a number") << QByteArray("/?url=u&size=12ab") << "u"
                                       << "" << qint64(0);
    QTest::newRow("big size") << QByteArray("/?url=u&size=8589934592") << "u"
                              << "" << qint64(8589934592LL);
    QTest::newRow("no query") << QByteArray("/") << ""
                              << "" << qint64(0);
}

void TestBrowserBridge::parse()
{
    QFETCH(QByteArray, target);
    const BridgeRequest r = parseBridgeRequest(get(target) + "trailing body GET /?url=x HTTP/1.1");
    QCOMPARE(r.state, BridgeRequest::Get);
    QFETCH(QString, url);
    QFETCH(QString, name);
    QFETCH(qint64, size);
    QCOMPARE(r.url, url);
    QCOMPARE(r.name, name);
    QCOMPARE(r.size, size);
}

void TestBrowserBridge::notAnswered_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("state");
    QTest::newRow("incomplete") << QByteArray("GET /?url=u HTTP/1.1\r\nHost: x\r\n")
                                << int(BridgeRequest::Incomplete);
    QTest::newRow("preflight") << QByteArray("OPTIONS /?url=u HTTP/1.1\r\n"
                                             "Access-Control-Request-Method: GET\r\n\r\n")
                               << int(BridgeRequest::NotGet);
    QTest::newRow("GET only in a header")
        << QByteArray("POST / HTTP/1.1\r\nX-Note: GET /?url=u HTTP/1.1\r\n\r\n")
        << int(BridgeRequest::NotGet);
    QTest::newRow("lower-case method")
        << QByteArray("get /?url=u HTTP/1.1\r\n\r\n") << int(BridgeRequest::NotGet);
    QTest::newRow("no HTTP version")
        << QByteArray("GET /?url=u\r\n\r\n") << int(BridgeRequest::NotGet);
}

void TestBrowserBridge::notAnswered()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, state);
    const BridgeRequest r = parseBridgeRequest(bytes);
    QCOMPARE(int(r.state), state);
    QVERIFY(r.url.isEmpty());
}

void TestBrowserBridge::loopbackPeer_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("loopback");
    QTest::newRow("127.0.0.1") << "127.0.0.1" << true;
    QTest::newRow("127.200.3.4") << "127.200.3.4" << true;
    QTest::newRow("::1") << "::1" << true;
    QTest::newRow("mapped 127.0.0.1") << "::ffff:127.0.0.1" << true;
    QTest::newRow("mapped 127.9.9.9 hex") << "::ffff:7f09:909" << true;
    QTest::newRow("192.0.2.2") << "192.0.2.2" << false;
    QTest::newRow("mapped 192.168.1.5") << "::ffff:192.168.1.5" << false;
    QTest::newRow("128.0.0.1") << "128.0.0.1" << false;
    QTest::newRow("0.0.0.0") << "0.0.0.0" << false;
    QTest::newRow("::") << "::" << false;
    QTest::newRow("link-local") << "fe80::1" << false;
    QTest::newRow("compatible ::127.0.0.1") << "::127.0.0.1" << false;
    QTest::newRow("::2") << "::2" << false;
    QTest::newRow("null") << QString() << false;
}

void TestBrowserBridge::loopbackPeer()
{
    QFETCH(QString, address);
    QFETCH(bool, loopback);
    QCOMPARE(isLoopbackPeer(QHostAddress(address)), loopback);
}

void TestBrowserBridge::splitRequestAnsweredOnceAfterEmptyLine()
{
    BrowserBridge bridge;
    QVERIFY(bridge.listen(QHostAddress::LocalHost, 0));
    QSignalSpy links(&bridge, &BrowserBridge::linkReceived);

    Client c;
    QVERIFY(c.open(QHostAddress::LocalHost, bridge.serverPort()));
    const QByteArray request = get("/?url=https%3A%2F%2Fexample.com%2Ff.zip&name=f.zip&size=1024");
    // Cut right through "GET ", " HTTP" and the empty line itself.
    const QList<qsizetype> cuts{2, 10, 40, request.size() - 3, request.size() - 1};
    qsizetype from = 0;
    for (qsizetype cut : cuts) {
        c.send(request.mid(from, cut - from));
        from = cut;
        QVERIFY(!c.closedWithin(60));
        QVERIFY(c.received.isEmpty());
        QCOMPARE(links.count(), 0);
    }
    c.send(request.mid(from));
    QVERIFY(c.closedWithin(5000));
    QCOMPARE(c.received, QByteArray("HTTP/1.1 200 OK\r\nAccess-Control-Allow-Origin: *\r\n\r\n"
                                    "Success"));
    QTRY_COMPARE(links.count(), 1);
    QCOMPARE(links.at(0).at(0).toString(), QString("https://example.com/f.zip"));
    QCOMPARE(links.at(0).at(1).toString(), QString("f.zip"));
    QCOMPARE(links.at(0).at(2).toLongLong(), 1024);
    QTest::qWait(50);
    QCOMPARE(links.count(), 1);
    QCOMPARE(bridge.openConnections(), 0);
}

void TestBrowserBridge::requestWithoutUrlAnsweredButOpensNothing()
{
    BrowserBridge bridge;
    QVERIFY(bridge.listen(QHostAddress::LocalHost, 0));
    QSignalSpy links(&bridge, &BrowserBridge::linkReceived);
    for (const QByteArray &target :
         {QByteArray("/"), QByteArray("/?name=f.zip&size=3"), QByteArray("/add?url=&name=f.zip")}) {
        Client c;
        QVERIFY(c.open(QHostAddress::LocalHost, bridge.serverPort()));
        c.send(get(target));
        QVERIFY(c.closedWithin(5000));
        QCOMPARE(c.received, bridgeReply());
    }
    QTest::qWait(50);
    QCOMPARE(links.count(), 0);
}

void TestBrowserBridge::notGetGetsNoReplyAndIsClosedAtDeadline()
{
    BrowserBridge bridge;
    bridge.setRequestTimeout(400);
    QVERIFY(bridge.listen(QHostAddress::LocalHost, 0));
    QSignalSpy links(&bridge, &BrowserBridge::linkReceived);
    Client c;
    QVERIFY(c.open(QHostAddress::LocalHost, bridge.serverPort()));
    c.send("OPTIONS /?url=http%3A%2F%2Fh%2F HTTP/1.1\r\nOrigin: http://x\r\n"
           "Access-Control-Request-Method: GET\r\n\r\n");
    QVERIFY(!c.closedWithin(150));
    QVERIFY(c.closedWithin(5000));
    QVERIFY(c.received.isEmpty());
    QCOMPARE(links.count(), 0);
    QCOMPARE(bridge.openConnections(), 0);
}

void TestBrowserBridge::answersLoopbackOverIPv4AndIPv6()
{
    // Listening on every interface, as the program does: IPv4 peers then show up in the
    // IPv4-mapped form on a dual-stack socket.
    BrowserBridge bridge;
    QVERIFY(bridge.listen(QHostAddress::Any, 0));
    QSignalSpy links(&bridge, &BrowserBridge::linkReceived);
    for (const QHostAddress &to :
         {QHostAddress(QHostAddress::LocalHost), QHostAddress(QHostAddress::LocalHostIPv6)}) {
        Client c;
        if (!c.open(to, bridge.serverPort())) {
            QVERIFY2(to.protocol() == QAbstractSocket::IPv6Protocol, "IPv4 loopback unreachable");
            continue; // a machine without IPv6 loopback
        }
        c.send(get("/?url=" + to.toString().toUtf8()));
        QVERIFY(c.closedWithin(5000));
        QCOMPARE(c.received, bridgeReply());
    }
    QTRY_VERIFY(links.count() >= 1);
    QCOMPARE(links.at(0).at(0).toString(), QString("127.0.0.1"));
}

void TestBrowserBridge::refusesPeerOnAnotherAddress()
{
    // Reaching the bridge through one of this machine's own non-loopback addresses makes the
    // peer address non-loopback too, just as a neighbour on the network would be.
    QHostAddress outside;
    const QList<QHostAddress> all = QNetworkInterface::allAddresses();
    for (const QHostAddress &a : all) {
        if (!a.isLoopback() && !a.isLinkLocal() && a.protocol() == QAbstractSocket::IPv4Protocol) {
            outside = a;
            break;
        }
    }
    if (outside.isNull())
        QSKIP("this machine has no non-loopback IPv4 address; the peer check is covered above");

    BrowserBridge bridge;
    QVERIFY(bridge.listen(QHostAddress::Any, 0));
    QSignalSpy links(&bridge, &BrowserBridge::linkReceived);
    Client c;
    QVERIFY(c.open(outside, bridge.serverPort()));
    c.send(get("/?url=http%3A%2F%2Fevil%2Fx.exe&name=x.exe"));
    QVERIFY(c.closedWithin(5000));
    QVERIFY(c.received.isEmpty());
    QTest::qWait(50);
    QCOMPARE(links.count(), 0);
    QCOMPARE(bridge.openConnections(), 0);
}

void TestBrowserBridge::oversizedRequestClosedWithoutReply()
{
    BrowserBridge bridge;
    bridge.setMaxRequestBytes(1024);
    QVERIFY(bridge.listen(QHostAddress::LocalHost, 0));
    QSignalSpy links(&bridge, &BrowserBridge::linkReceived);

    // A request that fits the bound to the byte is still answered.
    QByteArray fits = get("/?url=u&name=");
    fits.insert(fits.indexOf(" HTTP"), QByteArray(1024 - fits.size(), 'n'));
    QCOMPARE(fits.size(), 1024);
    {
        Client c;
        QVERIFY(c.open(QHostAddress::LocalHost, bridge.serverPort()));
        c.send(fits);
        QVERIFY(c.closedWithin(5000));
        QCOMPARE(c.received, bridgeReply());
    }
    // One byte more, arriving in pieces, and the connection is cut; so is a flood in one go,
    // even when its empty line comes only after the bound.
    QByteArray tooLong = fits;
    tooLong.insert(fits.indexOf(" HTTP"), 'n');
    for (const QByteArray &bytes : {tooLong, QByteArray(4 * 1024 * 1024, 'x') + "\r\n\r\n"}) {
        Client c;
        QVERIFY(c.open(QHostAddress::LocalHost, bridge.serverPort()));
        for (int at = 0; at < bytes.size() && c.socket.state() == QAbstractSocket::ConnectedState;
             at += 600) {
            c.send(bytes.mid(at, 600));
            QTest::qWait(1);
        }
        QVERIFY(c.closedWithin(5000));
        QVERIFY(c.received.isEmpty());
    }
    QTRY_COMPARE(links.count(), 1);
    QCOMPARE(bridge.openConnections(), 0);
}

void TestBrowserBridge::idleAndExcessConnectionsAreClosedAndBridgeStaysUsable()
{
    BrowserBridge bridge;
    bridge.setRequestTimeout(500);
    bridge.setMaxConnections(16);
    QVERIFY(bridge.listen(QHostAddress::LocalHost, 0));

    // Silent and half-sent connections, more than the bridge keeps open at once.
    std::vector<std::unique_ptr<Client>> idle;
    for (int i = 0; i < 40; ++i) {
        idle.push_back(std::make_unique<Client>());
        QVERIFY(idle.back()->open(QHostAddress::LocalHost, bridge.serverPort()));
        if (i % 2)
            idle.back()->send("GET /?url=x HTTP/1.1\r\nHost: a\r\n");
    }
    QTest::qWait(100);
    QVERIFY(bridge.openConnections() <= 16);

    // Until the deadline, the idle ones stay unanswered; after it, all are gone.
    QElapsedTimer t;
    t.start();
    for (auto &c : idle)
        QVERIFY(c->closedWithin(5000));
    QVERIFY(t.elapsed() < 4000);
    for (auto &c : idle)
        QVERIFY(c->received.isEmpty());
    QCOMPARE(bridge.openConnections(), 0);

    QSignalSpy links(&bridge, &BrowserBridge::linkReceived);
    Client c;
    QVERIFY(c.open(QHostAddress::LocalHost, bridge.serverPort()));
    c.send(get("/?url=after"));
    QVERIFY(c.closedWithin(5000));
    QCOMPARE(c.received, bridgeReply());
    QTRY_COMPARE(links.count(), 1);
}

QTEST_MAIN(TestBrowserBridge)
#include "tst_browserbridge.moc"
