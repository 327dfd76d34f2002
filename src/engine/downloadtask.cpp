#include "engine/downloadtask.h"

#include "engine/bandwidthlimiter.h"
#include "engine/categories.h"
#include "engine/http/httptransfer.h"
#include "engine/media/mediarun.h"
#include "engine/speedwindow.h"
#include "engine/storage/checkpoint.h"
#include "engine/taskgate.h"

#include <QFileInfo>
#include <QTimer>

DownloadTask::DownloadTask(QUrl url, QString savePath, QString format, QObject *parent)
    : QObject(parent), m_format(std::move(format)), m_url(std::move(url)),
      m_savePath(std::move(savePath))
{
    fileName = QFileInfo(m_savePath).fileName();
    category = categoryForFileName(fileName);
    mediaMode =
        containsMediaHost(m_url.host(QUrl::FullyDecoded)) || category == QLatin1String("Videos");
    speedTimer.start();
}

DownloadTask::~DownloadTask()
{
    cancel();
}

QUrl DownloadTask::url() const
{
    return m_url;
}

QString DownloadTask::savePath() const
{
    return m_savePath;
}

QString DownloadTask::sourcePage() const
{
    if (!browserSession.page.isEmpty())
        return browserSession.page;
    if (!browserSession.referrer.isEmpty())
        return browserSession.referrer;
    return m_url.toString();
}

bool DownloadTask::mayChangeLink() const
{
    return !mediaMode && ((status == 0 && !queued) || status == 3);
}

bool DownloadTask::waitsForNewLink() const
{
    const int gone = failedHttpStatus;
    return mayChangeLink() && totalSize > 0 &&
           (status == 0 || gone == 403 || gone == 404 || gone == 410);
}

LinkFacts DownloadTask::linkFacts()
{
    adoptCheckpoint(); // a restored download knows its parts from its checkpoint
    const TransferProgress progress = http ? http->progress() : TransferProgress();
    if (progress.isValid())
        return linkFactsOf(fileName, m_savePath, progress);
    LinkFacts facts; // nothing known to be on the disk: the size alone
    facts.fileName = fileName;
    facts.totalSize = totalSize;
    return facts;
}

void DownloadTask::continueWithLink(const QUrl &link, const BrowserSession &session,
                                    const LinkAnswer &answer)
{
    if (!mayChangeLink())
        return;
    adoptCheckpoint(); // read under the old link, which the checkpoint names
    changeLink(link, session);
    httpTransfer()->moveLink(link, answer.etag, answer.lastModified, answer.contentType);
    resume();
}

void DownloadTask::startOverWithLink(const QUrl &link, const BrowserSession &session)
{
    if (!mayChangeLink())
        return;
    discardCheckpoint();
    changeLink(link, session);
    httpTransfer()->moveLink(link, {}, {}, {});
    countFrom(0);
    start();
}

void DownloadTask::changeLink(const QUrl &link, const BrowserSession &session)
{
    BrowserSession next = session;
    next.page = sourcePage();
    m_url = link;
    browserSession = next;
    failedHttpStatus = 0;
}

void DownloadTask::start()
{
    if (status == 1 || status == 2 || !mayRun())
        return;
    if (!enterRun())
        return;
    if (mediaMode) {
        mediaRun()->start(browserSession, runLimiter(), ownLimit);
    } else {
        httpTransfer()->useBrowserSession(browserSession, webPageAccepted);
        http->setExpectedChecksum(expectedChecksum);
        http->start();
    }
}

void DownloadTask::pause()
{
    if (queued) {
        queued = false;
        if (queue)
            queue->withdraw(this);
        setStatus(0);
        return;
    }
    if (status != 1)
        return;
    currentSpeed = 0.0;
    checking = false; // a resume checks the file again
    if (media)
        media->stop();
    else if (http)
        http->pause(); // the file stays open for the resume
    setStatus(0);
}

void DownloadTask::resume()
{
    if (status == 1 || status == 2 || !mayRun())
        return;
    adoptCheckpoint();
    if (mediaMode || totalSize <= 0) {
        start();
        return;
    }
    if (!enterRun())
        return;
    httpTransfer()->useBrowserSession(browserSession, webPageAccepted);
    http->setExpectedChecksum(expectedChecksum);
    http->resume();
}

