#pragma once

#include "app/bridgerequest.h"

#include <QHostAddress>
#include <QList>
#include <QObject>

#include <functional>

class QTcpServer;
class QTcpSocket;

// The local listener through which a browser extension hands links to the program. Every GET from
// this machine is answered at once with bridgeReply(); a link it carries is then announced with
// linkReceived(), after the connection has been dealt with. Peers on other machines, requests that
// a web page made the browser send, requests that grow past maxRequestBytes() and connections
// whose request head is not complete within requestTimeout() are closed without a reply. When
// maxConnections() are open, the oldest of them makes room for the newest, so idle connections
// cannot keep the extension out.
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
    // Asked before a link is answered; while it returns false (nothing can take another link now),
    // requests with a link get no reply, so the extension lets the browser download instead.
    void setLinkAcceptor(std::function<bool()> acceptor) { m_acceptLinks = std::move(acceptor); }

signals:
    // A GET that carried a non-empty "url", with the browser's session for it when the request
    // carried one. Delivered queued, after the reply has been written.
    void linkReceived(const QString &url, const QString &name, qint64 size,
                      const BrowserSession &session);

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
    std::function<bool()> m_acceptLinks;
};
