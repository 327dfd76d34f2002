#include "app/schedule.h"

namespace {

bool dayChosen(int days, const QDate &date)
{
    return (days >> (date.dayOfWeek() - 1)) & 1;
}

} // namespace

QDateTime nextOccurrence(QTime at, int days, const QDateTime &after)
{
    if (!at.isValid() || (days & Schedule::kEveryDay) == 0 || !after.isValid())
        return {};
    // Eight days reach the same weekday again; a day a clock change skips the time of is tried
    // through QDateTime's own adjustment.
    for (int i = 0; i <= 8; ++i) {
        const QDate date = after.date().addDays(i);
        const QDateTime candidate(date, at, after.timeSpec());
        if (dayChosen(days, date) && candidate > after)
            return candidate;
    }
    return {};
}

QDateTime previousOccurrence(QTime at, int days, const QDateTime &now)
{
    if (!at.isValid() || (days & Schedule::kEveryDay) == 0 || !now.isValid())
        return {};
    for (int i = 0; i <= 8; ++i) {
        const QDate date = now.date().addDays(-i);
        const QDateTime candidate(date, at, now.timeSpec());
        if (dayChosen(days, date) && candidate <= now)
            return candidate;
    }
    return {};
}

QDateTime nextScheduleMoment(const Schedule &schedule, const QDateTime &now)
{
    const QDateTime start =
        schedule.startOn ? nextOccurrence(schedule.start, schedule.days, now) : QDateTime();
    const QDateTime stop =
        schedule.stopOn ? nextOccurrence(schedule.stop, schedule.days, now) : QDateTime();
    if (!start.isValid())
        return stop;
    if (!stop.isValid())
        return start;
    return qMin(start, stop);
}

ScheduleEvent dueScheduleEvent(const Schedule &schedule, const QDateTime &since,
                               const QDateTime &now)
{
    // Never looked at before: nothing was missed.
    if (!since.isValid())
        return ScheduleEvent::None;
    const auto lastIn = [&](bool on, QTime at) {
        const QDateTime moment = on ? previousOccurrence(at, schedule.days, now) : QDateTime();
        return moment.isValid() && moment > since ? moment : QDateTime();
    };
    const QDateTime start = lastIn(schedule.startOn, schedule.start);
    const QDateTime stop = lastIn(schedule.stopOn, schedule.stop);
    if (!start.isValid() && !stop.isValid())
        return ScheduleEvent::None;
    if (!stop.isValid() || (start.isValid() && start > stop))
        return ScheduleEvent::Start;
    return ScheduleEvent::Stop;
}
