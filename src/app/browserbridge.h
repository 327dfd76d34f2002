#pragma once

#include "app/bridgerequest.h"

#include <QHostAddress>
#include <QObject>

class QTcpServer;
class QTcpSocket;

// The local listener through which a browser extension hands links to the program. Every GET from
// this machine is answered at once with bridgeReply(); a link it carries is then announced with
// linkReceived(), after the connection has been dealt with. Peers on other machines, requests that
// grow past maxRequestBytes() and connections that are not answered within requestTimeout() are
// closed without a reply.
class BrowserBridge : public QObject {
    Q_OBJECT

public:
    static constexpr int DefaultMaxRequestBytes = 16 * 1024;
    static constexpr int DefaultRequestTimeoutMs = 10 * 1000;
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
    int openConnections() const { return m_open; }

signals:
    // A GET that carried a non-empty "url". Delivered queued, after the reply has been written.
    void linkReceived(const QString &url, const QString &name, qint64 size);

private slots:
    void handleBrowserExtension();

private:
    void handleRequestData(QTcpSocket *socket);
    void closeConnection(QTcpSocket *socket);

    QTcpServer *localServer = nullptr;
    int m_maxRequestBytes = DefaultMaxRequestBytes;
    int m_requestTimeoutMs = DefaultRequestTimeoutMs;
    int m_maxConnections = DefaultMaxConnections;
    int m_open = 0;
};
