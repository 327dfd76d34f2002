#pragma once

#include "engine/http/browsersession.h"
#include "engine/storage/transferprogress.h"

#include <QByteArray>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QUrl>

class HttpSession;
class QNetworkReply;

// What a download already has of its file, which a new link must serve unchanged: the size, the
// validators the server gave, and a sample of the bytes on the disk (up to 64 KiB from where the
// file's bytes are known to be written, empty when none are).
struct LinkFacts {
    static constexpr qint64 SampleLength = 64 * 1024;

    QString fileName;
    qint64 totalSize = 0;
    QByteArray etag;
    QByteArray lastModified;
    qint64 sampleStart = 0;
    QByteArray sample;
};

// Where the sample of a download's bytes comes from: the start of the first part that has
// written any, up to SampleLength bytes of it. Empty (last < first) when no part has.
PartRange sampleRangeOf(const TransferProgress &progress);
// The facts of a download from its part progress and its file on the disk.
LinkFacts linkFactsOf(const QString &fileName, const QString &path,
                      const TransferProgress &progress);

// What the new link answered to the one ranged request for the sample's range.
struct LinkAnswer {
    QUrl finalUrl;  // where the redirects ended
    int status = 0; // the HTTP status; 0 when no answer came
    QString error;  // why no usable answer came, when none did
    qint64 total = 0;
    QByteArray etag;
    QByteArray lastModified;
    QByteArray contentType;
    qint64 bodyStart = 0; // the file offset of the body's first byte
    QByteArray body;
};
Q_DECLARE_METATYPE(LinkAnswer)

// The outcome of the checks, in the order they are made; Same lets the download continue.
enum class LinkVerdict { Same, NoAnswer, WebPage, SizeDiffers, ValidatorsDiffer, ContentDiffers };
Q_DECLARE_METATYPE(LinkVerdict)

// The checks, on what was asked and what came: a usable answer; no web page for the file; the same
// total size; the same ETag and the same Last-Modified where both sides have one; and the bytes
// of the answer equal to the sample where they overlap, all of the sample being covered. A server
// that ignored the range and sent the file from its start is compared from there. A download of
// unknown size keeps nothing (it begins anew), so only the first two checks apply to it.
LinkVerdict judgeNewLink(const LinkFacts &facts, const LinkAnswer &answer);
// The verdict in the user's words (translated); empty for Same.
QString linkVerdictText(LinkVerdict verdict, const LinkFacts &facts, const LinkAnswer &answer);

// Checks that a new link for a download serves the same file before the download continues from
// it: one ranged request for the sample's bytes (redirects followed, the browser's session and
// the server's login given as for the download itself). Never writes anything.
class LinkCheck : public QObject {
    Q_OBJECT

public:
    explicit LinkCheck(QObject *parent = nullptr);

    // Drops a check in flight and starts this one. `timeoutMs` ends a server that stays silent.
    void start(const QUrl &link, const BrowserSession &session, const LinkFacts &facts,
               int timeoutMs = 30000);
    void cancel();
    bool isRunning() const { return reply != nullptr; }

signals:
    // `reason` is linkVerdictText() of the verdict.
    void finished(LinkVerdict verdict, const QString &reason, const LinkAnswer &answer);

private:
    void ask(const QUrl &target);
    void onData();
    void onFinished();
    void settle();

    HttpSession *session;
    QNetworkReply *reply = nullptr;
    LinkFacts facts;
    LinkAnswer answer;
    QByteArray range;
    qint64 wanted = 0; // body bytes that cover the sample
    int timeout = 0;
    int redirects = 0;
    bool headersRead = false;
};
