#include "engine/downloadtask.h"

#include "engine/categories.h"
#include "engine/httpheaders.h"
#include "engine/mediacommand.h"
#include "engine/mediaprogress.h"
#include "engine/mediatool.h"
#include "engine/processtree.h"
#include "language/translation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcessEnvironment>
#include <QSslConfiguration>
#include <QTimer>

#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
#include <QHttp1Configuration>
#endif

DownloadTask::DownloadTask(QUrl url, QString savePath, QString format, QObject *parent)
    : QObject(parent), m_format(std::move(format)), m_url(std::move(url)),
      m_savePath(std::move(savePath)), manager([this] { return new QNetworkAccessManager(this); }),
      manager2([this] { return new QNetworkAccessManager(this); }),
      file([this] { return new QFile(m_savePath, this); }), uiTimer([this] {
          auto *timer = new QTimer(this);
          connect(timer, &QTimer::timeout, this, &DownloadTask::updateSpeed);
          return timer;
      })
{
    clock.start();
    fileName = QFileInfo(m_savePath).fileName();
    category = categoryForFileName(fileName);
    isYtDlpTask =
        containsMediaHost(m_url.host(QUrl::FullyDecoded)) || category == QLatin1String("Videos");
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

namespace {

const QByteArray kUserAgent = "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36";

// A server that keeps changing the file under us (or its validators) is given up after this many
// fresh starts, rather than spliced or fetched forever.
constexpr int kMaxRestarts = 3;

// Data waiting in memory per part before Qt stops reading that connection. Small buffers keep
// the whole transfer at about 25 MiB resident and were also the fastest on loopback.
constexpr qint64 kPartReadBuffer = 256 * 1024;

int httpStatus(const QNetworkReply *reply)
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

QByteArray rangeHeader(qint64 first, qint64 last)
{
    QByteArray value = "bytes=" + QByteArray::number(first) + '-';
    if (last >= 0)
        value += QByteArray::number(last);
    return value;
}

} // namespace

void DownloadTask::start()
{
    if (status == 1 || status == 2)
        return;
    status = 1;
    restarts = 0;
    if (isYtDlpTask)
        startMediaTool();
    else
        sendProbe();
}

void DownloadTask::pause()
{
    if (status != 1)
        return;
    status = 0;
    currentSpeed = 0.0;
    uiTimer->stop();
    if (isYtDlpTask)
        stopMediaTool();
    else
        stopNetwork();
    emit progressUpdated();
}

void DownloadTask::resume()
{
    if (status == 1 || status == 2)
        return;
    if (isYtDlpTask || totalSize <= 0) {
        start();
        return;
    }
    status = 1;
    restarts = 0;
    if (!openFile())
        return;
    if (!partOffsets.isEmpty())
        resumeParts();
    else
        resumeRestored();
}

void DownloadTask::cancel()
{
    pause();
    status = 4;
    if (isYtDlpTask)
        stopMediaTool();
    if (file.made() && file->isOpen())
        file->close();
    emit progressUpdated();
}

void DownloadTask::updateSpeed()
{
    if (status != 1)
        return;
    const qint64 downloadedNow = downloadedSize - lastDownloadedSize;
    const qint64 elapsed = speedTimer.restart();
    if (elapsed > 0)
        currentSpeed = 1000.0 * double(downloadedNow) / double(elapsed);
    lastDownloadedSize = downloadedSize;
    if (!isYtDlpTask)
        checkStalls();
    if (status == 1)
        emit progressUpdated();
}

void DownloadTask::handleSslErrors(QNetworkReply *reply, const QList<QSslError> &errors)
{
    Q_UNUSED(errors);
    reply->ignoreSslErrors();
}

TransferProgress DownloadTask::transferProgress() const
{
    TransferProgress p;
    if (isYtDlpTask || status == 2 || partOffsets.isEmpty() || totalSize < 1)
        return p;
    p.totalSize = totalSize;
    p.numParts = numParts;
    p.partOffsets = partOffsets;
    p.partStarts = partStarts;
    p.partEnds = partEnds;
    p.etag = etag;
    p.lastModified = lastModified;
    return p.isValid() ? p : TransferProgress();
}

void DownloadTask::restoreTransferProgress(const TransferProgress &progress)
{
    if (isYtDlpTask || status == 1 || !progress.isValid() || progress.totalSize != totalSize)
        return;
    numParts = progress.numParts;
    partOffsets = progress.partOffsets;
    partStarts.resize(numParts);
    partEnds.resize(numParts);
    for (int i = 0; i < numParts; ++i) {
        partStarts[i] = progress.rangeOf(i).first;
        partEnds[i] = progress.rangeOf(i).last;
    }
    replies.fill(nullptr, numParts);
    retryTimers.fill(nullptr, numParts);
    partTries.fill(0, numParts);
    partLastData.fill(0, numParts);
    etag = progress.etag;
    lastModified = progress.lastModified;
    downloadedSize = progress.downloadedBytes();
    lastDownloadedSize = downloadedSize;
    partsCompleted = 0;
    for (int i = 0; i < numParts; ++i)
        partsCompleted += partDone(i) ? 1 : 0;
}

// ---- HTTP mode -------------------------------------------------------------------------------

QNetworkRequest DownloadTask::createRequest(const QUrl &url) const
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         int(QNetworkRequest::NoLessSafeRedirectPolicy));
    request.setRawHeader("User-Agent", kUserAgent);
    request.setRawHeader("Accept", "*/*");
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    ssl.setPeerVerifyMode(QSslSocket::VerifyNone);
    request.setSslConfiguration(ssl);
    // Ranges count bytes of the file as stored: a compressed transfer encoding would shift every
    // offset, so ask for the identity encoding (this also keeps Qt from inflating bodies).
    request.setRawHeader("Accept-Encoding", "identity");
    // Each part gets a TCP connection of its own; HTTP/2 would multiplex all parts over one.
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    QHttp1Configuration http1;
    http1.setNumberOfConnectionsPerHost(8);
    request.setHttp1Configuration(http1);
