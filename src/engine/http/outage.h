#pragma once

#include <QElapsedTimer>
#include <QString>

// One outage of a transfer: from its first failure since data last came until data comes again
// (end()) or it has lasted longer than the user allows (giveUpAfterMs(), read at every failure so
// that a changed preference holds for an outage already under way).
class Outage {
public:
    Outage() { clock.start(); }

    bool underWay() const { return since >= 0; }
    // Why its latest try failed.
    QString reason() const { return why; }

    // Counts a failure for `reason`; false once the outage has lasted as long as the user allows,
    // when the caller ends its run in error.
    bool goesOn(const QString &reason);
    // The wait before the probe's next try: what the server asked for with Retry-After (-1 for
    // nothing), or the growing wait of the schedule.
    qint64 nextProbeWait(qint64 retryAfterMs, int baseDelayMs);
    // `waitMs` cut short at the moment the outage is given up, so that its last try comes then.
    qint64 within(qint64 waitMs) const;
    void end();

private:
    QElapsedTimer clock;
    qint64 since = -1; // clock.elapsed() at its first failure
    QString why;
    int probeWaits = 0;
};
