#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>

#include <functional>

class QIODevice;
class QTimer;

// One speed limit shared by all downloads of a program. The host makes one, hands it to every
// DownloadTask and sets the limit; 0 leaves every transfer as fast as the network allows. A new
// limit takes effect at once, also for the transfers already running.
//
// HTTP transfers read through a token bucket. Every connection of every task is a stream; a short
// tick refills the bucket and splits it evenly among the streams that have data waiting, the odd
// bytes going to each in turn, so that no stream is starved. A stream reads at most its allowance
// until the next tick and leaves the rest in its bounded read buffer, so that TCP slows the server
// down instead of the data piling up here.
//
// A transfer may have a limit of its own besides (setOwnerLimit): both apply. Its streams never
// take more than its own bucket holds, and what it leaves of its share of the shared limit goes to
// the other streams, so a download held to 100K under a shared 1M gets 100K, and one allowed 1M
// under a shared 50K gets 50K.
//
// A media tool runs outside the bucket. It is started with its own rate option set to its share,
// and the HTTP streams leave that share to it while it runs.
class BandwidthLimiter : public QObject {
    Q_OBJECT

public:
    explicit BandwidthLimiter(QObject *parent = nullptr);

    // Bytes per second for all downloads together; 0 or less turns the limit off.
    void setLimit(qint64 bytesPerSecond);
    qint64 limit() const { return m_limit; }
    // Whether the streams of `owner` are held to a rate now, the shared one or its own.
    bool limits(QObject *owner) const { return m_limit > 0 || ownBuckets.contains(owner); }
    // A limit of its own for the streams of `owner`, inside the shared one; 0 or less removes it.
    // Takes effect at the next tick; kept until `owner` is destroyed.
    void setOwnerLimit(QObject *owner, qint64 bytesPerSecond);

    // A connection of the transfer `owner` that reads from `source`. `drain` reads what the
    // stream may read now (see grant()); it is called when the stream gets an allowance while
    // its data waits, and once when the limit is lifted. The stream ends with removeStream() or
    // when `source` is destroyed.
    void addStream(QIODevice *source, QObject *owner, std::function<void()> drain);
    void removeStream(QIODevice *source);
    // How many of the `wanted` bytes the stream on `source` may read now; they are taken from its
    // allowance. All of them without a limit, or for a source that is no stream.
    qint64 grant(QIODevice *source, qint64 wanted);

    // The rate, in bytes per second, that a media tool started now for `owner` is to keep to:
    // the limit split evenly among the downloads running, this one included, and at most
    // `ownLimit` when that is above 0; 0 when neither limits it. The share stays reserved until
    // endMediaRun() or until `owner` is destroyed.
    qint64 beginMediaRun(QObject *owner, qint64 ownLimit = 0);
    void endMediaRun(QObject *owner);

private:
    struct Stream {
        QPointer<QIODevice> source;
        QObject *owner = nullptr;
        std::function<void()> drain;
        qint64 allowance = 0;
        quint64 order = 0; // when the stream was added: the order in which the odd bytes go
    };
    struct MediaShare {
        qint64 rate = 0;
        QMetaObject::Connection ownerGone;
    };
    // The bucket of a transfer with a limit of its own.
    struct OwnBucket {
        qint64 rate = 0;
        double bytes = 0.0;
        quint64 turn = 0; // which of its streams gets the next odd byte
        QMetaObject::Connection ownerGone;
    };

    void tick();
    void drainAll();
    bool limited(const Stream &stream) const;
    // Splits `bytes` among `sources` (in the order of their streams), the odd bytes in turns.
    void hand(const QVector<QIODevice *> &sources, qint64 bytes, quint64 &turnOf);
    double httpRate() const;
    void updateTimer();

    qint64 m_limit = 0;
    QHash<QIODevice *, Stream> streams;
    QHash<QObject *, MediaShare> mediaShares;
    QHash<QObject *, OwnBucket> ownBuckets;
    QTimer *timer;
    QElapsedTimer clock;
    qint64 lastTickNs = 0;
    double carry = 0.0; // bytes of the bucket not handed out yet
    quint64 turn = 0;   // which stream gets the next odd byte
    quint64 added = 0;  // streams added so far
};
