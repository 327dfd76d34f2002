#include "engine/http/retryschedule.h"

#include "language/translation.h"

#include <QLocale>
#include <QNetworkReply>
#include <QRegularExpression>

#include <cmath>

namespace {

qint64 g_giveUpAfterMs = 10 * 60 * 1000;

// The three spellings of an HTTP date: IMF-fixdate, the obsolete RFC 850 one and asctime's.
QDateTime parseHttpDate(const QByteArray &value)
{
    QString text = QString::fromLatin1(value).simplified();
    // The two-digit year of the RFC 850 spelling, written out (years below 70 are this century)
    // before the weekday is checked against the date.
    static const QRegularExpression shortYear(QStringLiteral("-(\\d\\d) "));
    const QRegularExpressionMatch year = shortYear.match(text);
    if (year.hasMatch()) {
        const int yy = year.captured(1).toInt();
        text.replace(year.capturedStart(1), 2, QString::number(yy < 70 ? 2000 + yy : 1900 + yy));
    }
    const QLocale c = QLocale::c();
    for (const char *format : {"ddd, dd MMM yyyy HH:mm:ss 'GMT'",
                               "dddd, dd-MMM-yyyy HH:mm:ss 'GMT'", "ddd MMM d HH:mm:ss yyyy"}) {
        QDateTime when = c.toDateTime(text, QLatin1String(format));
        if (when.isValid()) {
            when.setTimeSpec(Qt::UTC);
            return when;
        }
    }
    return QDateTime();
}

} // namespace

int backoffDelayMs(int attempt, int baseMs, double jitter)
{
    const double grown = double(qMax(baseMs, 1)) * std::pow(2.0, qBound(0, attempt, 30));
    const double capped = qMin(grown, double(kRetryCapMs));
    const double moved = capped * (0.8 + 0.4 * qBound(0.0, jitter, 1.0));
    return int(qMin(moved, double(kRetryCapMs)));
}

qint64 retryAfterMs(const QByteArray &value, const QDateTime &now)
{
    const QByteArray trimmed = value.trimmed();
    if (trimmed.isEmpty())
        return -1;
    bool number = false;
    const qint64 seconds = trimmed.toLongLong(&number);
    if (number)
        return seconds < 0 ? -1 : qMin(seconds, kRetryAfterCapMs / 1000) * 1000;
    const QDateTime when = parseHttpDate(trimmed);
    if (!when.isValid())
        return -1;
    return qBound<qint64>(0, now.msecsTo(when), kRetryAfterCapMs);
}

bool isTransientFailure(int networkError, int httpStatus)
{
    switch (httpStatus) {
    case 408:
    case 429:
    case 500:
    case 502:
    case 503:
    case 504: return true;
    default: break;
    }
    if (httpStatus != 0)
        return false;
    switch (QNetworkReply::NetworkError(networkError)) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::SslHandshakeFailedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError: return true;
    default: return false;
    }
}

qint64 giveUpAfterMs()
{
    return g_giveUpAfterMs;
}

void setGiveUpAfterMs(qint64 ms)
{
    g_giveUpAfterMs = qMax<qint64>(ms, 0);
}

QString waitingText(int seconds)
{
    return T(QStringLiteral("Waiting for the server — retrying in %1 s")).arg(seconds);
}
