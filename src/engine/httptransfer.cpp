#include "engine/httptransfer.h"

#include "engine/bandwidthlimiter.h"
#include "engine/downloadtask.h"
#include "engine/httpheaders.h"
#include "engine/httpprobe.h"
#include "engine/httpsession.h"
#include "engine/webpageanswer.h"
#include "language/translation.h"

#include <QFileInfo>
#include <QNetworkReply>
#include <QTimer>

namespace {

// A server that keeps changing the file under us (or its validators) is given up after this many
// fresh starts, rather than spliced or fetched forever.
constexpr int kMaxRestarts = 3;

// Data waiting in memory per part before Qt stops reading that connection. Small buffers keep
// the whole transfer at about 25 MiB resident and were also the fastest on loopback.
constexpr qint64 kPartReadBuffer = 256 * 1024;

// When a running transfer records where its parts stand besides its pauses, failures and part
// completions. A crash in the first two seconds of a run costs at most those two seconds even
// without a record (a fast download may well be over by then, and its data never waits for the
// disk), so the first comes then and the next ones on every other 500 ms tick: a crash costs
// about a second of transfer, plus the time of one flush.
constexpr qint64 kFirstCheckpointMs = 1900;
constexpr qint64 kCheckpointIntervalMs = 900;

QByteArray rangeHeader(qint64 first, qint64 last)
{
    QByteArray value = "bytes=" + QByteArray::number(first) + '-';
    if (last >= 0)
        value += QByteArray::number(last);
    return value;
}

} // namespace

HttpTransfer::HttpTransfer(DownloadTask *task)
    : QObject(task), task(task), session(new HttpSession(this)),
      probe(new HttpProbe(session, this)), file(task->savePath()), checkpoint(task->savePath())
{
    connect(probe, &HttpProbe::answered, this, &HttpTransfer::beginTransfer);
    clock.start();
}

bool HttpTransfer::running() const
{
    return task->status == 1;
}

// ---- A fresh start ------------------------------------------------------------------------------

void HttpTransfer::start()
{
    restarts = 0;
    task->lastDlpMessage.clear();
    task->refusedCertificate = RefusedCertificate();
    useBrowserSession();
    sendProbe();
}

void HttpTransfer::useBrowserSession()
{
    contentProblem.clear();
    session->setBrowserSession(task->browserSession, task->url());
}

void HttpTransfer::sendProbe()
{
    stop();
    // A fresh transfer: the counters start from an empty file, as the views will show it.
    parts.clear();
    partsFrom = PartsFrom::Nothing;
    task->totalSize = 0;
    task->countFrom(0);
    task->currentSpeed = 0.0;
    etag.clear();
    lastModified.clear();
    probeType.clear();
    // A probe that never answers falls through to the single connection, which has its own
    // stall handling.
    probe->send(task->url(), stallTimeoutMs);
}

// Plans the parts from what the probe learned and sends them all.
void HttpTransfer::beginTransfer(const ProbeAnswer &answer)
{
    if (!running())
        return;
    if (!answer.refused.isNull()) {
        refuse(answer.refused); // before the file is even opened
        return;
    }
    // A login page is no file; only the user, told so when adding the link, may take it.
    if (answer.status < 400 && !task->webPageAccepted &&
        isPageInsteadOfFile(answer.contentType, task->fileName)) {
        fail(pageInsteadOfFileText());
        return;
    }
    if (answer.status < 400)
        probeType = answer.contentType;
    task->totalSize = answer.total;
    etag = answer.etag;
    lastModified = answer.lastModified;
    if (!openFile())
        return;
    transferUrl = answer.finalUrl;
    const bool segmented = answer.total > 0 && answer.status < 400;
    const qint64 total = segmented ? answer.total : 0;
    task->totalSize = total;
    const int count = segmented ? partCountFor(total) : 1;
    if (!file.resize(total)) {
        fail(describeProblem(file.problem()));
        return;
    }
    parts = QVector<Part>(count);
    for (int i = 0; i < count; ++i) {
        const PartRange r = partRange(total, count, i);
        parts[i].start = parts[i].offset = segmented ? r.first : 0;
        parts[i].end = segmented ? r.last : -1;
    }
    partsFrom = PartsFrom::ThisRun;
    // A record of an earlier run must not outlive the new plan; a stream of unknown length has
    // nothing a restart could continue.
    if (segmented)
        saveCheckpoint();
    else
        checkpoint.remove();
    nextCheckpoint = clock.elapsed() + kFirstCheckpointMs;
    task->startTick();
    for (int i = 0; i < count && running(); ++i)
        requestPart(i);
}

