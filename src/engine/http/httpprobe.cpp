#include "engine/http/httpprobe.h"

#include "engine/http/httpheaders.h"
#include "engine/http/httpsession.h"
#include "engine/http/retryschedule.h"
#include "engine/requestpacer.h"
#include "language/translation.h"

#include <QNetworkReply>

HttpProbe::HttpProbe(HttpSession *session, QObject *parent) : QObject(parent), session(session) {}

void HttpProbe::send(const QUrl &link, int timeoutMs)
{
    cancel();
    url = link;
    timeout = timeoutMs;
    redirects = 0;
    ask(url);
}

void HttpProbe::ask(const QUrl &target)
{
    RequestPacer::shared()->post(this, [this, target, asked = round] {
        if (asked != round)
            return;
        reply = session->get(target, 0, "bytes=0-0", timeout, true);
        connect(reply, &QNetworkReply::metaDataChanged, this, &HttpProbe::onReply);
        connect(reply, &QNetworkReply::finished, this, &HttpProbe::onReply);
    });
}

void HttpProbe::cancel()
{
    ++round;
    if (!reply)
        return;
    QNetworkReply *dropped = reply;
    reply = nullptr;
    // Deleted, not aborted (see HttpSession::drop): that closes the connection too, so that an
    // error page or a whole file sent after the headers is not received.
    HttpSession::drop(dropped, this);
}

// Repr-Digest describes the whole file whatever part of it an answer carries, and so does the
// older Digest; Content-Digest only the body of this answer, which is the whole file only for a
// 200 without content coding.
ExpectedChecksum HttpProbe::serverDigestOf(const QNetworkReply *answer)
{
    ExpectedChecksum digest =
        parseDigestHeader(answer->rawHeader("Repr-Digest"), QStringLiteral("Repr-Digest"));
    if (!digest.valid)
        digest = parseDigestHeader(answer->rawHeader("Digest"), QStringLiteral("Digest"));
    const QByteArray coding = answer->rawHeader("Content-Encoding").trimmed().toLower();
    if (!digest.valid && HttpSession::statusOf(answer) == 200 &&
        (coding.isEmpty() || coding == "identity"))
        digest = parseDigestHeader(answer->rawHeader("Content-Digest"),
                                   QStringLiteral("Content-Digest"));
    return digest;
}

void HttpProbe::onReply()
{
    auto *from = qobject_cast<QNetworkReply *>(sender());
    if (!from)
        return;
    if (from != reply)
        return;
    const int status = HttpSession::statusOf(reply);
    if (!reply->isFinished() && status >= 300 && status < 400)
        return; // a redirect on its way; the final answer follows
    const QUrl next = HttpSession::redirectTarget(reply, redirects);
    if (next.isValid()) {
        cancel();
        ask(next);
        return;
    }

    ProbeAnswer answer;
    answer.status = status;
    if (reply->hasRawHeader("Content-Range"))
        answer.total = contentRangeTotal(reply->rawHeader("Content-Range"));
    else if (reply->hasRawHeader("Content-Length"))
        answer.total = parseDecimalHeader(reply->rawHeader("Content-Length"));
    if (status < 400) {
        answer.etag = reply->rawHeader("ETag");
        answer.lastModified = reply->rawHeader("Last-Modified");
        answer.digest = serverDigestOf(reply);
    }
    if (reply->hasRawHeader("Content-Type"))
        answer.contentType = reply->rawHeader("Content-Type");
    if (reply->hasRawHeader("Content-Disposition"))
        answer.contentDisposition = reply->rawHeader("Content-Disposition");
    answer.refused = HttpSession::refusalOf(reply);
    answer.login = HttpSession::loginAskedBy(reply);
    // A probe dropped by its own timeout ends as canceled; every other cancel disconnects first.
    const QNetworkReply::NetworkError error = reply->error();
    answer.transient = error == QNetworkReply::OperationCanceledError ||
                       (answer.refused.isNull() && isTransientFailure(error, status));
    if (answer.transient) {
        answer.problem = status == 0
                             ? T(QStringLiteral("Connection failed: %1")).arg(reply->errorString())
                             : T(QStringLiteral("Server error: HTTP %1")).arg(status);
        answer.retryAfterMs =
            retryAfterMs(reply->rawHeader("Retry-After"), QDateTime::currentDateTimeUtc());
    }
    answer.finalUrl = reply->url();
    if (answer.finalUrl.isEmpty())
        answer.finalUrl = url;
    cancel();
    emit answered(answer);
}
