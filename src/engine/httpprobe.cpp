#include "engine/httpprobe.h"

#include "engine/httpheaders.h"
#include "engine/httpsession.h"

#include <QNetworkReply>

HttpProbe::HttpProbe(HttpSession *session, QObject *parent) : QObject(parent), session(session) {}

void HttpProbe::send(const QUrl &link, int timeoutMs)
{
    cancel();
    url = link;
    reply = session->get(url, 0, "bytes=0-0", timeoutMs);
    connect(reply, &QNetworkReply::metaDataChanged, this, &HttpProbe::onReply);
    connect(reply, &QNetworkReply::finished, this, &HttpProbe::onReply);
}

void HttpProbe::cancel()
{
    if (reply)
        HttpSession::drop(reply, this);
    reply = nullptr;
}

void HttpProbe::onReply()
{
    auto *from = qobject_cast<QNetworkReply *>(sender());
    if (!from)
        return;
    if (from != reply) {
        HttpSession::drop(from, this);
        return;
    }
    const int status = HttpSession::statusOf(reply);
    if (!reply->isFinished() && status >= 300 && status < 400)
        return; // a redirect on its way; the final answer follows
    if (!reply->isFinished() && status >= 400)
        return; // settled when it ends, so that Qt reports its error only once

    ProbeAnswer answer;
    answer.status = status;
    if (reply->hasRawHeader("Content-Range"))
        answer.total = contentRangeTotal(reply->rawHeader("Content-Range"));
    else if (reply->hasRawHeader("Content-Length"))
        answer.total = parseDecimalHeader(reply->rawHeader("Content-Length"));
    if (status < 400) {
        answer.etag = reply->rawHeader("ETag");
        answer.lastModified = reply->rawHeader("Last-Modified");
    }
    answer.refused = HttpSession::refusalOf(reply);
    answer.finalUrl = reply->url();
    if (answer.finalUrl.isEmpty())
        answer.finalUrl = url;
    cancel();
    emit answered(answer);
}
