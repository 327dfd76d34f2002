#include "app/queuescheduler.h"

#include <QTimer>

QueueScheduler::QueueScheduler(QObject *parent) : QObject(parent), timer(new QTimer(this))
{
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, &QueueScheduler::check);
}

void QueueScheduler::setSchedule(const Schedule &schedule, const QDateTime &checked)
{
    m_schedule = schedule;
    m_checked = checked.isValid() ? checked : QDateTime::currentDateTime();
    check();
}

void QueueScheduler::check()
{
    const QDateTime now = QDateTime::currentDateTime();
    const ScheduleEvent due = dueScheduleEvent(m_schedule, m_checked, now);
    m_checked = now;
    timer->stop();
    if (m_schedule.isActive()) {
        const QDateTime next = nextScheduleMoment(m_schedule, now);
        const qint64 wait = next.isValid() ? now.msecsTo(next) : 60000;
        timer->start(int(qBound(qint64(200), wait + 20, qint64(60000))));
    }
    if (due == ScheduleEvent::None)
        return;
    emit dealtWith(now);
    if (due == ScheduleEvent::Start)
        emit startDue();
    else
        emit stopDue();
}
