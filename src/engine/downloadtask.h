#pragma once

#include "engine/lazychild.h"
#include "engine/transferprogress.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QSslError>
#include <QString>
#include <QUrl>
#include <QVector>

class QFile;
class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;
class ProcessTree;
class QTimer;

// One download. Views read the public fields directly and refresh on progressUpdated().
//
// status: 0 paused or not started, 1 running, 2 done, 3 error, 4 canceled.
//
// HTTP mode: a one-byte probe learns the size, then up to eight ranged requests, each on its own
// connection, write at their own offsets of one pre-sized file. Every part response is checked
// against what was asked; a server that ignores ranges is followed with one connection, transport
// failures are retried per part, and a changed file on the server starts the transfer over.
//
// Media mode: the external media tool runs as a child process and its progress lines are parsed.
class DownloadTask : public QObject {
    Q_OBJECT

public:
    DownloadTask(QUrl url, QString savePath, QString format, QObject *parent = nullptr);
    ~DownloadTask() override;

    QString fileName;
    QString category;
    QString m_format;
    QString lastDlpMessage;
    QString dlpEtaStr;
    qint64 totalSize = 0;
    qint64 downloadedSize = 0;
    double currentSpeed = 0.0;
    int status = 0;

    void start();
    void pause();
    void resume();
    void cancel();
    QUrl url() const;
    QString savePath() const;

    bool isMediaTask() const { return isYtDlpTask; }

    // Part progress of a segmented transfer, for saving beside the task list; invalid (see
    // TransferProgress::isValid) when there is nothing a restart could continue.
    TransferProgress transferProgress() const;
    // Gives a task restored from the saved list the progress it had, so that resume() continues
    // each part where it stopped. Ignored unless valid, matching totalSize, and the task is idle.
    void restoreTransferProgress(const TransferProgress &progress);

    // Per-part retry limit and stall timeout; tests shorten them.
    static constexpr int kMaxTriesPerPart = 6;
    void setStallTimeoutMs(int ms) { stallTimeoutMs = ms; }
    void setRetryBaseDelayMs(int ms) { retryBaseDelayMs = ms; }

signals:
    void progressUpdated();
    void finished();

private slots:
    void onHeadFinished();
    void onPartReadyRead();
    void onPartFinished();
    void updateSpeed();
    void handleSslErrors(QNetworkReply *reply, const QList<QSslError> &errors);
    void onDlpOutput();
    void onDlpFinished(int exitCode, QProcess::ExitStatus exitStatus);

private:
    // HTTP mode
    QNetworkRequest createRequest(const QUrl &url) const;
    QNetworkAccessManager *managerForPart(int index) const;
    void sendProbe();
    void beginTransfer(const QUrl &finalUrl, int probeStatus);
    void requestPart(int index);
    bool checkPartHeaders(QNetworkReply *reply, int index);
    void settleFailedAnswer(QNetworkReply *reply, int index);
    void adoptWholeBody(QNetworkReply *reply);
    void planSingleConnection(qint64 length);
    void writePartData(QNetworkReply *reply, int index);
    bool splitLargestPart(int idle);
    void retryPart(int index, bool madeProgress);
    void restartFromScratch();
    void resumeParts();
    void resumeRestored();
    bool partDone(int index) const;
    bool allPartsDone() const;
    void completeTransfer();
    void failTransfer();
    void dropReply(QNetworkReply *reply);
    void stopNetwork();
    bool openFile();
    void startTimers();
    void checkStalls();

    // Media mode
    void startMediaTool();
    void stopMediaTool();

    QProcess *ytDlpProcess = nullptr;
    bool isYtDlpTask = false;
    QUrl m_url;
    QString m_savePath;
    // Network managers, file and refresh timer are made when first needed, so that an idle task
    // stays cheap.
    LazyChild<QNetworkAccessManager> manager;
    // A second connection pool: Qt 6.4 opens at most six HTTP/1.1 connections per host and
    // manager, so the parts are spread over two managers to get one connection each.
    LazyChild<QNetworkAccessManager> manager2;
    LazyChild<QFile> file;
    int numParts = 8;
    int partsCompleted = 0;
    QVector<QNetworkReply *> replies;
    QVector<qint64> partOffsets;
    QElapsedTimer speedTimer;
    qint64 lastDownloadedSize = 0;
    LazyChild<QTimer> uiTimer;

    // Per-part bookkeeping beside partOffsets, same indices.
    QVector<qint64> partStarts;    // first byte of the part's range
    QVector<qint64> partEnds;      // last byte of the part, inclusive; -1 when the size is unknown
    QVector<int> partTries;        // failed tries in a row without progress
    QVector<qint64> partLastData;  // clock.elapsed() at the part's last data or request
    QVector<QTimer *> retryTimers; // pending retries, null when none
    QNetworkReply *probeReply = nullptr;
    QUrl transferUrl; // the URL the probe ended at
    QByteArray etag;
    QByteArray lastModified;
    int restarts = 0;
    QElapsedTimer clock;
    int stallTimeoutMs = 30000;
    int retryBaseDelayMs = 500;

    // Media mode state
    void retireMediaProcess();
    bool applyMediaLine(const QByteArray &line);
    ProcessTree *dlpTree = nullptr;  // kills the tool together with the ffmpeg it started
    QByteArray dlpPending;           // output after the last newline, kept until its line ends
};
