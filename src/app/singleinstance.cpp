#include "app/singleinstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QtEndian>

namespace {

// A hand-over message: this magic number and the length of the body (both 32-bit big-endian),
// then the body, the arguments as a JSON array of strings. The running copy answers one byte.
constexpr quint32 HandOverMagic = 0x54560001;
constexpr qint64 HeaderBytes = 8;
constexpr char Acknowledged = '\x06';
// A hand-over is a few short arguments; a peer that sends more is cut off.
constexpr qint64 MaxMessageBytes = 1 << 20;
// Unix socket paths are limited to about 104 bytes.
constexpr int MaxSocketPathLength = 100;

int remainingMs(const QDeadlineTimer &deadline)
{
    return int(qMax<qint64>(0, deadline.remainingTime()));
}

} // namespace

SingleInstance::SingleInstance(QString directory, QObject *parent)
    : QObject(parent), dir(directory.isEmpty() ? defaultDirectory() : std::move(directory)),
      lock(dir + QStringLiteral("/torvane.lock"))
{
    // The running copy holds the lock for days: only a holder that is gone may make it stale,
    // never the lock's age (30 s by default).
    lock.setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::defaultDirectory()
{
#ifdef Q_OS_WIN
    // %TEMP% is per user; the runtime location on Windows would be the home folder itself.
    return QDir::tempPath();
#else
    // Per user, private to them and emptied when they log out.
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
#endif
}

QString SingleInstance::lockPath() const
{
    return lock.fileName();
}

QString SingleInstance::serverName() const
{
#ifndef Q_OS_WIN
    const QString path = dir + QStringLiteral("/torvane.socket");
    if (path.size() <= MaxSocketPathLength)
        return path;
#endif
    // Windows pipe names are machine-wide, and a short name lands in the shared temporary
    // folder on Unix: the per-user folder in the name keeps users apart.
    const QByteArray key = QDir::cleanPath(dir).toUtf8();
    return QStringLiteral("torvane-") +
           QString::fromLatin1(
               QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(24));
}

bool SingleInstance::claim()
{
    QDir().mkpath(dir);
    if (!lock.tryLock(0))
        return lock.error() != QLockFile::LockFailedError;

    server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    // A socket file left by a crashed copy makes listen() fail; holding the lock makes it ours.
    QLocalServer::removeServer(serverName());
    // Without the socket later starts cannot hand over, but the lock still keeps them out.
    if (server->listen(serverName()))
        connect(server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    return true;
}

void SingleInstance::acceptConnections()
{
    while (QLocalSocket *socket = server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readHandOver(socket); });
    }
}

void SingleInstance::readHandOver(QLocalSocket *socket)
{
    if (socket->bytesAvailable() < HeaderBytes)
        return;
    const QByteArray header = socket->peek(HeaderBytes);
    const quint32 magic = qFromBigEndian<quint32>(header.constData());
    const quint32 length = qFromBigEndian<quint32>(header.constData() + 4);
    if (magic != HandOverMagic || length > MaxMessageBytes) {
        socket->abort();
        return;
    }
    if (socket->bytesAvailable() < HeaderBytes + qint64(length))
        return;
    socket->skip(HeaderBytes);
    const QJsonArray list = QJsonDocument::fromJson(socket->read(length)).array();
    QStringList arguments;
    for (const QJsonValue &value : list)
        arguments.append(value.toString());

    socket->write(&Acknowledged, 1);
    socket->disconnectFromServer();
    // Queued: what the arguments start (the add dialog, a nested event loop) must not run inside
    // this socket's signal.
    QMetaObject::invokeMethod(
        this, [this, arguments] { emit argumentsReceived(arguments); }, Qt::QueuedConnection);
}

bool SingleInstance::handOver(const QStringList &arguments, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    // The running copy takes the lock a moment before it listens.
    for (;;) {
        socket.connectToServer(serverName());
        if (socket.waitForConnected(remainingMs(deadline)))
            break;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }

    const QByteArray body =
        QJsonDocument(QJsonArray::fromStringList(arguments)).toJson(QJsonDocument::Compact);
    QByteArray message(HeaderBytes, Qt::Uninitialized);
    qToBigEndian<quint32>(HandOverMagic, message.data());
    qToBigEndian<quint32>(quint32(body.size()), message.data() + 4);
    socket.write(message + body);
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(remainingMs(deadline)))
            return false;
    }
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(remainingMs(deadline)))
            return false;
    }
    return socket.read(1).at(0) == Acknowledged;
}