// ---- Parts and their answers --------------------------------------------------------------------

void HttpTransfer::requestPart(int index)
{
    Part &part = parts[index];
    // A single stream from the first byte asks for the plain body; everything else is a range.
    const bool ranged = parts.size() > 1 || part.offset > 0;
    QNetworkReply *reply = session->get(transferUrl, index,
                                        ranged ? rangeHeader(part.offset, part.end) : QByteArray());
    reply->setProperty("partIndex", index);
    reply->setProperty("ranged", ranged);
    reply->setProperty("startOffset", part.offset);
    reply->setReadBufferSize(kPartReadBuffer);
    part.reply = reply;
    part.lastData = clock.elapsed();
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] { readPart(reply); });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { endPart(reply); });
    if (task->limiter)
        task->limiter->addStream(reply, this, [this, reply] { drainPart(reply); });
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] {
        const int i = reply->property("partIndex").toInt();
        if (running() && i < parts.size() && parts[i].reply == reply &&
            !reply->property("checked").toBool())
            checkPartHeaders(reply, i);
    });
}

// Decides from a part's response headers whether its body may be written at the part's offsets;
// every part answer passes here before any of its bytes is written. Returns false when the reply
// was dropped and something else (a retry, a fresh start, the failure) has taken its place.
bool HttpTransfer::checkPartHeaders(QNetworkReply *reply, int index)
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
    const QString problem = partContentProblem(probeType, reply->rawHeader("Content-Type"),
                                               task->fileName, task->webPageAccepted);
    if (!problem.isEmpty()) {
        lastProblem = contentProblem = problem;
        parts[index].reply = nullptr;
        HttpSession::drop(reply, this);
        retryPart(index, false);
        return false;
    }
    const QByteArray newEtag = reply->rawHeader("ETag");
    const QByteArray newModified = reply->rawHeader("Last-Modified");
    if ((!etag.isEmpty() && !newEtag.isEmpty() && newEtag != etag) ||
        (!lastModified.isEmpty() && !newModified.isEmpty() && newModified != lastModified)) {
        restartFromScratch(); // another version of the file: never splice two
        return false;
    }

    const bool ranged = reply->property("ranged").toBool();
    if (code == 206) {
        const ContentRange cr = parseContentRange(reply->rawHeader("Content-Range"));
        if (!cr.valid || cr.first != parts[index].offset) {
            // Bytes of some other range: useless at this part's offsets. Fetch the whole file
            // over one connection instead.
            if (++restarts > kMaxRestarts) {
                fail(T(QStringLiteral("The file keeps changing on the server")));
                return false;
            }
            planSingleConnection(task->totalSize);
            requestPart(0);
            return false;
        }
        if (cr.total >= 0 && task->totalSize > 0 && cr.total != task->totalSize) {
            restartFromScratch();
            return false;
        }
        if (parts[index].end < 0 && cr.total > 0) {
            task->totalSize = cr.total;
            parts[index].end = cr.total - 1;
        }
        return true;
    }
    if (ranged) {
        // The server ignored the range and sends the whole file: keep this stream as the one
        // connection for the whole file, and drop the others.
        adoptWholeBody(reply);
        return true;
    }
    if (parts[index].end < 0 && reply->hasRawHeader("Content-Length")) {
        const qint64 length = parseDecimalHeader(reply->rawHeader("Content-Length"));
        if (length > 0) {
            task->totalSize = length;
            parts[index].end = length - 1;
        }
    }
    return true;
}

