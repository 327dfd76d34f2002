#pragma once

#include <QString>

// A transfer rate spelled as curl's --limit-rate takes it: a whole number of bytes per second,
// optionally followed by one unit letter, K, M or G (1024-based, either case) or B for bytes.
// "0" means no limit. Returns the bytes per second, or -1 for anything else (empty, negative,
// fractions, other units, too large).
qint64 parseRateText(const QString &text);

// A rate in the spelling parseRateText reads, in the largest unit that divides it: "2M", "512K",
// "1000".
QString rateText(qint64 bytesPerSecond);
