#include "localdaemon.h"

#include "testfiles.h"

#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace {

int freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

} // namespace

LocalDaemon::~LocalDaemon()
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
    }
}

bool LocalDaemon::run(const QString &program, const QStringList &arguments)
{
    const QString path = QStandardPaths::findExecutable(program, {"/usr/sbin", "/usr/bin"});
    if (path.isEmpty()) {
        problem = program + " is not installed (scripts/install-deps.sh installs it)";
        return false;
    }
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(path, arguments);
    // Ready once its port takes a connection; a program that ends before has failed.
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000 && process.state() != QProcess::NotRunning) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, quint16(listenPort));
        if (socket.waitForConnected(200))
            return true;
        QTest::qWait(50);
    }
    problem = program + " did not start: " + QString::fromLocal8Bit(log());
    return false;
}

QByteArray LocalDaemon::log()
{
    QByteArray text = process.readAll();
    if (!logFile.isEmpty())
        text += readFile(logFile);
    return text;
}

bool LocalDaemon::startTinyproxy(const QString &user, const QString &password)
{
    listenPort = freePort();
    logFile = dir.filePath("tinyproxy.log");
    QByteArray conf = "Port " + QByteArray::number(listenPort) +
                      "\nListen 127.0.0.1\nTimeout 60\nMaxClients 100\nLogLevel Connect\n"
                      "LogFile \"" +
                      logFile.toUtf8() + "\"\n";
    if (!user.isEmpty())
        conf += "BasicAuth " + user.toUtf8() + ' ' + password.toUtf8() + '\n';
    const QString confFile = dir.filePath("tinyproxy.conf");
    return writeFile(confFile, conf) && run("tinyproxy", {"-d", "-c", confFile});
}

bool LocalDaemon::startMicrosocks(const QString &user, const QString &password)
{
    listenPort = freePort();
    QStringList arguments{"-i", "127.0.0.1", "-p", QString::number(listenPort)};
    if (!user.isEmpty())
        arguments << "-u" << user << "-P" << password;
    return run("microsocks", arguments);
}

bool LocalDaemon::startNginx(const QString &root, const QString &user, const QString &password)
{
    listenPort = freePort();
    QByteArray login;
    if (!user.isEmpty()) {
        // nginx reads "{PLAIN}" passwords as they are: no tool needed to write the file.
        const QString users = dir.filePath("htpasswd");
        if (!writeFile(users, user.toUtf8() + ":{PLAIN}" + password.toUtf8() + '\n'))
            return false;
        login = "auth_basic \"Torvane test\"; auth_basic_user_file " + users.toUtf8() + ";";
    }
    const QByteArray d = dir.path().toUtf8();
    const QByteArray conf =
        "daemon off; master_process off; worker_processes 1; pid " + d +
        "/nginx.pid;\n"
        "error_log " +
        d +
        "/error.log;\nevents { worker_connections 64; }\n"
        "http { access_log " +
        d + "/access.log; client_body_temp_path " + d +
        ";\n"
        "  proxy_temp_path " +
        d + "; fastcgi_temp_path " + d + "; uwsgi_temp_path " + d + "; scgi_temp_path " + d +
        ";\n"
        "  server { listen 127.0.0.1:" +
        QByteArray::number(listenPort) + "; root " + root.toUtf8() + "; " + login + " }\n}\n";
    const QString confFile = dir.filePath("nginx.conf");
    logFile = dir.filePath("access.log");
    return writeFile(confFile, conf) && run("nginx", {"-p", dir.path(), "-c", confFile});
}
