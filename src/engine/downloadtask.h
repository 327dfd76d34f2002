#pragma once

#include "engine/http/browsersession.h"
#include "engine/http/hostlogins.h"
#include "engine/http/linkcheck.h"
#include "engine/http/trustedcertificates.h"
#include "engine/storage/checksumtext.h"
#include "engine/storage/transferprogress.h"
#include "engine/transferfigures.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <memory>

class BandwidthLimiter;
class HttpTransfer;
class MediaRun;
class QTimer;
class SpeedWindow;
class TaskGate;

// One download. Views read the public fields directly and refresh on progressUpdated().
//
// status: 0 paused or not started, 1 running, 2 done, 3 error, 4 canceled.
//
// The task holds what the views show, the 500 ms refresh with its speed sample, and the one place
// where the status changes. The transfer itself is done by a helper chosen from the link when the
// task is made and created when it first runs: HttpTransfer for a segmented HTTP download,
// MediaRun for the external media tool. The helper keeps the task's figures current and reports
// through its signals, which the task turns into its status; it knows nothing of the task.
class DownloadTask : public QObject {
    Q_OBJECT

public:
    DownloadTask(QUrl url, QString savePath, QString format, QObject *parent = nullptr);
    ~DownloadTask() override;

    QString fileName;
    QString category;
    QString m_format;
    // The one line the views show about the run: the media tool's latest message, or why a
    // download failed.
    QString lastDlpMessage;
    QString dlpEtaStr;
    // The server or the network is away and the download waits it out, still running: seconds
    // until it asks again (0 while it is asking), with lastDlpMessage saying why; -1 otherwise.
    int retryInSeconds = -1;
    // The server certificate that ended the latest run in error, which the user may trust; null
    // when the run did not end that way.
    RefusedCertificate refusedCertificate;
    // The server that ended the latest run in error because it wants a login: the window asks
    // the user (loginRequired()), and a resume with the login given continues. Null when the run
    // did not end that way.
    LoginRequest loginRequest;
    // The HTTP status of the error answer that ended the latest run in error; 0 when none did.
    int failedHttpStatus = 0;
    qint64 totalSize = 0;
    qint64 downloadedSize = 0;
    double currentSpeed = 0.0;
    int status = 0;
    // Waiting in its queue for a free slot (see setQueue); the status stays 0 meanwhile.
    bool queued = false;
    // What the browser sends with the link (Referer, User-Agent, cookies), used by every request
    // from the next start or resume on; its cookie goes only to the link's host. Forgotten once
    // the download is done.
    BrowserSession browserSession;
    // The user was told that the server answers with a web page and took it all the same;
    // otherwise a web page for a file whose name says otherwise ends the run in error.
    bool webPageAccepted = false;
    // A digest the user expects the file to have; checked at completion with any the server
    // gives. Not kept in the saved list.
    ExpectedChecksum expectedChecksum;
    // How the file compared with the digests known for it when the download completed: Verified
    // (shown with its algorithm and where the digest came from), or Mismatch (the run failed with
    // "Checksum mismatch"); None when there was none. `checking` while that runs, still in
    // status 1.
    ChecksumResult checksum;
    bool checking = false;

    void start();
    void pause();
    void resume();
    void cancel();
    // A finished download whose file has gone since (moved or deleted by the user) is fetched
    // again from the start; nothing happens to a task in any other state.
    void downloadAgain();
    QUrl url() const;
    QString savePath() const;

    // The page the download came from: the one kept from before its link was replaced, else the
    // Referer the browser gave, else the link itself.
    QString sourcePage() const;
    // A paused or failed segmented download may go on from another link to the same file.
    bool mayChangeLink() const;
    // One of known size that waits for a new link: paused, or failed because its link no longer
    // serves the file (403, 404, 410), as when a signed link has expired.
    bool waitsForNewLink() const;
    // What a new link must serve unchanged (see LinkCheck): the size, the validators and a sample
    // of the bytes on the disk.
    LinkFacts linkFacts();
    // Goes on from `link`, which LinkCheck found serving the same file (`answer`): the link and
    // the browser session are replaced (the source page is kept), and every part continues from
    // the bytes on the disk.
    void continueWithLink(const QUrl &link, const BrowserSession &session,
                          const LinkAnswer &answer);
    // Fetches the file anew from `link` into the same file; nothing on the disk is kept.
    void startOverWithLink(const QUrl &link, const BrowserSession &session);

