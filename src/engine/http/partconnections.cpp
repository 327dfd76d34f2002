#include "engine/http/partconnections.h"

#include "engine/bandwidthlimiter.h"
#include "engine/http/httpheaders.h"
#include "engine/http/httpsession.h"
#include "engine/http/retryschedule.h"
#include "engine/http/webpageanswer.h"
#include "engine/requestpacer.h"
#include "engine/storage/partfile.h"
#include "language/translation.h"

#include <QNetworkReply>
#include <QTimer>

namespace {

// Data waiting in memory per part before Qt stops reading that connection. Small buffers keep
// the whole transfer at about 25 MiB resident and were also the fastest on loopback.
constexpr qint64 kPartReadBuffer = 256 * 1024;
// Through a SOCKS5 proxy, where that bound does not hold, a part under a speed limit asks for
// this much of its range at a time, so that what waits in memory for the limit stays bounded.
constexpr qint64 kSocks5Window = 2 * 1024 * 1024;

QByteArray rangeHeader(qint64 first, qint64 last)
{
    QByteArray value = "bytes=" + QByteArray::number(first) + '-';
    if (last >= 0)
        value += QByteArray::number(last);
    return value;
}

} // namespace

PartConnections::PartConnections(HttpSession *session, PartFile &file,
                                 const TransferFigures &figures, QObject *parent)
    : QObject(parent), session(session), file(file), figures(figures)
{
    clock.start();
}

// ---- Requests and their answers -----------------------------------------------------------------

void PartConnections::request(int index)
{
    Part &part = parts[index];
    part.queued = true;
    part.lastData = clock.elapsed();
    RequestPacer::shared()->post(this, [this, index, asked = round] {
        if (asked != round || index >= parts.size() || !parts[index].queued)
            return;
        parts[index].queued = false;
        if (active && !parts[index].reply && !parts[index].done())
            send(index);
    });
}

void PartConnections::send(int index)
{
    Part &part = parts[index];
    // A single stream from the first byte asks for the plain body; everything else is a range.
    const bool ranged = parts.size() > 1 || part.offset > 0;
    const qint64 from = part.offset - part.verify;
    // Through a SOCKS5 proxy Qt 6.4 reads all the proxy delivers into a buffer of its own,
    // whatever the reply's bound, and hands the reply more only when new data comes: a bound
    // there saves no memory and stalls the part, once the server has sent its range, until the
    // stall check drops it. So those replies get none, and under a speed limit a part asks for
    // its range a window at a time instead; the next window when this one has been read.
    const bool socks5 = HttpSession::throughSocks5(url);
    const bool windowed = socks5 && ranged && part.end >= 0 && limiter && limiter->limits(this);
    const qint64 last = windowed ? qMin(part.end, from + kSocks5Window - 1) : part.end;
    QNetworkReply *reply =
        session->get(url, index, ranged ? rangeHeader(from, last) : QByteArray());
    reply->setProperty("partIndex", index);
    reply->setProperty("ranged", ranged);
    reply->setProperty("from", from);
    reply->setProperty("overlap", part.verify); // still to compare with the disk
    reply->setProperty("startOffset", part.offset);
    reply->setProperty("windowEnd", windowed && last < part.end ? last : -1);
    if (!socks5)
        reply->setReadBufferSize(kPartReadBuffer);
    part.reply = reply;
    part.lastData = clock.elapsed();
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] { readPart(reply); });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { endPart(reply); });
    if (limiter)
        limiter->addStream(reply, this, [this, reply] { drainPart(reply); });
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] {
        const int i = reply->property("partIndex").toInt();
        if (active && i < parts.size() && parts[i].reply == reply &&
            !reply->property("checked").toBool())
            checkAnswer(reply, i);
    });
}

