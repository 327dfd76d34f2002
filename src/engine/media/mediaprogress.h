#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// What one output line of the media tool tells the task. A progress line sets the sizes and, when
// it names them, the speed and the remaining time, and clears the status line; an informative
// line (a bracketed tag other than [download], or any line mentioning an error) becomes the status
// line; every other line changes nothing. Figures the tool could not mean (sizes past
// MaxByteCount, a percentage above 100) are not passed on: sizes are then left out, a percentage is
// held to 0..100, so downloadedSize never exceeds totalSize and neither is ever negative.
struct MediaLineInfo {
    enum Kind { Ignored, Progress, Message };
    Kind kind = Ignored;

    bool hasSizes = false;
    qint64 totalSize = 0;
    qint64 downloadedSize = 0;
    bool hasSpeed = false;
    double speed = 0.0; // bytes per second
    bool hasEta = false;
    QString eta;     // as the tool prints it, e.g. "01:23"
    QString message; // the trimmed line, for Message
};

MediaLineInfo parseMediaLine(const QString &line);

// Bytes for one unit of a size or speed text such as "MiB", "KB", "GiB/s": only the letters
// count, so "B" is 1.
double mediaUnitMultiplier(const QString &unit);

// Appends `incoming` to `pending` and returns the complete lines (without their "\n"), leaving an
// unfinished tail in `pending` until a later read brings its end. Works on bytes, so a UTF-8
// character cut between two reads is decoded only once whole.
QList<QByteArray> takeCompleteLines(QByteArray &pending, const QByteArray &incoming);
