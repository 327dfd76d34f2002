#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// The machine's headless Chromium under the test's control through the DevTools protocol, spoken
// over a pipe (no port to collide with other runs): find and attach to targets (pages, an
// extension's service worker), run script in them, navigate, allow downloads. Each browser gets a
// fresh profile, and may load unpacked extensions. Every call runs the test thread's event loop
// while it waits, so servers and windows of the test keep working.
class DevToolsBrowser {
public:
    DevToolsBrowser();
    ~DevToolsBrowser();
    DevToolsBrowser(const DevToolsBrowser &) = delete;
    DevToolsBrowser &operator=(const DevToolsBrowser &) = delete;

    // The machine's Chromium, or an empty string when it has none. TORVANE_CHROMIUM overrides.
    static QString chromiumPath();

    // Starts the browser on about:blank with the given unpacked extension folders loaded; false
    // (see output()) when it could not be started.
    bool start(const QStringList &extensions = {});

    // One protocol command; its "result", or an empty object when it failed or timed out (then
    // error() says why). `session` addresses an attached target.
    QJsonObject call(const QString &method, const QJsonObject &params = {},
                     const QString &session = {}, int timeoutMs = 15000);
    // Waits for a target of the type ("page", "service_worker", ...) whose URL starts with the
    // prefix, attaches to it and returns the session id; empty when none showed up in time.
    QString attach(const QString &type, const QString &urlPrefix = {}, int timeoutMs = 15000);
    // Evaluates script in an attached target, waiting for a promise it returns; the value.
    QJsonValue evaluate(const QString &session, const QString &expression);
    // Evaluates the expression until it is true (a starting worker may not have its APIs yet);
    // false when it never was within the time.
    bool waitFor(const QString &session, const QString &expression, int timeoutMs = 15000);
    // The folder inside this browser's profile where allowed downloads land.
    QString downloadFolder() const;
    // The browser's user data folder; native messaging host manifests go to its
    // NativeMessagingHosts folder.
    QString userDataFolder() const;

    QString error() const { return m_error; }
    // What the browser printed so far, for failure messages.
    QString output() const;

    // A copy of the Torvane extension in `extensionDir`, inside this browser's profile, that talks
    // to the bridge on `bridgePort` instead of the fixed port, so that tests can use free ports.
    // Empty when the folder could not be copied.
    QString extensionForPort(const QString &extensionDir, quint16 bridgePort);
    // The same copy in `target`, for any browser.
    static QString copyExtensionForPort(const QString &extensionDir, quint16 bridgePort,
                                        const QString &target);

private:
    bool readMessages();

    QTemporaryDir m_profile;
    QProcess m_process;
    QByteArray m_pending;
    QList<QJsonObject> m_messages; // received, not yet taken by call()
    int m_nextId = 1;
    QString m_error;
    QByteArray m_log;
};
