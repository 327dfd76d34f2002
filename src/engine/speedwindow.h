#pragma once

#include <QtGlobal>

#include <array>

// The transfer rate the views show: the bytes of the last few seconds over their time, rather
// than those of the last refresh alone. A server that sends in bursts (a per-connection rate
// limit answers about once a second) then reads as its steady average instead of jumping
// between zero and twice the truth, and the time left follows. Right after a reset the window
// is only as long as the time since then, so the first figure comes with the first refresh; a
// transfer that stops reads 0 once the window has passed.
class SpeedWindow {
public:
    static constexpr qint64 kSpanMs = 3000;

    // Counting starts at `bytes` received at `nowMs` (a start, a resume, a count begun anew).
    void reset(qint64 nowMs, qint64 bytes);
    // `bytes` received in all by `nowMs`. Fewer bytes than before start the count again.
    void add(qint64 nowMs, qint64 bytes);
    // Bytes per second over the window; 0 until two samples lie apart in time.
    double rate() const;

private:
    struct Sample {
        qint64 ms = 0;
        qint64 bytes = 0;
    };
    // Twice a second over three and a half seconds needs eight; the rest is room to spare.
    static constexpr int kCapacity = 16;

    const Sample &at(int i) const { return ring[(first + i) % kCapacity]; }
    double rateUntil(int last) const;

    std::array<Sample, kCapacity> ring;
    int first = 0; // oldest sample
    int count = 0;
};
