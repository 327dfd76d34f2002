#include "devtoolsbrowser.h"

#include "testfiles.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QTest>

#include <algorithm>

DevToolsBrowser::DevToolsBrowser()
{
    // Chromium's helpers may still write into the profile for a moment after the browser has
    // ended; the destructor removes it once they are done.
    m_profile.setAutoRemove(false);
}

DevToolsBrowser::~DevToolsBrowser()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    QDir folder(m_profile.path());
    for (int attempt = 0; attempt < 30 && folder.exists(); ++attempt) {
        folder.removeRecursively();
        QTest::qWait(100);
    }
}

QString DevToolsBrowser::chromiumPath()
{
    const QString chosen = qEnvironmentVariable("TORVANE_CHROMIUM");
    if (!chosen.isEmpty()) {
        const QString found = QStandardPaths::findExecutable(chosen);
        return found.isEmpty() ? chosen : found;
    }
    for (const char *name : {"chromium", "chromium-browser"}) {
        const QString path = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!path.isEmpty())
            return path;
    }
    return {};
}

bool DevToolsBrowser::start(const QStringList &extensions)
{
    const QString chromium = chromiumPath();
    if (chromium.isEmpty() || !m_profile.isValid()) {
        m_error = QStringLiteral("no Chromium, or no temporary profile folder");
        return false;
    }
    // No sandbox, GPU, first run or background traffic (the machine has no network).
    QStringList args = words("--headless --no-sandbox --disable-gpu --no-first-run --disable-sync "
                             "--disable-background-networking --disable-component-update "
                             "--remote-debugging-pipe")
                       << "--user-data-dir=" + userDataFolder();
    if (!extensions.isEmpty()) {
        args << QStringLiteral("--load-extension=") + extensions.join(QLatin1Char(','))
             << QStringLiteral("--disable-extensions-except=") + extensions.join(QLatin1Char(','));
    }
    args << QStringLiteral("about:blank");
    // The protocol runs over descriptors 3 (commands in) and 4 (answers out); the shell hands the
    // browser this process's pipes there and sends its own output to the error channel.
    m_process.start(QStringLiteral("/bin/sh"),
                    QStringList{QStringLiteral("-c"),
                                QStringLiteral("exec \"$0\" \"$@\" 3<&0 4>&1 1>&2"), chromium} +
                        args);
    if (!m_process.waitForStarted(10000)) {
        m_error = m_process.errorString();
        return false;
    }
    return true;
}

bool DevToolsBrowser::readMessages()
{
    m_log += m_process.readAllStandardError();
    m_pending += m_process.readAllStandardOutput();
    bool any = false;
    for (int nul = m_pending.indexOf('\0'); nul >= 0; nul = m_pending.indexOf('\0')) {
        m_messages.append(QJsonDocument::fromJson(m_pending.left(nul)).object());
        m_pending.remove(0, nul + 1);
        any = true;
    }
    return any;
}

QJsonObject DevToolsBrowser::call(const QString &method, const QJsonObject &params,
                                  const QString &session, int timeoutMs)
{
    const int id = m_nextId++;
    QJsonObject command{{QStringLiteral("id"), id},
                        {QStringLiteral("method"), method},
                        {QStringLiteral("params"), params}};
    if (!session.isEmpty())
        command.insert(QStringLiteral("sessionId"), session);
    m_process.write(QJsonDocument(command).toJson(QJsonDocument::Compact) + '\0');

    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs && m_process.state() == QProcess::Running) {
        readMessages();
        for (int i = 0; i < m_messages.size(); ++i) {
            if (m_messages.at(i).value(QStringLiteral("id")).toInt() != id)
                continue;
            const QJsonObject answer = m_messages.takeAt(i);
            if (answer.contains(QStringLiteral("error"))) {
                m_error = method + QStringLiteral(": ") +
                          QString::fromUtf8(
                              QJsonDocument(answer.value(QStringLiteral("error")).toObject())
                                  .toJson(QJsonDocument::Compact));
                return {};
            }
            return answer.value(QStringLiteral("result")).toObject();
        }
        // Events are not used; keep only what a later call may still wait for.
        m_messages.erase(
            std::remove_if(m_messages.begin(), m_messages.end(),
                           [](const QJsonObject &m) { return !m.contains(QStringLiteral("id")); }),
            m_messages.end());
        QTest::qWait(10);
    }
    m_error = method + QStringLiteral(": no answer");
    return {};
}

QString DevToolsBrowser::attach(const QString &type, const QString &urlPrefix, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        const QJsonArray targets = call(QStringLiteral("Target.getTargets"))
                                       .value(QStringLiteral("targetInfos"))
                                       .toArray();
        for (const QJsonValue &t : targets) {
            if (t[QLatin1String("type")].toString() != type ||
                !t[QLatin1String("url")].toString().startsWith(urlPrefix))
                continue;
            return call(QStringLiteral("Target.attachToTarget"),
                        {{QStringLiteral("targetId"), t[QLatin1String("targetId")]},
                         {QStringLiteral("flatten"), true}})
                .value(QStringLiteral("sessionId"))
                .toString();
        }
        QTest::qWait(100);
    }
    m_error = QStringLiteral("no %1 target at %2").arg(type, urlPrefix);
    return {};
}

QJsonValue DevToolsBrowser::evaluate(const QString &session, const QString &expression)
{
    const QJsonObject result = call(QStringLiteral("Runtime.evaluate"),
                                    {{QStringLiteral("expression"), expression},
                                     {QStringLiteral("awaitPromise"), true},
                                     {QStringLiteral("returnByValue"), true}},
                                    session);
    if (result.contains(QStringLiteral("exceptionDetails")) || result.isEmpty())
        m_error += QStringLiteral("script failed: ") +
                   QString::fromUtf8(QJsonDocument(result).toJson(QJsonDocument::Compact));
    return result.value(QStringLiteral("result")).toObject().value(QStringLiteral("value"));
}

bool DevToolsBrowser::waitFor(const QString &session, const QString &expression, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        if (evaluate(session, QStringLiteral("!!(") + expression + QLatin1Char(')')).toBool()) {
            m_error.clear();
            return true;
        }
        QTest::qWait(100);
    }
    return false;
}

QString DevToolsBrowser::downloadFolder() const
{
    return m_profile.filePath(QStringLiteral("downloads"));
}

QString DevToolsBrowser::userDataFolder() const
{
    return m_profile.filePath(QStringLiteral("profile"));
}

QString DevToolsBrowser::output() const
{
    return m_error + QLatin1Char('\n') + QString::fromLocal8Bit(m_log);
}

QString DevToolsBrowser::extensionForPort(const QString &extensionDir, quint16 bridgePort)
{
    return copyExtensionForPort(extensionDir, bridgePort,
                                m_profile.filePath(QStringLiteral("extension")));
}

QString DevToolsBrowser::copyExtensionForPort(const QString &extensionDir, quint16 bridgePort,
                                              const QString &target)
{
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
