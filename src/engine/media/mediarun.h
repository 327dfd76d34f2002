#pragma once

#include "engine/transferfigures.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QProcess>
#include <QString>
#include <QUrl>

class BandwidthLimiter;
class ProcessTree;
class QTemporaryDir;
struct BrowserSession;

// A download by the external media tool: the tool runs as a child process, its progress lines
// are parsed into the figures it is handed, and its exit ends the run. stop() kills the tool
// together with everything it started.
//
// It reports through its signals: progressed() when a read brought a line, completed() or
// failed() when the run ends by itself; whoever made it (DownloadTask) turns them into its
// status.
class MediaRun : public QObject {
    Q_OBJECT

public:
    // `format` is the quality the user chose, handed to the tool as is.
    MediaRun(const QUrl &link, const QString &savePath, const QString &format,
             const TransferFigures &figures, QObject *parent);
    ~MediaRun() override;

    // Runs the tool with the browser's session for the link, at its share of `limiter` (none for
    // full speed), kept until the run ends, and at most `ownLimit` bytes per second when that is
    // above 0.
    void start(const BrowserSession &session, BandwidthLimiter *limiter, qint64 ownLimit = 0);
    void stop();

signals:
    // The figures changed.
    void progressed();
    // The tool runs: the owner's refresh tick runs, and its speed counts from here.
    void transferring();
    void completed();
    // The run ended in error; lastDlpMessage says why, or is the tool's last line.
    void failed();

private:
    void onOutput();
    void onFinished(int exitCode, QProcess::ExitStatus exitStatus);
    bool applyLine(const QByteArray &line);
    void retire();
    QString writeCookies(const BrowserSession &session);
    void removeCookies();
    void endShare(); // the tool's share of the speed limit is free again

    void end(bool ok);

    QUrl link;
    QString savePath;
    QString format;
    TransferFigures figures;
    QPointer<BandwidthLimiter> limiter; // of the current run
    bool running = false;
    QProcess *process = nullptr;
    ProcessTree *tree = nullptr; // kills the tool together with the ffmpeg it started
    QByteArray pending;          // output after the last newline, kept until its line ends
    // The browser's cookies for the tool while it runs, in a folder only the user can enter (the
    // tool writes the file back when it ends).
    QTemporaryDir *cookieDir = nullptr;
};