#endif
    return request;
}

QNetworkAccessManager *DownloadTask::managerForPart(int index) const
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 5, 0)
    Q_UNUSED(index);
    return manager.get();
#else
    // Before Qt 6.5 a manager opens at most six connections per host; two managers with four
    // parts each give every part its own connection.
    return index % 2 == 0 ? manager.get() : manager2.get();
#endif
}

void DownloadTask::sendProbe()
{
    stopNetwork();
    // A fresh transfer: the counters start from an empty file, as the views will show it.
    numParts = 8;
    partsCompleted = 0;
    totalSize = 0;
    downloadedSize = 0;
    lastDownloadedSize = 0;
    currentSpeed = 0.0;
    partOffsets.clear();
    partStarts.clear();
    partEnds.clear();
    replies.clear();
    retryTimers.clear();
    partTries.clear();
    partLastData.clear();
    etag.clear();
    lastModified.clear();

    QNetworkRequest request = createRequest(m_url);
    request.setRawHeader("Range", "bytes=0-0");
    // A probe that never answers falls through to the single connection, which has its own
    // stall handling.
    request.setTransferTimeout(stallTimeoutMs);
    probeReply = manager->get(request);
    QNetworkReply *reply = probeReply;
    connect(reply, &QNetworkReply::sslErrors, this,
            [this, reply](const QList<QSslError> &errors) { handleSslErrors(reply, errors); });
    // The body is never needed: the probe is settled as soon as its headers are in.
    connect(reply, &QNetworkReply::metaDataChanged, this, &DownloadTask::onHeadFinished);
    connect(reply, &QNetworkReply::finished, this, &DownloadTask::onHeadFinished);
}

void DownloadTask::onHeadFinished()
{
    auto *reply = qobject_cast<QNetworkReply *>(sender());
    if (!reply)
        return;
    if (reply != probeReply || status != 1) {
        dropReply(reply);
        return;
    }
    const int statusCode = httpStatus(reply);
    if (!reply->isFinished() && statusCode >= 300 && statusCode < 400)
        return; // a redirect on its way; the final answer follows
    if (!reply->isFinished() && statusCode >= 400)
        return; // settled when it ends, so that Qt reports its error only once

    totalSize = 0;
    if (reply->hasRawHeader("Content-Range"))
        totalSize = contentRangeTotal(reply->rawHeader("Content-Range"));
    else if (reply->hasRawHeader("Content-Length"))
        totalSize = parseDecimalHeader(reply->rawHeader("Content-Length"));
    if (statusCode < 400) {
        etag = reply->rawHeader("ETag");
        lastModified = reply->rawHeader("Last-Modified");
    }
    QUrl finalUrl = reply->url();
    if (finalUrl.isEmpty())
        finalUrl = m_url;
    probeReply = nullptr;
    dropReply(reply);
    beginTransfer(finalUrl, statusCode);
}

