#include "testbrowser.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QTest>

TestBrowser::TestBrowser()
{
    // The browser's helpers may still write into the profile for a moment after the browser has
    // ended; the destructor removes it once they are done.
    m_home.setAutoRemove(false);
}

TestBrowser::~TestBrowser()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    QDir folder(m_home.path());
    for (int attempt = 0; attempt < 30 && folder.exists(); ++attempt) {
        folder.removeRecursively();
        QTest::qWait(100);
    }
}

QString TestBrowser::findProgram(const QStringList &names)
{
    for (const QString &name : names) {
        const QString path = QStandardPaths::findExecutable(name);
        if (!path.isEmpty())
            return path;
    }
    return {};
}

bool TestBrowser::launch(const QString &program, const QStringList &arguments,
                         const QString &redirections)
{
    if (program.isEmpty() || !m_home.isValid()) {
        m_error = QStringLiteral("no such browser, or no temporary profile folder");
        return false;
    }
    m_process.start(QStringLiteral("/bin/sh"),
                    QStringList{QStringLiteral("-c"),
                                QStringLiteral("exec \"$0\" \"$@\" %1 1>&2").arg(redirections),
                                program} +
                        arguments);
    if (!m_process.waitForStarted(10000)) {
        m_error = m_process.errorString();
        return false;
    }
    return true;
}

bool TestBrowser::waitFor(const QString &expression, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        if (evaluate(QStringLiteral("!!(") + expression + QLatin1Char(')')).toBool()) {
            m_error.clear();
            return true;
        }
        QTest::qWait(100);
    }
    m_error += QStringLiteral("\nnever true: ") + expression;
    return false;
}

bool TestBrowser::waitForPage(const QString &url)
{
    const QString quoted =
        QString::fromUtf8(QJsonDocument(QJsonArray{url}).toJson(QJsonDocument::Compact));
    return waitFor(
        QStringLiteral("location.href == %1[0] && document.readyState == 'complete'").arg(quoted));
}

QString TestBrowser::output()
{
    m_log += m_process.readAllStandardError();
    return m_error + QLatin1Char('\n') + QString::fromLocal8Bit(m_log);
}

QString TestBrowser::extensionForPort(const QString &extensionDir, quint16 bridgePort)
{
    const QString target = m_home.filePath(QStringLiteral("extension"));
    QDirIterator it(extensionDir, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString from = it.next();
        // The extension's own files, not its development tools from npm.
        if (from.contains(QLatin1String("/node_modules/")))
            continue;
        const QString to = target + from.mid(extensionDir.size());
        if (!QDir().mkpath(QFileInfo(to).path()) || !QFile::copy(from, to))
            return {};
    }
    QFile message(target + QStringLiteral("/message.js"));
    if (!message.open(QIODevice::ReadWrite))
        return {};
    QByteArray code = message.readAll();
    const QByteArray fixed = "BRIDGE_PORT = 9090;";
    if (!code.contains(fixed))
        return {};
    code.replace(fixed, "BRIDGE_PORT = " + QByteArray::number(bridgePort) + ';');
    message.resize(0);
    message.write(code);
    return target;
}
