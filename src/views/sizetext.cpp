#include "views/sizetext.h"

QString mbText(qint64 bytes)
{
    return QString::number(double(bytes) / 1048576.0, 'f', 2);
}

QString mbText(double bytes)
{
    return QString::number(bytes / 1048576.0, 'f', 2);
}

qint64 percentOf(qint64 downloaded, qint64 total)
{
    return total < 1 ? 0 : downloaded * 100 / total;
}

QString etaText(qint64 total, qint64 downloaded, double speed, const QString &toolEta)
{
    if (!toolEta.isEmpty())
        return toolEta;
    if (speed > 0) {
        const int s = int(double(total - downloaded) / speed);
        return QStringLiteral("%1m %2s").arg(s / 60).arg(s % 60);
    }
    return QStringLiteral("--:--");
}