void DownloadTask::beginTransfer(const QUrl &finalUrl, int probeStatus)
{
    if (!openFile())
        return;
    transferUrl = finalUrl;
    const bool segmented = totalSize > 0 && probeStatus < 400;
    if (!segmented)
        totalSize = 0;
    numParts = segmented ? partCountFor(totalSize) : 1;
    if (!file->resize(totalSize)) {
        failTransfer();
        return;
    }
    partOffsets.resize(numParts);
    partStarts.resize(numParts);
    partEnds.resize(numParts);
    for (int i = 0; i < numParts; ++i) {
        const PartRange r = partRange(totalSize, numParts, i);
        partStarts[i] = partOffsets[i] = segmented ? r.first : 0;
        partEnds[i] = segmented ? r.last : -1;
    }
    replies.fill(nullptr, numParts);
    retryTimers.fill(nullptr, numParts);
    partTries.fill(0, numParts);
    partLastData.fill(0, numParts);
    startTimers();
    for (int i = 0; i < numParts && status == 1; ++i)
        requestPart(i);
}

void DownloadTask::requestPart(int index)
{
    QNetworkRequest request = createRequest(transferUrl);
    // A single stream from the first byte asks for the plain body; everything else is a range.
    const bool ranged = numParts > 1 || partOffsets[index] > 0;
    if (ranged)
        request.setRawHeader("Range", rangeHeader(partOffsets[index], partEnds[index]));
    QNetworkReply *reply = managerForPart(index)->get(request);
    reply->setProperty("partIndex", index);
    reply->setProperty("ranged", ranged);
    reply->setProperty("startOffset", partOffsets[index]);
    reply->setReadBufferSize(kPartReadBuffer);
    replies[index] = reply;
    partLastData[index] = clock.elapsed();
    connect(reply, &QNetworkReply::sslErrors, this,
            [this, reply](const QList<QSslError> &errors) { handleSslErrors(reply, errors); });
    connect(reply, &QNetworkReply::readyRead, this, &DownloadTask::onPartReadyRead);
    connect(reply, &QNetworkReply::finished, this, &DownloadTask::onPartFinished);
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] {
        const int i = reply->property("partIndex").toInt();
        if (status == 1 && i < replies.size() && replies[i] == reply &&
            !reply->property("checked").toBool())
            checkPartHeaders(reply, i);
    });
}

// Decides from a part's response headers whether its body may be written at the part's offsets.
// Returns false when the reply was dropped and something else (a retry, a fresh start, the
// failure) has taken its place.
bool DownloadTask::checkPartHeaders(QNetworkReply *reply, int index)
{
    const int code = httpStatus(reply);
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
        if (!cr.valid || cr.first != partOffsets[index]) {
            // Bytes of some other range: useless at this part's offsets. Fetch the whole file
            // over one connection instead.
            if (++restarts > kMaxRestarts) {
                failTransfer();
                return false;
            }
            planSingleConnection(totalSize);
            requestPart(0);
            return false;
        }
        if (cr.total >= 0 && totalSize > 0 && cr.total != totalSize) {
            restartFromScratch();
            return false;
        }
        if (partEnds[index] < 0 && cr.total > 0) {
            totalSize = cr.total;
            partEnds[index] = totalSize - 1;
        }
        return true;
    }
    if (ranged) {
        // The server ignored the range and sends the whole file: keep this stream as the one
        // connection for the whole file, and drop the others.
        adoptWholeBody(reply);
        return true;
    }
    if (partEnds[index] < 0 && reply->hasRawHeader("Content-Length")) {
        const qint64 length = parseDecimalHeader(reply->rawHeader("Content-Length"));
        if (length > 0) {
            totalSize = length;
            partEnds[index] = length - 1;
        }
    }
    return true;
}

