#pragma once

#include "app/preferences.h"

#include <QObject>
#include <QPointer>

class AfterQueueNotice;
class DownloadQueue;
class DownloadTask;
class QueueScheduler;
class TaskList;
class TrayNotices;
class QWidget;

// The queue's schedule and its end, for the window: a scheduled start resumes every download
// waiting for the user (paused, or added for later) in list order, under the queue's limit; a
// scheduled stop pauses every running or waiting one. When the last download that ran completes
// or fails and nothing waits (a pause is no end), the chosen action follows a notice that can
// cancel it: quitting is asked of the window, a command runs in the finished file's folder.
class QueueAutomation : public QObject {
    Q_OBJECT

public:
    QueueAutomation(TaskList *list, DownloadQueue *queue, Preferences *prefs, TrayNotices *notices,
                    QWidget *window);

    // Takes the chosen action; a changed schedule counts from now, today's past times unfired.
    // The first call, at launch, counts from when the schedule was last dealt with instead, so
    // that a start missed while the program was closed runs now.
    void apply(const DownloadPreferences &chosen);

signals:
    void quitRequested();

private:
    void startQueue();
    void stopQueue();
    void onRunEnded(DownloadTask *task);
    void runAction(AfterQueue action, const QString &command, const QString &folder);

    TaskList *list;
    DownloadQueue *queue;
    Preferences *prefs;
    TrayNotices *notices;
    QWidget *window;
    QueueScheduler *scheduler;
    bool launched = false;
    AfterQueue afterQueue = AfterQueue::Nothing;
    QString afterCommand;
    QPointer<AfterQueueNotice> notice;
};
