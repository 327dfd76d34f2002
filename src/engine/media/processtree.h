#pragma once

#include <QObject>

class QProcess;

// A child process together with everything it starts. The media tool runs ffmpeg for HLS
// streams, merging and audio extraction; killing the tool alone would leave ffmpeg writing into
// the file after a pause, and a resume would then start a second writer. On Unix the child leads
// a process group of its own; on Windows it is put into a job object that ends its members when
// the job is closed.
//
// The tree is a QObject child of its process, so it lives as long as the process object.
class ProcessTree : public QObject {
    Q_OBJECT

public:
    // Call before the process is started.
    explicit ProcessTree(QProcess *process);
    ~ProcessTree() override;

    // Call right after QProcess::start().
    void started();
    // Ends the process and all its descendants at once; safe to call when nothing runs.
    void kill();

private:
    QProcess *process;
#ifdef Q_OS_WIN
    void *job = nullptr; // HANDLE of the job object
#endif
};
