#pragma once

#include "engine/http/browsersession.h"

#include <QJsonObject>
#include <QMetaType>
#include <QString>
#include <QStringList>

// What one hand-over brings: one or more links (a clicked link, a browser download, every link of
// a selection, the links of a command line), with what the browser knew of them. Every pipe into
// the program (the browser bridge, torvane-host, a later start) carries one, and every one goes
// through the same queue to the add dialog.
struct LinkOffer {
    // http(s) links only, in the order they were handed over.
    QStringList urls;
    // A file name and a size in bytes that the browser announced; they describe the first link,
    // and are empty and 0 when not known.
    QString name;
    qint64 size = 0;
    // What the browser sends with the links: Referer, User-Agent and its cookies for the first
    // link's host.
    BrowserSession session;

    bool isEmpty() const { return urls.isEmpty(); }
    bool operator==(const LinkOffer &o) const
    {
        return urls == o.urls && name == o.name && size == o.size && session == o.session;
    }
};

Q_DECLARE_METATYPE(LinkOffer)

// The web links among `links`, trimmed, in order; anything else is dropped.
QStringList webLinksAmong(const QStringList &links);

// The offer of a command line (program name left out): every argument that is an http(s) link.
LinkOffer linkOfferFromArguments(const QStringList &arguments);

// The browser's message as the extension sends it and torvane-host passes it on: "url" (one link)
// or "urls" (an array of links; when present it replaces "url"), "name", "size" (a number, or a
// decimal text), "referrer", "ua" and "cookie". Links that are not http(s), values of the wrong
// type and sizes no file has are dropped.
LinkOffer linkOfferFromJson(const QJsonObject &message);
// The same fields, "urls" always as an array; linkOfferFromJson() reads it back unchanged.
QJsonObject linkOfferToJson(const LinkOffer &offer);