// A listener of the change to running may already have paused the task again; then no run
// begins. The certificate refused by an earlier run says nothing about this one.
bool DownloadTask::enterRun()
{
    setStatus(1);
    if (status != 1)
        return false;
    refusedCertificate = RefusedCertificate();
    loginRequest = LoginRequest();
    checksum = ChecksumResult();
    return true;
}

void DownloadTask::downloadAgain()
{
    if (status != 2)
        return;
    countFrom(0);
    status = 0; // start() announces the change to running
    start();
}

void DownloadTask::cancel()
{
    pause();
    if (media)
        media->stop();
    else if (http)
        http->closeFile(); // so that the user can delete or move it
    setStatus(4);
}

TransferProgress DownloadTask::transferProgress() const
{
    if (!http || status == 2)
        return TransferProgress();
    return http->durableProgress();
}

void DownloadTask::restoreTransferProgress(const TransferProgress &progress)
{
    if (mediaMode || status == 1 || !progress.isValid() || progress.totalSize != totalSize)
        return;
    httpTransfer()->restore(progress);
}

qint64 DownloadTask::adoptCheckpoint()
{
    if (mediaMode || status == 1 || status == 2)
        return -1;
    if (!http && shownCheckpoint) {
        const std::unique_ptr<TransferProgress> shown = std::move(shownCheckpoint);
        return httpTransfer()->adoptCheckpoint(*shown) ? downloadedSize : -1;
    }
    return httpTransfer()->adoptCheckpoint();
}

void DownloadTask::discardCheckpoint()
{
    if (http)
        http->discardCheckpoint();
    else if (!mediaMode)
        Checkpoint::discard(m_savePath); // left by an earlier run of the program
}

void DownloadTask::showCheckpoint()
{
    if (checkpointShown || mediaMode || status == 1 || status == 2)
        return;
    checkpointShown = true;
    // A task with a transfer already (restored part progress) takes the checkpoint through it.
    // One without keeps what it read for resume(): a list scrolled through makes no transfers.
    if (http) {
        if (http->adoptCheckpoint() < 0)
            return;
    } else {
        TransferProgress saved = Checkpoint::read(m_savePath, m_url);
        if (!saved.isValid())
            return;
        totalSize = saved.totalSize;
        downloadedSize = saved.downloadedBytes();
        shownCheckpoint = std::make_unique<TransferProgress>(std::move(saved));
    }
    emit progressUpdated();
}

void DownloadTask::setBandwidthLimiter(BandwidthLimiter *newLimiter)
{
    limiter = newLimiter;
    if (http)
        http->setBandwidthLimiter(runLimiter());
    if (limiter && ownLimiter) { // the shared one holds the own limit from now on
        ownLimiter->deleteLater();
        ownLimiter = nullptr;
    }
}

void DownloadTask::setSpeedLimit(qint64 bytesPerSecond)
{
    bytesPerSecond = qMax<qint64>(bytesPerSecond, 0);
    if (bytesPerSecond == ownLimit)
        return;
    ownLimit = bytesPerSecond;
    if (http) {
        http->setBandwidthLimiter(runLimiter());
        http->setSpeedLimit(ownLimit);
    }
    emit speedLimitChanged();
}

BandwidthLimiter *DownloadTask::runLimiter()
{
    if (limiter)
        return limiter;
    if (ownLimit > 0 && !ownLimiter)
        ownLimiter = new BandwidthLimiter(this);
    return ownLimiter;
}

void DownloadTask::setQueue(TaskGate *newQueue)
{
    queue = newQueue;
}

// Without a free slot the task waits in line, shown as paused and queued; a failed or canceled
// task that is retried waits the same way. The queue runs it again when its turn comes.
bool DownloadTask::mayRun()
{
    if (!queue || queue->admit(this)) {
        queued = false;
        return true;
    }
    if (!queued || status != 0) {
        queued = true;
        setStatus(0);
    }
    return false;
}

void DownloadTask::setStallTimeoutMs(int ms)
{
    stallTimeoutMs = ms;
    if (http)
        http->stallTimeoutMs = ms;
}

void DownloadTask::setRetryBaseDelayMs(int ms)
{
    retryBaseDelayMs = ms;
    if (http)
        http->retryBaseDelayMs = ms;
}

