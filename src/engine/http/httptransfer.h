#pragma once

#include "engine/storage/checkpoint.h"
#include "engine/storage/partfile.h"
#include "engine/storage/transferprogress.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

class DownloadTask;
class HttpProbe;
class HttpSession;
class PartConnections;
struct ProbeAnswer;
struct RefusedCertificate;

// The HTTP mode of a DownloadTask. A one-byte probe learns the size, then up to eight ranged
// requests, each on its own connection, write at their own offsets of one pre-sized file. Every
// part answer is checked against what was asked; a server that ignores ranges is followed with one
// connection, transport failures are retried per part, a part that gets no data for a while is
// asked again, a connection whose range is done takes over half of the slowest part, and a changed
// file on the server starts the transfer over.
//
// The requests themselves, with their checks and writes, are PartConnections'. This class plans
// the parts, decides how often a failing part is asked again and how long to wait, and ends or
// restarts the run when the connections say so.
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
    bool running() const;
    void useBrowserSession();
    void sendProbe();
    void beginTransfer(const ProbeAnswer &answer);

    void restartFromScratch();
    void fetchOverOneConnection();
    void retryPart(int index, bool madeProgress);

    void saveCheckpoint();
    void resumeParts();
    void resumeRestored();

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
    PartConnections *connections;
    // Where the parts came from: nothing, the saved list, the checkpoint, or this run's requests
    // (then they are ahead of anything saved).
    enum class PartsFrom { Nothing, SavedList, CheckpointFile, ThisRun };
    PartsFrom partsFrom = PartsFrom::Nothing;
    qint64 nextCheckpoint = 0; // clock.elapsed() when the next timed one is due
    int restarts = 0;
    QElapsedTimer clock;
};
