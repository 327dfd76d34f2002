#pragma once

#include "app/linkoffer.h"

#include <QLockFile>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class QLocalServer;
class QLocalSocket;

// Keeps Torvane to one running copy per user. Two copies would each save the task list from their
// own memory and the later save would drop what the other one added, so the first copy holds a
// lock file and listens on a local socket, and every later start hands its arguments over that
// socket and ends.
//
// Both live in the user's runtime folder (XDG_RUNTIME_DIR on Linux, %TEMP% on Windows). The lock
// records the holder's process id, so a lock left by a crashed copy is taken over at once; a lock
// that names a running process (ids are reused) or none at all is taken over when its holder does
// not accept a connection within a short deadline.
//
// The running copy answers every later start: each connection has a deadline for its message,
// only MaxOpenConnections are kept open at once, and a listener that Qt had to close is opened
// again.
//
// The same socket takes links from torvane-host, the browser's native messaging host: a message
// carries either a later start's command line or a LinkOffer, and is answered with whether its
// links were taken.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    enum class HandOver {
        Taken,   // the running copy has the message (and its links, if any)
        Refused, // it runs, but cannot take these links now (or none of them is http(s))
        NoAnswer // no running copy answered in time
    };

    // `directory` defaults to defaultDirectory().
    explicit SingleInstance(QString directory = QString(), QObject *parent = nullptr);
    ~SingleInstance() override;

    static QString defaultDirectory();

    // True when this process is now the running copy (or when no lock can be had at all, so that a
    // broken runtime folder never keeps the program from starting); false when another copy runs.
    bool claim();

    // From a later start: passes the arguments to the running copy and waits until it has them.
    HandOver handOver(const QStringList &arguments, int timeoutMs = 5000);
    // From torvane-host: passes the offer to the running copy and waits for its answer.
    HandOver handOver(const LinkOffer &offer, int timeoutMs = 5000);

    // In the running copy: takes the links of a message before it is acknowledged (the web links
    // of a command line, or an offer); false refuses them, and the sender is told so. It must not
    // run a dialog itself. Without a taker, links are refused.
    void setLinkTaker(std::function<bool(const LinkOffer &)> taker) { m_take = std::move(taker); }

    QString lockPath() const;
    QString serverName() const;

    static constexpr int MaxOpenConnections = 16;

signals:
    // In the running copy: a later start handed over these arguments (its program name left out);
    // their links have already gone to the link taker.
    void argumentsReceived(const QStringList &arguments);

private:
    bool takeOverSilentLock();
    void listen();
    void acceptConnections();
    void readHandOver(QLocalSocket *socket);
    HandOver send(const QByteArray &body, int timeoutMs);

    QString dir;
    QLockFile lock;
    QLocalServer *server = nullptr;
    int openConnections = 0;
    std::function<bool(const LinkOffer &)> m_take;
};
