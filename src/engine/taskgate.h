#pragma once

#include <QObject>

class DownloadTask;

// What a task asks before it runs, when it was handed one (DownloadTask::setQueue): the
// DownloadQueue that decides how many downloads run at once. The task knows only this face, so
// the queue may know the task without the two including each other.
class TaskGate : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // Asked by a task about to run: true to run now; false, and the task waits in line (queued,
    // status 0) until the gate runs it.
    virtual bool admit(DownloadTask *task) = 0;
    // A waiting task leaves the line (paused, canceled or deleted while it waits).
    virtual void withdraw(DownloadTask *task) = 0;
};
