#include "engine/http/httptransfer.h"

#include "engine/bandwidthlimiter.h"
#include "engine/http/completioncheck.h"
#include "engine/http/hostlogins.h"
#include "engine/http/httpprobe.h"
#include "engine/http/httpsession.h"
#include "engine/http/partconnections.h"
#include "engine/http/retryschedule.h"
#include "engine/http/webpageanswer.h"
#include "engine/networkwatch.h"
#include "language/translation.h"

#include <QFileInfo>
#include <QRandomGenerator>
#include <QTimer>

namespace {

// A server that keeps changing the file under us (or its validators) is given up after this many
// fresh starts, rather than spliced or fetched forever.
constexpr int kMaxRestarts = 3;

// When a running transfer records where its parts stand besides its pauses, failures and part
// completions. A crash in the first two seconds of a run costs at most those two seconds even
// without a record (a fast download may well be over by then, and its data never waits for the
// disk), so the first comes then and the next ones on every other 500 ms tick: a crash costs
// about a second of transfer, plus the time of one flush.
constexpr qint64 kFirstCheckpointMs = 1900;
constexpr qint64 kCheckpointIntervalMs = 900;

} // namespace

HttpTransfer::HttpTransfer(const QUrl &link, const QString &savePath,
                           const TransferFigures &figures, QObject *parent)
    : QObject(parent), link(link), savePath(savePath), figures(figures),
      session(new HttpSession(this)), probe(new HttpProbe(session, this)), file(savePath),
      checkpoint(savePath), connections(new PartConnections(session, file, figures, this)),
      check(new CompletionCheck(session, this)), probeRetry(new QTimer(this))
{
    probeRetry->setSingleShot(true);
    connect(probeRetry, &QTimer::timeout, this, [this] {
        if (running())
            probe->send(this->link, stallTimeoutMs);
    });
    connect(NetworkWatch::shared(), &NetworkWatch::regained, this, &HttpTransfer::retryNow);
    // Data again: whatever was down is back.
    connect(connections, &PartConnections::progressed, this, &HttpTransfer::endWaiting);
    connect(check, &CompletionCheck::finished, this, &HttpTransfer::checked);
    connections->fileName = QFileInfo(savePath).fileName();
    connect(connections, &PartConnections::progressed, this, &HttpTransfer::progressed);
    connect(connections, &PartConnections::recounted, this, &HttpTransfer::recounted);
    connect(probe, &HttpProbe::answered, this, &HttpTransfer::beginTransfer);
    connect(connections, &PartConnections::completed, this, &HttpTransfer::complete);
    connect(connections, &PartConnections::failed, this,
            [this](const QString &reason) { fail(reason); });
    connect(connections, &PartConnections::refused, this, &HttpTransfer::refuse);
    connect(connections, &PartConnections::loginNeeded, this, &HttpTransfer::askLogin);
    connect(connections, &PartConnections::fileChanged, this, &HttpTransfer::restartFromScratch);
    connect(connections, &PartConnections::wrongRange, this, &HttpTransfer::fetchOverOneConnection);
    connect(connections, &PartConnections::partBroken, this, &HttpTransfer::retryPart);
    connect(connections, &PartConnections::partDone, this, &HttpTransfer::saveCheckpoint);
    clock.start();
}

bool HttpTransfer::running() const
{
    return connections->active;
}

void HttpTransfer::useBrowserSession(const BrowserSession &session, bool webPageAccepted)
{
    browser = session;
    connections->webPageAccepted = webPageAccepted;
}

void HttpTransfer::setBandwidthLimiter(BandwidthLimiter *limiter)
{
    if (connections->limiter && connections->limiter != limiter)
        connections->limiter->setOwnerLimit(connections, 0);
    connections->limiter = limiter;
    if (limiter)
        limiter->setOwnerLimit(connections, ownLimit);
}

// The connections' streams are what the limiter holds to it.
void HttpTransfer::setSpeedLimit(qint64 bytesPerSecond)
{
    ownLimit = qMax<qint64>(bytesPerSecond, 0);
    if (connections->limiter)
        connections->limiter->setOwnerLimit(connections, ownLimit);
}

void HttpTransfer::setExpectedChecksum(const ExpectedChecksum &expected)
{
    userDigest = expected;
}

// ---- A fresh start ------------------------------------------------------------------------------

void HttpTransfer::start()
{
    beginRun();
    sendProbe();
}

void HttpTransfer::beginRun()
{
    restarts = 0;
    endWaiting();
    connections->active = true;
    figures.lastDlpMessage.clear();
    result = ChecksumResult();
    connections->clearProblems();
    session->setBrowserSession(browser, link);
}

