#include "app/queueautomation.h"

#include "app/afterqueuenotice.h"
#include "app/queuescheduler.h"
#include "app/traynotices.h"
#include "engine/downloadqueue.h"
#include "engine/downloadtask.h"
#include "language/translation.h"
#include "views/tasklist.h"

#include <QFileInfo>
#include <QProcess>
#include <QWidget>

QueueAutomation::QueueAutomation(TaskList *list, DownloadQueue *queue, Preferences *prefs,
                                 TrayNotices *notices, QWidget *window)
    : QObject(window), list(list), queue(queue), prefs(prefs), notices(notices), window(window),
      scheduler(new QueueScheduler(this))
{
    connect(queue, &DownloadQueue::ended, this, &QueueAutomation::onRunEnded);
    connect(scheduler, &QueueScheduler::startDue, this, &QueueAutomation::startQueue);
    connect(scheduler, &QueueScheduler::stopDue, this, &QueueAutomation::stopQueue);
    connect(scheduler, &QueueScheduler::dealtWith, this,
            [prefs](const QDateTime &moment) { prefs->setScheduleChecked(moment); });
}

void QueueAutomation::apply(const DownloadPreferences &chosen)
{
    afterQueue = chosen.afterQueue;
    afterCommand = chosen.afterCommand;
    QDateTime checked = launched ? QDateTime() : prefs->scheduleChecked();
    if (launched && chosen.schedule == scheduler->schedule())
        return;
    launched = true;
    if (!checked.isValid()) {
        checked = QDateTime::currentDateTime();
        prefs->setScheduleChecked(checked);
    }
    scheduler->setSchedule(chosen.schedule, checked);
}

void QueueAutomation::startQueue()
{
    const QList<DownloadTask *> all = list->tasks();
    for (DownloadTask *task : all) {
        if (task->status == 0 && !task->queued)
            task->resume();
    }
}

void QueueAutomation::stopQueue()
{
    const QList<DownloadTask *> all = list->tasks();
    for (DownloadTask *task : all) {
        if (task->isActive())
            task->pause();
    }
}

void QueueAutomation::onRunEnded(DownloadTask *task)
{
    if (afterQueue == AfterQueue::Nothing || (task->status != 2 && task->status != 3) ||
        queue->runningCount() > 0 || !queue->waiting().isEmpty() || notice)
        return;
    const QString folder = QFileInfo(task->savePath()).absolutePath();
    notice = new AfterQueueNotice(afterQueue, window);
    connect(notice, &AfterQueueNotice::confirmed, this,
            [this, action = afterQueue, command = afterCommand, folder] {
                // A download started meanwhile keeps the program as it is.
                if (queue->runningCount() == 0 && queue->waiting().isEmpty())
                    runAction(action, command, folder);
            });
    notice->show();
}

void QueueAutomation::runAction(AfterQueue action, const QString &command, const QString &folder)
{
    if (action == AfterQueue::Quit) {
        emit quitRequested();
        return;
    }
    // No shell: the words of the command are the program and its arguments, as typed.
    QStringList words = QProcess::splitCommand(command);
    if (words.isEmpty())
        return;
    const QString program = words.takeFirst();
    if (!QProcess::startDetached(program, words, folder))
        notices->showWarning(T(QStringLiteral("The command could not be run: %1")).arg(program));
}