// A part answer without usable content: no answer at all, an error status or a redirect that
// may not be followed.
void HttpTransfer::settleFailedAnswer(QNetworkReply *reply, int index)
{
    if (followRedirect(reply, index))
        return;
    const int code = HttpSession::statusOf(reply);
    const QNetworkReply::NetworkError error = reply->error();
    const RefusedCertificate refused = HttpSession::refusalOf(reply);
    lastProblem =
        code == 0 ? reply->errorString() : T(QStringLiteral("Server error: HTTP %1")).arg(code);
    parts[index].reply = nullptr;
    HttpSession::drop(reply, this);
    // A link that no request can serve fails at once instead of after every retry; asking the
    // same server again cannot make its certificate acceptable either.
    const bool hopeless = error == QNetworkReply::ProtocolUnknownError ||
                          error == QNetworkReply::ProtocolInvalidOperationError;
    if (!refused.isNull())
        refuse(refused);
    else if (code == 0 && !hopeless)
        retryPart(index, false);
    else if (code >= 500 || code == 408 || code == 429)
        retryPart(index, false); // worth asking again
    else if (code == 416)
        restartFromScratch(); // the range lies beyond the file: it has changed
    else
        fail(lastProblem);
}

// A redirect that the session left to us, since the request carried the browser's cookie: asked
// again at its target, where the session decides whether the cookie goes along.
bool HttpTransfer::followRedirect(QNetworkReply *reply, int index)
{
    const QUrl target = HttpSession::redirectTarget(reply);
    if (!target.isValid() || parts[index].redirects >= HttpSession::MaxRedirects)
        return false;
    ++parts[index].redirects;
    parts[index].reply = nullptr;
    HttpSession::drop(reply, this);
    transferUrl = target;
    requestPart(index);
    return true;
}

void HttpTransfer::planSingleConnection(qint64 length)
{
    stop();
    task->countFrom(0);
    task->totalSize = qMax<qint64>(length, 0);
    file.resize(task->totalSize);
    Part whole;
    whole.end = task->totalSize > 0 ? task->totalSize - 1 : -1;
    whole.lastData = clock.elapsed();
    parts = {whole};
    partsFrom = PartsFrom::ThisRun;
}

void HttpTransfer::adoptWholeBody(QNetworkReply *reply)
{
    const int index = reply->property("partIndex").toInt();
    parts[index].reply = nullptr; // keep it out of the sweep below
    qint64 length = -1;
    if (reply->hasRawHeader("Content-Length"))
        length = parseDecimalHeader(reply->rawHeader("Content-Length"));
    planSingleConnection(length);
    parts[0].reply = reply;
    reply->setProperty("partIndex", 0);
    reply->setProperty("ranged", false);
    reply->setProperty("startOffset", 0);
}

// ---- Data ---------------------------------------------------------------------------------------