    bool isMediaTask() const { return mediaMode; }
    // Running, or waiting in the queue to run: what pause() stops.
    bool isActive() const { return status == 1 || queued; }

    // Part progress of a segmented transfer, for saving beside the task list: only what is known
    // to be on the disk. Invalid (see TransferProgress::isValid) when there is nothing a restart
    // could continue.
    TransferProgress transferProgress() const;
    // Gives a task restored from the saved list the progress it had, so that resume() continues
    // each part where it stopped. Ignored unless valid, matching totalSize, and the task is idle.
    void restoreTransferProgress(const TransferProgress &progress);

    // A segmented transfer keeps a checkpoint beside its file ("<file>.torvane") while it runs,
    // and resume() continues from it after a crash or a restart. adoptCheckpoint() does that part
    // of resume() ahead of it: it returns the bytes resume() will continue from, or -1 when there
    // is no checkpoint for this link and resume() will start afresh.
    qint64 adoptCheckpoint();
    // Removes the checkpoint; for a task that leaves the list. Completion removes it by itself.
    void discardCheckpoint();
    // A task restored from the saved list shows where its download stands before it resumes:
    // the size and bytes of its checkpoint, read the first time a view of it asks (its card
    // coming into view, its details dialog) and never again; resume() continues from that.
    // Reports progress when it learnt something. Nothing for a media task, nor for one that runs
    // or is done.
    void showCheckpoint();

    // The speed limit this task shares with the other downloads; without one (the default) it
    // runs as fast as it can. Set it before start(): a run keeps the limiter it started with.
    void setBandwidthLimiter(BandwidthLimiter *limiter);
    // This download's own speed limit in bytes per second, inside the shared one (both apply);
    // 0 for none. A running HTTP transfer keeps to a new one at once; the media tool is given
    // it when it starts. Without a shared limiter the task makes one of its own, which holds the
    // requests made after it (set the limit before start() then).
    qint64 speedLimit() const { return ownLimit; }
    void setSpeedLimit(qint64 bytesPerSecond);
    // The queue that decides how many downloads run at once. With one, start() and resume() run
    // the task only in a free slot and otherwise leave it waiting in line (queued, status 0);
    // pause() takes a waiting task out of the line. Without one (the default) it runs at once.
    void setQueue(TaskGate *queue);

    // Per-part stall timeout and the first wait before a part is asked again (doubling while the
    // server stays away); tests shorten them.
    void setStallTimeoutMs(int ms);
    void setRetryBaseDelayMs(int ms);

signals:
    void progressUpdated();
    void finished();
    // Any change of `status`, also into 1 (which progressUpdated() does not announce). Comes
    // before the change's other signals; unlike them, not a place to delete the task.
    void statusChanged();
    // The run stops at a server that wants a login (loginRequest); it ends in error right after,
    // so a listener asks the user once the signal has returned.
    void loginRequired();
    // The task's own speed limit changed: something to save.
    void speedLimitChanged();

private slots:
    void updateSpeed();

private:
    bool mayRun();
    bool enterRun();
    TransferFigures figures();
    HttpTransfer *httpTransfer();
    MediaRun *mediaRun();
    SpeedWindow &window();
    BandwidthLimiter *runLimiter();
    void setStatus(int newStatus);
    void startTick();
    void stopTick();
    void countFrom(qint64 bytes);
    void recount();
    void changeLink(const QUrl &link, const BrowserSession &session);

    QUrl m_url;
    QString m_savePath;
    bool mediaMode = false;       // chosen from the link when the task is made
    HttpTransfer *http = nullptr; // at most one of the two, by the mode, made when first needed
    MediaRun *media = nullptr;
    int stallTimeoutMs = 30000;
    int retryBaseDelayMs = 1000;
    QPointer<BandwidthLimiter> limiter;
    BandwidthLimiter *ownLimiter = nullptr; // for a limit of its own without a shared one
    qint64 ownLimit = 0;
    bool checkpointShown = false;
    // Read by showCheckpoint(), for resume() to continue from; held apart, as most tasks of a
    // long list never have one.
    std::unique_ptr<TransferProgress> shownCheckpoint;
    QPointer<TaskGate> queue;
    QTimer *uiTimer = nullptr;
    QElapsedTimer speedTimer; // runs from construction; the clock of the speed samples
    std::unique_ptr<SpeedWindow> speedWindow; // made when first needed, like the timer
};
