#pragma once

#include <QString>
#include <QtGlobal>

// Bytes as mebibytes with exactly two decimals ("12.50"); callers add the unit.
QString mbText(qint64 bytes);
// Same for a rate in bytes per second; a negative or non-finite rate reads as 0.
QString mbText(double bytes);

// Whole-number percentage downloaded * 100 / total, in 64-bit arithmetic without overflow; 0 when
// total < 1 or nothing is downloaded, and at most 999 for counts far past their total.
qint64 percentOf(qint64 downloaded, qint64 total);

// Remaining time: the media tool's own text when it has one, else "%1m %2s" from the speed, else
// "--:--", which also stands for a negative remaining size and for times past about 31 years.
QString etaText(qint64 total, qint64 downloaded, double speed, const QString &toolEta);
