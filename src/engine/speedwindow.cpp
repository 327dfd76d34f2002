#include "engine/speedwindow.h"

namespace {

// A refresh that comes a little late must not cost the window a whole refresh: a sample this much
// older than the span still counts as its start.
constexpr qint64 kLateMs = 250;

} // namespace

void SpeedWindow::reset(qint64 nowMs, qint64 bytes)
{
    first = 0;
    count = 1;
    ring[0] = {nowMs, bytes};
}

void SpeedWindow::add(qint64 nowMs, qint64 bytes)
{
    if (count == 0 || bytes < at(count - 1).bytes || nowMs < at(count - 1).ms) {
        reset(nowMs, bytes);
        return;
    }
    if (count == kCapacity) {
        first = (first + 1) % kCapacity;
        --count;
    }
    ring[(first + count) % kCapacity] = {nowMs, bytes};
    ++count;
    // Keep what the window of the previous sample still needs (see rate()).
    while (count > 2 && at(0).ms < at(count - 2).ms - kSpanMs - kLateMs) {
        first = (first + 1) % kCapacity;
        --count;
    }
}

// The window as seen now and as seen one sample earlier, averaged. Bursts that land close to the
// moments of the samples fall on one side of a window's edge or the other by chance; averaging the
// two windows halves the weight of each edge, so such a burst moves the figure by a sixth instead
// of a third.
double SpeedWindow::rate() const
{
    if (count < 2)
        return 0.0;
    const double now = rateUntil(count - 1);
    return count < 3 ? now : (now + rateUntil(count - 2)) / 2.0;
}

// Bytes per second over the span that ends at sample `last`.
double SpeedWindow::rateUntil(int last) const
{
    const Sample &end = at(last);
    int start = 0;
    while (start < last && at(start).ms < end.ms - kSpanMs - kLateMs)
        ++start;
    const qint64 ms = end.ms - at(start).ms;
    return ms > 0 ? 1000.0 * double(end.bytes - at(start).bytes) / double(ms) : 0.0;
}
