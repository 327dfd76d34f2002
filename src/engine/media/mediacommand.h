#pragma once

#include "engine/http/browsersession.h"
#include "engine/http/proxysettings.h"

#include <QString>
#include <QStringList>
#include <QUrl>

// True for the only links the media tool is ever given: http or https, with a host. Anything else
// (a bare word, "--some-option", file: or other schemes) would be read by the tool as an option or
// a local path.
bool isMediaToolLink(const QUrl &url);

// Arguments of the media tool for one download: "audio" extracts an MP3, "best" merges the best
// video and audio into MP4, any other text is a picture height for the tool's format sorting. The
// options end with "--", so the link after it is never taken for an option. Callers check the link
// with isMediaToolLink() first. A browser's Referer and User-Agent go along; its cookie, which a
// command line would show to every user of the machine, goes in `cookieFile` (see below). A
// `rateLimit` above 0 keeps the tool at or below that many bytes per second.
QStringList mediaToolArguments(const QString &format, const QString &ffmpegPath,
                               const QString &savePath, const QUrl &url,
                               const BrowserSession &session = BrowserSession(),
                               const QString &cookieFile = QString(), qint64 rateLimit = 0);

// A browser's cookie for `url` as the media tool reads cookies from a file (the Netscape cookie
// file format), for that host alone, over https only when the link is https; empty when there is
// no cookie. `expires` is when the entries lapse, in seconds since the epoch.
QByteArray mediaToolCookies(const BrowserSession &session, const QUrl &url, qint64 expires);

// Arguments that ask the media tool for the formats of a link, as JSON; "--" before the link.
QStringList mediaListingArguments(const QUrl &url);

// The media tool goes through the same proxy as the downloads, for `url`: with the system's
// settings it is given nothing (it reads the same settings itself); with none, or a host that
// is to be reached directly, "--proxy" with an empty value; with a proxy given by hand it reads
// "--proxy URL" from its standard input (mediaProxyInput()), so that the proxy's password never
// shows on a command line, which every user of the machine can read. The options go before the
// "--" of `args`.
void addMediaProxyArguments(QStringList &args, const ProxySettings &proxy, const QUrl &url);
// What the tool started with addMediaProxyArguments() reads from its standard input; empty when
// nothing.
QByteArray mediaProxyInput(const ProxySettings &proxy, const QUrl &url);

// The line shown (in the add dialog, and as a task's message) for a link the media tool is not
// given, in the current language.
QString refusedMediaLinkText();
