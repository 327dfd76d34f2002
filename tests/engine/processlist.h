#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>

// Live processes (zombies excluded: they run nothing) whose command line contains `marker`.
// Tests put a unique folder into every command line they start, so that this finds exactly their
// own media tool and the ffmpeg it started. Linux only, through /proc.
inline bool processIsLive(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const int close = text.lastIndexOf(')');
    return close > 0 && text.size() > close + 2 && text.at(close + 2) != 'Z';
}

inline QList<qint64> liveProcessesMentioning(const QByteArray &marker)
{
    QList<qint64> found;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (!ok)
            continue;
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!cmdline.open(QIODevice::ReadOnly))
            continue;
        if (cmdline.readAll().contains(marker) && processIsLive(pid))
            found.append(pid);
    }
    return found;
}