void HttpTransfer::readPart(QNetworkReply *reply)
{
    if (!running())
        return;
    int index = reply->property("partIndex").toInt();
    if (index < 0 || index >= parts.size() || parts[index].reply != reply)
        return;
    if (!reply->property("checked").toBool() && !checkPartHeaders(reply, index)) {
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

void HttpTransfer::writePartData(QNetworkReply *reply, int index)
{
    // Under a speed limit only the granted bytes are read; the rest waits in the reply's bounded
    // buffer, and the limiter drains it when the stream's next share comes. Without a limit the
    // reply is read whole, as it always was.
    BandwidthLimiter *limiter = task->limiter;
    const qint64 waiting = reply->bytesAvailable();
    const qint64 granted = limiter ? limiter->grant(reply, waiting) : waiting;
    QByteArray data = granted >= waiting ? reply->readAll() : reply->read(granted);
    if (data.isEmpty())
        return;
    Part &part = parts[index];
    part.lastData = clock.elapsed();
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
        task->downloadedSize += written;
        if (written < data.size()) {
            fail(describeProblem(file.problem()));
            return;
        }
    }
    if (part.done()) {
        part.reply = nullptr;
        HttpSession::drop(reply, this);
        if (allPartsDone()) {
            complete();
            return;
        }
        splitLargestPart(index);
        saveCheckpoint();
    }
    emit task->progressUpdated();
}

// A connection whose range is done takes over the second half of the part with the most bytes
// left, so that one slow connection does not hold up the end of the whole download.
void HttpTransfer::splitLargestPart(int idle)
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
    parts[idle].end = parts[largest].end;
    // The running request of the split part keeps going; its writes stop at the new end.
    parts[largest].end = middle - 1;
    parts[idle].tries = 0;
    requestPart(idle);
}

// A stream of the speed limit has an allowance while its data waits.
void HttpTransfer::drainPart(QNetworkReply *reply)
{
    const int index = reply->property("partIndex").toInt();
    if (index < 0 || index >= parts.size() || parts[index].reply != reply) {
        if (task->limiter)
            task->limiter->removeStream(reply); // dropped, and only waiting to be deleted
        return;
    }
    if (reply->isFinished())
        endPart(reply);
    else
        readPart(reply);
}

void HttpTransfer::endPart(QNetworkReply *reply)
{
    const int index = reply->property("partIndex").toInt();
    const bool current = index >= 0 && index < parts.size() && parts[index].reply == reply;
    if (!current || !running()) {
        if (current)
            parts[index].reply = nullptr;
        reply->deleteLater();
        return;
    }
    if (reply->property("rejected").toBool()) {
        settleFailedAnswer(reply, index);
        return;
    }
    if (!reply->property("checked").toBool() && !checkPartHeaders(reply, index))
        return;
    const int part = reply->property("partIndex").toInt();
    if (reply->bytesAvailable() > 0) {
        writePartData(reply, part);
        if (!running() || part >= parts.size() || parts[part].reply != reply)
            return;
        // Held back by the speed limit: the part ends when its last byte is read.
        if (reply->bytesAvailable() > 0)
            return;
    }
    parts[part].reply = nullptr;
    const bool clean = reply->error() == QNetworkReply::NoError;
    lastProblem = clean ? T(QStringLiteral("The connection ended early")) : reply->errorString();
    const bool progressed = parts[part].offset > reply->property("startOffset").toLongLong();
    disconnect(reply, nullptr, this, nullptr);
    reply->deleteLater();

    // A stream of unknown length ends where the server ends it; anything else still short of its
    // range is a dropped connection, a stalled or a short answer.
    if (parts[part].end < 0 && clean)
        complete();
    else
        retryPart(part, progressed);
}

// ---- Retries ------------------------------------------------------------------------------------

void HttpTransfer::retryPart(int index, bool madeProgress)
{
    if (!running())
        return;
    Part &part = parts[index];
    part.tries = madeProgress ? 0 : part.tries + 1;
    if (part.tries >= DownloadTask::kMaxTriesPerPart) {
        fail(contentProblem.isEmpty() ? T(QStringLiteral("Connection failed: %1")).arg(lastProblem)
                                      : contentProblem);
        return;
    }
    const int delay = madeProgress ? 0 : retryBaseDelayMs << (part.tries - 1);
    auto *timer = new QTimer(this);
    timer->setSingleShot(true);
    part.retryTimer = timer;
    connect(timer, &QTimer::timeout, this, [this, index, timer] {
        const bool known = index < parts.size();
        if (known && parts[index].retryTimer == timer)
            parts[index].retryTimer = nullptr;
        timer->deleteLater();
        if (running() && known && !parts[index].reply && !parts[index].done())
            requestPart(index);
    });
    timer->start(delay);
}

