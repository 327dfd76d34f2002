#include "devtoolssession.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QTest>

DevToolsSession::DevToolsSession(QObject *parent) : QObject(parent)
{
    connect(&m_socket, &QTcpSocket::readyRead, this, &DevToolsSession::onReadyRead);
}

bool DevToolsSession::open(const QUrl &webSocketUrl, int timeoutMs)
{
    m_socket.connectToHost(webSocketUrl.host(), quint16(webSocketUrl.port(80)));
    if (!m_socket.waitForConnected(timeoutMs)) {
        m_error = m_socket.errorString();
        return false;
    }
    const QByteArray key = QByteArray::number(QRandomGenerator::global()->generate64()).toBase64();
    m_socket.write("GET " + webSocketUrl.path(QUrl::FullyEncoded).toUtf8() + " HTTP/1.1\r\n" +
                   "Host: " + webSocketUrl.host().toUtf8() + ":" +
                   QByteArray::number(webSocketUrl.port(80)) +
                   "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: " + key +
                   "\r\nSec-WebSocket-Version: 13\r\n\r\n");
    if (!QTest::qWaitFor(
            [this] { return m_upgraded || m_socket.state() != QTcpSocket::ConnectedState; },
            timeoutMs) ||
        !m_upgraded) {
        m_error = QStringLiteral("no WebSocket upgrade: ") + QString::fromUtf8(m_buffer.left(200));
        return false;
    }
    return true;
}

QJsonObject DevToolsSession::call(const QString &method, const QJsonObject &params, int timeoutMs)
{
    m_error.clear();
    const int id = ++m_nextId;
    QJsonObject command{{"id", id}, {"method", method}};
    if (!params.isEmpty())
        command.insert(QStringLiteral("params"), params);
    sendFrame(0x1, QJsonDocument(command).toJson(QJsonDocument::Compact));
    if (!QTest::qWaitFor([&] { return m_answers.contains(id); }, timeoutMs)) {
        m_error = QStringLiteral("no answer to ") + method;
        return {};
    }
    const QJsonObject answer = m_answers.take(id);
    if (answer.contains(QStringLiteral("error"))) {
        m_error = QString::fromUtf8(
            QJsonDocument(answer.value(QStringLiteral("error")).toObject()).toJson());
        return {};
    }
    return answer.value(QStringLiteral("result")).toObject();
}

QString DevToolsSession::evaluate(const QString &expression, int timeoutMs)
{
    const QJsonObject result =
        call(QStringLiteral("Runtime.evaluate"),
             {{"expression", QStringLiteral("Promise.resolve((async () => (") + expression +
                                 QStringLiteral("))()).then((v) => JSON.stringify(v))")},
              {"awaitPromise", true},
              {"returnByValue", true}},
             timeoutMs);
    if (result.contains(QStringLiteral("exceptionDetails"))) {
        m_error = QString::fromUtf8(
            QJsonDocument(result.value(QStringLiteral("exceptionDetails")).toObject()).toJson());
        return {};
    }
    return result.value(QStringLiteral("result"))
        .toObject()
        .value(QStringLiteral("value"))
        .toString();
}

void DevToolsSession::sendFrame(quint8 opcode, const QByteArray &payload)
{
    QByteArray frame;
    frame.append(char(0x80 | opcode));
    const qint64 n = payload.size();
    if (n < 126) {
        frame.append(char(0x80 | n));
    } else if (n < 65536) {
        frame.append(char(0x80 | 126));
        frame.append(char(n >> 8)).append(char(n & 0xff));
    } else {
        frame.append(char(0x80 | 127));
        for (int shift = 56; shift >= 0; shift -= 8)
            frame.append(char((n >> shift) & 0xff));
    }
    const quint32 mask = QRandomGenerator::global()->generate();
    const char maskBytes[4] = {char(mask >> 24), char(mask >> 16), char(mask >> 8), char(mask)};
    frame.append(maskBytes, 4);
    for (qint64 i = 0; i < n; ++i)
        frame.append(char(payload[i] ^ maskBytes[i % 4]));
    m_socket.write(frame);
}

void DevToolsSession::onReadyRead()
{
    m_buffer += m_socket.readAll();
    if (!m_upgraded) {
        const int end = m_buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        if (!m_buffer.startsWith("HTTP/1.1 101"))
            return;
        m_upgraded = true;
        m_buffer.remove(0, end + 4);
    }
    // Frames from the server are never masked.
    for (;;) {
        if (m_buffer.size() < 2)
            return;
        const quint8 first = quint8(m_buffer[0]);
        qint64 length = quint8(m_buffer[1]) & 0x7f;
        int header = 2;
        if (length == 126) {
            if (m_buffer.size() < 4)
                return;
            length = (quint8(m_buffer[2]) << 8) | quint8(m_buffer[3]);
            header = 4;
        } else if (length == 127) {
            if (m_buffer.size() < 10)
                return;
            length = 0;
            for (int i = 2; i < 10; ++i)
                length = (length << 8) | quint8(m_buffer[i]);
            header = 10;
        }
        if (m_buffer.size() < header + length)
            return;
        const QByteArray payload = m_buffer.mid(header, length);
        m_buffer.remove(0, header + length);
        const quint8 opcode = first & 0x0f;
        if (opcode == 0x9) {
            sendFrame(0xA, payload);
            continue;
        }
        if (opcode != 0x1 && opcode != 0x0)
            continue;
        m_message += payload;
        if (!(first & 0x80))
            continue;
        const QJsonObject message = QJsonDocument::fromJson(m_message).object();
        m_message.clear();
        if (message.contains(QStringLiteral("id")))
            m_answers.insert(message.value(QStringLiteral("id")).toInt(), message);
    }
}
