#pragma once

#include "engine/http/browsersession.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

class QHostAddress;

// The port the browser extension talks to.
constexpr quint16 BridgePort = 9090;

// Our extension's id in Chromium-based browsers, fixed by the "key" of its manifest, and its
// add-on id in Firefox. The native messaging host manifests name them too.
constexpr char ChromiumExtensionId[] = "blkcapoilggmogfhngendadfbpjbcpie";
constexpr char FirefoxExtensionId[] = "torvane-extension@torvane.invalid";

// The fixed answer to every GET: the CORS header lets a page or extension of any origin read it.
QByteArray bridgeReply();

// What one connection's bytes amount to so far.
struct BridgeRequest {
    enum State {
        Incomplete,  // no empty line yet: wait for more bytes
        NotGet,      // header block complete, but it is not a GET request: no answer
        FromWebPage, // a GET that a web page or another extension made the browser send: no
                     // answer, close at once
        Get          // a GET: answer it; url may still be empty
    };
    State state = Incomplete;
    QString url;
    QStringList urls; // "urls": several links at once, one per line; empty when absent
    QString name;
    qint64 size = 0;
    BrowserSession session; // "referrer", "ua" and "cookie": what the browser sends with the link
    int headerLength = 0;   // bytes up to and including the empty line
};

// Reads the request out of the bytes received so far. Only the header block counts; bytes after
// the empty line are ignored. The path of the target plays no part, only its query: "url",
// "urls", "name", "size", "referrer", "ua" and "cookie", percent-decoded as UTF-8 one by one (a
// broken escape stays as written), a plus sign staying a plus sign, the first value of a repeated
// key winning, and a size that is not a decimal number from 0 to MaxByteCount read as 0.
//
// The bridge serves our extension and programs on this machine, not the pages a browser shows nor
// other extensions: a GET with an Origin header other than our Chromium extension's, or without
// one but with a Sec-Fetch-Site other than "none" (a typed address) or "same-origin" (what Firefox
// sends for an extension that may reach the address, and what no page but one of the bridge's own
// could send), is FromWebPage. Firefox names an extension by a random id of each installation, so
// there it is the browser's native messaging that makes sure of the add-on id.
BridgeRequest parseBridgeRequest(const QByteArray &data);

// True for peers on this machine: IPv4 127/8, ::1 and the IPv4-mapped forms ::ffff:127.x.y.z.
bool isLoopbackPeer(const QHostAddress &address);
