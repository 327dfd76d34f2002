#pragma once

#include "engine/downloadtask.h"
#include "testfiles.h"

#include <QTest>

// Waits while the download runs; false when it still runs after `timeoutMs`.
inline bool waitForEnd(const DownloadTask &task, int timeoutMs = 20000)
{
    return QTest::qWaitFor([&] { return task.status != 1; }, timeoutMs);
}

// Waits for the download's end and says what keeps it from being done with exactly the served
// bytes in its file; empty when nothing does, so that QCOMPARE(..., QString()) prints the fault.
inline QString downloadFault(const DownloadTask &task, const QByteArray &served,
                             int timeoutMs = 20000)
{
    if (!waitForEnd(task, timeoutMs))
        return QStringLiteral("still running");
    if (task.status != 2)
        return QStringLiteral("ended in state %1: %2").arg(task.status).arg(task.lastDlpMessage);
    const QByteArray onDisk = readFile(task.savePath());
    if (onDisk == served)
        return QString();
    qsizetype same = 0;
    while (same < qMin(onDisk.size(), served.size()) && onDisk[same] == served[same])
        ++same;
    return QStringLiteral("%1 bytes on disk for %2 served, the first %3 alike")
        .arg(onDisk.size())
        .arg(served.size())
        .arg(same);
}