// Decides from a part's response headers whether its body may be written at the part's offsets;
// every part answer passes here before any of its bytes is written. Returns false when the reply
// was dropped and something else (a retry, a fresh start, the failure) has taken its place.
bool PartConnections::checkAnswer(QNetworkReply *reply, int index)
{
    const int code = HttpSession::statusOf(reply);
    if (!reply->isFinished()) {
        if (code >= 300 && code < 400)
            return false; // a redirect being followed
        if (code >= 400) {
            // An error page is never content. Its body is read and forgotten, and the reply is
            // settled when it ends: aborting it now would race Qt's own error report.
            reply->setProperty("checked", true);
            reply->setProperty("rejected", true);
            return false;
        }
    }
    reply->setProperty("checked", true);
    if (code == 0 || code >= 300) {
        settleFailedAnswer(reply, index);
        return false;
    }
    // An expired session answers the next ranges with its login page: never the file's bytes.
    const QString problem =
        partContentProblem(probeType, reply->rawHeader("Content-Type"), fileName, webPageAccepted);
    if (!problem.isEmpty()) {
        refuseContent(reply, index, problem);
        return false;
    }
    const QByteArray newEtag = reply->rawHeader("ETag");
    const QByteArray newModified = reply->rawHeader("Last-Modified");
    if ((!etag.isEmpty() && !newEtag.isEmpty() && newEtag != etag) ||
        (!lastModified.isEmpty() && !newModified.isEmpty() && newModified != lastModified)) {
        emit fileChanged(); // another version of the file: never splice two
        return false;
    }

    const bool ranged = reply->property("ranged").toBool();
    if (code == 206) {
        const ContentRange cr = parseContentRange(reply->rawHeader("Content-Range"));
        if (!cr.valid || cr.first != reply->property("from").toLongLong()) {
            emit wrongRange(); // bytes useless at this part's offsets
            return false;
        }
        if (cr.total >= 0 && figures.totalSize > 0 && cr.total != figures.totalSize) {
            emit fileChanged();
            return false;
        }
        if (parts[index].end < 0 && cr.total > 0) {
            figures.totalSize = cr.total;
            parts[index].end = cr.total - 1;
        }
        return true;
    }
    if (ranged) {
        // The server ignored the range and sends a whole body: keep this stream as the one
        // connection for the whole file, and drop the others. Bytes already on the disk are
        // never cut away for it, though, unless it is the file's size: a login page or another
        // file would take their place.
        const qint64 length = reply->hasRawHeader("Content-Length")
                                  ? parseDecimalHeader(reply->rawHeader("Content-Length"))
                                  : -1;
        if (figures.totalSize > 0 && figures.downloadedSize > 0 && length != figures.totalSize) {
            lastProblem = contentProblem =
                T(QStringLiteral("The server sent something other than the file"));
            emit failed(contentProblem);
            return false;
        }
        adoptWholeBody(reply);
        return true;
    }
    if (parts[index].end < 0 && reply->hasRawHeader("Content-Length")) {
        const qint64 length = parseDecimalHeader(reply->rawHeader("Content-Length"));
        if (length > 0) {
            figures.totalSize = length;
            parts[index].end = length - 1;
        }
    }
    if (!ranged && parts[index].offset == 0 && !file.resize(0)) {
        emit failed(describeProblem(file.problem()));
        return false;
    }
    return true;
}

// An answer that is not the file's bytes: asked again like a broken part, and the run's reason
// once the part's tries run out.
void PartConnections::refuseContent(QNetworkReply *reply, int index, const QString &problem)
{
    lastProblem = contentProblem = problem;
    parts[index].transient = false;
    parts[index].reply = nullptr;
    HttpSession::drop(reply, this);
    emit partBroken(index, false);
}

