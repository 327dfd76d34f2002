#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QTcpSocket>
#include <QUrl>

// A client for Chromium's DevTools protocol on one target (page, service worker or the browser),
// over the target's WebSocket. Just enough WebSocket for it: one text message per command and
// answer, no extensions. Calls wait in the test thread's event loop.
class DevToolsSession : public QObject {
    Q_OBJECT

public:
    explicit DevToolsSession(QObject *parent = nullptr);

    // ws://127.0.0.1:port/devtools/... as the target list names it.
    bool open(const QUrl &webSocketUrl, int timeoutMs = 10000);
    // Sends one command; the answer's "result", or an empty object (and error() set) on failure.
    QJsonObject call(const QString &method, const QJsonObject &params = {}, int timeoutMs = 20000);
    // Runtime.evaluate with promises awaited; the value converted to JSON by the page, as text.
    QString evaluate(const QString &expression, int timeoutMs = 20000);
    QString error() const { return m_error; }

private:
    void onReadyRead();
    void sendFrame(quint8 opcode, const QByteArray &payload);

    QTcpSocket m_socket;
    QByteArray m_buffer;
    QByteArray m_message;
    bool m_upgraded = false;
    int m_nextId = 0;
    QHash<int, QJsonObject> m_answers;
    QString m_error;
};