// A part answer without usable content: no answer at all, an error status or a redirect that
// may not be followed.
void DownloadTask::settleFailedAnswer(QNetworkReply *reply, int index)
{
    const int code = httpStatus(reply);
    const QNetworkReply::NetworkError error = reply->error();
    replies[index] = nullptr;
    dropReply(reply);
    // A link that no request can serve fails at once instead of after every retry.
    const bool hopeless = error == QNetworkReply::ProtocolUnknownError ||
                          error == QNetworkReply::ProtocolInvalidOperationError;
    if (code == 0 && !hopeless)
        retryPart(index, false);
    else if (code >= 500 || code == 408 || code == 429)
        retryPart(index, false); // worth asking again
    else if (code == 416)
        restartFromScratch(); // the range lies beyond the file: it has changed
    else
        failTransfer();
}

void DownloadTask::planSingleConnection(qint64 length)
{
    stopNetwork();
    numParts = 1;
    partsCompleted = 0;
    downloadedSize = 0;
    lastDownloadedSize = 0;
    totalSize = qMax<qint64>(length, 0);
    file->resize(totalSize);
    partOffsets = {0};
    partStarts = {0};
    partEnds = {totalSize > 0 ? totalSize - 1 : -1};
    replies = {nullptr};
    retryTimers = {nullptr};
    partTries = {0};
    partLastData = {clock.elapsed()};
}

void DownloadTask::adoptWholeBody(QNetworkReply *reply)
{
    const int index = reply->property("partIndex").toInt();
    replies[index] = nullptr; // keep it out of the sweep below
    qint64 length = -1;
    if (reply->hasRawHeader("Content-Length"))
        length = parseDecimalHeader(reply->rawHeader("Content-Length"));
    planSingleConnection(length);
    replies[0] = reply;
    reply->setProperty("partIndex", 0);
    reply->setProperty("ranged", false);
    reply->setProperty("startOffset", 0);
}

