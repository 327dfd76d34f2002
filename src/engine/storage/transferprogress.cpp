#include "engine/storage/transferprogress.h"

#include "engine/bytecount.h"

#include <QJsonArray>
#include <QJsonValue>

#include <algorithm>

PartRange partRange(qint64 total, int parts, int index)
{
    PartRange r;
    if (parts < 1 || index < 0 || index >= parts || total < 1)
        return r;
    const qint64 partSize = total / parts;
    r.first = index * partSize;
    r.last = index == parts - 1 ? total - 1 : r.first + partSize - 1;
    return r;
}

int partCountFor(qint64 total, int wanted)
{
    if (total < 1)
        return 1;
    return int(qMin<qint64>(wanted, total));
}

PartRange TransferProgress::rangeOf(int index) const
{
    if (partStarts.isEmpty() && partEnds.isEmpty())
        return partRange(totalSize, numParts, index);
    PartRange r;
    r.first = partStarts.value(index, 0);
    r.last = partEnds.value(index, -1);
    return r;
}

bool TransferProgress::isValid() const
{
    if (totalSize < 1 || totalSize > MaxByteCount || numParts < 1 || numParts > MaxParts ||
        numParts != partOffsets.size() || numParts > totalSize)
        return false;
    const bool explicitRanges = !partStarts.isEmpty() || !partEnds.isEmpty();
    if (explicitRanges && (partStarts.size() != numParts || partEnds.size() != numParts))
        return false;
    QVector<PartRange> ranges;
    for (int i = 0; i < numParts; ++i) {
        const PartRange r = rangeOf(i);
        // Inside the file first, so that last + 1 and the sums below cannot overflow.
        if (r.first < 0 || r.first > r.last || r.last >= totalSize || partOffsets[i] < r.first ||
            partOffsets[i] > r.last + 1)
            return false;
        ranges.append(r);
    }
    // Together the ranges must cover every byte exactly once.
    std::sort(ranges.begin(), ranges.end(),
              [](const PartRange &a, const PartRange &b) { return a.first < b.first; });
    qint64 next = 0;
    for (const PartRange &r : ranges) {
        if (r.first != next)
            return false;
        next = r.last + 1;
    }
    return next == totalSize;
}

qint64 TransferProgress::downloadedBytes() const
{
    qint64 sum = 0;
    for (int i = 0; i < partOffsets.size(); ++i)
        sum += partOffsets[i] - rangeOf(i).first;
    return sum;
}

QJsonObject TransferProgress::toJson() const
{
    auto toArray = [](const QVector<qint64> &values) {
        QJsonArray a;
        for (qint64 v : values)
            a.append(QJsonValue(v));
        return a;
    };
    QJsonObject o;
    o.insert(QStringLiteral("totalSize"), QJsonValue(totalSize));
    o.insert(QStringLiteral("numParts"), numParts);
    o.insert(QStringLiteral("partOffsets"), toArray(partOffsets));
    if (!partStarts.isEmpty()) {
        o.insert(QStringLiteral("partStarts"), toArray(partStarts));
        o.insert(QStringLiteral("partEnds"), toArray(partEnds));
    }
    o.insert(QStringLiteral("etag"), QString::fromLatin1(etag));
    o.insert(QStringLiteral("lastModified"), QString::fromLatin1(lastModified));
    o.insert(QStringLiteral("contentType"), QString::fromLatin1(contentType));
    return o;
}

TransferProgress TransferProgress::fromJson(const QJsonObject &object)
{
    TransferProgress p;
    p.totalSize = object.value(QStringLiteral("totalSize")).toInteger(0);
    p.numParts = object.value(QStringLiteral("numParts")).toInt();
    // Numbers that are no whole 64-bit value read as -1, which no valid record holds.
    auto fromArray = [&object](const char *key) {
        QVector<qint64> values;
        const QJsonArray a = object.value(QLatin1String(key)).toArray();
        for (const QJsonValue &v : a)
            values.append(v.toInteger(-1));
        return values;
    };
    p.partOffsets = fromArray("partOffsets");
    p.partStarts = fromArray("partStarts");
    p.partEnds = fromArray("partEnds");
    p.etag = object.value(QStringLiteral("etag")).toString().toLatin1();
    p.lastModified = object.value(QStringLiteral("lastModified")).toString().toLatin1();
    p.contentType = object.value(QStringLiteral("contentType")).toString().toLatin1();
    return p;
}
