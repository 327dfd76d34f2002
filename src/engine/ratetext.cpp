#include "engine/ratetext.h"

#include <limits>

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
