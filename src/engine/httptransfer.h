#pragma once

#include "engine/checkpoint.h"
#include "engine/partfile.h"
#include "engine/transferprogress.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QVector>

class DownloadTask;
class HttpProbe;
class HttpSession;
struct ProbeAnswer;
struct RefusedCertificate;
class QNetworkReply;
class QTimer;

// The HTTP mode of a DownloadTask. A one-byte probe learns the size, then up to eight ranged
// requests, each on its own connection, write at their own offsets of one pre-sized file. Every
// part answer is checked against what was asked; a server that ignores ranges is followed with one
// connection, transport failures are retried per part, a part that gets no data for a while is
// asked again, a connection whose range is done takes over half of the slowest part, and a changed
// file on the server starts the transfer over.
//
// While it runs, where every part stands is kept in a Checkpoint beside the file: on the task's
// tick from two seconds into a run about every second, and at every pause, failure and part
// completion; completion removes it. A restarted program continues from it (adoptCheckpoint()).
//
// It writes the task's figures (sizes, speed) directly and emits the task's progressUpdated() as
// data arrives. A run ends in complete() or fail(), which stop every request before they set the
// task's status; a pause or cancel of the task calls pause() and closeFile().
class HttpTransfer : public QObject {
    Q_OBJECT

public:
    explicit HttpTransfer(DownloadTask *task);

    void start();  // probe the link, then fetch the parts
    void resume(); // continue every part where it stopped
    void pause();  // stop() and record where every part stands
    void stop();   // drop every request and pending retry
    void closeFile();
    void onTick(); // called on the task's refresh tick

    TransferProgress progress() const;
    // The part progress that is known to be on the disk: the newest checkpoint of this run, or
    // what was restored and not yet continued.
    TransferProgress durableProgress() const;
    void restore(const TransferProgress &progress);
    // Takes the part progress from the checkpoint beside the file unless this run has its own;
    // returns the bytes it continues from, or -1 when it took nothing.
    qint64 adoptCheckpoint();
    void discardCheckpoint();

    int stallTimeoutMs = 30000;
    int retryBaseDelayMs = 500;

private:
    // One byte range of the file and the request that is fetching it.
    struct Part {
        qint64 start = 0;    // first byte of the range
        qint64 end = -1;     // last byte, inclusive; -1 while the size is unknown
        qint64 offset = 0;   // the next byte to write
        int tries = 0;       // failed tries in a row without progress
        int redirects = 0;   // redirects followed by hand in this run
        qint64 lastData = 0; // clock.elapsed() at the last data or request
        QNetworkReply *reply = nullptr;
        QTimer *retryTimer = nullptr; // a pending retry

        bool done() const { return end >= 0 && offset > end; }
    };

    bool running() const;
    void sendProbe();
    void beginTransfer(const ProbeAnswer &answer);
    void requestPart(int index);
    bool checkPartHeaders(QNetworkReply *reply, int index);
    void settleFailedAnswer(QNetworkReply *reply, int index);
    bool followRedirect(QNetworkReply *reply, int index);
    void useBrowserSession();
    void planSingleConnection(qint64 length);
    void adoptWholeBody(QNetworkReply *reply);

    void readPart(QNetworkReply *reply);
    void writePartData(QNetworkReply *reply, int index);
    void splitLargestPart(int idle);
    void drainPart(QNetworkReply *reply);
    void endPart(QNetworkReply *reply);
    void retryPart(int index, bool madeProgress);

    void checkStalls();
    void saveCheckpoint();

    void restartFromScratch();
    void resumeParts();
    void resumeRestored();
    bool allPartsDone() const;
    void complete();
    // Ends the run in status 3; `reason` is the one line the views show (already translated).
    // The checkpoint is kept for a later resume unless the file it describes is gone.
    void fail(const QString &reason = QString(), bool keepCheckpoint = true);
    void refuse(const RefusedCertificate &certificate);
    bool openFile();

    DownloadTask *task;
    HttpSession *session;
    HttpProbe *probe;
    PartFile file;
    Checkpoint checkpoint;
    QVector<Part> parts;
    // Where `parts` came from: nothing, the saved list, the checkpoint, or this run's requests
    // (then they are ahead of anything saved).
    enum class PartsFrom { Nothing, SavedList, CheckpointFile, ThisRun };
    PartsFrom partsFrom = PartsFrom::Nothing;
    qint64 nextCheckpoint = 0; // clock.elapsed() when the next timed one is due
    QUrl transferUrl;          // the URL the probe ended at
    QByteArray etag;
    QByteArray lastModified;
    QByteArray probeType; // the Content-Type the probe got; every part must send the same
    int restarts = 0;
    QString lastProblem;    // why the latest try of a part failed; the reason once tries run out
    QString contentProblem; // a part was sent something else than the file: the reason then
    QElapsedTimer clock;
};
