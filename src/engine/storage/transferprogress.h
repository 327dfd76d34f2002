#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QVector>

struct PartRange;

// What a segmented transfer needs to continue after a restart: the plan (total, parts and their
// ranges), the next offset of every part, and what the server said of the file (its validators
// and the Content-Type of its first answer), so that a changed file is fetched anew instead of
// spliced and a resumed answer of another kind is refused.
struct TransferProgress {
    // More parts than any transfer uses: a record asking for more is not one of ours.
    static constexpr int MaxParts = 64;

    qint64 totalSize = 0;
    int numParts = 0;
    QVector<qint64> partOffsets;
    // First and last byte of each part. Empty: the even split of totalSize into numParts.
    QVector<qint64> partStarts;
    QVector<qint64> partEnds;
    QByteArray etag;
    QByteArray lastModified;
    QByteArray contentType; // as the first answer sent it; empty when it sent none

    // False for an empty or inconsistent record: wrong counts, a size past MaxByteCount, ranges
    // that do not tile the file, an offset outside its range. For a valid record every range
    // lies inside the file and downloadedBytes() is between 0 and totalSize.
    bool isValid() const;
    PartRange rangeOf(int index) const;
    qint64 downloadedBytes() const;

    QJsonObject toJson() const;
    static TransferProgress fromJson(const QJsonObject &object);
};

// Range of part `index` when `total` bytes are split into `parts` parts; the last part takes
// the remainder. Returns the first and the last byte, both inclusive.
struct PartRange {
    qint64 first = 0;
    qint64 last = -1;
};
PartRange partRange(qint64 total, int parts, int index);

// Number of parts to use for a total: 8, or fewer for totals below 8 bytes so that no part has
// an empty range.
int partCountFor(qint64 total, int wanted = 8);
