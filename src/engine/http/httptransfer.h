#pragma once

#include "engine/http/browsersession.h"
#include "engine/http/outage.h"
#include "engine/storage/checkpoint.h"
#include "engine/storage/checksumtext.h"
#include "engine/storage/partfile.h"
#include "engine/storage/transferprogress.h"
#include "engine/transferfigures.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QUrl>

class BandwidthLimiter;
class CompletionCheck;
class HttpProbe;
class HttpSession;
class PartConnections;
class QTimer;
struct LoginRequest;
struct ProbeAnswer;
struct RefusedCertificate;

// A segmented HTTP download of one link into one file. A one-byte probe learns the size, then up to
// eight ranged requests, each on its own connection, write at their own offsets of one pre-sized
// file. Every part answer is checked against what was asked; a server that ignores ranges is
// followed with one connection, transport failures are retried per part, a part that gets no data
// for a while is asked again, a connection whose range is done takes over half of the slowest part,
// and a changed file on the server starts the transfer over. An outage (the server or the network
// away for a while) is waited out with growing pauses between tries, shown as a countdown, until
// it lasts longer than the user allows (see retryschedule.h); the network coming back
// (NetworkWatch) ends the wait at once. Once every byte is in, the file is
// compared with the digest the server or the user gave (CompletionCheck) before the run completes.
//
// The requests themselves, with their checks and writes, are PartConnections'. This class plans
// the parts, decides how often a failing part is asked again and how long to wait, and ends or
// restarts the run when the connections say so.
//
// While it runs, where every part stands is kept in a Checkpoint beside the file: on the owner's
// tick from two seconds into a run about every second, and at every pause, failure and part
// completion; completion removes it. A restarted program continues from it (adoptCheckpoint()).
//
// It keeps the figures it is handed (sizes, speed, the failure's reason) current and reports
// through its signals; whoever made it (DownloadTask) turns them into its status. A run ends in
// completed() or failed(), emitted after every request has stopped, or in pause(); closeFile()
// lets the user delete or move the file of a run that is over.
class HttpTransfer : public QObject {
    Q_OBJECT

public:
    HttpTransfer(const QUrl &link, const QString &savePath, const TransferFigures &figures,
                 QObject *parent);

    // What the requests of the next start or resume carry: the browser's session for the link,
    // and whether the user took a web page for the file.
    void useBrowserSession(const BrowserSession &session, bool webPageAccepted);
    // The speed limit shared with other downloads; none for full speed.
    void setBandwidthLimiter(BandwidthLimiter *limiter);
    // A limit of this download's own inside the shared one, in bytes per second; 0 for none.
    // It needs a limiter to work through (one without a shared limit does).
    void setSpeedLimit(qint64 bytesPerSecond);
    // A digest the user expects the file to have, checked at completion with the server's.
    void setExpectedChecksum(const ExpectedChecksum &expected);
    // How the file of the latest run compared with its digests (see CompletionCheck).
    ChecksumResult checksum() const { return result; }

    void start();  // probe the link, then fetch the parts
    void resume(); // continue every part where it stopped
    void pause();  // stop() and record where every part stands
    void stop();   // drop every request and pending retry
    void closeFile();
    void onTick(); // called on the owner's refresh tick while the run goes on

    TransferProgress progress() const;
    // The part progress that is known to be on the disk: the newest checkpoint of this run, or
    // what was restored and not yet continued.
    TransferProgress durableProgress() const;
    void restore(const TransferProgress &progress);
    // Takes the part progress from the checkpoint beside the file unless this run has its own;
    // returns the bytes it continues from, or -1 when it took nothing.
    qint64 adoptCheckpoint();
    // The same with a checkpoint's progress already read; false when it took nothing.
    bool adoptCheckpoint(const TransferProgress &saved);
    void discardCheckpoint();
    // Between runs: the link moved (an expired link replaced by a fresh one to the same file, see
    // LinkCheck). The next resume asks it for the parts, judged by the validators and the type
    // it gave, and the checkpoint records it from then on.
    void moveLink(const QUrl &newLink, const QByteArray &etag, const QByteArray &lastModified,
                  const QByteArray &contentType);
    // The HTTP status of the latest error answer of the run; 0 when there was none.
    int failedStatus() const;

    // Tries in a row a part gets without progress, unless it failed for an outage; how long a part
    // may stay silent, and the first wait before it is asked again (tests shorten those two).
    static constexpr int kMaxTriesPerPart = 6;
    int stallTimeoutMs = 30000;
    int retryBaseDelayMs = 1000;

signals:
    // The figures changed: data arrived, or the transfer starts over.
    void progressed();
    // Data flows from now on, or the run waits for the server: the owner's refresh tick runs
    // (and shows the countdown), and its speed counts from here.
    void transferring();
    // The transfer starts over from its probe; no data flows until transferring() again.
    void restarting();
    // downloadedSize starts again from a new count (a fresh start, restored progress), not a drop
    // in speed.
    void recounted();
    // The server's certificate is not trusted; failed() follows.
    void refused(const RefusedCertificate &certificate);
    // The server wants a login it was not given, or refused the one it was given; failed()
    // follows. A resume after the login was given (HostLogins) continues the run.
    void loginNeeded(const LoginRequest &request);
    // Every byte is in; the file is compared with its digests before completed() (or failed(),
    // on a mismatch).
    void checking();
    void completed();
    // The run ended in error; lastDlpMessage says why.
    void failed();

private:
    bool running() const;
    void beginRun();
    void sendProbe();
    void beginTransfer(const ProbeAnswer &answer);

    void restartFromScratch();
    void fetchOverOneConnection();
    void retryPart(int index, bool madeProgress);
    void waitOutProbe(const ProbeAnswer &answer);
    void showWaiting();
    void endWaiting();
    void retryNow();

    void saveCheckpoint();
    void resumeParts();
    void resumeRestored();

    void complete();
    void checked(const ChecksumResult &outcome);
    void forgetParts();
    // Ends the run in status 3; `reason` is the one line the views show (already translated).
    // The checkpoint is kept for a later resume unless the file it describes is gone.
    void fail(const QString &reason = QString(), bool keepCheckpoint = true);
    void refuse(const RefusedCertificate &certificate);
    void askLogin(const LoginRequest &request);
    bool openFile();

    QUrl link;
    QString savePath;
    TransferFigures figures;
    BrowserSession browser; // for the next start or resume
    HttpSession *session;
    HttpProbe *probe;
    PartFile file;
    Checkpoint checkpoint;
    PartConnections *connections;
    CompletionCheck *check;
    ExpectedChecksum userDigest;
    qint64 ownLimit = 0;
    ExpectedChecksum serverDigest; // what the probe of this run was told
    ChecksumResult result;
    // Where the parts came from: nothing, the saved list, the checkpoint, or this run's requests
    // (then they are ahead of anything saved).
    enum class PartsFrom { Nothing, SavedList, CheckpointFile, ThisRun };
    PartsFrom partsFrom = PartsFrom::Nothing;
    qint64 nextCheckpoint = 0; // clock.elapsed() when the next timed one is due
    int restarts = 0;
    Outage outage;
    QTimer *probeRetry; // the probe's next try while the server is away
    QElapsedTimer clock;
};
