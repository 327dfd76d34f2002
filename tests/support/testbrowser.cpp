#include "testbrowser.h"

#include "testfiles.h"

#include <QDir>
#include <QDirIterator>
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
    // Asked to quit first, so that it ends its helpers.
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    QDir folder(m_home.path());
    for (int attempt = 0; attempt < 30 && folder.exists(); ++attempt) {
        folder.removeRecursively();
        QTest::qWait(100);
    }
}

void TestBrowser::launch(const QString &program, const QStringList &arguments,
                         const QString &redirections)
{
    m_process.start(QStringLiteral("/bin/sh"),
                    QStringList{QStringLiteral("-c"),
                                QStringLiteral("exec \"$0\" \"$@\" %1 1>&2").arg(redirections),
                                program} +
                        arguments);
}

bool TestBrowser::open(const QString &url)
{
    return navigate(url) &&
           waitFor(QStringLiteral("location.href == %1 && document.readyState == 'complete'")
                       .arg(QString::fromUtf8(quoted(url))));
}

bool TestBrowser::waitFor(const QString &expression, int timeoutMs)
{
    const QString test = QStringLiteral("!!(") + expression + QLatin1Char(')');
    const bool met = QTest::qWaitFor([&] { return evaluate(test).toBool(); }, timeoutMs);
    m_error = met ? QString() : m_error + QStringLiteral("\nnever true: ") + expression;
    return met;
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
    const QString message = target + QStringLiteral("/message.js");
    QByteArray code = readFile(message);
    const QByteArray fixed = "BRIDGE_PORT = 9090;";
    const QByteArray port = "BRIDGE_PORT = " + QByteArray::number(bridgePort) + ';';
    return code.contains(fixed) && writeFile(message, code.replace(fixed, port)) ? target
                                                                                 : QString();
}