void HttpTransfer::sendProbe()
{
    stop();
    // A fresh transfer: the counters start from an empty file, as the views will show it.
    connections->parts.clear();
    partsFrom = PartsFrom::Nothing;
    figures.totalSize = 0;
    figures.downloadedSize = 0;
    emit recounted();
    figures.currentSpeed = 0.0;
    connections->etag.clear();
    connections->lastModified.clear();
    connections->probeType.clear();
    serverDigest = ExpectedChecksum();
    // A probe that never answers falls through to the single connection, which has its own
    // stall handling.
    probe->send(link, stallTimeoutMs);
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
    if (!answer.login.isNull()) {
        askLogin(answer.login);
        return;
    }
    if (answer.transient) {
        waitOutProbe(answer);
        return;
    }
    // A login page is no file; only the user, told so when adding the link, may take it.
    if (answer.status < 400 && !connections->webPageAccepted &&
        isPageInsteadOfFile(answer.contentType, connections->fileName)) {
        fail(pageInsteadOfFileText());
        return;
    }
    if (answer.status < 400)
        connections->probeType = answer.contentType;
    serverDigest = answer.digest;
    figures.totalSize = answer.total;
    connections->etag = answer.etag;
    connections->lastModified = answer.lastModified;
    if (!openFile())
        return;
    connections->url = answer.finalUrl;
    const bool segmented = answer.total > 0 && answer.status < 400;
    const qint64 total = segmented ? answer.total : 0;
    figures.totalSize = total;
    const int count = segmented ? partCountFor(total) : 1;
    // A single stream empties the file only once its answer is the file (PartConnections): an
    // error answer leaves whatever was there.
    if (segmented && !file.resize(total)) {
        fail(describeProblem(file.problem()));
        return;
    }
    QVector<PartConnections::Part> &parts = connections->parts;
    parts = QVector<PartConnections::Part>(count);
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
    emit transferring();
    for (int i = 0; i < count && running(); ++i)
        connections->request(i);
}

// ---- What becomes of the parts ------------------------------------------------------------------

// Another version of the file on the server: never spliced with the bytes of this one.
void HttpTransfer::restartFromScratch()
{
    if (++restarts > kMaxRestarts) {
        fail(T(QStringLiteral("The file keeps changing on the server")));
        return;
    }
    emit restarting();
    sendProbe();
    emit progressed();
}

// Bytes of some other range than a part asked for are useless at its offsets: the whole file is
// fetched over one connection instead.
void HttpTransfer::fetchOverOneConnection()
{
    if (++restarts > kMaxRestarts) {
        fail(T(QStringLiteral("The file keeps changing on the server")));
        return;
    }
    connections->planSingleConnection(figures.totalSize);
    connections->request(0);
}

// A part that made progress is asked again at once; one that did not waits twice as long on every
// try. An outage is waited out for as long as the user allows; any other failure is given up
// after a few tries.
void HttpTransfer::retryPart(int index, bool madeProgress)
{
    if (!running())
        return;
    PartConnections::Part &part = connections->parts[index];
    if (part.transient) {
        part.waits = madeProgress ? 0 : part.waits + 1;
        if (!outage.goesOn(connections->failureReason())) {
            fail(outage.reason());
            return;
        }
        qint64 wait = 0;
        if (!madeProgress)
            wait = part.retryAfterMs >= 0
                       ? part.retryAfterMs
                       : backoffDelayMs(part.waits - 1, retryBaseDelayMs,
                                        QRandomGenerator::global()->generateDouble());
        connections->retryAfter(index, int(outage.within(wait)));
        showWaiting();
        return;
    }
    part.tries = madeProgress ? 0 : part.tries + 1;
    if (part.tries >= kMaxTriesPerPart) {
        fail(connections->failureReason());
        return;
    }
    // Half the outage's first wait: these few tries are over in about fifteen seconds.
    connections->retryAfter(index, madeProgress ? 0 : (retryBaseDelayMs / 2) << (part.tries - 1));
}

// The probe found the server away: asked again after the same growing waits as a part.
void HttpTransfer::waitOutProbe(const ProbeAnswer &answer)
{
    if (!outage.goesOn(answer.problem)) {
        fail(outage.reason());
        return;
    }
    probeRetry->start(
        int(outage.within(outage.nextProbeWait(answer.retryAfterMs, retryBaseDelayMs))));
    emit transferring(); // the refresh tick counts down
    showWaiting();
}

