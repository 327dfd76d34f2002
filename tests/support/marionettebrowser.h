#pragma once

#include "testbrowser.h"

#include <QJsonObject>
#include <QTcpSocket>

// The machine's headless Firefox through its remote protocol (Marionette). The extension is
// installed as a temporary add-on, and the browser's home folder is the profile's folder, so
// that native messaging host manifests have a place of their own.
class MarionetteBrowser : public TestBrowser {
public:
    // firefox-esr, or an empty string when the machine has none.
    static QString firefoxPath();
    // The moz-extension:// host of the extension that start() loaded, so that its pages can be
    // opened.
    static constexpr char ExtensionHost[] = "0e3a1f52-7c1d-4f0e-9d6b-5a2b8c4d7e10";

    bool start(const QString &extension) override;
    QJsonValue evaluate(const QString &expression) override;
    bool altClick(int x, int y) override;
    QString nativeHostsFolder() const override;

private:
    bool navigate(const QString &url) override;
    // One protocol command; its result (true when it has none), or undefined when it failed or
    // timed out.
    QJsonValue command(const QString &name, const QJsonObject &params);

    QTcpSocket m_socket;
    QByteArray m_pending;
    int m_nextId = 1;
};
