#include "testbrowser.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

TestBrowser::TestBrowser()
{
    // The browser's helpers may still write into the profile for a moment after the browser has
    // ended; the destructor removes it once they are done.
    m_home.setAutoRemove(false);
}

TestBrowser::~TestBrowser()
{
    // Asked to quit first, so that it ends its helpers; QProcess kills what is left.
    m_process.terminate();
    m_process.waitForFinished(5000);
    QDir folder(m_home.path());
    for (int attempt = 0; attempt < 30 && folder.exists(); ++attempt) {
        folder.removeRecursively();
        QTest::qWait(100);
    }
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

bool TestBrowser::open(const QString &url)
{
    return navigate(url) &&
           waitFor(QStringLiteral("location.href == %1 && document.readyState == 'complete'")
                       .arg(QString::fromUtf8(quoted(url))));
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

QJsonValue TestBrowser::failed(const QString &command, const QJsonValue &error)
{
    m_error =
        command + QStringLiteral(": ") +
        (error.isUndefined()
             ? QStringLiteral("no answer")
             : QString::fromUtf8(QJsonDocument(error.toObject()).toJson(QJsonDocument::Compact)));
    return QJsonValue::Undefined;
}

QByteArray TestBrowser::quoted(const QString &text)
{
    return QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact).chopped(1).mid(1);
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
