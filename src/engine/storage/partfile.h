#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// The file a segmented transfer writes into. It is sized to the whole download before the first
// byte arrives, and every part writes its bytes at their own offsets, all of them through
// writeAt().
//
// A failed write or resize says why through problem(), so that the task can tell the user what
// to do about it ("Disk full" is something a user can fix; "Cannot write the file" is not).
class PartFile {
public:
    enum class Problem { None, DiskFull, QuotaExceeded, NoPermission, Removed, TooLarge, Other };

    explicit PartFile(const QString &path);

    // Opens the file for reading and writing, creating it and its folder when missing; true when
    // it is open.
    bool open();
    void close();
    qint64 size() const { return file.size(); }
    bool resize(qint64 size);
    // Writes `data` at `offset` and returns how many of its bytes reached the file; fewer than
    // all of them means the write failed, and problem() says why.
    qint64 writeAt(qint64 offset, const QByteArray &data);
    // Up to `length` bytes from `offset`; fewer at the end of the file or when reading failed.
    QByteArray readAt(qint64 offset, qint64 length);
    Problem problem() const { return lastProblem; }
    // False when the file that is open is no longer the one at its path: removed or moved away
    // while the transfer writes into it (on Unix the writes would still succeed, into nothing).
    bool stillAtPath() const;

    // A second handle on the open file that outlives close(): a worker thread flushes through it
    // while the transfer goes on. -1 when the file is not open.
    qintptr duplicateHandle() const;
    // Makes every byte written to the file before the handle was taken durable (fdatasync,
    // FlushFileBuffers); Problem::None on success. Safe from any thread.
    static Problem flush(qintptr handle);
    // The same for any file that Qt has open.
    static Problem flushFile(const QFile &file);
    static void closeHandle(qintptr handle);

private:
    QFile file;
    Problem lastProblem = Problem::None;
};

// The one line the views show for a write problem, translated.
QString describeProblem(PartFile::Problem problem);
