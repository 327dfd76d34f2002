#pragma once

#include "engine/http/hostlogins.h"
#include "engine/http/trustedcertificates.h"
#include "engine/storage/checksumtext.h"

#include <QByteArray>
#include <QObject>
#include <QUrl>

class HttpSession;
class QNetworkReply;

// What the probe learned about the file before any part is asked for.
struct ProbeAnswer {
    QUrl finalUrl;    // where the redirects ended
    int status = 0;   // the HTTP status; 0 when no answer came
    qint64 total = 0; // the file's size; 0 when unknown
    QByteArray etag;  // the validators; empty for an error answer
    QByteArray lastModified;
    // The headers that tell what was sent, as they came (a null array when absent).
    QByteArray contentType;
    QByteArray contentDisposition;
    RefusedCertificate refused; // the server's certificate was not taken
    LoginRequest login;         // the server asks for a login it was not given, or refused it
    // The file's digest as the server gave it (Repr-Digest, Digest, or Content-Digest of a whole
    // answer); invalid when it gave none.
    ExpectedChecksum digest;
    // No answer worth planning with, because the server or the network is away for now (see
    // isTransientFailure): why, in the user's words, and the wait the server asked for with
    // Retry-After (-1 when it named none).
    bool transient = false;
    QString problem;
    qint64 retryAfterMs = -1;
};

// Asks for the first byte of a link to learn the file's size, its validators and where the
// redirects end. The body is never needed: the probe is settled as soon as its headers are in.
class HttpProbe : public QObject {
    Q_OBJECT

public:
    HttpProbe(HttpSession *session, QObject *parent);

    // Sends a probe (in a later pass of the event loop, see RequestPacer), dropping any probe
    // still in flight. A `timeoutMs` above 0 ends a probe that gets no answer for that long.
    void send(const QUrl &url, int timeoutMs);
    // Drops a probe in flight; it will not answer.
    void cancel();

signals:
    void answered(const ProbeAnswer &answer);

private:
    static ExpectedChecksum serverDigestOf(const QNetworkReply *answer);
    void ask(const QUrl &target);
    void onReply();

    HttpSession *session;
    QNetworkReply *reply = nullptr;
    QUrl url;
    int timeout = 0;
    int redirects = 0; // followed by hand (see HttpSession)
    int round = 0;     // counts cancel(): a probe queued before the latest one is not sent
};
