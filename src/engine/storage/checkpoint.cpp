#include "engine/storage/checkpoint.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QTemporaryFile>
#include <QThreadPool>
#include <QWaitCondition>

#include <atomic>
#include <cstdio>

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// A record is a few hundred bytes; anything much larger is not one.
constexpr qint64 kMaxRecordSize = 64 * 1024;

// The longest file name: 255 bytes on Linux, 255 UTF-16 units on Windows; a name never has fewer
// UTF-8 bytes than UTF-16 units, so counting bytes keeps both.
constexpr int kMaxNameBytes = 255;
// A record is written under its own name plus this (QTemporaryFile puts six random characters in
// place of the Xs), and both names must fit.
const QLatin1String kTemporarySuffix(".XXXXXX.new");
const QLatin1String kRecordSuffix(".torvane");
// What stays of a long name's hash in its record's name: enough that two names sharing a prefix
// do not meet.
constexpr int kHashChars = 16;

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

// Write, sync, rename: a crash at any point leaves the previous record whole. The record sits
// beside a download, maybe in a folder that others can write to: its temporary file is made
// anew under a random name (never opening what someone put there, a link or a pipe), and the
// rename replaces whatever is at the record's name instead of writing through it.
bool writeRecord(const QString &path, const QByteArray &record)
{
    QString temporary;
    bool synced = false;
    // The file is closed before the rename: QTemporaryFile::close() keeps its handle open (only
    // its end closes it), and Windows neither renames nor removes an open file.
    {
        QTemporaryFile file(path + kTemporarySuffix);
        if (!file.open())
            return false;
        file.setAutoRemove(false);
        temporary = file.fileName();
        synced = file.write(record) == record.size() && file.flush() &&
                 PartFile::flushFile(file) == PartFile::Problem::None;
    }
    if (synced && replaceFile(temporary, path))
        return true;
    QFile::remove(temporary);
    return false;
}

// Temporary files of records that a crash left behind, and the fixed one of earlier versions.
void removeTemporaries(const QString &path)
{
    const QFileInfo record(path);
    const QString name = record.fileName();
    QDirIterator it(record.path(), QDir::Files | QDir::System | QDir::Hidden);
    while (it.hasNext()) {
        it.next();
        const QString found = it.fileName();
        const QStringView rest = QStringView(found).mid(name.size());
        if (found.startsWith(name) && rest.endsWith(QLatin1String(".new")) &&
            rest.startsWith(QLatin1Char('.')) &&
            (rest.size() == kTemporarySuffix.size() || rest.size() == 4))
            QFile::remove(it.filePath());
    }
}

// The record's bytes, when `path` is a regular file of at most kMaxRecordSize bytes. Anything
// else (a link, a pipe, a device, a folder) is not opened for reading at all, or left at once:
// a pipe would block the reader, a device would feed it without end.
bool readRecordFile(const QString &path, QByteArray &out)
{
#ifdef Q_OS_WIN
    const HANDLE handle =
        CreateFileW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()),
                    GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info = {};
    const bool plain =
        GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) &&
        !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
        info.nFileSizeHigh == 0 && info.nFileSizeLow <= kMaxRecordSize;
    DWORD n = 0;
    if (plain) {
        out.resize(int(info.nFileSizeLow));
        if (!ReadFile(handle, out.data(), DWORD(out.size()), &n, nullptr))
            n = 0;
        out.resize(int(n));
    }
    CloseHandle(handle);
    return plain && n == info.nFileSizeLow;
#else
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info = {};
    bool plain = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= kMaxRecordSize;
    if (plain) {
        // One byte more than a record may have: a file that grew since is refused too.
        out.resize(int(kMaxRecordSize) + 1);
        qint64 got = 0;
        while (got < out.size()) {
            const ssize_t n = ::read(fd, out.data() + got, size_t(out.size() - got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                plain = n == 0;
                break;
            }
            got += n;
        }
        out.resize(int(got));
        plain = plain && got <= kMaxRecordSize;
    }
    ::close(fd);
    return plain;
#endif
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
    const int slash = dataPath.lastIndexOf(QLatin1Char('/')) + 1;
    const QString name = dataPath.mid(slash);
    const int room = kMaxNameBytes - int(kTemporarySuffix.size()) - int(kRecordSuffix.size());
    if (name.toUtf8().size() <= room)
        return dataPath + kRecordSuffix;
    // Too long to take the suffixes: the start of the name, then a hash of all of it, so that the
    // record is still found from the file's path (and seen to belong to it in a listing).
    const QString hash =
        QString::fromLatin1(QCryptographicHash::hash(name.toUtf8(), QCryptographicHash::Sha256)
                                .toHex()
                                .left(kHashChars));
    const int prefixRoom = room - 1 - kHashChars;
    int prefix = 0;
    int bytes = 0;
    while (prefix < name.size()) {
        const int step = name.at(prefix).isHighSurrogate() && prefix + 1 < name.size() ? 2 : 1;
        const int stepBytes = name.mid(prefix, step).toUtf8().size();
        if (bytes + stepBytes > prefixRoom)
            break;
        bytes += stepBytes;
        prefix += step;
    }
    return dataPath.left(slash + prefix) + QLatin1Char('~') + hash + kRecordSuffix;
}

TransferProgress Checkpoint::parse(const QByteArray &record, const QUrl &url)
{
    const QJsonObject object = QJsonDocument::fromJson(record).object();
    if (object.value(QLatin1String("url")).toString() != url.toString(QUrl::FullyEncoded))
        return TransferProgress();
    const TransferProgress progress =
        TransferProgress::fromJson(object.value(QLatin1String("progress")).toObject());
    return progress.isValid() ? progress : TransferProgress();
}

TransferProgress Checkpoint::read(const QString &dataPath, const QUrl &url)
{
    QByteArray record;
    if (!readRecordFile(pathFor(dataPath), record))
        return TransferProgress();
    const TransferProgress progress = parse(record, url);
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
    removeTemporaries(shared->path);
}

void Checkpoint::discard(const QString &dataPath)
{
    QFile::remove(pathFor(dataPath));
    removeTemporaries(pathFor(dataPath));
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
