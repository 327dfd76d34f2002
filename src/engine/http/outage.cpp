#include "engine/http/outage.h"

#include "engine/http/retryschedule.h"

#include <QRandomGenerator>

bool Outage::goesOn(const QString &reason)
{
    const qint64 now = clock.elapsed();
    if (since < 0)
        since = now;
    why = reason;
    const qint64 limit = giveUpAfterMs();
    return limit <= 0 || now - since < limit;
}

qint64 Outage::nextProbeWait(qint64 retryAfterMs, int baseDelayMs)
{
    if (retryAfterMs >= 0)
        return retryAfterMs;
    return backoffDelayMs(probeWaits++, baseDelayMs, QRandomGenerator::global()->generateDouble());
}

qint64 Outage::within(qint64 waitMs) const
{
    const qint64 limit = giveUpAfterMs();
    if (limit <= 0)
        return waitMs;
    return qBound<qint64>(0, waitMs, since + limit - clock.elapsed());
}

void Outage::end()
{
    since = -1;
    probeWaits = 0;
    why.clear();
}
