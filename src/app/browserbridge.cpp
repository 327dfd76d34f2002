#include "app/browserbridge.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {
const char *const ReqDataProperty = "reqData";
// Room for a flood of connections in the system's queue, so that the extension's connection is
// not dropped there (and retried only a second later) before the bridge gets to it.
constexpr int kListenBacklog = 1024;
} // namespace

BrowserBridge::BrowserBridge(QObject *parent) : QObject(parent) {}

bool BrowserBridge::listen(const QHostAddress &address, quint16 port)
{
    if (localServer)
        return true;
    auto *server = new QTcpServer(this);
    server->setListenBacklogSize(kListenBacklog);
    if (!server->listen(address, port)) {
        delete server;
        return false;
    }
    localServer = server;
    connect(localServer, &QTcpServer::newConnection, this, &BrowserBridge::handleBrowserExtension);
    return true;
}

quint16 BrowserBridge::serverPort() const
{
    return localServer ? localServer->serverPort() : 0;
}

void BrowserBridge::handleBrowserExtension()
{
    // Take every pending connection: newConnection is not repeated for ones already queued.
    while (QTcpSocket *socket = localServer->nextPendingConnection()) {
        socket->setParent(this);
        // The listener is on every interface, but unless the user allows the network, only this
        // machine may push links (and so pop dialogs); anyone else is cut off without a byte.
        if (!m_acceptRemote && !isLoopbackPeer(socket->peerAddress())) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // All slots taken: the oldest connection goes, after a last look at what it has sent by
        // now, so that a request waiting to be read is still answered.
        while (!m_waiting.isEmpty() && m_waiting.size() >= m_maxConnections) {
            QTcpSocket *oldest = m_waiting.first();
            // Bytes that the system holds for it, and Qt has not read yet, count too.
            oldest->waitForReadyRead(0);
            handleRequestData(oldest);
            closeConnection(oldest);
        }
        m_waiting.append(socket);
        // Qt's own buffer never holds much more than a request may be long.
        socket->setReadBufferSize(m_maxRequestBytes + 1);

        auto *deadline = new QTimer(socket);
        deadline->setSingleShot(true);
        connect(deadline, &QTimer::timeout, this, [this, socket] { closeConnection(socket); });
        deadline->start(m_requestTimeoutMs);

        connect(socket, &QTcpSocket::readyRead, this,
                [this, socket] { handleRequestData(socket); });
        connect(socket, &QTcpSocket::disconnected, this,
                [this, socket] { closeConnection(socket); });
        // Bytes may have arrived before the handler was connected.
        if (socket->bytesAvailable() > 0)
            handleRequestData(socket);
    }
}

void BrowserBridge::handleRequestData(QTcpSocket *socket)
{
    if (!m_waiting.contains(socket))
        return;
    QByteArray data = socket->property(ReqDataProperty).toByteArray();
    // Read no more than can still fit, so a flood never lands in memory at once.
    data += socket->read(qMax<qint64>(0, m_maxRequestBytes + 1 - data.size()));
    if (data.size() > m_maxRequestBytes && !data.left(m_maxRequestBytes).contains("\r\n\r\n")) {
        closeConnection(socket);
        return;
    }
    socket->setProperty(ReqDataProperty, data);

    const BridgeRequest request = parseBridgeRequest(data);
    if (request.state == BridgeRequest::FromWebPage) {
        closeConnection(socket);
        return;
    }
    if (request.state != BridgeRequest::Get)
        return; // wait for the rest, or (not a GET) for the peer or the deadline to close it

    // Links that are not http(s) (file:, javascript:, data: ...) are refused like a full queue.
    const QStringList handed = request.urls.isEmpty() ? QStringList{request.url} : request.urls;
    const bool carriesLinks = !request.url.isEmpty() || !request.urls.isEmpty();
    LinkOffer offer;
    offer.urls = webLinksAmong(handed);
    offer.name = request.name;
    offer.size = request.size;
    offer.session = request.session;
    if (carriesLinks && (offer.isEmpty() || !m_take || !m_take(offer))) {
        closeConnection(socket);
        return;
    }

    m_waiting.removeOne(socket);
    socket->setProperty(ReqDataProperty, QVariant());
    disconnect(socket, nullptr, this, nullptr);
    socket->write(bridgeReply());
    // Hand the reply to the system before closing, so deleting the socket cannot cut it off.
    socket->flush();
    socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState)
        socket->deleteLater();
    else {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        // A peer that never reads its answer does not keep the socket forever.
        QTimer::singleShot(m_requestTimeoutMs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
    }
}

void BrowserBridge::closeConnection(QTcpSocket *socket)
{
    if (!m_waiting.removeOne(socket))
        return;
    socket->setProperty(ReqDataProperty, QVariant());
    disconnect(socket, nullptr, this, nullptr);
    socket->abort();
    socket->deleteLater();
}
