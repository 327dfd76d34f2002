#include "engine/downloadtask.h"

#include "engine/categories.h"
#include "engine/httpheaders.h"
#include "language/translation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QTimer>

DownloadTask::DownloadTask(QUrl url, QString savePath, QString format, QObject *parent)
    : QObject(parent), m_format(std::move(format)), m_url(std::move(url)),
      m_savePath(std::move(savePath))
{
    manager = new QNetworkAccessManager(this);
    fileName = QFileInfo(m_savePath).fileName();
    file = new QFile(m_savePath, this);
    uiTimer = new QTimer(this);
    category = categoryForFileName(fileName);
    isYtDlpTask = containsMediaHost(m_url.host(QUrl::FullyDecoded)) ||
                  category == QLatin1String("Videos");
    connect(uiTimer, &QTimer::timeout, this, &DownloadTask::updateSpeed);
}

DownloadTask::~DownloadTask()
{
    cancel();
}

QUrl DownloadTask::url() const { return m_url; }

QString DownloadTask::savePath() const { return m_savePath; }

void DownloadTask::start()
{
    if (status == 1 || status == 2)
        return;
    status = 1;
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
    if (file->isOpen())
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
    emit progressUpdated();
}

void DownloadTask::handleSslErrors(QNetworkReply *reply, const QList<QSslError> &errors)
{
    Q_UNUSED(errors);
    reply->ignoreSslErrors();
}

TransferProgress DownloadTask::transferProgress() const { return {}; }
void DownloadTask::restoreTransferProgress(const TransferProgress &) {}

// ---- HTTP mode -------------------------------------------------------------------------------

QNetworkRequest DownloadTask::createRequest(const QUrl &url) const { return QNetworkRequest(url); }
QNetworkAccessManager *DownloadTask::managerForPart(int) const { return manager; }
void DownloadTask::sendProbe() {}
void DownloadTask::onHeadFinished() {}
void DownloadTask::beginTransfer(const QUrl &, int) {}
void DownloadTask::requestPart(int) {}
bool DownloadTask::checkPartHeaders(QNetworkReply *, int) { return true; }
void DownloadTask::adoptWholeBody(QNetworkReply *) {}
void DownloadTask::onPartReadyRead() {}
void DownloadTask::onPartFinished() {}
void DownloadTask::retryPart(int, bool) {}
void DownloadTask::restartFromScratch() {}
void DownloadTask::resumeParts() {}
void DownloadTask::resumeRestored() {}
bool DownloadTask::partDone(int) const { return false; }
bool DownloadTask::allPartsDone() const { return false; }
void DownloadTask::completeTransfer() {}
void DownloadTask::failTransfer() {}
void DownloadTask::dropReply(QNetworkReply *) {}
void DownloadTask::stopNetwork() {}
bool DownloadTask::openFile() { return true; }
void DownloadTask::startTimers() {}
void DownloadTask::checkStalls() {}

// ---- Media mode ------------------------------------------------------------------------------

void DownloadTask::startMediaTool() {}

void DownloadTask::stopMediaTool() {}

void DownloadTask::onDlpOutput() {}

void DownloadTask::onDlpFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    Q_UNUSED(exitCode);
    Q_UNUSED(exitStatus);
}
