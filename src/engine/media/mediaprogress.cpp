#include "engine/media/mediaprogress.h"

#include "engine/bytecount.h"

#include <QRegularExpression>

namespace {

// Splits "10.00MiB" into its number and unit and scales it; false when it is no such text, or
// when the figure is no believable byte count (a thousand-digit number, "1.2.3").
bool readSize(const QString &text, double *bytes)
{
    static const QRegularExpression unitPattern(QStringLiteral("([\\d\\.]+)([a-zA-Z]+)"));
    const QRegularExpressionMatch m = unitPattern.match(text);
    if (!m.hasMatch())
        return false;
    bool ok = false;
    const double value = m.captured(1).toDouble(&ok) * mediaUnitMultiplier(m.captured(2));
    qint64 whole = 0;
    if (!ok || !byteCountFromDouble(value, &whole))
        return false;
    *bytes = value;
    return true;
}

} // namespace

double mediaUnitMultiplier(const QString &unit)
{
    const QString u = unit.toUpper();
    if (u.contains(QLatin1Char('T')))
        return 1099511627776.0; // 2^40; a terabyte-sized file must not read as a few bytes
    if (u.contains(QLatin1Char('G')))
        return 1073741824.0;
    if (u.contains(QLatin1Char('M')))
        return 1048576.0;
    if (u.contains(QLatin1Char('K')))
        return 1024.0;
    return 1.0;
}

MediaLineInfo parseMediaLine(const QString &line)
{
    static const QRegularExpression progressPattern(QStringLiteral(
        "\\[download\\]\\s+([\\d\\.]+)\\%\\s+of\\s+(?:~\\s*)?([\\d\\.]+\\s*[a-zA-Z]+)"));
    static const QRegularExpression speedPattern(
        QStringLiteral("at\\s+(?:~\\s*)?([\\d\\.]+\\s*[a-zA-Z]+/s)"));
    static const QRegularExpression etaPattern(QStringLiteral("ETA\\s+([\\d:]+)"));

    MediaLineInfo info;
    const QString clean = line.trimmed();
    if (clean.isEmpty())
        return info;

    const QRegularExpressionMatch progress = progressPattern.match(clean);
    if (!progress.hasMatch()) {
        const bool taggedLine =
            clean.startsWith(QLatin1Char('[')) && !clean.startsWith(QLatin1String("[download]"));
        if (taggedLine || clean.contains(QLatin1String("ERROR"), Qt::CaseInsensitive)) {
            info.kind = MediaLineInfo::Message;
            info.message = clean;
        }
        return info;
    }

    info.kind = MediaLineInfo::Progress;
    bool percentOk = false;
    const double percent = progress.captured(1).toDouble(&percentOk);
    double total = 0.0;
    if (percentOk && readSize(progress.captured(2).remove(QLatin1Char(' ')), &total)) {
        info.hasSizes = true;
        info.totalSize = qint64(total);
        // The tool never reports more than all of it; a wild percentage must not either.
        info.downloadedSize =
            qint64(double(info.totalSize) * (qBound(0.0, percent, 100.0) / 100.0));
    }

    const QRegularExpressionMatch speed = speedPattern.match(clean);
    double bytesPerSecond = 0.0;
    if (speed.hasMatch() && readSize(speed.captured(1).remove(QLatin1Char(' ')), &bytesPerSecond)) {
        info.hasSpeed = true;
        info.speed = bytesPerSecond;
    }

    const QRegularExpressionMatch eta = etaPattern.match(clean);
    if (eta.hasMatch()) {
        info.hasEta = true;
        info.eta = eta.captured(1);
    }
    return info;
}

QList<QByteArray> takeCompleteLines(QByteArray &pending, const QByteArray &incoming)
{
    pending += incoming;
    QList<QByteArray> lines;
    qsizetype from = 0;
    for (qsizetype nl = pending.indexOf('\n'); nl >= 0; nl = pending.indexOf('\n', from)) {
        lines.append(pending.mid(from, nl - from));
        from = nl + 1;
    }
    pending.remove(0, from);
    return lines;
}