void HttpTransfer::onTick()
{
    checkStalls();
    if (!running() || clock.elapsed() < nextCheckpoint)
        return;
    // What no write reports: a file removed under the transfer (on Unix the writes go on, into
    // nothing), a flush of the data that failed.
    const PartFile::Problem problem =
        file.stillAtPath() ? checkpoint.takeFlushProblem() : PartFile::Problem::Removed;
    if (problem != PartFile::Problem::None)
        fail(describeProblem(problem), problem != PartFile::Problem::Removed);
    else
        saveCheckpoint();
}

void HttpTransfer::checkStalls()
{
    const qint64 now = clock.elapsed();
    for (int i = 0; i < parts.size() && running(); ++i) {
        QNetworkReply *reply = parts[i].reply;
        if (!reply || now - parts[i].lastData < stallTimeoutMs)
            continue;
        if (reply->property("rejected").toBool()) {
            settleFailedAnswer(reply, i); // an error page that never ends is still an error
            continue;
        }
        const bool progressed = parts[i].offset > reply->property("startOffset").toLongLong();
        lastProblem = T(QStringLiteral("No data from the server"));
        parts[i].reply = nullptr;
        HttpSession::drop(reply, this);
        retryPart(i, progressed);
    }
}

void HttpTransfer::restartFromScratch()
{
    if (++restarts > kMaxRestarts) {
        fail(T(QStringLiteral("The file keeps changing on the server")));
        return;
    }
    task->stopTick();
    sendProbe();
    emit task->progressUpdated();
}

// ---- Saved progress and resuming ----------------------------------------------------------------

void HttpTransfer::saveCheckpoint()
{
    if (checkpoint.save(progress(), task->url(), file))
        nextCheckpoint = clock.elapsed() + kCheckpointIntervalMs;
}

TransferProgress HttpTransfer::progress() const
{
    TransferProgress p;
    if (parts.isEmpty() || task->totalSize < 1)
        return p;
    p.totalSize = task->totalSize;
    p.numParts = int(parts.size());
    for (const Part &part : parts) {
        p.partOffsets.append(part.offset);
        p.partStarts.append(part.start);
        p.partEnds.append(part.end);
    }
    p.etag = etag;
    p.lastModified = lastModified;
    return p.isValid() ? p : TransferProgress();
}

TransferProgress HttpTransfer::durableProgress() const
{
    switch (partsFrom) {
    case PartsFrom::ThisRun: return checkpoint.written();
    case PartsFrom::SavedList:
    case PartsFrom::CheckpointFile: return progress();
    default: return TransferProgress();
    }
}

void HttpTransfer::restore(const TransferProgress &progress)
{
    parts = QVector<Part>(progress.numParts);
    for (int i = 0; i < progress.numParts; ++i) {
        const PartRange range = progress.rangeOf(i);
        parts[i].start = range.first;
        parts[i].end = range.last;
        parts[i].offset = progress.partOffsets[i];
    }
    etag = progress.etag;
    lastModified = progress.lastModified;
    partsFrom = PartsFrom::SavedList;
    task->countFrom(progress.downloadedBytes());
}

qint64 HttpTransfer::adoptCheckpoint()
{
    if (partsFrom == PartsFrom::ThisRun)
        return -1;
    if (partsFrom != PartsFrom::CheckpointFile) {
        // Read now rather than when the list loads: only a task that resumes pays for it.
        const TransferProgress saved = Checkpoint::read(task->savePath(), task->url());
        if (!saved.isValid())
            return -1;
        task->totalSize = saved.totalSize;
        restore(saved);
        partsFrom = PartsFrom::CheckpointFile;
    }
    return task->downloadedSize;
}

