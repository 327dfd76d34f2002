#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A real server from Debian run by a test on a free loopback port: an HTTP proxy (tinyproxy), a
// SOCKS5 proxy (microsocks) or a web server (nginx). It runs in the foreground as a child of the
// test, with its files in a folder of its own, and ends with this object.
class LocalDaemon {
public:
    LocalDaemon() = default;
    ~LocalDaemon();
    LocalDaemon(const LocalDaemon &) = delete;
    LocalDaemon &operator=(const LocalDaemon &) = delete;

    // With `user` and `password` the proxy lets in only that user. tinyproxy adds a Via header to
    // every request it forwards and tunnels HTTPS with CONNECT; microsocks logs one line per
    // connection ("connected to HOST:PORT").
    bool startTinyproxy(const QString &user = QString(), const QString &password = QString());
    bool startMicrosocks(const QString &user = QString(), const QString &password = QString());
    // Serves `root` with nginx; every file asks for `user` and `password` (HTTP Basic).
    bool startNginx(const QString &root, const QString &user, const QString &password);

    int port() const { return listenPort; }
    // What the program wrote to its output and its log so far.
    QByteArray log();
    // Why the last start failed.
    QString error() const { return problem; }

private:
    bool run(const QString &program, const QStringList &arguments);

    QTemporaryDir dir;
    QProcess process;
    int listenPort = 0;
    QString logFile;
    QString problem;
};