void DownloadTask::onPartReadyRead()
{
    auto *reply = qobject_cast<QNetworkReply *>(sender());
    if (!reply || status != 1)
        return;
    int index = reply->property("partIndex").toInt();
    if (index < 0 || index >= replies.size() || replies[index] != reply)
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

void DownloadTask::writePartData(QNetworkReply *reply, int index)
{
    QByteArray data = reply->readAll();
    if (data.isEmpty())
        return;
    partLastData[index] = clock.elapsed();
    if (partEnds[index] >= 0) {
        // Never write past the part's own range, whatever the server sends.
        const qint64 room = partEnds[index] - partOffsets[index] + 1;
        if (data.size() > room)
            data.truncate(int(room));
    }
    if (!data.isEmpty()) {
        if (!file->seek(partOffsets[index]) || file->write(data) != data.size()) {
            failTransfer(); // disk full, file gone: nothing sound to continue with
            return;
        }
        partOffsets[index] += data.size();
        downloadedSize += data.size();
    }
    if (partEnds[index] >= 0 && partDone(index)) {
        replies[index] = nullptr;
        dropReply(reply);
        ++partsCompleted;
        if (allPartsDone()) {
            completeTransfer();
            return;
        }
        splitLargestPart(index);
    }
    emit progressUpdated();
}

// A connection whose range is done takes over the second half of the part with the most bytes
// left, so that one slow connection does not hold up the end of the whole download.
bool DownloadTask::splitLargestPart(int idle)
{
    constexpr qint64 kMinSplit = 1024 * 1024;
    int largest = -1;
    qint64 most = 0;
    for (int i = 0; i < numParts; ++i) {
        const qint64 left = partEnds[i] - partOffsets[i] + 1;
        if (i != idle && partEnds[i] >= 0 && left > most) {
            largest = i;
            most = left;
        }
    }
    if (largest < 0 || most < 2 * kMinSplit)
        return false;
    const qint64 middle = partOffsets[largest] + most / 2;
    partStarts[idle] = partOffsets[idle] = middle;
    partEnds[idle] = partEnds[largest];
    // The running request of the split part keeps going; its writes stop at the new end.
    partEnds[largest] = middle - 1;
    partTries[idle] = 0;
    --partsCompleted;
    requestPart(idle);
    return true;
}

void DownloadTask::onPartFinished()
{
    auto *reply = qobject_cast<QNetworkReply *>(sender());
    if (!reply)
        return;
    const int index = reply->property("partIndex").toInt();
    const bool current = index >= 0 && index < replies.size() && replies[index] == reply;
    if (!current || status != 1) {
        if (current)
            replies[index] = nullptr;
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
        if (status != 1 || replies.value(part) != reply)
            return;
    }
    replies[part] = nullptr;
    const bool clean = reply->error() == QNetworkReply::NoError;
    const bool progressed = partOffsets[part] > reply->property("startOffset").toLongLong();
    disconnect(reply, nullptr, this, nullptr);
    reply->deleteLater();

    if (partEnds[part] < 0) {
        // A stream of unknown length ends where the server ends it.
        if (clean) {
            ++partsCompleted;
            completeTransfer();
        } else {
            retryPart(part, progressed);
        }
        return;
    }
    // Still short of the part's range: a dropped connection, a stalled or short answer.
    retryPart(part, progressed);
}

void DownloadTask::retryPart(int index, bool madeProgress)
{
    if (status != 1)
        return;
    partTries[index] = madeProgress ? 0 : partTries[index] + 1;
    if (partTries[index] >= kMaxTriesPerPart) {
        failTransfer();
        return;
    }
    const int delay = madeProgress ? 0 : retryBaseDelayMs << (partTries[index] - 1);
    auto *timer = new QTimer(this);
    timer->setSingleShot(true);
    retryTimers[index] = timer;
    connect(timer, &QTimer::timeout, this, [this, index, timer] {
        if (retryTimers.value(index) == timer)
            retryTimers[index] = nullptr;
        timer->deleteLater();
        if (status == 1 && replies.value(index) == nullptr && !partDone(index))
            requestPart(index);
    });
    timer->start(delay);
}

void DownloadTask::restartFromScratch()
{
    if (++restarts > kMaxRestarts) {
        failTransfer();
        return;
    }
    uiTimer->stop();
    sendProbe();
    emit progressUpdated();
}

void DownloadTask::resumeParts()
{
    // The file must still be the one the offsets describe; anything else is fetched anew.
    if (file->size() != qMax<qint64>(totalSize, 0) || partEnds.size() != numParts) {
        sendProbe();
        return;
    }
    transferUrl = m_url;
    partsCompleted = 0;
    for (int i = 0; i < numParts; ++i) {
        partTries[i] = 0;
        partsCompleted += partDone(i) ? 1 : 0;
    }
    startTimers();
    if (allPartsDone()) {
        completeTransfer();
        return;
    }
    for (int i = 0; i < numParts && status == 1; ++i) {
        if (!partDone(i) && !replies[i])
            requestPart(i);
    }
    if (status == 1)
        emit progressUpdated();
}

void DownloadTask::resumeRestored()
{
    // Restored without part progress. A pre-sized file is as long as the download from its first
    // write, so its length proves nothing; only a shorter file is a prefix written in order.
    const qint64 existing = file->size();
    if (existing == totalSize && downloadedSize >= totalSize) {
        status = 2;
        downloadedSize = totalSize;
        file->close();
        emit finished();
        emit progressUpdated();
        return;
    }
    if (existing >= totalSize) {
        sendProbe(); // cannot tell which bytes are there: fetch it all again
        return;
    }
    transferUrl = m_url;
    numParts = 1;
    partsCompleted = 0;
    downloadedSize = existing;
    partOffsets = {existing};
    partStarts = {0};
    partEnds = {totalSize - 1};
    replies = {nullptr};
    retryTimers = {nullptr};
    partTries = {0};
    partLastData = {0};
    if (!file->resize(totalSize)) {
        failTransfer();
        return;
    }
    startTimers();
    requestPart(0);
    emit progressUpdated();
}

bool DownloadTask::partDone(int index) const
{
    return partEnds[index] >= 0 && partOffsets[index] > partEnds[index];
}

bool DownloadTask::allPartsDone() const
{
    for (int i = 0; i < numParts; ++i) {
        if (!partDone(i))
            return false;
    }
    return numParts > 0;
}

void DownloadTask::completeTransfer()
{
    stopNetwork();
    status = 2;
    currentSpeed = 0.0;
    uiTimer->stop();
    file->close();
    const QFileInfo info(m_savePath);
    if (info.exists() && info.size() >= 1)
        totalSize = info.size();
    downloadedSize = totalSize;
    partsCompleted = numParts;
    emit finished();
    emit progressUpdated();
}

void DownloadTask::failTransfer()
{
    stopNetwork();
    status = 3;
    currentSpeed = 0.0;
    uiTimer->stop();
    // Closed so that the user can delete or move it; a resume opens it again.
    if (file.made() && file->isOpen())
        file->close();
    emit progressUpdated();
}

void DownloadTask::dropReply(QNetworkReply *reply)
{
    disconnect(reply, nullptr, this, nullptr);
    // A reply that already carries an error status is about to fail on its own, and aborting it
    // would race that report; deleting it stops its request just as well.
    if (reply->error() == QNetworkReply::NoError && httpStatus(reply) < 400)
        reply->abort();
    reply->deleteLater();
}

void DownloadTask::stopNetwork()
{
    if (probeReply) {
        dropReply(probeReply);
        probeReply = nullptr;
    }
    for (int i = 0; i < replies.size(); ++i) {
        if (replies[i]) {
            QNetworkReply *reply = replies[i];
            replies[i] = nullptr;
            dropReply(reply);
        }
    }
    for (int i = 0; i < retryTimers.size(); ++i) {
        if (retryTimers[i]) {
            retryTimers[i]->stop();
            retryTimers[i]->deleteLater();
            retryTimers[i] = nullptr;
        }
    }
}

bool DownloadTask::openFile()
{
    if (file->isOpen())
        return true;
    QDir().mkpath(QFileInfo(m_savePath).absolutePath());
    // Unbuffered: every block goes straight to its offset, so a write is never held back in a
    // buffer that a later seek would have to flush.
    if (file->open(QIODevice::ReadWrite | QIODevice::Unbuffered))
        return true;
    failTransfer();
    return false;
}

void DownloadTask::startTimers()
{
    lastDownloadedSize = downloadedSize;
    speedTimer.start();
    uiTimer->start(500);
}

void DownloadTask::checkStalls()
{
    const qint64 now = clock.elapsed();
    for (int i = 0; i < replies.size() && status == 1; ++i) {
        QNetworkReply *reply = replies[i];
        if (!reply || now - partLastData[i] < stallTimeoutMs)
            continue;
        if (reply->property("rejected").toBool()) {
            settleFailedAnswer(reply, i); // an error page that never ends is still an error
            continue;
        }
        const bool progressed = partOffsets[i] > reply->property("startOffset").toLongLong();
        replies[i] = nullptr;
        dropReply(reply);
        retryPart(i, progressed);
    }
}

// ---- Media mode ------------------------------------------------------------------------------

void DownloadTask::startMediaTool()
{
    // A run killed by a quick pause may not have been reaped yet; it cannot be started again.
    if (ytDlpProcess && ytDlpProcess->state() != QProcess::NotRunning)
        retireMediaProcess();
    if (!ytDlpProcess) {
        ytDlpProcess = new QProcess(this);
        ytDlpProcess->setProcessChannelMode(QProcess::MergedChannels);
        dlpTree = new ProcessTree(ytDlpProcess);
        connect(ytDlpProcess, &QProcess::readyReadStandardOutput, this, &DownloadTask::onDlpOutput);
        connect(ytDlpProcess, &QProcess::finished, this, &DownloadTask::onDlpFinished);
        connect(ytDlpProcess, &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
            // A crash is what a pause's kill looks like; only a tool that never ran is an error.
            if (e != QProcess::FailedToStart || status != 1)
                return;
            lastDlpMessage = T(QStringLiteral("System Error: Missing yt-dlp.exe"));
            status = 3;
            uiTimer->stop();
            emit progressUpdated();
        });
    }

    ytDlpProcess->setWorkingDirectory(mediaToolDirectory());
    // Titles and messages in any script must reach us intact, also where the console code page
    // is not UTF-8.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PYTHONIOENCODING"), QStringLiteral("utf-8"));
    env.insert(QStringLiteral("PYTHONUTF8"), QStringLiteral("1"));
    ytDlpProcess->setProcessEnvironment(env);

    const QStringList args = mediaToolArguments(m_format, ffmpegPath(), m_savePath, m_url);

    // The card leaves an empty placeholder at the save path; the tool would take it for a
    // finished download.
    const QFileInfo existing(m_savePath);
    if (existing.exists() && existing.isFile() && existing.size() == 0)
        QFile::remove(m_savePath);

    lastDlpMessage = T(QStringLiteral("Starting processing..."));
    dlpPending.clear();
    ytDlpProcess->start(mediaToolPath(), args, QIODevice::ReadWrite);
    if (dlpTree)
        dlpTree->started();
    speedTimer.start();
    lastDownloadedSize = downloadedSize;
    if (status == 1)
        uiTimer->start(500);
}

