#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

// Whether the process runs (a zombie runs nothing): through /proc on Linux, through the
// process's handle on Windows, which is signalled once the process has ended.
inline bool processIsLive(qint64 pid)
{
#ifdef Q_OS_WIN
    const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, DWORD(pid));
    if (!process)
        return false;
    const bool live = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return live;
#else
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const int close = text.lastIndexOf(')');
    return close > 0 && text.size() > close + 2 && text.at(close + 2) != 'Z';
#endif
}

// Live processes whose command line contains `marker`. Tests put a unique folder into every
// command line they start, so that this finds exactly their own media tool and the ffmpeg it
// started. Linux only, through /proc.
inline QList<qint64> liveProcessesMentioning(const QByteArray &marker)
{
    QList<qint64> found;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (ok && cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(marker) &&
            processIsLive(pid))
            found.append(pid);
    }
    return found;
}

// True when the process has ended or a SIGKILL is already on its way to it. Read right after a
// kill, this tells a process that was killed with the tool from one that merely dies later of
// its own accord (ffmpeg, for one, ends at its next write into the dead tool's pipe).
inline bool processGoneOrKilled(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!processIsLive(pid) || !status.open(QIODevice::ReadOnly))
        return true;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("SigPnd:") || line.startsWith("ShdPnd:")) {
            const quint64 mask = line.mid(7).trimmed().toULongLong(nullptr, 16);
            if (mask & (quint64(1) << (9 - 1))) // SIGKILL is signal 9
                return true;
        }
    }
    return !processIsLive(pid);
}
