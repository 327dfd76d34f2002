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
    const auto it = streams.find(source);
    if (it == streams.end() || !limited(*it))
        return wanted;
    const qint64 granted = qBound<qint64>(0, it->allowance, wanted);
    it->allowance -= granted;
    return granted;
}

void BandwidthLimiter::setOwnerLimit(QObject *owner, qint64 bytesPerSecond)
{
    const auto it = ownBuckets.find(owner);
    if (bytesPerSecond <= 0) {
        if (it == ownBuckets.end())
            return;
        disconnect(it->ownerGone);
        ownBuckets.erase(it);
        if (m_limit <= 0)
            QTimer::singleShot(0, this, &BandwidthLimiter::drainAll);
        updateTimer();
        return;
    }
    if (it == ownBuckets.end()) {
        OwnBucket own;
        own.ownerGone = connect(owner, &QObject::destroyed, this, [this, owner] {
            ownBuckets.remove(owner);
            updateTimer();
        });
        ownBuckets.insert(owner, own);
        // Its streams start from nothing, like every stream when a shared limit is imposed.
        for (Stream &stream : streams)
            if (stream.owner == owner)
                stream.allowance = 0;
    }
    ownBuckets[owner].rate = bytesPerSecond;
    updateTimer();
}

bool BandwidthLimiter::limited(const Stream &stream) const
{
    return m_limit > 0 || ownBuckets.contains(stream.owner);
}

qint64 BandwidthLimiter::beginMediaRun(QObject *owner, qint64 ownLimit)
{
    endMediaRun(owner);
    if (m_limit <= 0)
        return qMax<qint64>(ownLimit, 0);
    QSet<QObject *> running;
    for (const Stream &stream : streams)
        running.insert(stream.owner);
    running.remove(owner);
    qint64 share = qMax<qint64>(1, m_limit / (running.size() + mediaShares.size() + 1));
    if (ownLimit > 0)
        share = qMin(share, ownLimit);
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

    // What was handed out and not read goes back into the buckets it came from; only the refill
    // is never cut, so that a tick that comes late still brings the time it missed.
    const bool shared = m_limit > 0;
    const double burst = qMax(double(m_limit) * kBurstSeconds, kMinBurstBytes);
    double bucket = carry;
    QVector<QIODevice *> waiting;
    for (auto it = streams.begin(); it != streams.end(); ++it) {
        bucket += double(it->allowance);
        const auto own = ownBuckets.find(it->owner);
        if (own != ownBuckets.end())
            own->bytes += double(it->allowance);
        it->allowance = 0;
        if (limited(*it) && it->source && it->source->bytesAvailable() > 0)
            waiting.append(it.key());
    }
    bucket = shared ? qMin(bucket, burst) + httpRate() * seconds : 0.0;
    for (OwnBucket &own : ownBuckets)
        own.bytes = qMin(own.bytes, qMax(double(own.rate) * kBurstSeconds, kMinBurstBytes)) +
                    double(own.rate) * seconds;
    if (waiting.isEmpty()) {
        carry = qMin(bucket, burst);
        return;
    }

    std::sort(waiting.begin(), waiting.end(), [this](QIODevice *a, QIODevice *b) {
        return streams.constFind(a)->order < streams.constFind(b)->order;
    });
    // The streams of transfers with a limit of their own, by transfer; the others share the rest.
    QHash<QObject *, QVector<QIODevice *>> ownWaiting;
    QVector<QIODevice *> even;
    for (QIODevice *source : qAsConst(waiting)) {
        QObject *owner = streams.constFind(source)->owner;
        if (ownBuckets.contains(owner))
            ownWaiting[owner].append(source);
        else
            even.append(source);
    }
    const qint64 whole = qint64(bucket);
    qint64 remaining = whole;
    qint64 streamsLeft = waiting.size();
    QList<QObject *> open = ownWaiting.keys();
    // A transfer whose own bucket holds less than its streams' even share of the shared one gets
    // what its bucket holds, and the others share the rest; repeated until every transfer left
    // can take its even share. Without a shared limit each takes what its own bucket holds.
    for (bool settled = true; settled;) {
        settled = false;
        for (int i = 0; i < open.size(); ++i) {
            const QVector<QIODevice *> &sources = ownWaiting[open[i]];
            OwnBucket &own = ownBuckets[open[i]];
            const double fair = double(remaining) * double(sources.size()) / double(streamsLeft);
            if (shared && own.bytes >= fair + double(sources.size()))
                continue;
            const qint64 given = shared ? qMin(qint64(own.bytes), remaining) : qint64(own.bytes);
            hand(sources, given, own.turn);
            own.bytes -= double(given);
            remaining -= given;
            streamsLeft -= sources.size();
            open.removeAt(i);
            settled = true;
            break;
        }
    }
    if (shared) {
        for (QObject *owner : qAsConst(open))
            even += ownWaiting[owner];
        std::sort(even.begin(), even.end(), [this](QIODevice *a, QIODevice *b) {
            return streams.constFind(a)->order < streams.constFind(b)->order;
        });
        hand(even, remaining, turn);
        for (QObject *owner : qAsConst(open))
            for (QIODevice *source : ownWaiting[owner])
                ownBuckets[owner].bytes -= double(streams.constFind(source)->allowance);
        remaining = 0;
    }
    carry = shared ? bucket - double(whole) + double(remaining) : 0.0;

    // A drain may end streams or start new ones (a retry, a split): look each one up again.
    for (QIODevice *source : waiting) {
        const auto it = streams.constFind(source);
        if (it == streams.constEnd() || !it->source)
            continue;
        const std::function<void()> drain = it->drain;
        drain();
    }
}

void BandwidthLimiter::hand(const QVector<QIODevice *> &sources, qint64 bytes, quint64 &turnOf)
{
    const qint64 n = sources.size();
    if (n == 0)
        return;
    const qint64 share = bytes / n;
    const qint64 odd = bytes % n;
    const qint64 first = qint64(turnOf % quint64(n));
    for (qint64 i = 0; i < n; ++i)
        streams[sources[(first + i) % n]].allowance = share + (i < odd ? 1 : 0);
    turnOf = quint64(first + odd);
}

void BandwidthLimiter::drainAll()
{
    if (m_limit > 0)
        return;
    const QList<QIODevice *> sources = streams.keys();
    for (QIODevice *source : sources) {
        const auto it = streams.constFind(source);
        if (it == streams.constEnd() || !it->source || it->source->bytesAvailable() <= 0 ||
            limited(*it))
            continue;
        const std::function<void()> drain = it->drain;
        drain();
    }
}

void BandwidthLimiter::updateTimer()
{
    if ((m_limit > 0 || !ownBuckets.isEmpty()) && !streams.isEmpty()) {
        if (!timer->isActive()) {
            lastTickNs = clock.nsecsElapsed();
            timer->start();
        }
    } else {
        timer->stop();
    }
}
