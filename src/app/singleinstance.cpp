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
#include <QTimer>
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
// A later start sends its message at once; a connection still without one by then is dropped, so
// that idle connections cannot pile up.
constexpr int MessageDeadlineMs = 2000;
// How often the running copy makes sure that it still listens: Qt closes a listener (and removes
// its socket file) when accepting fails, as it does when the process is out of descriptors.
constexpr int ListenCheckMs = 1000;
// How long the holder of the lock has to accept a connection before the lock is taken over. A
// copy starts listening a moment after it takes the lock, and again within ListenCheckMs when it
// had to stop.
constexpr int HolderDeadlineMs = 1500;

int remainingMs(const QDeadlineTimer &deadline)
{
    return int(qMax<qint64>(0, deadline.remainingTime()));
}

// Sends a hand-over message and waits for its acknowledgement.
bool deliver(QLocalSocket &socket, const QByteArray &message, const QDeadlineTimer &deadline)
{
    socket.write(message);
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
    if (!lock.tryLock(0)) {
        if (lock.error() != QLockFile::LockFailedError)
            return true;
        if (!takeOverSilentLock())
            return false;
    }

    server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    // Without the socket later starts cannot hand over, but the lock still keeps them out.
    listen();
    auto *check = new QTimer(this);
    connect(check, &QTimer::timeout, this, [this] {
        if (!server->isListening())
            listen();
    });
    check->start(ListenCheckMs);
    return true;
}

// The lock names a process that runs or nothing readable (an empty or garbled file). Process ids
// are reused, on Windows and under Wine even by the next copy of this program, so the name proves
// nothing: a holder that does not accept a connection in time is gone, and its lock is taken.
bool SingleInstance::takeOverSilentLock()
{
    const QDeadlineTimer deadline(HolderDeadlineMs);
    do {
        QLocalSocket probe;
        probe.connectToServer(serverName());
        if (probe.waitForConnected(remainingMs(deadline)))
            return false;
        QThread::msleep(50);
    } while (!deadline.hasExpired());
    // A running holder keeps its lock file locked (and, on Windows, open), so it cannot be
    // removed under it; the guard keeps two starts from removing each other's new lock.
    QLockFile guard(lock.fileName() + QStringLiteral(".rmlock"));
    return guard.tryLock(0) && lock.removeStaleLockFile() && lock.tryLock(0);
}

void SingleInstance::listen()
{
    // A socket file left by a crashed copy makes listen() fail; holding the lock makes it ours.
    QLocalServer::removeServer(serverName());
    server->listen(serverName());
}

void SingleInstance::acceptConnections()
{
    while (QLocalSocket *socket = server->nextPendingConnection()) {
        if (openConnections >= MaxOpenConnections) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++openConnections;
        connect(socket, &QObject::destroyed, this, [this] { --openConnections; });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readHandOver(socket); });
        QTimer::singleShot(MessageDeadlineMs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
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
    const QByteArray body =
        QJsonDocument(QJsonArray::fromStringList(arguments)).toJson(QJsonDocument::Compact);
    QByteArray message(HeaderBytes, Qt::Uninitialized);
    qToBigEndian<quint32>(HandOverMagic, message.data());
    qToBigEndian<quint32>(quint32(body.size()), message.data() + 4);
    message += body;
    // Tried again until the deadline: the running copy takes the lock a moment before it listens,
    // listens again a moment after it had to stop, and turns connections away while it has many.
    for (;;) {
        QLocalSocket socket;
        socket.connectToServer(serverName());
        if (socket.waitForConnected(remainingMs(deadline)) && deliver(socket, message, deadline))
            return true;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
}
