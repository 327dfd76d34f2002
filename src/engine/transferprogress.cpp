#include "engine/transferprogress.h"

#include <QJsonArray>
#include <QJsonValue>

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

bool TransferProgress::isValid() const
{
    if (totalSize < 1 || numParts < 1 || numParts != partOffsets.size() || numParts > totalSize)
        return false;
    for (int i = 0; i < numParts; ++i) {
        const PartRange r = partRange(totalSize, numParts, i);
        if (partOffsets[i] < r.first || partOffsets[i] > r.last + 1)
            return false;
    }
    return true;
}

qint64 TransferProgress::downloadedBytes() const
{
    qint64 sum = 0;
    for (int i = 0; i < partOffsets.size(); ++i)
        sum += partOffsets[i] - partRange(totalSize, numParts, i).first;
    return sum;
}

QJsonObject TransferProgress::toJson() const
{
    QJsonArray offsets;
    for (qint64 o : partOffsets)
        offsets.append(QJsonValue(o));
    QJsonObject o;
    o.insert(QStringLiteral("totalSize"), QJsonValue(totalSize));
    o.insert(QStringLiteral("numParts"), numParts);
    o.insert(QStringLiteral("partOffsets"), offsets);
    o.insert(QStringLiteral("etag"), QString::fromLatin1(etag));
    o.insert(QStringLiteral("lastModified"), QString::fromLatin1(lastModified));
    return o;
}

TransferProgress TransferProgress::fromJson(const QJsonObject &object)
{
    TransferProgress p;
    p.totalSize = object.value(QStringLiteral("totalSize")).toVariant().toLongLong();
    p.numParts = object.value(QStringLiteral("numParts")).toInt();
    const QJsonArray offsets = object.value(QStringLiteral("partOffsets")).toArray();
    for (const QJsonValue &v : offsets)
        p.partOffsets.append(v.toVariant().toLongLong());
    p.etag = object.value(QStringLiteral("etag")).toString().toLatin1();
    p.lastModified = object.value(QStringLiteral("lastModified")).toString().toLatin1();
    return p;
}
