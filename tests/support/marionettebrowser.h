#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QProcess>
#include <QString>
#include <QTcpSocket>
#include <QTemporaryDir>

// The machine's headless Firefox under the test's control through its remote protocol
// (Marionette): install an add-on as a temporary one, open pages (the add-on's own among them) and
// run script in them. Each browser gets a fresh profile with every kind of background traffic off
// (the machine has no network) and downloads saved without asking, and a home folder of its own
// where native messaging host manifests go. Every call runs the test thread's event loop while it
// waits, so servers and windows of the test keep working.
class MarionetteBrowser {
public:
    MarionetteBrowser();
    ~MarionetteBrowser();
    MarionetteBrowser(const MarionetteBrowser &) = delete;
    MarionetteBrowser &operator=(const MarionetteBrowser &) = delete;

    // firefox-esr or firefox, or an empty string when the machine has neither.
    static QString firefoxPath();

    // Starts the browser and a session; `extensionUuid` fixes the moz-extension:// host of the
    // add-on with that id, so that its pages can be opened. False (see output()) on failure.
    bool start(const QString &extensionId = {}, const QString &extensionUuid = {});
    // Installs the unpacked add-on in `folder` as a temporary add-on.
    bool installAddon(const QString &folder);
    bool navigate(const QString &url);
    // Opens a page that web content may not lead to (an add-on's own, moz-extension://) in the
    // current tab, as the browser itself would.
    bool openPrivileged(const QString &url);
    // Runs script in the current page (a function body: `return ...`), waiting for a promise it
    // returns; the value.
    QJsonValue execute(const QString &script);

    // The browser's home folder: native messaging hosts go to .mozilla/native-messaging-hosts.
    QString homeFolder() const;
    QString output() const;

private:
    QJsonValue command(const QString &name, const QJsonObject &params, int timeoutMs = 30000);

    QTemporaryDir m_home;
    QProcess m_process;
    QTcpSocket m_socket;
    QByteArray m_pending;
    int m_nextId = 1;
    QString m_error;
};
