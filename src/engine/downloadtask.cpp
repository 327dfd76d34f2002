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