// A part answer without usable content: no answer at all, an error status or a redirect that
// may not be followed.
void PartConnections::settleFailedAnswer(QNetworkReply *reply, int index)
{
    if (followRedirect(reply, index))
        return;
    const int code = HttpSession::statusOf(reply);
    const QNetworkReply::NetworkError error = reply->error();
    const RefusedCertificate refusal = HttpSession::refusalOf(reply);
    const QString proxyProblem = HttpSession::proxyProblem(reply);
    const LoginRequest login = HttpSession::loginAskedBy(reply);
    lastStatus = code;
    lastProblem = !proxyProblem.isEmpty() ? proxyProblem
                  : !login.isNull()       ? loginRequiredText(login)
                  : code == 0             ? reply->errorString()
                                          : T(QStringLiteral("Server error: HTTP %1")).arg(code);
    parts[index].transient = isTransientFailure(error, code);
    parts[index].retryAfterMs =
        retryAfterMs(reply->rawHeader("Retry-After"), QDateTime::currentDateTimeUtc());
    parts[index].reply = nullptr;
    HttpSession::drop(reply, this);
    // A link that no request can serve fails at once instead of after every retry; asking the
    // same server again cannot make its certificate acceptable, nor the proxy take a password it
    // refused.
    const bool hopeless = error == QNetworkReply::ProtocolUnknownError ||
                          error == QNetworkReply::ProtocolInvalidOperationError ||
                          error == QNetworkReply::ProxyAuthenticationRequiredError;
    if (!refusal.isNull())
        emit refused(refusal);
    else if (!login.isNull())
        emit loginNeeded(login); // only the user can answer this one
    else if ((code == 0 || !proxyProblem.isEmpty()) && !hopeless)
        emit partBroken(index, false);
    else if (code >= 500 || code == 408 || code == 429)
        emit partBroken(index, false); // worth asking again
    else if (code == 416)
        emit fileChanged(); // the range lies beyond the file
    else
        emit failed(lastProblem);
}

// A redirect that the session left to us, since the request carried the browser's cookie: asked
// again at its target, where the session decides whether the cookie goes along.
bool PartConnections::followRedirect(QNetworkReply *reply, int index)
{
    const QUrl target = HttpSession::redirectTarget(reply, parts[index].redirects);
    if (!target.isValid())
        return false;
    parts[index].reply = nullptr;
    HttpSession::drop(reply, this);
    url = target;
    request(index);
    return true;
}

void PartConnections::planSingleConnection(qint64 length)
{
    stop();
    figures.downloadedSize = 0;
    emit recounted();
    figures.totalSize = qMax<qint64>(length, 0);
    file.resize(figures.totalSize);
    Part whole;
    whole.end = figures.totalSize > 0 ? figures.totalSize - 1 : -1;
    whole.lastData = clock.elapsed();
    parts = {whole};
}

void PartConnections::adoptWholeBody(QNetworkReply *reply)
{
    const int index = reply->property("partIndex").toInt();
    parts[index].reply = nullptr; // keep it out of the sweep below
    qint64 length = -1;
    if (reply->hasRawHeader("Content-Length"))
        length = parseDecimalHeader(reply->rawHeader("Content-Length"));
    planSingleConnection(length);
    parts[0].reply = reply;
    reply->setProperty("windowEnd", -1); // the server sends it all, asked or not
    reply->setProperty("partIndex", 0);
    reply->setProperty("ranged", false);
    reply->setProperty("overlap", 0);
    reply->setProperty("startOffset", 0);
}

// ---- Data ---------------------------------------------------------------------------------------

void PartConnections::readPart(QNetworkReply *reply)
{
    if (!active)
        return;
    int index = reply->property("partIndex").toInt();
    if (index < 0 || index >= parts.size() || parts[index].reply != reply)
        return;
    if (!reply->property("checked").toBool() && !checkAnswer(reply, index)) {
        if (reply->property("rejected").toBool())
            reply->readAll();
        return;
    }
    if (reply->property("rejected").toBool()) {
        reply->readAll();
        return;
    }
    index = reply->property("partIndex").toInt(); // adopting a whole body renumbers the part
    writePartData(reply, index);
}

