#pragma once

#include "testbrowser.h"

#include <QJsonObject>

// The machine's headless Chromium through the DevTools protocol, spoken over a pipe (no port to
// collide with other runs).
class DevToolsBrowser : public TestBrowser {
public:
    // The machine's Chromium, or an empty string when it has none.
    static QString chromiumPath();

    bool start(const QString &extension) override;
    QJsonValue evaluate(const QString &expression) override;
    bool altClick(int x, int y) override;
    QString nativeHostsFolder() const override;

private:
    bool navigate(const QString &url) override;
    // One protocol command, to the page's session when `inTab`; its result, or undefined when it
    // failed or timed out.
    QJsonValue call(const QString &method, const QJsonObject &params = {}, bool inTab = false);

    QString m_tab; // the session of the page target
    QByteArray m_pending;
    int m_nextId = 1;
};
