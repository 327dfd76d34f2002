#include "engine/storage/partfile.h"

#include "language/translation.h"

#include <QDir>
#include <QFileInfo>

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <io.h>
#include <windows.h>
#ifndef ERROR_DISK_QUOTA_EXCEEDED // missing from some SDKs
#define ERROR_DISK_QUOTA_EXCEEDED 1295L
#endif
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_WIN
HANDLE nativeHandle(const QFile &file)
{
    // Qt hands out a C runtime descriptor; the system calls want the handle behind it.
    return reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()));
}

PartFile::Problem problemFromError(DWORD error)
{
    switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return PartFile::Problem::DiskFull;
    case ERROR_DISK_QUOTA_EXCEEDED: return PartFile::Problem::QuotaExceeded;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT: return PartFile::Problem::NoPermission;
    case ERROR_FILE_TOO_LARGE: return PartFile::Problem::TooLarge;
    default: return PartFile::Problem::Other;
    }
}
#else
static_assert(sizeof(off_t) == 8, "file offsets must be 64-bit");

PartFile::Problem problemFromError(int error)
{
    switch (error) {
    case ENOSPC: return PartFile::Problem::DiskFull;
#ifdef EDQUOT
    case EDQUOT: return PartFile::Problem::QuotaExceeded;
#endif
    case EACCES:
    case EPERM:
    case EROFS: return PartFile::Problem::NoPermission;
    case EFBIG: return PartFile::Problem::TooLarge;
    default: return PartFile::Problem::Other;
    }
}
#endif

} // namespace

PartFile::PartFile(const QString &path) : file(path) {}

bool PartFile::open()
{
    if (file.isOpen())
        return true;
    QDir().mkpath(QFileInfo(file.fileName()).absolutePath());
    // Unbuffered: every block goes straight to its offset, so a write is never held back in a
    // buffer that a later seek would have to flush.
    return file.open(QIODevice::ReadWrite | QIODevice::Unbuffered);
}

QByteArray PartFile::readAt(qint64 offset, qint64 length)
{
    // The writes name their own offsets (pwrite, WriteFile at an offset): moving the position here
    // disturbs none of them.
    return file.seek(offset) ? file.read(length) : QByteArray();
}

void PartFile::close()
{
    if (file.isOpen())
        file.close();
}

// The native calls below report why they failed; Qt's file class keeps only a text.
bool PartFile::resize(qint64 size)
{
    lastProblem = Problem::None;
#ifdef Q_OS_WIN
    FILE_END_OF_FILE_INFO end = {};
    end.EndOfFile.QuadPart = size;
    if (SetFileInformationByHandle(nativeHandle(file), FileEndOfFileInfo, &end, sizeof(end)))
        return true;
    lastProblem = problemFromError(GetLastError());
    return false;
#else
    int result = 0;
    do {
        result = ::ftruncate(file.handle(), off_t(size));
    } while (result != 0 && errno == EINTR);
    if (result == 0)
        return true;
    lastProblem = problemFromError(errno);
    return false;
#endif
}

qint64 PartFile::writeAt(qint64 offset, const QByteArray &data)
{
    lastProblem = Problem::None;
#ifdef Q_OS_WIN
    // WriteFile with an offset in the OVERLAPPED record: the counterpart of pwrite().
    const HANDLE handle = nativeHandle(file);
    qint64 written = 0;
    while (written < data.size()) {
        const qint64 at = offset + written;
        OVERLAPPED position = {};
        position.Offset = DWORD(at & 0xffffffff);
        position.OffsetHigh = DWORD(at >> 32);
        const DWORD chunk = DWORD(qMin<qint64>(data.size() - written, 1 << 30));
        DWORD n = 0;
        if (!WriteFile(handle, data.constData() + written, chunk, &n, &position)) {
            lastProblem = problemFromError(GetLastError());
            break;
        }
        if (n == 0) {
            lastProblem = Problem::Other;
            break;
        }
        written += n;
    }
    return written;
#else
    const int fd = file.handle();
    qint64 written = 0;
    while (written < data.size()) {
        const ssize_t n = ::pwrite(fd, data.constData() + written, size_t(data.size() - written),
                                   off_t(offset + written));
        if (n > 0) {
            written += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            lastProblem = n < 0 ? problemFromError(errno) : Problem::Other;
            break;
        }
    }
    return written;
#endif
}

bool PartFile::stillAtPath() const
{
    if (!file.isOpen())
        return true;
#ifdef Q_OS_WIN
    // An open file cannot be removed on Windows; a missing path means it went before it opened.
    return QFileInfo::exists(file.fileName());
#else
    struct stat opened {};
    struct stat named {};
    if (::fstat(file.handle(), &opened) != 0)
        return true; // cannot tell: keep going
    if (::stat(QFile::encodeName(file.fileName()).constData(), &named) != 0)
        return errno != ENOENT && errno != ENOTDIR;
    return opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
#endif
}

qintptr PartFile::duplicateHandle() const
{
    if (!file.isOpen())
        return -1;
#ifdef Q_OS_WIN
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), nativeHandle(file), GetCurrentProcess(), &copy, 0,
                         FALSE, DUPLICATE_SAME_ACCESS))
        return -1;
    return reinterpret_cast<qintptr>(copy);
#else
    // Close-on-exec, so that a child process (the media tool) never inherits it.
    return ::fcntl(file.handle(), F_DUPFD_CLOEXEC, 0);
#endif
}

PartFile::Problem PartFile::flush(qintptr handle)
{
    if (handle < 0)
        return Problem::Other;
#ifdef Q_OS_WIN
    if (FlushFileBuffers(reinterpret_cast<HANDLE>(handle)))
        return Problem::None;
    return problemFromError(GetLastError());
#else
    int result = 0;
    do {
#ifdef Q_OS_DARWIN
        result = ::fsync(int(handle));
#else
        result = ::fdatasync(int(handle)); // the data and the size, not the times
#endif
    } while (result != 0 && errno == EINTR);
    return result == 0 ? Problem::None : problemFromError(errno);
#endif
}

PartFile::Problem PartFile::flushFile(const QFile &file)
{
#ifdef Q_OS_WIN
    return flush(reinterpret_cast<qintptr>(nativeHandle(file)));
#else
    return flush(file.handle());
#endif
}

void PartFile::closeHandle(qintptr handle)
{
    if (handle < 0)
        return;
#ifdef Q_OS_WIN
    CloseHandle(reinterpret_cast<HANDLE>(handle));
#else
    ::close(int(handle));
#endif
}

QString describeProblem(PartFile::Problem problem)
{
    switch (problem) {
    case PartFile::Problem::DiskFull: return T(QStringLiteral("Disk full"));
    case PartFile::Problem::QuotaExceeded: return T(QStringLiteral("Disk quota exceeded"));
    case PartFile::Problem::NoPermission:
        return T(QStringLiteral("No permission to write the file"));
    case PartFile::Problem::Removed: return T(QStringLiteral("The file was removed"));
    case PartFile::Problem::TooLarge:
        return T(QStringLiteral("The file is too large for this disk"));
    default: return T(QStringLiteral("Cannot write the file"));
    }
}