void PartConnections::writePartData(QNetworkReply *reply, int index)
{
    // The file's first bytes: a web page is no file, whatever the headers said.
    if (reply->property("startOffset").toLongLong() == 0 && !reply->property("sniffed").toBool()) {
        const PageSniff sniff = sniffPageInsteadOfFile(
            reply->peek(kPageSniffLength), reply->isFinished(), fileName, webPageAccepted);
        if (sniff == PageSniff::Undecided)
            return; // read when more has come
        reply->setProperty("sniffed", true);
        if (sniff == PageSniff::Page) {
            refuseContent(reply, index, pageInsteadOfFileText());
            return;
        }
    }
    // Under a speed limit only the granted bytes are read; the rest waits in the reply's bounded
    // buffer, and the limiter drains it when the stream's next share comes. Without a limit the
    // reply is read whole, as it always was.
    BandwidthLimiter *const shared = limiter;
    const qint64 waiting = reply->bytesAvailable();
    const qint64 granted = shared ? shared->grant(reply, waiting) : waiting;
    QByteArray data = granted >= waiting ? reply->readAll() : reply->read(granted);
    if (data.isEmpty())
        return;
    Part &part = parts[index];
    part.lastData = clock.elapsed();
    if (const qint64 overlap = reply->property("overlap").toLongLong(); overlap > 0) {
        const qint64 n = qMin<qint64>(overlap, data.size());
        if (file.readAt(part.offset - overlap, n) != data.left(int(n))) {
            emit fileChanged(); // the disk holds another file's bytes, or none: never splice
            return;
        }
        reply->setProperty("overlap", overlap - n);
        if (overlap == n)
            part.verify = 0;
        data.remove(0, int(n));
    }
    if (part.end >= 0) {
        // Never write past the part's own range, whatever the server sends.
        const qint64 room = part.end - part.offset + 1;
        if (data.size() > room)
            data.truncate(int(room));
    }
    if (!data.isEmpty()) {
        // Only what reached the file counts; the checkpoint keeps it for a resume once the
        // user has made room (or given permission).
        const qint64 written = file.writeAt(part.offset, data);
        part.offset += written;
        figures.downloadedSize += written;
        if (written < data.size()) {
            emit failed(describeProblem(file.problem()));
            return;
        }
    }
    if (part.done()) {
        part.reply = nullptr;
        HttpSession::drop(reply, this);
        if (allPartsDone()) {
            emit completed();
            return;
        }
        splitLargestPart(index);
        emit partDone();
    }
    emit progressed();
}

// A connection whose range is done takes over the second half of the part with the most bytes
// left, so that one slow connection does not hold up the end of the whole download.
void PartConnections::splitLargestPart(int idle)
{
    constexpr qint64 kMinSplit = 1024 * 1024;
    int largest = -1;
    qint64 most = 0;
    for (int i = 0; i < parts.size(); ++i) {
        const qint64 left = parts[i].end - parts[i].offset + 1;
        if (i != idle && parts[i].end >= 0 && left > most) {
            largest = i;
            most = left;
        }
    }
    if (largest < 0 || most < 2 * kMinSplit)
        return;
    const qint64 middle = parts[largest].offset + most / 2;
    parts[idle].start = parts[idle].offset = middle;
    parts[idle].verify = 0;
    parts[idle].end = parts[largest].end;
    // The running request of the split part keeps going; its writes stop at the new end.
    parts[largest].end = middle - 1;
    parts[idle].tries = parts[idle].waits = 0;
    request(idle);
}

// A stream of the speed limit has an allowance while its data waits.
void PartConnections::drainPart(QNetworkReply *reply)
{
    const int index = reply->property("partIndex").toInt();
    if (index < 0 || index >= parts.size() || parts[index].reply != reply) {
        if (limiter)
            limiter->removeStream(reply); // dropped, and only waiting to be deleted
        return;
    }
    if (reply->isFinished())
        endPart(reply);
    else
        readPart(reply);
}