void DownloadTask::stopMediaTool()
{
    if (ytDlpProcess && ytDlpProcess->state() != QProcess::NotRunning)
        retireMediaProcess();
}

// Cuts a running tool loose from the task and ends it with all its children. The process object
// deletes itself once the system reports the end, so neither a pause nor the task's destructor
// waits for it, and nothing it still reports reaches the task.
void DownloadTask::retireMediaProcess()
{
    QProcess *process = ytDlpProcess;
    ProcessTree *tree = dlpTree;
    ytDlpProcess = nullptr;
    dlpTree = nullptr;
    dlpPending.clear();
    if (!process)
        return;
    process->disconnect(this);
    process->setParent(nullptr);
    connect(process, &QProcess::finished, process, &QObject::deleteLater);
    connect(process, &QProcess::errorOccurred, process, [process](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            process->deleteLater();
    });
    if (tree)
        tree->kill();
    else
        process->kill();
}

// Applies one complete output line; true when it was not blank.
bool DownloadTask::applyMediaLine(const QByteArray &line)
{
    const QString text = QString::fromUtf8(line).trimmed();
    if (text.isEmpty())
        return false;
    const MediaLineInfo info = parseMediaLine(text);
    switch (info.kind) {
    case MediaLineInfo::Ignored:
        break;
    case MediaLineInfo::Message:
        lastDlpMessage = info.message;
        break;
    case MediaLineInfo::Progress:
        if (info.hasSizes) {
            totalSize = info.totalSize;
            downloadedSize = info.downloadedSize;
        }
        if (info.hasSpeed)
            currentSpeed = info.speed;
        if (info.hasEta)
            dlpEtaStr = info.eta;
        lastDlpMessage.clear();
        break;
    }
    return true;
}

