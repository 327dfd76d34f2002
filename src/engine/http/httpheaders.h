#pragma once

#include "engine/storage/checksumtext.h"

#include <QByteArray>
#include <QtGlobal>

// A decimal header value as a 64-bit number; 0 when it is not a plain non-negative number or lies
// past MaxByteCount.
qint64 parseDecimalHeader(const QByteArray &value);

// The total after the first "/" of a Content-Range value ("bytes 0-0/1000" gives 1000); 0 when
// there is no "/" or the total is not a number (as for "*").
qint64 contentRangeTotal(const QByteArray &value);

// A Content-Range value taken apart. total is -1 for "*". Every number of a valid range is at most
// MaxByteCount, so last + 1 cannot overflow.
struct ContentRange {
    bool valid = false;
    qint64 first = 0;
    qint64 last = 0;
    qint64 total = -1;
};
ContentRange parseContentRange(const QByteArray &value);

// The digest a server gives for the whole file, the strongest it offers of SHA-512 and SHA-256
// (others are ignored): from a Repr-Digest or Content-Digest value, a dictionary of
// "sha-256=:BASE64:" members, or from the older Digest header ("SHA-256=BASE64"). `source` is
// the header's name. Invalid when the value offers neither or its digest has the wrong length.
ExpectedChecksum parseDigestHeader(const QByteArray &value, const QString &source);
