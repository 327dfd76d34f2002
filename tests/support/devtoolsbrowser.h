#pragma once

#include "testbrowser.h"

#include <QJsonObject>
#include <QList>

// The machine's headless Chromium through the DevTools protocol, spoken over a pipe (no port to
// collide with other runs).
class DevToolsBrowser : public TestBrowser {
public:
    // The machine's Chromium, or an empty string when it has none.
    static QString chromiumPath();

    bool start(const QString &extension) override;
    bool open(const QString &url) override;
    QJsonValue evaluate(const QString &expression) override;
    bool altClick(int x, int y) override;
    QString nativeHostsFolder() const override;

private:
    // One protocol command; its "result", or an empty object when it failed or timed out (then
    // m_error says why). `session` addresses an attached target.
    QJsonObject call(const QString &method, const QJsonObject &params = {},
                     const QString &session = {});
    void readMessages();

    QString m_tab; // the session of the page target
    QByteArray m_pending;
    QList<QJsonObject> m_messages; // received, not yet taken by call()
    int m_nextId = 1;
};