void PartConnections::endPart(QNetworkReply *reply)
{
    const int index = reply->property("partIndex").toInt();
    const bool current = index >= 0 && index < parts.size() && parts[index].reply == reply;
    if (!current || !active) {
        if (current)
            parts[index].reply = nullptr;
        reply->deleteLater();
        return;
    }
    if (reply->property("rejected").toBool()) {
        settleFailedAnswer(reply, index);
        return;
    }
    if (!reply->property("checked").toBool() && !checkAnswer(reply, index))
        return;
    const int part = reply->property("partIndex").toInt();
    if (reply->bytesAvailable() > 0) {
        writePartData(reply, part);
        if (!active || part >= parts.size() || parts[part].reply != reply)
            return;
        // Held back by the speed limit: the part ends when its last byte is read.
        if (reply->bytesAvailable() > 0)
            return;
    }
    parts[part].reply = nullptr;
    const bool clean = reply->error() == QNetworkReply::NoError;
    const qint64 windowEnd = reply->property("windowEnd").toLongLong();
    if (clean && windowEnd >= 0 && parts[part].offset > windowEnd && !parts[part].done()) {
        disconnect(reply, nullptr, this, nullptr);
        reply->deleteLater();
        request(part); // the part's next window
        return;
    }
    lastProblem = clean ? T(QStringLiteral("The connection ended early")) : reply->errorString();
    parts[part].transient = !clean && isTransientFailure(reply->error(), 0);
    parts[part].retryAfterMs = -1;
    const bool progressed = parts[part].offset > reply->property("startOffset").toLongLong();
    disconnect(reply, nullptr, this, nullptr);
    reply->deleteLater();

    // A stream of unknown length ends where the server ends it; anything else still short of its
    // range is a dropped connection, a stalled or a short answer.
    if (parts[part].end < 0 && clean)
        emit completed();
    else
        emit partBroken(part, progressed);
}

// ---- Retries and stalls -------------------------------------------------------------------------

void PartConnections::retryAfter(int index, int delayMs)
{
    auto *timer = new QTimer(this);
    timer->setSingleShot(true);
    parts[index].retryTimer = timer;
    connect(timer, &QTimer::timeout, this, [this, index, timer] {
        const bool known = index < parts.size();
        if (known && parts[index].retryTimer == timer)
            parts[index].retryTimer = nullptr;
        timer->deleteLater();
        if (active && known && !parts[index].reply && !parts[index].queued && !parts[index].done())
            request(index);
    });
    timer->start(delayMs);
}

int PartConnections::nextRetryInMs() const
{
    int soonest = -1;
    for (const Part &part : parts) {
        if (part.retryTimer && part.retryTimer->isActive()) {
            const int left = qMax(0, part.retryTimer->remainingTime());
            soonest = soonest < 0 ? left : qMin(soonest, left);
        }
    }
    return soonest;
}

void PartConnections::retryNow()
{
    for (const Part &part : parts) {
        if (part.retryTimer && part.retryTimer->isActive())
            part.retryTimer->start(0);
    }
}

void PartConnections::checkStalls(int timeoutMs)
{
    const qint64 now = clock.elapsed();
    for (int i = 0; i < parts.size() && active; ++i) {
        QNetworkReply *reply = parts[i].reply;
        if (!reply || now - parts[i].lastData < timeoutMs)
            continue;
        if (reply->property("rejected").toBool()) {
            settleFailedAnswer(reply, i); // an error page that never ends is still an error
            continue;
        }
        if (reply->bytesAvailable() > 0) {
            // The server did send; the bytes wait for the speed limit, which is no stall.
            parts[i].lastData = now;
            continue;
        }
        const bool progressed = parts[i].offset > reply->property("startOffset").toLongLong();
        lastProblem = T(QStringLiteral("No data from the server"));
        parts[i].transient = true; // a network that went away without a word
        parts[i].retryAfterMs = -1;
        parts[i].reply = nullptr;
        HttpSession::drop(reply, this);
        emit partBroken(i, progressed);
    }
}

QString PartConnections::failureReason() const
{
    return contentProblem.isEmpty() ? T(QStringLiteral("Connection failed: %1")).arg(lastProblem)
                                    : contentProblem;
}

void PartConnections::clearProblems()
{
    lastStatus = 0;
    lastProblem.clear();
    contentProblem.clear();
}

// ---- The whole plan -----------------------------------------------------------------------------

bool PartConnections::allPartsDone() const
{
    for (const Part &part : parts) {
        if (!part.done())
            return false;
    }
    return !parts.isEmpty();
}

void PartConnections::stop()
{
    ++round;
    for (Part &part : parts) {
        part.queued = false;
        if (part.reply) {
            QNetworkReply *reply = part.reply;
            part.reply = nullptr;
            HttpSession::drop(reply, this);
        }
        if (part.retryTimer) {
            part.retryTimer->stop();
            part.retryTimer->deleteLater();
            part.retryTimer = nullptr;
        }
    }
}
