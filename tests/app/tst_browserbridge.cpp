#include "app/bridgerequest.h"
#include "app/browserbridge.h"

#include <QNetworkInterface>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

#include <list>

namespace {

// One client connection to the bridge, driven from the test.
struct Client {
    QTcpSocket socket;
    QByteArray received;

    bool open(quint16 port, const QHostAddress &to = QHostAddress(QHostAddress::LocalHost))
    {
        socket.connectToHost(to, port);
        return socket.waitForConnected(5000);
    }
    void send(const QByteArray &bytes) { socket.write(bytes), socket.flush(); }
    // Lets the bridge run for a while; true when it closed the connection meanwhile.
    bool closedWithin(int ms)
    {
        const bool closed = QTest::qWaitFor(
            [this] { return socket.state() == QAbstractSocket::UnconnectedState; }, ms);
        received += socket.readAll();
        return closed;
    }
};

QByteArray get(const QByteArray &target)
{
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:9090\r\nUser-Agent: test\r\n\r\n";
}

// Sends bytes on a fresh connection; what came back before the bridge closed it.
QByteArray exchange(const BrowserBridge &bridge, const QByteArray &bytes,
                    const QHostAddress &to = QHostAddress(QHostAddress::LocalHost))
{
    Client c;
    if (!c.open(bridge.serverPort(), to))
        return "(no connection)";
    for (int at = 0; at < bytes.size() && c.socket.state() == QAbstractSocket::ConnectedState;
         at += 600) {
        c.send(bytes.mid(at, 600));
        QTest::qWait(1);
    }
    return c.closedWithin(5000) ? c.received : QByteArray("(still open)");
}

const QByteArray Reply = "HTTP/1.1 200 OK\r\nAccess-Control-Allow-Origin: *\r\n\r\nSuccess";

} // namespace

class TestBrowserBridge : public QObject {
    Q_OBJECT

private slots:
    void parse();
    void splitRequestAnsweredOnceAndLoopbackOnly();
    void boundAndDeadlineCloseWithoutReply();
};

void TestBrowserBridge::parse()
{
    const auto seen = [](const QByteArray &request) {
        const BridgeRequest r = parseBridgeRequest(request);
        return r.state != BridgeRequest::Get ? QStringLiteral("not a GET")
                                             : r.url + '|' + r.name + '|' + QString::number(r.size);
    };
    // The path plays no part.
    QCOMPARE(seen(get("/add/x?url=http%3A%2F%2Fh%2F&name=f.zip&size=1024")),
             QStringLiteral("http://h/|f.zip|1024"));
    QCOMPARE(seen(get("/?url=http%3A%2F%2Fh%2Fq%3Fa%3D1%26b%3D2%2B3%23f&name=a%26b%3Dc%2B%23.txt")),
             QStringLiteral("http://h/q?a=1&b=2+3#f|a&b=c+#.txt|0"));
    // A plus sign stays a plus sign, %20 is a space, names are UTF-8, sizes go past 32 bits.
    QCOMPARE(seen(get("/?url=u&name=a+%D9%85%D9%84%D9%81%20b.pdf&size=8589934592")),
             QString::fromUtf8("u|a+\u0645\u0644\u0641 b.pdf|8589934592"));
    QCOMPARE(seen("POST / HTTP/1.1\r\nX-Note: GET /?url=u HTTP/1.1\r\n\r\n"),
             QStringLiteral("not a GET"));
}