void HttpTransfer::showWaiting()
{
    if (!outage.underWay() || !running())
        return;
    const int next =
        probeRetry->isActive() ? probeRetry->remainingTime() : connections->nextRetryInMs();
    figures.retryInSeconds = next <= 0 ? 0 : (next + 999) / 1000;
    figures.lastDlpMessage = outage.reason();
}

void HttpTransfer::endWaiting()
{
    if (!outage.underWay())
        return;
    outage.end();
    if (figures.retryInSeconds >= 0) {
        figures.retryInSeconds = -1;
        figures.lastDlpMessage.clear();
    }
}

// The network is back: every wait ends now.
void HttpTransfer::retryNow()
{
    if (!running() || !outage.underWay())
        return;
    if (probeRetry->isActive())
        probeRetry->start(0);
    connections->retryNow();
}

void HttpTransfer::onTick()
{
    connections->checkStalls(stallTimeoutMs);
    showWaiting();
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

// ---- Saved progress and resuming ----------------------------------------------------------------

void HttpTransfer::saveCheckpoint()
{
    if (checkpoint.save(progress(), link, file))
        nextCheckpoint = clock.elapsed() + kCheckpointIntervalMs;
}

TransferProgress HttpTransfer::progress() const
{
    TransferProgress p;
    const QVector<PartConnections::Part> &parts = connections->parts;
    if (parts.isEmpty() || figures.totalSize < 1)
        return p;
    p.totalSize = figures.totalSize;
    p.numParts = int(parts.size());
    for (const PartConnections::Part &part : parts) {
        p.partOffsets.append(part.offset);
        p.partStarts.append(part.start);
        p.partEnds.append(part.end);
    }
    p.etag = connections->etag;
    p.lastModified = connections->lastModified;
    p.contentType = connections->probeType;
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
    QVector<PartConnections::Part> &parts = connections->parts;
    parts = QVector<PartConnections::Part>(progress.numParts);
    for (int i = 0; i < progress.numParts; ++i) {
        const PartRange range = progress.rangeOf(i);
        parts[i].start = range.first;
        parts[i].end = range.last;
        parts[i].offset = progress.partOffsets[i];
    }
    connections->etag = progress.etag;
    connections->lastModified = progress.lastModified;
    connections->probeType = progress.contentType;
    partsFrom = PartsFrom::SavedList;
    figures.downloadedSize = progress.downloadedBytes();
    emit recounted();
}

qint64 HttpTransfer::adoptCheckpoint()
{
    if (partsFrom == PartsFrom::ThisRun)
        return -1;
    // Read now rather than when the list loads: only a task that resumes (or comes into view)
    // pays for it.
    if (partsFrom != PartsFrom::CheckpointFile &&
        !adoptCheckpoint(Checkpoint::read(savePath, link)))
        return -1;
    return figures.downloadedSize;
}

bool HttpTransfer::adoptCheckpoint(const TransferProgress &saved)
{
    if (partsFrom == PartsFrom::ThisRun || !saved.isValid())
        return false;
    figures.totalSize = saved.totalSize;
    restore(saved);
    partsFrom = PartsFrom::CheckpointFile;
    return true;
}

void HttpTransfer::discardCheckpoint()
{
    checkpoint.remove();
}

void HttpTransfer::moveLink(const QUrl &newLink, const QByteArray &etag,
                            const QByteArray &lastModified, const QByteArray &contentType)
{
    if (running())
        return;
    link = newLink;
    connections->url = newLink;
    connections->etag = etag;
    connections->lastModified = lastModified;
    connections->probeType = contentType;
}

int HttpTransfer::failedStatus() const
{
    return connections->lastStatus;
}

void HttpTransfer::resume()
{
    beginRun();
    if (!openFile())
        return;
    if (!connections->parts.isEmpty())
        resumeParts();
    else
        resumeRestored();
}

void HttpTransfer::resumeParts()
{
    // The file must still be the one the offsets describe; anything else is fetched anew.
    if (file.size() != qMax<qint64>(figures.totalSize, 0)) {
        sendProbe();
        return;
    }
    connections->url = link;
    QVector<PartConnections::Part> &parts = connections->parts;
    // A record from the disk may claim a part whole that the file never got (edited by hand, or
    // a server that changed the file without a word): its parts that claim to be written are
    // compared too. After a pause in this run the offsets are this run's own writes.
    const bool fromRecord = partsFrom != PartsFrom::ThisRun;
    for (PartConnections::Part &part : parts) {
        part.tries = part.waits = part.redirects = 0;
        if (fromRecord || !part.done())
            part.verify =
                qBound<qint64>(0, part.offset - part.start, PartConnections::ResumeOverlap);
    }
    partsFrom = PartsFrom::ThisRun;
    nextCheckpoint = clock.elapsed() + kFirstCheckpointMs;
    emit transferring();
    if (connections->allPartsDone()) {
        complete();
        return;
    }
    for (int i = 0; i < parts.size() && running(); ++i) {
        if (!parts[i].done() && !parts[i].reply)
            connections->request(i);
    }
    if (running())
        emit progressed();
}

void HttpTransfer::resumeRestored()
{
    // Restored without part progress. A pre-sized file is as long as the download from its first
    // write, so its length proves nothing; only a shorter file is a prefix written in order.
    const qint64 total = figures.totalSize;
    const qint64 existing = file.size();
    if (existing == total && figures.downloadedSize >= total) {
        closeFile();
        checkpoint.remove();
        figures.downloadedSize = total;
        connections->active = false;
        emit completed();
        return;
    }
    if (existing >= total) {
        sendProbe(); // cannot tell which bytes are there: fetch it all again
        return;
    }
    connections->url = link;
    figures.downloadedSize = existing;
    emit recounted();
    PartConnections::Part rest;
    rest.offset = existing;
    rest.verify = qMin(PartConnections::ResumeOverlap, existing);
    rest.end = total - 1;
    connections->parts = {rest};
    partsFrom = PartsFrom::ThisRun;
    if (!file.resize(total)) {
        fail(describeProblem(file.problem()));
        return;
    }
    nextCheckpoint = clock.elapsed() + kFirstCheckpointMs;
    emit transferring();
    connections->request(0);
    emit progressed();
}

// ---- Endings ------------------------------------------------------------------------------------

void HttpTransfer::complete()
{
    stop();
    // Every write succeeded, into a file that someone removed meanwhile: not a download.
    if (!file.stillAtPath()) {
        fail(describeProblem(PartFile::Problem::Removed), false);
        return;
    }
    // The first part may have ended before its bytes told a page from a file (a page that opens
    // with more blank lines than the part holds): the whole file's first bytes decide it now.
    const QByteArray head = file.readAt(0, kPageSniffLength);
    closeFile();
    if (sniffPageInsteadOfFile(head, true, connections->fileName, connections->webPageAccepted) ==
        PageSniff::Page) {
        forgetParts();
        fail(pageInsteadOfFileText(), false);
        return;
    }
    checkpoint.remove();
    const QFileInfo info(savePath);
    if (info.exists() && info.size() >= 1)
        figures.totalSize = info.size();
    figures.downloadedSize = figures.totalSize;
    figures.currentSpeed = 0.0;
    result = ChecksumResult();
    QList<ExpectedChecksum> known;
    for (const ExpectedChecksum &digest : {userDigest, serverDigest}) {
        if (digest.valid)
            known.append(digest);
    }
    emit checking();
    check->start(savePath, link, known);
}

void HttpTransfer::checked(const ChecksumResult &outcome)
{
    if (!running())
        return;
    result = outcome;
    if (outcome.state == ChecksumResult::Mismatch) {
        forgetParts();
        fail(T(QStringLiteral("Checksum mismatch")), false);
        return;
    }
    if (outcome.state == ChecksumResult::Unreadable) {
        fail(T(QStringLiteral("Cannot read the file")), false);
        return;
    }
    connections->active = false;
    emit completed();
}

// The bytes on the disk are not the file, whatever parts they came in: a retry fetches it anew,
// also after a restart (the saved list then holds no count that claims them).
void HttpTransfer::forgetParts()
{
    connections->parts.clear();
    partsFrom = PartsFrom::Nothing;
    figures.downloadedSize = 0;
    emit recounted();
}

// Every failure of the transfer ends here.
void HttpTransfer::fail(const QString &reason, bool keepCheckpoint)
{
    stop();
    endWaiting();
    if (keepCheckpoint)
        saveCheckpoint();
    else
        checkpoint.remove();
    figures.lastDlpMessage = reason;
    // Closed so that the user can delete or move it; a resume opens it again.
    closeFile();
    figures.currentSpeed = 0.0;
    connections->active = false;
    emit failed();
}

void HttpTransfer::pause()
{
    connections->active = false;
    stop();
    endWaiting();
    saveCheckpoint();
}

void HttpTransfer::refuse(const RefusedCertificate &certificate)
{
    emit refused(certificate);
    fail(certificate.reason);
}

void HttpTransfer::askLogin(const LoginRequest &request)
{
    emit loginNeeded(request);
    fail(loginRequiredText(request));
}

void HttpTransfer::stop()
{
    probe->cancel();
    probeRetry->stop();
    connections->stop();
    check->stop();
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
