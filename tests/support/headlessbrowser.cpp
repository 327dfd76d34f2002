#include "headlessbrowser.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QStandardPaths>
#include <QTest>

HeadlessBrowser::HeadlessBrowser()
{
    // Chromium's helper processes may still write into the profile for a moment after the browser
    // has ended, so the folder is removed by hand once they are done.
    m_profile.setAutoRemove(false);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

HeadlessBrowser::~HeadlessBrowser()
{
    stop();
}

QString HeadlessBrowser::chromiumPath()
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

HeadlessBrowser::Run HeadlessBrowser::open(const QUrl &page, const std::function<bool()> &done,
                                           int timeoutMs)
{
    Run run;
    HeadlessBrowser browser;
    run.started = browser.start(page);
    if (run.started) {
        QElapsedTimer clock;
        clock.start();
        while (!(run.done = done()) && clock.elapsed() < timeoutMs && browser.isRunning())
            QTest::qWait(20);
        // A browser that quit early may still have delivered what the test waits for.
        if (!run.done) {
            QTest::qWait(200);
            run.done = done();
        }
    }
    run.output = browser.stop();
    return run;
}

bool HeadlessBrowser::start(const QUrl &page, const QStringList &extraArguments)
{
    const QString program = chromiumPath();
    if (program.isEmpty() || !m_profile.isValid()) {
        m_output = QStringLiteral("no Chromium, or no temporary profile folder");
        return false;
    }
    QStringList arguments{QStringLiteral("--headless"),
                          QStringLiteral("--no-sandbox"),
                          QStringLiteral("--disable-gpu"),
                          QStringLiteral("--disable-quic"),
                          QStringLiteral("--no-first-run"),
                          QStringLiteral("--disable-background-networking"),
                          QStringLiteral("--disable-component-update"),
                          QStringLiteral("--disable-sync"),
                          QStringLiteral("--remote-debugging-address=127.0.0.1"),
                          QStringLiteral("--remote-debugging-port=0"),
                          QStringLiteral("--user-data-dir=") + m_profile.path()};
    arguments += extraArguments;
    arguments += page.toString(QUrl::FullyEncoded);
    m_process.start(program, arguments);
    if (!m_process.waitForStarted(10000)) {
        m_output = m_process.errorString();
        return false;
    }
    return true;
}

quint16 HeadlessBrowser::devToolsPort(int timeoutMs)
{
    if (m_port)
        return m_port;
    // The browser writes the port it picked into the profile.
    QFile active(m_profile.filePath(QStringLiteral("DevToolsActivePort")));
    static_cast<void>(QTest::qWaitFor(
        [&] {
            if (active.open(QIODevice::ReadOnly)) {
                m_port = quint16(active.readLine().trimmed().toUInt());
                active.close();
            }
            return m_port != 0 || !isRunning();
        },
        timeoutMs));
    return m_port;
}

QByteArray HeadlessBrowser::getDevTools(const QString &path)
{
    if (!devToolsPort())
        return {};
    QNetworkAccessManager manager;
    QNetworkReply *reply = manager.get(
        QNetworkRequest(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path))));
    static_cast<void>(QTest::qWaitFor([reply] { return reply->isFinished(); }, 10000));
    const QByteArray body = reply->readAll();
    delete reply;
    return body;
}

QJsonArray HeadlessBrowser::targets()
{
    return QJsonDocument::fromJson(getDevTools(QStringLiteral("/json/list"))).array();
}

QUrl HeadlessBrowser::browserWebSocketUrl()
{
    return QUrl(QJsonDocument::fromJson(getDevTools(QStringLiteral("/json/version")))
                    .object()
                    .value(QStringLiteral("webSocketDebuggerUrl"))
                    .toString());
}

QString HeadlessBrowser::stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    m_output += QString::fromLocal8Bit(m_process.readAll());
    QDir folder(m_profile.path());
    for (int attempt = 0; attempt < 30 && m_profile.isValid() && folder.exists(); ++attempt) {
        folder.removeRecursively();
        QTest::qWait(100);
    }
    return m_output;
}
