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
    QString conf = QStringLiteral("Port %1\nListen 127.0.0.1\nTimeout 60\nMaxClients 100\n"
                                  "LogLevel Connect\nLogFile \"%2\"\n")
                       .arg(listenPort)
                       .arg(logFile);
    if (!user.isEmpty())
        conf += "BasicAuth " + user + ' ' + password + '\n';
    const QString confFile = dir.filePath("tinyproxy.conf");
    return writeFile(confFile, conf.toUtf8()) && run("tinyproxy", {"-d", "-c", confFile});
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
    // nginx reads "{PLAIN}" passwords as they are: no tool needed to write the file.
    const QString users = dir.filePath("htpasswd");
    if (!writeFile(users, user.toUtf8() + ":{PLAIN}" + password.toUtf8() + '\n'))
        return false;
    // Whatever nginx writes goes to this object's folder.
    const QString conf =
        QStringLiteral(
            "daemon off; master_process off; worker_processes 1; pid %1/nginx.pid;\n"
            "error_log %1/error.log;\nevents { worker_connections 64; }\n"
            "http { access_log %1/access.log; client_body_temp_path %1; proxy_temp_path %1;\n"
            "  fastcgi_temp_path %1; uwsgi_temp_path %1; scgi_temp_path %1;\n"
            "  server { listen 127.0.0.1:%2; root %3;\n"
            "    auth_basic \"Torvane test\"; auth_basic_user_file %4; }\n}\n")
            .arg(dir.path())
            .arg(listenPort)
            .arg(root, users);
    const QString confFile = dir.filePath("nginx.conf");
    logFile = dir.filePath("access.log");
    return writeFile(confFile, conf.toUtf8()) && run("nginx", {"-p", dir.path(), "-c", confFile});
}