// A list holds thousands of idle tasks: the helper with its network access and file, and the
// refresh timer, are made when a task first runs, so an idle task costs a few hundred bytes.
// The helper keeps this task's figures; its reports become the task's status here.
HttpTransfer *DownloadTask::httpTransfer()
{
    if (http)
        return http;
    http = new HttpTransfer(m_url, m_savePath, figures(), this);
    http->stallTimeoutMs = stallTimeoutMs;
    http->retryBaseDelayMs = retryBaseDelayMs;
    http->setSpeedLimit(ownLimit);
    http->setBandwidthLimiter(runLimiter());
    connect(http, &HttpTransfer::progressed, this, &DownloadTask::progressUpdated);
    connect(http, &HttpTransfer::transferring, this, &DownloadTask::startTick);
    connect(http, &HttpTransfer::restarting, this, &DownloadTask::stopTick);
    connect(http, &HttpTransfer::recounted, this, &DownloadTask::recount);
    connect(http, &HttpTransfer::refused, this,
            [this](const RefusedCertificate &certificate) { refusedCertificate = certificate; });
    connect(http, &HttpTransfer::loginNeeded, this, [this](const LoginRequest &request) {
        loginRequest = request;
        emit loginRequired();
    });
    connect(http, &HttpTransfer::checking, this, [this] {
        checking = true;
        stopTick();
        emit progressUpdated();
    });
    connect(http, &HttpTransfer::completed, this, [this] {
        checking = false;
        checksum = http->checksum();
        setStatus(2);
    });
    connect(http, &HttpTransfer::failed, this, [this] {
        checking = false;
        failedHttpStatus = http->failedStatus();
        checksum = http->checksum();
        setStatus(3);
    });
    return http;
}

TransferFigures DownloadTask::figures()
{
    return {totalSize, downloadedSize, currentSpeed, lastDlpMessage, dlpEtaStr, retryInSeconds};
}

MediaRun *DownloadTask::mediaRun()
{
    if (media)
        return media;
    media = new MediaRun(m_url, m_savePath, m_format, figures(), this);
    connect(media, &MediaRun::progressed, this, &DownloadTask::progressUpdated);
    connect(media, &MediaRun::transferring, this, &DownloadTask::startTick);
    connect(media, &MediaRun::completed, this, [this] { setStatus(2); });
    connect(media, &MediaRun::failed, this, [this] { setStatus(3); });
    return media;
}

SpeedWindow &DownloadTask::window()
{
    if (!speedWindow)
        speedWindow = std::make_unique<SpeedWindow>();
    return *speedWindow;
}

// The one place where the status changes. Entering "running" is silent but for statusChanged()
// (the list is saved on every change): the helper reports once it has something to show. Any
// other status stops the refresh and tells the listeners. Whoever
// ended a run has stopped its work before (pause() and cancel() here, the helper when its run ends
// by itself), so nothing of the old run reports after the listeners have heard of the end, and a
// listener may delete the task on the signal.
void DownloadTask::setStatus(int newStatus)
{
    const bool changed = status != newStatus;
    status = newStatus;
    if (changed)
        emit statusChanged();
    if (newStatus == 1)
        return;
    stopTick();
    if (newStatus == 2) {
        browserSession = BrowserSession(); // nothing left to ask for
        emit finished();
    }
    emit progressUpdated();
}

// The refresh tick: progress is shown twice a second even when no data arrives. The speed counts
// from here, so the first figure after a start or resume comes with the first tick.
void DownloadTask::startTick()
{
    if (!uiTimer) {
        uiTimer = new QTimer(this);
        connect(uiTimer, &QTimer::timeout, this, &DownloadTask::updateSpeed);
    }
    window().reset(speedTimer.elapsed(), downloadedSize);
    uiTimer->start(500);
}

void DownloadTask::stopTick()
{
    if (uiTimer)
        uiTimer->stop();
}

// The count starts again (a fresh start, a restored task): the speed measures from here instead
// of reading the drop as a negative speed.
void DownloadTask::countFrom(qint64 bytes)
{
    downloadedSize = bytes;
    recount();
}

void DownloadTask::recount()
{
    window().reset(speedTimer.elapsed(), downloadedSize);
}

void DownloadTask::updateSpeed()
{
    if (status != 1)
        return;
    window().add(speedTimer.elapsed(), downloadedSize);
    currentSpeed = window().rate();
    if (http)
        http->onTick();
    if (status == 1)
        emit progressUpdated();
}
