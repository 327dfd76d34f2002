#pragma once

#include <QtGlobal>

#include <cmath>

// Sizes and offsets that come from outside (headers, the media tool, the saved lists, the browser)
// are believed only up to 1 EiB: far beyond any real file, and far enough below 2^63 that sums,
// "last + 1" and the like cannot overflow. Anything else counts as unknown.
constexpr qint64 MaxByteCount = qint64(1) << 60;

constexpr bool isByteCount(qint64 value)
{
    return value >= 0 && value <= MaxByteCount;
}

// The value when it is a believable byte count, else 0 (unknown).
constexpr qint64 byteCountOrZero(qint64 value)
{
    return isByteCount(value) ? value : 0;
}

// A double (a scaled size or a rate) as a byte count, truncated; false for NaN, infinities,
// negative values and values past MaxByteCount, which a plain cast would turn into garbage.
inline bool byteCountFromDouble(double value, qint64 *out)
{
    if (!std::isfinite(value) || value < 0.0 || value > double(MaxByteCount))
        return false;
    *out = qint64(value);
    return true;
}
