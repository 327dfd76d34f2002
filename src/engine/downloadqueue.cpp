#include "engine/downloadqueue.h"

#include "engine/downloadtask.h"

DownloadQueue::DownloadQueue(QObject *parent) : TaskGate(parent) {}

void DownloadQueue::setLimit(int maxRunning)
{
    m_limit = qMax(0, maxRunning);
    scheduleFill();
}

void DownloadQueue::restore(const QList<DownloadTask *> &tasks)
{
    for (DownloadTask *task : tasks) {
        if (line.contains(task) || holders.contains(task) || task->status != 0)
            continue;
        task->queued = true;
        line.append(task);
    }
    scheduleFill();
}

bool DownloadQueue::hasRoom() const
{
    return m_limit == 0 || holders.size() < m_limit;
}

// A newcomer runs at once only while nobody waits: a slot freed a moment ago belongs to the
// oldest waiting task, which the pending fill starts.
bool DownloadQueue::admit(DownloadTask *task)
{
    if (holders.contains(task))
        return true;
    if (task == handingTo || (hasRoom() && line.isEmpty())) {
        line.removeOne(task);
        hold(task);
        return true;
    }
    if (!line.contains(task)) {
        line.append(task);
        emit changed();
    }
    if (hasRoom())
        scheduleFill();
    return false;
}

void DownloadQueue::withdraw(DownloadTask *task)
{
    if (line.removeOne(task))
        emit changed();
}

// A run holds its slot until the task leaves status 1, which every way of stopping reports
// through progressUpdated(): pause, cancel (also from the task's destructor), failure and the end.
void DownloadQueue::hold(DownloadTask *task)
{
    holders.insert(task, connect(task, &DownloadTask::progressUpdated, this, [this, task] {
                       if (task->status != 1)
                           release(task);
                   }));
}

void DownloadQueue::release(DownloadTask *task)
{
    const auto it = holders.find(task);
    if (it == holders.end())
        return;
    disconnect(it.value());
    holders.erase(it);
    emit ended(task);
    scheduleFill();
}

// The freed slot is handed over from the event loop rather than from inside the signal of the
// run that stopped: a listener may be deleting that task, and a window tearing down its tasks
// must not start the waiting ones on the way.
void DownloadQueue::scheduleFill()
{
    if (fillPending || line.isEmpty() || !hasRoom())
        return;
    fillPending = true;
    QMetaObject::invokeMethod(this, &DownloadQueue::fill, Qt::QueuedConnection);
}

void DownloadQueue::fill()
{
    fillPending = false;
    bool started = false;
    while (hasRoom() && !line.isEmpty()) {
        DownloadTask *next = line.takeFirst();
        next->queued = false;
        handingTo = next;
        next->resume();
        handingTo = nullptr;
        started = true;
    }
    if (started)
        emit changed();
}
