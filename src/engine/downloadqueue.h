#pragma once

#include "engine/taskgate.h"

#include <QHash>
#include <QList>
#include <QMetaObject>

class DownloadTask;

// How many downloads run at once. A task handed this queue (DownloadTask::setQueue) asks it for
// a slot each time it is started or resumed; without a free slot it waits in line, paused
// (status 0) with its `queued` flag set, and the line runs oldest first.
//
// The rule is kept simple: every run holds a slot until it stops for whatever reason (done,
// failed, paused or canceled); a freed slot goes to the oldest waiting task. A task paused while
// it waits leaves the line; started again, it joins at the end. Lowering the limit stops nothing
// that runs; raising it starts waiting tasks at once.
class DownloadQueue : public TaskGate {
    Q_OBJECT

public:
    explicit DownloadQueue(QObject *parent = nullptr);

    // Downloads that may run at once; 0 (the default) for no limit.
    void setLimit(int maxRunning);
    int limit() const { return m_limit; }

    // The waiting tasks, oldest first.
    const QList<DownloadTask *> &waiting() const { return line; }
    int runningCount() const { return int(holders.size()); }

    // Puts tasks back in line in this order, as they waited before a restart. They start as
    // slots are free, from the next pass of the event loop on.
    void restore(const QList<DownloadTask *> &tasks);

signals:
    // The line changed: a task joined it, left it or was started from it.
    void changed();
    // A run that held a slot stopped: the task is done, failed, paused or canceled.
    void ended(DownloadTask *task);

private:
    bool admit(DownloadTask *task) override;
    void withdraw(DownloadTask *task) override;

    bool hasRoom() const;
    void hold(DownloadTask *task);
    void release(DownloadTask *task);
    void scheduleFill();
    void fill();

    int m_limit = 0;
    QList<DownloadTask *> line;
    QHash<DownloadTask *, QMetaObject::Connection> holders;
    DownloadTask *handingTo = nullptr;
    bool fillPending = false;
};
