#pragma once

#include <QDateTime>
#include <QTime>

// When the queue starts and stops by itself. Days are a mask of Qt::DayOfWeek: bit (day - 1),
// Monday the lowest. A start or a stop happens at its time on each chosen day.
struct Schedule {
    bool startOn = false;
    QTime start;
    bool stopOn = false;
    QTime stop;
    int days = 0x7f; // every day

    static constexpr int kEveryDay = 0x7f;
    bool isActive() const { return (startOn || stopOn) && (days & kEveryDay) != 0; }
    bool operator==(const Schedule &o) const
    {
        return startOn == o.startOn && start == o.start && stopOn == o.stopOn && stop == o.stop &&
               days == o.days;
    }
};

// What the schedule asks for at a moment.
enum class ScheduleEvent { None, Start, Stop };

// The first moment strictly after `after` at `at` on one of `days`; invalid when no day is chosen
// or `at` is invalid.
QDateTime nextOccurrence(QTime at, int days, const QDateTime &after);
// The last moment at or before `now` at `at` on one of `days`; invalid likewise.
QDateTime previousOccurrence(QTime at, int days, const QDateTime &now);

// The next start or stop strictly after `now`, the sooner of the two; invalid when none.
QDateTime nextScheduleMoment(const Schedule &schedule, const QDateTime &now);

// What is due for the moments in (`since`, `now`]: the later of the last start and the last stop
// in that span, or None. At launch `since` is the moment the schedule was last looked at, so a
// start that passed while the program was closed is due once, unless a stop came after it.
ScheduleEvent dueScheduleEvent(const Schedule &schedule, const QDateTime &since,
                               const QDateTime &now);
