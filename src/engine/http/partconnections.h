#pragma once

#include "engine/http/hostlogins.h"
#include "engine/http/trustedcertificates.h"
#include "engine/transferfigures.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QVector>

class BandwidthLimiter;
class HttpSession;
class PartFile;
class QNetworkReply;
class QTimer;

// The connections of a segmented transfer: one request per part, each asking for the rest of its
// range. Every answer is checked before any of its bytes is written: an error page, a web page or
// another kind of content than the probe got, another version of the file, or bytes of another
// range are never taken for the part's bytes. What is taken goes to the part's own offsets of the
// file, as fast as the speed limit lets each connection read, and never past the part's end. A
// connection whose range is done takes over half of the slowest part. The figures it is handed
// count what reached the file, and progressed() follows every write.
//
// What happens to the run is the transfer's to decide: a part whose request ended short or failed
// is reported through partBroken() and asked again only when the transfer calls retryAfter();
// everything that ends or restarts the run is a signal, after which nothing here goes on.
class PartConnections : public QObject {
    Q_OBJECT

public:
    // One byte range of the file and the request that is fetching it.
    struct Part {
        qint64 start = 0;    // first byte of the range
        qint64 end = -1;     // last byte, inclusive; -1 while the size is unknown
        qint64 offset = 0;   // the next byte to write
        int tries = 0;       // failed tries in a row without progress
        int waits = 0;       // tries in a row that met an outage
        int redirects = 0;   // redirects followed by hand in this run
        qint64 lastData = 0; // clock.elapsed() at the last data or request
        QNetworkReply *reply = nullptr;
        QTimer *retryTimer = nullptr; // a pending retry
        bool queued = false;          // asked for, waiting for its turn to be sent (RequestPacer)
        // Bytes before `offset`, already on the disk, that the next request asks for again and
        // compares with the file before it writes (see ResumeOverlap). A part whose range is
        // written is not done while some of its bytes still wait for that comparison.
        qint64 verify = 0;
        // Why the latest request failed: an outage worth waiting out (see isTransientFailure),
        // and the wait the server asked for with Retry-After (-1 when it named none).
        bool transient = false;
        qint64 retryAfterMs = -1;

        bool done() const { return end >= 0 && offset > end && verify == 0; }
    };

    PartConnections(HttpSession *session, PartFile &file, const TransferFigures &figures,
                    QObject *parent);

    // What a resumed part asks for again of the bytes it has: a server may change a file without
    // saying so (no validators, the same size), and a record may claim bytes that never reached
    // the file. The part's own request starts this much earlier, and a difference with the disk
    // starts the download over instead of splicing two files.
    static constexpr qint64 ResumeOverlap = 16 * 1024;

    // The run goes on: set by the transfer when a run starts or resumes, cleared when it ends.
    // While it is false nothing is sent and no data is taken.
    bool active = false;
    // The speed limit the connections read under; none for full speed.
    QPointer<BandwidthLimiter> limiter;
    // The name the file is saved under, and whether the user took a web page for it: what a
    // part's content is judged by.
    QString fileName;
    bool webPageAccepted = false;

    // The plan, in the order of the file. Replaced only while no request runs (after stop()).
    QVector<Part> parts;
    // Where the parts are asked for: the URL the probe ended at, or the link itself on a resume.
    // A redirect followed by hand moves it.
    QUrl url;
    // What the file must be: its validators, and the Content-Type the probe got, which every part
    // must send too. Empty when unknown.
    QByteArray etag;
    QByteArray lastModified;
    QByteArray probeType;
    // The HTTP status of the latest error answer a part got; 0 when none did.
    int lastStatus = 0;

    // Asks for the rest of part `index`; the request goes out in a later pass of the event loop.
    void request(int index);
    // Asks for part `index` again after `delayMs`, unless the run ends or the part is done by
    // then.
    void retryAfter(int index, int delayMs);
    // Milliseconds until the first pending retry is sent; -1 when none is pending.
    int nextRetryInMs() const;
    // Sends every pending retry now (the network is back).
    void retryNow();
    // Drops the request of every part that has had no data for `timeoutMs` and reports it broken.
    void checkStalls(int timeoutMs);
    // One part for the whole file, of `length` bytes (unknown when 0 or less), from its first byte:
    // for a server that does not serve the ranges asked for. Nothing is requested yet.
    void planSingleConnection(qint64 length);
    bool allPartsDone() const;
    // Drops every request and pending retry.
    void stop();

    // The one line for a run that gives up on a part: what was sent instead of the file, or why
    // its latest try failed.
    QString failureReason() const;
    // A new start or resume: what earlier tries were sent no longer says anything.
    void clearProblems();

signals:
    void completed();
    // The run cannot go on; `reason` is the line the views show (already translated).
    void failed(const QString &reason);
    void refused(const RefusedCertificate &certificate);
    // The server wants a login it was not given, or refused the one it was given.
    void loginNeeded(const LoginRequest &request);
    // The server has another version of the file, or no longer the range asked for, or the bytes
    // on the disk are not the file's.
    void fileChanged();
    // A part was sent bytes of another range than it asked for.
    void wrongRange();
    // The request of part `index` ended before its range did, or failed; `madeProgress` when it
    // wrote bytes first.
    void partBroken(int index, bool madeProgress);
    // A part has all its bytes, and the others go on.
    void partDone();
    // Bytes reached the file, or the size became known.
    void progressed();
    // The count starts again from an empty file (one connection for the whole file from now on).
    void recounted();

private:
    bool checkAnswer(QNetworkReply *reply, int index);
    void refuseContent(QNetworkReply *reply, int index, const QString &problem);
    void settleFailedAnswer(QNetworkReply *reply, int index);
    bool followRedirect(QNetworkReply *reply, int index);
    void adoptWholeBody(QNetworkReply *reply);
    void send(int index);

    void readPart(QNetworkReply *reply);
    void writePartData(QNetworkReply *reply, int index);
    void splitLargestPart(int idle);
    void drainPart(QNetworkReply *reply);
    void endPart(QNetworkReply *reply);

    HttpSession *session;
    PartFile &file;
    TransferFigures figures;
    QString lastProblem;    // why the latest try of a part failed; the reason once tries run out
    QString contentProblem; // a part was sent something else than the file: the reason then
    QElapsedTimer clock;
    int round = 0; // counts stop(): a request queued before the latest one is no longer wanted
};
