#include "devtoolsbrowser.h"

#include "testfiles.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QTest>

QString DevToolsBrowser::chromiumPath()
{
    return QStandardPaths::findExecutable(QStringLiteral("chromium"));
}

QString DevToolsBrowser::nativeHostsFolder() const
{
    return m_home.filePath(QStringLiteral("profile/NativeMessagingHosts"));
}

bool DevToolsBrowser::start(const QString &extension)
{
    QStringList args = words("--headless --no-sandbox --disable-gpu --no-first-run --disable-sync "
                             "--disable-background-networking --disable-component-update "
                             "--remote-debugging-pipe")
                       << "--user-data-dir=" + m_home.filePath(QStringLiteral("profile"))
                       << QStringLiteral("--load-extension=") + extension
                       << QStringLiteral("--disable-extensions-except=") + extension;
    // The protocol runs over descriptors 3 (commands in) and 4 (answers out): this process's pipes.
    launch(chromiumPath(), args << QStringLiteral("about:blank"), QStringLiteral("3<&0 4>&1"));
    // The tab opened with the browser, once it is there.
    const auto attached = [this] {
        const QJsonArray targets =
            call("Target.getTargets").toObject().value("targetInfos").toArray();
        for (const QJsonValue &t : targets) {
            if (t["type"] == "page" && m_tab.isEmpty())
                m_tab =
                    call("Target.attachToTarget", {{"targetId", t["targetId"]}, {"flatten", true}})
                        .toObject()
                        .value("sessionId")
                        .toString();
        }
        return !m_tab.isEmpty();
    };
    return QTest::qWaitFor(attached, 15000) &&
           !call("Browser.setDownloadBehavior",
                 {{"behavior", "allow"}, {"downloadPath", downloadsFolder()}})
                .isUndefined();
}

bool DevToolsBrowser::navigate(const QString &url)
{
    return !call("Page.navigate", {{"url", url}}, true).isUndefined();
}

bool DevToolsBrowser::altClick(int x, int y)
{
    for (const char *type : {"mousePressed", "mouseReleased"}) {
        const QJsonObject event{{"type", type},     {"x", x},          {"y", y},
                                {"button", "left"}, {"clickCount", 1}, {"modifiers", 1}}; // Alt
        if (call("Input.dispatchMouseEvent", event, true).isUndefined())
            return false;
    }
    return true;
}

QJsonValue DevToolsBrowser::evaluate(const QString &expression)
{
    const QJsonObject result =
        call("Runtime.evaluate",
             {{"expression", expression}, {"awaitPromise", true}, {"returnByValue", true}}, true)
            .toObject();
    if (result.contains("exceptionDetails"))
        failed("script", result.value("exceptionDetails"));
    return result.value("result").toObject().value("value");
}

QJsonValue DevToolsBrowser::call(const QString &method, const QJsonObject &params, bool inTab)
{
    const int id = m_nextId++;
    QJsonObject command{{"id", id}, {"method", method}, {"params", params}};
    if (inTab)
        command.insert("sessionId", m_tab);
    m_process.write(QJsonDocument(command).toJson(QJsonDocument::Compact) + '\0');

    // Each message ends with a NUL. Events, and late answers to calls that timed out, go unread.
    QJsonObject answer;
    const auto answered = [&] {
        m_pending += m_process.readAllStandardOutput();
        for (int end = m_pending.indexOf('\0'); end >= 0 && answer.isEmpty();
             end = m_pending.indexOf('\0')) {
            const QJsonObject message = QJsonDocument::fromJson(m_pending.left(end)).object();
            m_pending.remove(0, end + 1);
            if (message.value("id").toInt() == id)
                answer = message;
        }
        return !answer.isEmpty() || m_process.state() != QProcess::Running;
    };
    if (!QTest::qWaitFor(answered, 15000) || answer.isEmpty())
        return failed(method);
    if (answer.contains("error"))
        return failed(method, answer.value("error"));
    return answer.value("result");
}
