#include "engine/bandwidthlimiter.h"

#include <QIODevice>
#include <QSet>
#include <QTimer>
#include <QVector>

#include <algorithm>

namespace {

// Short enough that a stream never waits long for its share, long enough that a share is worth a
// read and a write.
constexpr int kTickMs = 50;
// Allowances that nobody could use are kept for at most this long: after a quiet moment the
// downloads may catch up a little, not burst at many times the limit. Never less than a byte,
// though: under 10 bytes a second a tenth of a second's worth would never make one, and nothing
// would ever be read.
constexpr double kBurstSeconds = 0.1;
constexpr double kMinBurstBytes = 1.0;

} // namespace

BandwidthLimiter::BandwidthLimiter(QObject *parent) : QObject(parent), timer(new QTimer(this))
{
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(kTickMs);
    connect(timer, &QTimer::timeout, this, &BandwidthLimiter::tick);
    clock.start();
}

void BandwidthLimiter::setLimit(qint64 bytesPerSecond)
{
    const qint64 limit = qMax<qint64>(bytesPerSecond, 0);
    if (limit == m_limit)
        return;
    const bool imposed = m_limit == 0;
    m_limit = limit;
    if (imposed) {
        carry = 0.0;
        for (Stream &stream : streams)
            stream.allowance = 0;
    }
    if (limit == 0) {
        // Data left waiting for an allowance is announced by nothing else. Later, so that the
        // caller is not re-entered by the transfers.
        QTimer::singleShot(0, this, &BandwidthLimiter::drainAll);
    }
    updateTimer();
}

void BandwidthLimiter::addStream(QIODevice *source, QObject *owner, std::function<void()> drain)
{
    Stream stream;
    stream.source = source;
    stream.owner = owner;
    stream.drain = std::move(drain);
    stream.order = added++;
    streams.insert(source, stream);
    connect(source, &QObject::destroyed, this, [this, source] {
        streams.remove(source);
        updateTimer();
    });
    updateTimer();
}

void BandwidthLimiter::removeStream(QIODevice *source)
{
    streams.remove(source);
    updateTimer();
}

qint64 BandwidthLimiter::grant(QIODevice *source, qint64 wanted)
{
    if (m_limit <= 0)
        return wanted;
    const auto it = streams.find(source);
    if (it == streams.end())
        return wanted;
    const qint64 granted = qBound<qint64>(0, it->allowance, wanted);
    it->allowance -= granted;
    return granted;
}

qint64 BandwidthLimiter::beginMediaRun(QObject *owner)
{
    endMediaRun(owner);
    if (m_limit <= 0)
        return 0;
    QSet<QObject *> running;
    for (const Stream &stream : streams)
        running.insert(stream.owner);
    running.remove(owner);
    const qint64 share = qMax<qint64>(1, m_limit / (running.size() + mediaShares.size() + 1));
    MediaShare media;
    media.rate = share;
    media.ownerGone =
        connect(owner, &QObject::destroyed, this, [this, owner] { mediaShares.remove(owner); });
    mediaShares.insert(owner, media);
    return share;
}

void BandwidthLimiter::endMediaRun(QObject *owner)
{
    const auto it = mediaShares.find(owner);
    if (it == mediaShares.end())
        return;
    disconnect(it->ownerGone);
    mediaShares.erase(it);
}

// What the HTTP streams may take together: the limit less the media tools' shares. A tool keeps
// the share it was started with, so when the limit or the number of downloads has changed since,
// the HTTP downloads still get their fair part of the limit.
double BandwidthLimiter::httpRate() const
{
    if (mediaShares.isEmpty())
        return double(m_limit);
    double reserved = 0.0;
    for (const MediaShare &media : mediaShares)
        reserved += double(media.rate);
    QSet<QObject *> owners;
    for (const Stream &stream : streams)
        owners.insert(stream.owner);
    const double fair =
        double(m_limit) * double(owners.size()) / double(owners.size() + mediaShares.size());
    return qMax(double(m_limit) - reserved, fair);
}

void BandwidthLimiter::tick()
{
    const qint64 now = clock.nsecsElapsed();
    const double seconds = double(now - lastTickNs) / 1e9;
    lastTickNs = now;

    // What was handed out and not read goes back into the bucket; only the refill is never cut,
    // so that a tick that comes late still brings the time it missed.
    const double burst = qMax(double(m_limit) * kBurstSeconds, kMinBurstBytes);
    double bucket = carry;
    QVector<QIODevice *> waiting;
    for (auto it = streams.begin(); it != streams.end(); ++it) {
        bucket += double(it->allowance);
        it->allowance = 0;
        if (it->source && it->source->bytesAvailable() > 0)
            waiting.append(it.key());
    }
    bucket = qMin(bucket, burst) + httpRate() * seconds;
    if (waiting.isEmpty()) {
        carry = qMin(bucket, burst);
        return;
    }

    std::sort(waiting.begin(), waiting.end(), [this](QIODevice *a, QIODevice *b) {
        return streams.constFind(a)->order < streams.constFind(b)->order;
    });
    const qint64 whole = qint64(bucket);
    carry = bucket - double(whole);
    const qint64 n = waiting.size();
    const qint64 share = whole / n;
    const qint64 odd = whole % n;
    const qint64 first = qint64(turn % quint64(n));
    for (qint64 i = 0; i < n; ++i)
        streams[waiting[(first + i) % n]].allowance = share + (i < odd ? 1 : 0);
    turn = quint64(first + odd);

    // A drain may end streams or start new ones (a retry, a split): look each one up again.
    for (QIODevice *source : waiting) {
        const auto it = streams.constFind(source);
        if (it == streams.constEnd() || !it->source)
            continue;
        const std::function<void()> drain = it->drain;
        drain();
    }
}

void BandwidthLimiter::drainAll()
{
    if (m_limit > 0)
        return;
    const QList<QIODevice *> sources = streams.keys();
    for (QIODevice *source : sources) {
        const auto it = streams.constFind(source);
        if (it == streams.constEnd() || !it->source || it->source->bytesAvailable() <= 0)
            continue;
        const std::function<void()> drain = it->drain;
        drain();
    }
}

void BandwidthLimiter::updateTimer()
{
    if (m_limit > 0 && !streams.isEmpty()) {
        if (!timer->isActive()) {
            lastTickNs = clock.nsecsElapsed();
            timer->start();
        }
    } else {
        timer->stop();
    }
}
