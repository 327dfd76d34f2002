#pragma once

#include "app/schedule.h"

#include <QObject>

class QTimer;

// Runs the schedule: asks for the queue's start and stop at their moments. A timer is armed for
// the next moment, but never for more than a minute, so that a changed clock or a machine that
// slept is noticed; each check deals with every moment since the last one, the latest winning.
class QueueScheduler : public QObject {
    Q_OBJECT

public:
    explicit QueueScheduler(QObject *parent = nullptr);

    // Takes a schedule and the moment up to which its starts and stops were dealt with (from the
    // last run of the program; invalid for "now"), and checks at once.
    void setSchedule(const Schedule &schedule, const QDateTime &checked);
    const Schedule &schedule() const { return m_schedule; }

signals:
    void startDue();
    void stopDue();
    // A start or a stop was dealt with at `moment`: kept so that a restart does not repeat it.
    void dealtWith(const QDateTime &moment);

private:
    void check();

    Schedule m_schedule;
    QDateTime m_checked;
    QTimer *timer;
};
