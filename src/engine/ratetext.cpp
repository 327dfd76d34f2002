#include "engine/ratetext.h"

#include <limits>
#include <utility>

qint64 parseRateText(const QString &text)
{
    QString digits = text.trimmed();
    qint64 unit = 1;
    if (!digits.isEmpty() && digits.back().isLetter()) {
        switch (digits.back().toUpper().unicode()) {
        case 'B': unit = 1; break;
        case 'K': unit = 1024; break;
        case 'M': unit = 1024 * 1024; break;
        case 'G': unit = 1024 * 1024 * 1024; break;
        default: return -1;
        }
        digits.chop(1);
    }
    // toLongLong would also take a sign and surrounding blanks.
    if (digits.isEmpty())
        return -1;
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
    }
    bool ok = false;
    const qint64 value = digits.toLongLong(&ok);
    if (!ok || value > std::numeric_limits<qint64>::max() / unit)
        return -1;
    return value * unit;
}

QString rateText(qint64 bytesPerSecond)
{
    const std::pair<qint64, char> units[] = {{1LL << 30, 'G'}, {1LL << 20, 'M'}, {1LL << 10, 'K'}};
    for (const auto &[size, letter] : units)
        if (bytesPerSecond >= size && bytesPerSecond % size == 0)
            return QString::number(bytesPerSecond / size) + QLatin1Char(letter);
    return QString::number(bytesPerSecond);
}
