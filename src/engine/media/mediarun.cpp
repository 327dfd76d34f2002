#include "engine/media/mediarun.h"

#include "engine/bandwidthlimiter.h"
#include "engine/http/browsersession.h"
#include "engine/media/mediacommand.h"
#include "engine/media/mediaprogress.h"
#include "engine/media/mediatool.h"
#include "engine/media/processtree.h"
#include "language/translation.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QTemporaryDir>

MediaRun::MediaRun(const QUrl &link, const QString &savePath, const QString &format,
                   const TransferFigures &figures, QObject *parent)
    : QObject(parent), link(link), savePath(savePath), format(format), figures(figures)
{
}

MediaRun::~MediaRun()
{
    removeCookies();
}

void MediaRun::start(const BrowserSession &session, BandwidthLimiter *sharedLimit, qint64 ownLimit)
{
    running = true;
    if (!isMediaToolLink(link)) {
        figures.lastDlpMessage = refusedMediaLinkText();
        end(false);
        return;
    }
    // A run killed by a quick pause may not have been reaped yet; it cannot be started again.
    if (process && process->state() != QProcess::NotRunning)
        retire();
    if (!process) {
        process = new QProcess(this);
        process->setProcessChannelMode(QProcess::MergedChannels);
        tree = new ProcessTree(process);
        connect(process, &QProcess::readyReadStandardOutput, this, &MediaRun::onOutput);
        connect(process, &QProcess::finished, this, &MediaRun::onFinished);
        connect(process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
            // A crash is what a pause's kill looks like; only a tool that never ran is an error.
            if (e != QProcess::FailedToStart || !running)
                return;
            figures.lastDlpMessage = T(QStringLiteral("System Error: Missing yt-dlp.exe"));
            endShare();
            end(false);
        });
    }

    process->setWorkingDirectory(mediaToolDirectory());
    // Titles and messages in any script must reach us intact, also where the console code page
    // is not UTF-8.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PYTHONIOENCODING"), QStringLiteral("utf-8"));
    env.insert(QStringLiteral("PYTHONUTF8"), QStringLiteral("1"));
    process->setProcessEnvironment(env);

    // The tool cannot join the HTTP downloads' shared limit; it is given its share of it instead.
    limiter = sharedLimit;
    const qint64 rateLimit =
        limiter ? limiter->beginMediaRun(this, ownLimit) : qMax<qint64>(ownLimit, 0);
    QStringList args = mediaToolArguments(format, ffmpegPath(), savePath, link, session,
                                          writeCookies(session), rateLimit);
    const ProxySettings proxy = ProxySettings::current();
    addMediaProxyArguments(args, proxy, link);

    // The card leaves an empty placeholder at the save path; the tool would take it for a
    // finished download.
    const QFileInfo existing(savePath);
    if (existing.exists() && existing.isFile() && existing.size() == 0)
        QFile::remove(savePath);

    figures.lastDlpMessage = T(QStringLiteral("Starting processing..."));
    pending.clear();
    process->start(mediaToolPath(), args, QIODevice::ReadWrite);
    process->write(mediaProxyInput(proxy, link));
    process->closeWriteChannel();
    if (tree)
        tree->started();
    // A tool that could not even be started has already ended the run.
    if (running)
        emit transferring();
}

QString MediaRun::writeCookies(const BrowserSession &session)
{
    removeCookies();
    // A day is more than any run needs; the file goes when the run ends.
    const QByteArray cookies =
        mediaToolCookies(session, link, QDateTime::currentSecsSinceEpoch() + 86400);
    if (cookies.isEmpty())
        return QString();
    cookieDir = new QTemporaryDir;
    QFile file(cookieDir->filePath(QStringLiteral("cookies.txt")));
    if (!cookieDir->isValid() ||
        !file.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                   QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        file.write(cookies) != cookies.size()) {
        removeCookies();
        return QString();
    }
    return file.fileName();
}

void MediaRun::removeCookies()
{
    delete cookieDir; // removes the folder with everything in it
    cookieDir = nullptr;
}

void MediaRun::stop()
{
    running = false;
    if (process && process->state() != QProcess::NotRunning)
        retire();
}

// Cuts a running tool loose from this run and ends it with all its children. The process object
// deletes itself once the system reports the end, so neither a pause nor the owner's destructor
// waits for it, and nothing it still reports reaches the owner.
void MediaRun::retire()
{
    QProcess *old = process;
    ProcessTree *oldTree = tree;
    process = nullptr;
    tree = nullptr;
    pending.clear();
    removeCookies();
    endShare();
    if (!old)
        return;
    old->disconnect(this);
    // Out of the run, but not out of the program: one still running when the program ends is
    // deleted (and reaped) with the application object instead of leaking.
    old->setParent(QCoreApplication::instance());
    connect(old, &QProcess::finished, old, &QObject::deleteLater);
    connect(old, &QProcess::errorOccurred, old, [old](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            old->deleteLater();
    });
    if (oldTree)
        oldTree->kill();
    else
        old->kill();
}

// Applies one complete output line; true when it was not blank.
bool MediaRun::applyLine(const QByteArray &line)
{
    const QString text = QString::fromUtf8(line).trimmed();
    if (text.isEmpty())
        return false;
    const MediaLineInfo info = parseMediaLine(text);
    switch (info.kind) {
    case MediaLineInfo::Ignored: break;
    case MediaLineInfo::Message: figures.lastDlpMessage = info.message; break;
    case MediaLineInfo::Progress:
        if (info.hasSizes) {
            figures.totalSize = info.totalSize;
            figures.downloadedSize = info.downloadedSize;
        }
        if (info.hasSpeed)
            figures.currentSpeed = info.speed;
        if (info.hasEta)
            figures.dlpEtaStr = info.eta;
        figures.lastDlpMessage.clear();
        break;
    }
    return true;
}

void MediaRun::onOutput()
{
    if (!process)
        return;
    const QByteArray output = process->readAllStandardOutput();
    if (!running)
        return;
    bool any = false;
    const QList<QByteArray> lines = takeCompleteLines(pending, output);
    for (const QByteArray &line : lines)
        any = applyLine(line) || any;
    if (any)
        emit progressed();
}

void MediaRun::onFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    // Only a run that goes on counts; a pause or cancel has already retired its process.
    removeCookies();
    if (!running)
        return;
    // The tool has ended, so whatever it wrote last is a whole line, newline or not.
    if (process)
        takeCompleteLines(pending, process->readAllStandardOutput());
    const QList<QByteArray> rest = takeCompleteLines(pending, "\n");
    for (const QByteArray &line : rest)
        applyLine(line);
    endShare();

    if (exitStatus != QProcess::NormalExit || exitCode != 0) {
        end(false);
        return;
    }
    const QFileInfo result(savePath);
    if (result.exists() && result.size() >= 1)
        figures.totalSize = result.size();
    else if (figures.totalSize < 1)
        figures.totalSize = 100; // no file to measure: a full bar still shows the download as done
    figures.downloadedSize = figures.totalSize;
    figures.currentSpeed = 0.0;
    end(true);
}

void MediaRun::end(bool ok)
{
    running = false;
    if (ok)
        emit completed();
    else
        emit failed();
}

void MediaRun::endShare()
{
    if (limiter)
        limiter->endMediaRun(this);
}