void HttpTransfer::discardCheckpoint()
{
    checkpoint.remove();
}

void HttpTransfer::resume()
{
    restarts = 0;
    task->lastDlpMessage.clear();
    task->refusedCertificate = RefusedCertificate();
    useBrowserSession();
    if (!openFile())
        return;
    if (!parts.isEmpty())
        resumeParts();
    else
        resumeRestored();
}

void HttpTransfer::resumeParts()
{
    // The file must still be the one the offsets describe; anything else is fetched anew.
    if (file.size() != qMax<qint64>(task->totalSize, 0)) {
        sendProbe();
        return;
    }
    transferUrl = task->url();
    for (Part &part : parts)
        part.tries = part.redirects = 0;
    partsFrom = PartsFrom::ThisRun;
    nextCheckpoint = clock.elapsed() + kFirstCheckpointMs;
    task->startTick();
    if (allPartsDone()) {
        complete();
        return;
    }
    for (int i = 0; i < parts.size() && running(); ++i) {
        if (!parts[i].done() && !parts[i].reply)
            requestPart(i);
    }
    if (running())
        emit task->progressUpdated();
}

void HttpTransfer::resumeRestored()
{
    // Restored without part progress. A pre-sized file is as long as the download from its first
    // write, so its length proves nothing; only a shorter file is a prefix written in order.
    const qint64 total = task->totalSize;
    const qint64 existing = file.size();
    if (existing == total && task->downloadedSize >= total) {
        closeFile();
        checkpoint.remove();
        task->downloadedSize = total;
        task->setStatus(2);
        return;
    }
    if (existing >= total) {
        sendProbe(); // cannot tell which bytes are there: fetch it all again
        return;
    }
    transferUrl = task->url();
    task->countFrom(existing);
    Part rest;
    rest.offset = existing;
    rest.end = total - 1;
    parts = {rest};
    partsFrom = PartsFrom::ThisRun;
    if (!file.resize(total)) {
        fail(describeProblem(file.problem()));
        return;
    }
    nextCheckpoint = clock.elapsed() + kFirstCheckpointMs;
    task->startTick();
    requestPart(0);
    emit task->progressUpdated();
}

// ---- Endings ------------------------------------------------------------------------------------

bool HttpTransfer::allPartsDone() const
{
    for (const Part &part : parts) {
        if (!part.done())
            return false;
    }
    return !parts.isEmpty();
}

void HttpTransfer::complete()
{
    stop();
    // Every write succeeded, into a file that someone removed meanwhile: not a download.
    if (!file.stillAtPath()) {
        fail(describeProblem(PartFile::Problem::Removed), false);
        return;
    }
    closeFile();
    checkpoint.remove();
    const QFileInfo info(task->savePath());
    if (info.exists() && info.size() >= 1)
        task->totalSize = info.size();
    task->downloadedSize = task->totalSize;
    task->currentSpeed = 0.0;
    task->setStatus(2);
}

// Every failure of the transfer ends here.
void HttpTransfer::fail(const QString &reason, bool keepCheckpoint)
{
    stop();
    if (keepCheckpoint)
        saveCheckpoint();
    else
        checkpoint.remove();
    task->lastDlpMessage = reason;
    // Closed so that the user can delete or move it; a resume opens it again.
    closeFile();
    task->currentSpeed = 0.0;
    task->setStatus(3);
}

void HttpTransfer::pause()
{
    stop();
    saveCheckpoint();
}

void HttpTransfer::refuse(const RefusedCertificate &certificate)
{
    task->refusedCertificate = certificate;
    fail(certificate.reason);
}

void HttpTransfer::stop()
{
    probe->cancel();
    for (Part &part : parts) {
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

void HttpTransfer::closeFile()
{
    file.close();
}

bool HttpTransfer::openFile()
{
    if (file.open())
        return true;
    fail(T(QStringLiteral("Cannot open the file")));
    return false;
}
