#pragma once

#include <QByteArray>
#include <QObject>
#include <QProcess>

class DownloadTask;
class ProcessTree;
class QTemporaryDir;

// The media mode of a DownloadTask: the external media tool runs as a child process, its
// progress lines are parsed into the task's figures, and its exit ends the run. A pause or cancel
// kills the tool together with everything it started.
//
// It writes the task's figures directly, emits the task's progressUpdated() when a read brought
// a line, and sets the task's status when the tool ends; a pause or cancel of the task calls
// stop().
class MediaRun : public QObject {
    Q_OBJECT

public:
    explicit MediaRun(DownloadTask *task);
    ~MediaRun() override;

    void start();
    void stop();

private:
    void onOutput();
    void onFinished(int exitCode, QProcess::ExitStatus exitStatus);
    bool applyLine(const QByteArray &line);
    void retire();
    QString writeCookies();
    void removeCookies();
    void endShare(); // the tool's share of the speed limit is free again

    DownloadTask *task;
    QProcess *process = nullptr;
    ProcessTree *tree = nullptr; // kills the tool together with the ffmpeg it started
    QByteArray pending;          // output after the last newline, kept until its line ends
    // The browser's cookies for the tool while it runs, in a folder only the user can enter (the
    // tool writes the file back when it ends).
    QTemporaryDir *cookieDir = nullptr;
};
