#include "app/singleinstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QtEndian>

namespace {

// A hand-over message: this magic number and the length of the body (both 32-bit big-endian),
// then the body, a JSON object: {"arguments": [...]} from a later start, {"offer": {...}} (as
// linkOfferToJson() writes it) from torvane-host. The running copy answers one byte: whether it
// took the message's links.
constexpr quint32 HandOverMagic = 0x54560002;
constexpr qint64 HeaderBytes = 8;
constexpr char Acknowledged = '\x06';
constexpr char Refused = '\x15';
// Room for what the browser may send in one message (1 MiB) once written as JSON again; a peer
// that sends more is cut off.
constexpr qint64 MaxMessageBytes = 4 << 20;
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

// Sends a hand-over message and waits for the answer byte; 0 when none came.
char deliver(QLocalSocket &socket, const QByteArray &message, const QDeadlineTimer &deadline)
{
    socket.write(message);
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(remainingMs(deadline)))
            return 0;
    }
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(remainingMs(deadline)))
            return 0;
    }
    return socket.read(1).at(0);
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
            if (socket->property("answered").toBool())
                return; // its answer may still be on the way out: the sender would try again
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
    const QJsonObject message = QJsonDocument::fromJson(socket->read(length)).object();
    const bool fromLaterStart = message.value(QLatin1String("arguments")).isArray();
    QStringList arguments;
    for (const QJsonValue &value : message.value(QLatin1String("arguments")).toArray())
        arguments.append(value.toString());
    const LinkOffer offer =
        fromLaterStart ? linkOfferFromArguments(arguments)
                       : linkOfferFromJson(message.value(QLatin1String("offer")).toObject());
    // A command line without links is taken as it is: it only brings the window forward.
    const bool taken =
        (fromLaterStart && offer.isEmpty()) || (!offer.isEmpty() && m_take && m_take(offer));
    socket->setProperty("answered", true);
    socket->write(taken ? &Acknowledged : &Refused, 1);
    socket->disconnectFromServer();
    if (!fromLaterStart)
        return;
    // Queued: what the window does then must not run inside this socket's signal.
    QMetaObject::invokeMethod(
        this, [this, arguments] { emit argumentsReceived(arguments); }, Qt::QueuedConnection);
}

SingleInstance::HandOver SingleInstance::handOver(const QStringList &arguments, int timeoutMs)
{
    const QJsonObject message{{QStringLiteral("arguments"), QJsonArray::fromStringList(arguments)}};
    return send(QJsonDocument(message).toJson(QJsonDocument::Compact), timeoutMs);
}

SingleInstance::HandOver SingleInstance::handOver(const LinkOffer &offer, int timeoutMs)
{
    const QJsonObject message{{QStringLiteral("offer"), linkOfferToJson(offer)}};
    return send(QJsonDocument(message).toJson(QJsonDocument::Compact), timeoutMs);
}

SingleInstance::HandOver SingleInstance::send(const QByteArray &body, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QByteArray message(HeaderBytes, Qt::Uninitialized);
    qToBigEndian<quint32>(HandOverMagic, message.data());
    qToBigEndian<quint32>(quint32(body.size()), message.data() + 4);
    message += body;
    // Tried again until the deadline: the running copy takes the lock a moment before it listens,
    // listens again a moment after it had to stop, and turns connections away while it has many.
    for (;;) {
        QLocalSocket socket;
        socket.connectToServer(serverName());
        const char answer =
            socket.waitForConnected(remainingMs(deadline)) ? deliver(socket, message, deadline) : 0;
        if (answer == Acknowledged)
            return HandOver::Taken;
        if (answer == Refused)
            return HandOver::Refused;
        if (deadline.hasExpired())
            return HandOver::NoAnswer;
        QThread::msleep(50);
    }
}
