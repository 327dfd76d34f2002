#pragma once

#include <QString>
#include <QtGlobal>

// Where a download's figures live: the public fields of its DownloadTask, which the views read
// and the saved list fills in. The helper that does the transfer (HttpTransfer, MediaRun) is
// handed them when it is made and keeps them current as data arrives, without knowing the task.
struct TransferFigures {
    qint64 &totalSize;
    qint64 &downloadedSize;
    double &currentSpeed;
    // The one line the views show about the run: the media tool's latest message, or why a
    // download failed.
    QString &lastDlpMessage;
    QString &dlpEtaStr;
    // Waiting out an outage: seconds until the next try (0 while one is under way), with
    // lastDlpMessage saying why; -1 otherwise.
    int &retryInSeconds;
};
