#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A real headless browser of the machine under the test's control: a fresh profile in a folder of
// its own (the machine has no network, so every kind of background traffic is off), downloads
// allowed into that folder without a question, an unpacked extension loaded, pages opened and
// script run in the current tab. Every call runs the test thread's event loop while it waits, so
// servers and windows of the test keep working. DevToolsBrowser drives Chromium,
// MarionetteBrowser Firefox.
class TestBrowser {
public:
    virtual ~TestBrowser();

    // Starts the browser on about:blank with the unpacked extension in the folder loaded; false
    // (see output()) when that failed.
    virtual bool start(const QString &extension) = 0;
    // Opens the page in the current tab (the extension's own pages too) and waits until it loaded.
    bool open(const QString &url);
    // Evaluates a script expression in the current tab, waiting for a promise it returns; the
    // value.
    virtual QJsonValue evaluate(const QString &expression) = 0;
    // Clicks the current tab at (x, y) of its viewport with the Alt key held, as the user does.
    virtual bool altClick(int x, int y) = 0;
    // Evaluates the expression until it is true (a page may not have run its scripts yet); false
    // when it never was within the time.
    bool waitFor(const QString &expression, int timeoutMs = 15000);
    // Where this browser looks for the manifests of native messaging hosts.
    virtual QString nativeHostsFolder() const = 0;
    // Where the browser saves its downloads, without asking.
    QString downloadsFolder() const { return m_home.filePath(QStringLiteral("downloads")); }

    // A copy of the Torvane extension in `extensionDir`, inside this browser's profile, that talks
    // to the bridge on `bridgePort` instead of the fixed port, so that tests can use free ports.
    // Empty when the folder could not be copied.
    QString extensionForPort(const QString &extensionDir, quint16 bridgePort);

    // What went wrong and what the browser printed so far, for failure messages.
    QString output();

protected:
    TestBrowser();
    // Starts the program through the shell, with the redirections given after its arguments; its
    // own output goes to the error channel, which output() shows, and so does the shell's when the
    // program cannot be started.
    void launch(const QString &program, const QStringList &arguments,
                const QString &redirections = {});
    // Starts loading the page in the current tab.
    virtual bool navigate(const QString &url) = 0;
    // Notes for output() why the protocol command failed: the browser's error, or no answer at
    // all when that is undefined. Undefined, what the drivers return for a failed command.
    QJsonValue failed(const QString &command, const QJsonValue &error = QJsonValue::Undefined);
    // The text as a string literal of script (and of JSON).
    static QByteArray quoted(const QString &text);

    QTemporaryDir m_home;
    QProcess m_process;
    QString m_error;

private:
    QByteArray m_log;
};
