#pragma once

#include <QJsonArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <functional>

// The machine's Chromium, run headless, for tests that need a real browser (CORS, fetch() from a
// page, the extension). Each run gets a fresh profile; tests serve pages from loopback servers.
// Either one call to open(), or an object kept running and driven over DevTools.
class HeadlessBrowser {
public:
    HeadlessBrowser();
    ~HeadlessBrowser();
    HeadlessBrowser(const HeadlessBrowser &) = delete;
    HeadlessBrowser &operator=(const HeadlessBrowser &) = delete;

    // The Chromium program, or an empty string when the machine has none. TORVANE_CHROMIUM
    // overrides.
    static QString chromiumPath();

    struct Run {
        bool started = false; // the program could be started at all
        bool done = false;    // the condition held before the time ran out
        QString output;       // what the browser printed, for failure messages
    };
    // Opens the page and keeps the browser (and this thread's event loop) running until done()
    // returns true or timeoutMs have passed, then ends the browser.
    static Run open(const QUrl &page, const std::function<bool()> &done, int timeoutMs = 60000);

    // Starts the browser on a page, with DevTools on a free loopback port and any further
    // arguments (for example --load-extension=...).
    bool start(const QUrl &page, const QStringList &extraArguments = {});
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    // The DevTools port, once the browser has announced it; 0 on failure.
    quint16 devToolsPort(int timeoutMs = 20000);
    // DevTools' list of targets (pages, service workers, ...), each with its webSocketDebuggerUrl.
    QJsonArray targets();
    // The WebSocket of the browser itself (Browser.* commands).
    QUrl browserWebSocketUrl();
    // Ends the browser and removes its profile; what it printed.
    QString stop();
    QString output() const { return m_output; }

private:
    QByteArray getDevTools(const QString &path);

    QTemporaryDir m_profile;
    QProcess m_process;
    QString m_output;
    quint16 m_port = 0;
};
