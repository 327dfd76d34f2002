#include "engine/storage/checkpoint.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QThreadPool>
#include <QWaitCondition>

#include <atomic>
#include <cstdio>

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <QDir>
#include <windows.h>
#endif

namespace {

// A record is a few hundred bytes; anything much larger is not one.
constexpr qint64 kMaxRecordSize = 64 * 1024;

// Never destroyed: a flush still running when the program ends belongs to a record that is no
// longer wanted (the destructor waits for every other), and is left to the system.
QThreadPool *flushPool()
{
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool;
        p->setMaxThreadCount(2);
        return p;
    }();
    return pool;
}

bool replaceFile(const QString &from, const QString &to)
{
#ifdef Q_OS_WIN
    const QString source = QDir::toNativeSeparators(from);
    const QString target = QDir::toNativeSeparators(to);
    return MoveFileExW(reinterpret_cast<const wchar_t *>(source.utf16()),
                       reinterpret_cast<const wchar_t *>(target.utf16()),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
#else
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
#endif
}

// Write, sync, rename: a crash at any point leaves the previous record whole. The temporary file
// has a fixed name, so a crash leaves at most one behind and the next record reuses it.
bool writeRecord(const QString &path, const QByteArray &record)
{
    const QString temporary = path + QStringLiteral(".new");
    QFile file(temporary);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return false;
    const bool synced =
        file.write(record) == record.size() && PartFile::flushFile(file) == PartFile::Problem::None;
    file.close();
    if (synced && replaceFile(temporary, path))
        return true;
    QFile::remove(temporary);
    return false;
}

} // namespace

struct Checkpoint::Shared {
    struct Job {
        QByteArray record;
        TransferProgress progress;
        qintptr handle = -1;
        quint64 generation = 0;
    };

    QString path;

    // The slot of the newest record waiting for its flush, and whether a worker is at it.
    QMutex queueMutex;
    QWaitCondition drained;
    bool draining = false;
    bool pending = false;
    Job job;

    // Held while a record is written, so that remove() cannot fall between the check of the
    // generation and the rename.
    QMutex commitMutex;
    std::atomic<quint64> generation{0};
    TransferProgress written;
    std::atomic<int> flushProblem{int(PartFile::Problem::None)};

    void drain();
};

void Checkpoint::Shared::drain()
{
    for (;;) {
        Job next;
        {
            QMutexLocker lock(&queueMutex);
            if (!pending) {
                draining = false;
                drained.wakeAll();
                return;
            }
            next = std::move(job);
            pending = false;
        }
        const PartFile::Problem problem = PartFile::flush(next.handle);
        PartFile::closeHandle(next.handle);
        QMutexLocker commit(&commitMutex);
        if (next.generation != generation)
            continue; // removed meanwhile
        if (problem != PartFile::Problem::None) {
            flushProblem = int(problem);
            continue; // the data may not be on the disk: keep the older record
        }
        // On a full disk this fails and the older record stays, which is still true.
        if (writeRecord(path, next.record))
            written = next.progress;
    }
}

Checkpoint::Checkpoint(const QString &dataPath) : shared(std::make_shared<Shared>())
{
    shared->path = pathFor(dataPath);
}

Checkpoint::~Checkpoint()
{
    if (wanted) {
        waitUntilWritten();
        return;
    }
    QMutexLocker lock(&shared->queueMutex);
    if (shared->pending)
        PartFile::closeHandle(shared->job.handle);
    shared->pending = false;
}

QString Checkpoint::pathFor(const QString &dataPath)
{
    return dataPath + QStringLiteral(".torvane");
}

TransferProgress Checkpoint::read(const QString &dataPath, const QUrl &url)
{
    QFile file(pathFor(dataPath));
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxRecordSize)
        return TransferProgress();
    const QJsonObject record = QJsonDocument::fromJson(file.readAll()).object();
    if (record.value(QLatin1String("url")).toString() != url.toString(QUrl::FullyEncoded))
        return TransferProgress();
    const TransferProgress progress =
        TransferProgress::fromJson(record.value(QLatin1String("progress")).toObject());
    if (!progress.isValid() || QFileInfo(dataPath).size() != progress.totalSize)
        return TransferProgress();
    return progress;
}

bool Checkpoint::save(const TransferProgress &progress, const QUrl &url, const PartFile &file)
{
    if (!progress.isValid())
        return false;
    // Taken now, after the writes the progress counts: a flush through it covers all of them.
    const qintptr flushHandle = file.duplicateHandle();
    if (flushHandle < 0)
        return false; // not open, or out of handles: the next save tries again
    QJsonObject record;
    record.insert(QLatin1String("url"), url.toString(QUrl::FullyEncoded));
    record.insert(QLatin1String("progress"), progress.toJson());
    Shared::Job next;
    next.record = QJsonDocument(record).toJson(QJsonDocument::Compact);
    next.progress = progress;
    next.handle = flushHandle;
    next.generation = shared->generation;
    wanted = true;

    bool startWorker = false;
    {
        QMutexLocker lock(&shared->queueMutex);
        if (shared->pending)
            PartFile::closeHandle(shared->job.handle); // superseded before its flush began
        shared->job = std::move(next);
        shared->pending = true;
        startWorker = !shared->draining;
        shared->draining = true;
    }
    if (startWorker)
        flushPool()->start([s = shared] { s->drain(); });
    return true;
}

void Checkpoint::remove()
{
    wanted = false;
    {
        QMutexLocker lock(&shared->queueMutex);
        if (shared->pending)
            PartFile::closeHandle(shared->job.handle);
        shared->pending = false;
    }
    QMutexLocker commit(&shared->commitMutex);
    ++shared->generation;
    shared->written = TransferProgress();
    QFile::remove(shared->path);
    QFile::remove(shared->path + QStringLiteral(".new"));
}

void Checkpoint::discard(const QString &dataPath)
{
    QFile::remove(pathFor(dataPath));
    QFile::remove(pathFor(dataPath) + QStringLiteral(".new"));
}

void Checkpoint::waitUntilWritten()
{
    QMutexLocker lock(&shared->queueMutex);
    while (shared->draining)
        shared->drained.wait(&shared->queueMutex);
}

TransferProgress Checkpoint::written() const
{
    QMutexLocker commit(&shared->commitMutex);
    return shared->written;
}

PartFile::Problem Checkpoint::takeFlushProblem()
{
    return PartFile::Problem(shared->flushProblem.exchange(int(PartFile::Problem::None)));
}
