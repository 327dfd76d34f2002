#pragma once

#include "app/bridgerequest.h"
#include "app/linkoffer.h"

#include <QHostAddress>
#include <QList>
#include <QObject>

#include <functional>

class QTcpServer;
class QTcpSocket;

// The local listener through which a browser extension hands links to the program. Every GET from
// this machine is answered at once with bridgeReply(); the links it carries are handed to the
// link taker first, and a request whose links it does not take, or that carries links but none of
// them http(s), gets no reply at all, so that the extension lets the browser download instead.
// Peers on other machines (unless setAcceptRemote() allows them), requests that a web page or
// another extension made the browser send, requests that grow past maxRequestBytes() and
// connections whose request head is not complete within requestTimeout() are closed without a
// reply. When maxConnections() are open, the oldest of them makes room for the newest, so idle
// connections cannot keep the extension out.
class BrowserBridge : public QObject {
    Q_OBJECT

public:
    // Room for a browser's cookies for one link, percent-encoded.
    static constexpr int DefaultMaxRequestBytes = 64 * 1024;
    static constexpr int DefaultRequestTimeoutMs = 2 * 1000;
    static constexpr int DefaultMaxConnections = 64;

    explicit BrowserBridge(QObject *parent = nullptr);

    // Starts listening; false when the address or port cannot be bound (then there is no bridge).
    bool listen(const QHostAddress &address = QHostAddress::Any, quint16 port = BridgePort);
    bool isListening() const { return localServer != nullptr; }
    quint16 serverPort() const;
    // The listener, or nullptr while not listening.
    QTcpServer *server() const { return localServer; }

    int maxRequestBytes() const { return m_maxRequestBytes; }
    void setMaxRequestBytes(int bytes) { m_maxRequestBytes = bytes; }
    int requestTimeout() const { return m_requestTimeoutMs; }
    void setRequestTimeout(int ms) { m_requestTimeoutMs = ms; }
    int maxConnections() const { return m_maxConnections; }
    void setMaxConnections(int count) { m_maxConnections = count; }
    // Connections accepted and not yet answered or closed.
    int openConnections() const { return int(m_waiting.size()); }
    // Takes the links of a request before it is answered; false when it cannot take them now. It
    // must not run a dialog itself (LinkQueue::add does not).
    void setLinkTaker(std::function<bool(const LinkOffer &)> taker) { m_take = std::move(taker); }
    // Whether peers on other machines may hand over links; off by default, as anyone on the
    // network could then open dialogs here and hand over links with cookies of their choosing.
    void setAcceptRemote(bool accept) { m_acceptRemote = accept; }
    bool acceptsRemote() const { return m_acceptRemote; }

private slots:
    void handleBrowserExtension();

private:
    void handleRequestData(QTcpSocket *socket);
    void closeConnection(QTcpSocket *socket);

    QTcpServer *localServer = nullptr;
    int m_maxRequestBytes = DefaultMaxRequestBytes;
    int m_requestTimeoutMs = DefaultRequestTimeoutMs;
    int m_maxConnections = DefaultMaxConnections;
    // Connections without an answer yet, oldest first.
    QList<QTcpSocket *> m_waiting;
    std::function<bool(const LinkOffer &)> m_take;
    bool m_acceptRemote = false;
};