void DownloadTask::onDlpOutput()
{
    if (!ytDlpProcess)
        return;
    const QByteArray output = ytDlpProcess->readAllStandardOutput();
    if (status != 1)
        return;
    bool any = false;
    const QList<QByteArray> lines = takeCompleteLines(dlpPending, output);
    for (const QByteArray &line : lines)
        any = applyMediaLine(line) || any;
    if (any)
        emit progressUpdated();
}

void DownloadTask::onDlpFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    // Only a run of a running task counts; a pause or cancel has already retired its process.
    if (status != 1)
        return;
    // The tool has ended, so whatever it wrote last is a whole line, newline or not.
    if (ytDlpProcess)
        takeCompleteLines(dlpPending, ytDlpProcess->readAllStandardOutput());
    const QList<QByteArray> rest = takeCompleteLines(dlpPending, "\n");
    for (const QByteArray &line : rest)
        applyMediaLine(line);

    if (exitStatus == QProcess::NormalExit && exitCode == 0) {
        status = 2;
        const QFileInfo result(m_savePath);
        if (result.exists() && result.size() >= 1)
            totalSize = result.size();
        else if (totalSize < 1)
            totalSize = 100; // no file to measure: a full bar still shows the download as done
        downloadedSize = totalSize;
        currentSpeed = 0.0;
        uiTimer->stop();
        emit finished();
    } else {
        status = 3;
        uiTimer->stop();
    }
    emit progressUpdated();
}
