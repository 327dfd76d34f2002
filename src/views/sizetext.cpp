#include "views/sizetext.h"

#include <cmath>
#include <limits>

namespace {

// Beyond this the remaining time says nothing a person could use (over 31 years).
constexpr double kLongestEtaSeconds = 1e9;
// A count far past its total is a broken figure; its percentage stops growing here.
constexpr qint64 kHighestPercent = 999;

} // namespace

QString mbText(qint64 bytes)
{
    return QString::number(double(bytes) / 1048576.0, 'f', 2);
}

QString mbText(double bytes)
{
    // A rate sampled while a count went backwards (the media tool starting its next stream) is
    // no rate at all.
    if (!std::isfinite(bytes) || bytes < 0)
        bytes = 0;
    return QString::number(bytes / 1048576.0, 'f', 2);
}

qint64 percentOf(qint64 downloaded, qint64 total)
{
    if (total < 1 || downloaded < 1)
        return 0;
    // downloaded * 100 overflows for counts past 2^63 / 100; whole parts and remainder apart
    // cannot.
    const qint64 whole = downloaded / total;
    if (whole > kHighestPercent / 100)
        return kHighestPercent;
    const qint64 rest = downloaded % total;
    const qint64 restPercent = rest <= std::numeric_limits<qint64>::max() / 100
                                   ? rest * 100 / total
                                   : qMin<qint64>(99, qint64(double(rest) / double(total) * 100.0));
    return qMin(kHighestPercent, whole * 100 + restPercent);
}

QString etaText(qint64 total, qint64 downloaded, double speed, const QString &toolEta)
{
    if (!toolEta.isEmpty())
        return toolEta;
    // Counts that are no counts (a damaged list) give no time; between real ones the difference
    // cannot overflow.
    if (speed > 0 && std::isfinite(speed) && downloaded >= 0 && total >= downloaded) {
        const double seconds = double(total - downloaded) / speed;
        if (seconds <= kLongestEtaSeconds) {
            const qint64 s = qint64(seconds);
            return QStringLiteral("%1m %2s").arg(s / 60).arg(s % 60);
        }
    }
    return QStringLiteral("--:--");
}
