#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QUrl>

// What a browser sends with a link that only works inside its session: the page that led to the
// link, the browser's User-Agent and the cookies it holds for the link. Empty for a link typed in.
//
// The cookie is a secret: it goes only to the host of the link it was handed over with, is never
// written into the task list and never shown in full.
struct BrowserSession {
    QString referrer;
    QString userAgent;
    QString cookie;
    // The page a download came from, kept when its link is replaced by a fresh one (an expired
    // signed link): where the user finds the link again. Empty while it is the Referer, or the
    // link itself for a link typed in. Never sent. (Its initializer lets a brace list give the
    // three above alone.)
    QString page = QString();

    bool isEmpty() const
    {
        return referrer.isEmpty() && userAgent.isEmpty() && cookie.isEmpty() && page.isEmpty();
    }
    bool operator==(const BrowserSession &other) const
    {
        return referrer == other.referrer && userAgent == other.userAgent &&
               cookie == other.cookie && page == other.page;
    }
    bool operator!=(const BrowserSession &other) const { return !(*this == other); }

    // The header values as sent; empty when absent or unusable. Control characters would end a
    // header line and start another, so they are dropped; a Referer is an http(s) address
    // without its fragment or user name, as a browser sends it.
    QByteArray refererHeader() const;
    QByteArray userAgentHeader() const;
    QByteArray cookieHeader() const;

    // The same session without its cookie: what a link on another host may be sent.
    BrowserSession withoutCookie() const;
};

Q_DECLARE_METATYPE(BrowserSession)

// True when `url` is on the host a session's cookie was handed over for.
bool sameCookieHost(const QUrl &url, const QUrl &cookieLink);