void TestBrowserBridge::splitRequestAnsweredOnceAndLoopbackOnly()
{
    for (const char *a : {"127.200.3.4", "::1", "::ffff:7f09:909"})
        QVERIFY2(isLoopbackPeer(QHostAddress(QString::fromLatin1(a))), a);
    for (const char *a : {"128.0.0.1", "::ffff:192.168.1.5", "::127.0.0.1", "::"})
        QVERIFY2(!isLoopbackPeer(QHostAddress(QString::fromLatin1(a))), a);

    // On every interface, as the program listens, IPv4 peers arrive in the IPv4-mapped form.
    BrowserBridge bridge;
    QVERIFY(bridge.listen(QHostAddress::Any, 0));
    QSignalSpy links(&bridge, &BrowserBridge::linkReceived);
    Client c;
    QVERIFY(c.open(bridge.serverPort()));
    const QByteArray request = get("/?url=https%3A%2F%2Fexample.com%2Ff.zip&name=f.zip&size=1024");
    // Cut right through "GET ", " HTTP" and the empty line itself.
    qsizetype from = 0;
    for (qsizetype cut : {qsizetype(2), qsizetype(40), request.size() - 3, request.size() - 1}) {
        c.send(request.mid(from, cut - from));
        from = cut;
        QVERIFY(!c.closedWithin(60));
        QVERIFY(c.received.isEmpty());
    }
    c.send(request.mid(from) + get("/?url=again")); // what follows the empty line is ignored
    QVERIFY(c.closedWithin(5000));
    QCOMPARE(c.received, Reply);
    QTRY_COMPARE(links.count(), 1);
    QCOMPARE(links.at(0), (QList<QVariant>{"https://example.com/f.zip", "f.zip", qint64(1024)}));

    // Through one of this machine's own non-loopback addresses the peer is non-loopback too,
    // just as a neighbour on the network would be.
    for (const QHostAddress &a : QNetworkInterface::allAddresses()) {
        if (a.isLoopback() || a.isLinkLocal() || a.protocol() != QAbstractSocket::IPv4Protocol)
            continue;
        QCOMPARE(exchange(bridge, get("/?url=http%3A%2F%2Fevil%2Fx.exe"), a), QByteArray());
        QTest::qWait(50);
        QCOMPARE(links.count(), 1);
        return;
    }
    QSKIP("no non-loopback IPv4 address here to connect from");
}

void TestBrowserBridge::boundAndDeadlineCloseWithoutReply()
{
    BrowserBridge bridge;
    bridge.setMaxRequestBytes(1024);
    bridge.setRequestTimeout(500);
    bridge.setMaxConnections(16);
    QVERIFY(bridge.listen(QHostAddress::LocalHost, 0));
    QSignalSpy links(&bridge, &BrowserBridge::linkReceived);

    // A request that fits the bound to the byte is answered (and, without a url, opens nothing);
    // one byte more, or a flood whose empty line comes after the bound, is cut off unanswered.
    QByteArray fits = get("/?name=");
    fits.insert(fits.indexOf(" HTTP"), QByteArray(1024 - fits.size(), 'n'));
    QCOMPARE(exchange(bridge, fits), Reply);
    QCOMPARE(exchange(bridge, QByteArray(fits).insert(fits.indexOf(" HTTP"), 'n')), QByteArray());
    QCOMPARE(exchange(bridge, QByteArray(4 * 1024 * 1024, 'x') + "\r\n\r\n"), QByteArray());

    // Silent, half-sent and non-GET connections, more than the bridge keeps open at once: none
    // is answered, all are gone after the deadline, and the bridge still serves the next one.
    const QByteArray starts[] = {"", "GET /?url=x HTTP/1.1\r\nHost: a\r\n",
                                 "OPTIONS /?url=x HTTP/1.1\r\n\r\n"};
    std::list<Client> idle;
    for (int i = 0; i < 40; ++i) {
        QVERIFY(idle.emplace_back().open(bridge.serverPort()));
        idle.back().send(starts[i % 3]);
    }
    QTest::qWait(100);
    QVERIFY(bridge.openConnections() > 0 && bridge.openConnections() <= 16);
    for (Client &c : idle) {
        QVERIFY(c.closedWithin(5000));
        QVERIFY(c.received.isEmpty());
    }
    QCOMPARE(bridge.openConnections(), 0);
    QCOMPARE(links.count(), 0);
    QCOMPARE(exchange(bridge, get("/?url=after")), Reply);
    QTRY_COMPARE(links.count(), 1);
}

QTEST_MAIN(TestBrowserBridge)
#include "tst_browserbridge.moc"
