#include "devtoolsbrowser.h"

#include "testfiles.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

#include <algorithm>
#include <utility>

QString DevToolsBrowser::chromiumPath()
{
    return findProgram({QStringLiteral("chromium"), QStringLiteral("chromium-browser")});
}

QString DevToolsBrowser::nativeHostsFolder() const
{
    return m_home.filePath(QStringLiteral("profile/NativeMessagingHosts"));
}

bool DevToolsBrowser::start(const QString &extension)
{
    // No sandbox, GPU, first run or background traffic.
    QStringList args = words("--headless --no-sandbox --disable-gpu --no-first-run --disable-sync "
                             "--disable-background-networking --disable-component-update "
                             "--remote-debugging-pipe")
                       << "--user-data-dir=" + m_home.filePath(QStringLiteral("profile"))
                       << QStringLiteral("--load-extension=") + extension
                       << QStringLiteral("--disable-extensions-except=") + extension;
    // The protocol runs over descriptors 3 (commands in) and 4 (answers out): this process's pipes.
    if (!launch(chromiumPath(), args << QStringLiteral("about:blank"), QStringLiteral("3<&0 4>&1")))
        return false;
    QElapsedTimer clock;
    clock.start();
    while (m_tab.isEmpty() && clock.elapsed() < 15000) {
        const QJsonArray targets = call(QStringLiteral("Target.getTargets"))
                                       .value(QStringLiteral("targetInfos"))
                                       .toArray();
        for (const QJsonValue &t : targets) {
            if (t[QLatin1String("type")].toString() == QLatin1String("page")) {
                m_tab = call(QStringLiteral("Target.attachToTarget"),
                             {{QStringLiteral("targetId"), t[QLatin1String("targetId")]},
                              {QStringLiteral("flatten"), true}})
                            .value(QStringLiteral("sessionId"))
                            .toString();
                break;
            }
        }
        QTest::qWait(100);
    }
    call(QStringLiteral("Browser.setDownloadBehavior"),
         {{QStringLiteral("behavior"), QStringLiteral("allow")},
          {QStringLiteral("downloadPath"), downloadsFolder()}});
    return !m_tab.isEmpty();
}

bool DevToolsBrowser::open(const QString &url)
{
    return !call(QStringLiteral("Page.navigate"), {{QStringLiteral("url"), url}}, m_tab)
                .isEmpty() &&
           waitForPage(url);
}

bool DevToolsBrowser::altClick(int x, int y)
{
    // The answers are empty objects, as are failed calls; a failure leaves its error behind.
    const QString earlier = std::exchange(m_error, QString());
    for (const char *type : {"mousePressed", "mouseReleased"})
        call(QStringLiteral("Input.dispatchMouseEvent"),
             {{QStringLiteral("type"), QLatin1String(type)},
              {QStringLiteral("x"), x},
              {QStringLiteral("y"), y},
              {QStringLiteral("button"), QStringLiteral("left")},
              {QStringLiteral("clickCount"), 1},
              {QStringLiteral("modifiers"), 1}}, // Alt
             m_tab);
    const bool clicked = m_error.isEmpty();
    m_error.prepend(earlier);
    return clicked;
}

QJsonValue DevToolsBrowser::evaluate(const QString &expression)
{
    const QJsonObject result = call(QStringLiteral("Runtime.evaluate"),
                                    {{QStringLiteral("expression"), expression},
                                     {QStringLiteral("awaitPromise"), true},
                                     {QStringLiteral("returnByValue"), true}},
                                    m_tab);
    if (result.contains(QStringLiteral("exceptionDetails")) || result.isEmpty())
        m_error += QStringLiteral("script failed: ") +
                   QString::fromUtf8(QJsonDocument(result).toJson(QJsonDocument::Compact));
    return result.value(QStringLiteral("result")).toObject().value(QStringLiteral("value"));
}

void DevToolsBrowser::readMessages()
{
    m_pending += m_process.readAllStandardOutput();
    for (int nul = m_pending.indexOf('\0'); nul >= 0; nul = m_pending.indexOf('\0')) {
        m_messages.append(QJsonDocument::fromJson(m_pending.left(nul)).object());
        m_pending.remove(0, nul + 1);
    }
}

QJsonObject DevToolsBrowser::call(const QString &method, const QJsonObject &params,
                                  const QString &session)
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
    while (clock.elapsed() < 15000 && m_process.state() == QProcess::Running) {
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
