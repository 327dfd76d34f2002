#include "smalldisk.h"

#include "testfiles.h"

#include <QProcess>

SmallDisk::SmallDisk(qint64 bytes)
{
    mounted = dir.isValid() &&
              run(words("-t tmpfs -o size=" + QString::number(bytes) + " tmpfs") << dir.path());
}

SmallDisk::~SmallDisk()
{
    // Lazily, so that a file a failed test left open does not keep the mount behind.
    if (mounted)
        QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), dir.path()});
}

bool SmallDisk::resize(qint64 bytes)
{
    return mounted && run({"-o", "remount,size=" + QString::number(bytes), dir.path()});
}

bool SmallDisk::run(const QStringList &arguments)
{
    QProcess mount;
    mount.start(QStringLiteral("mount"), arguments);
    if (mount.waitForFinished(10000) && mount.exitStatus() == QProcess::NormalExit &&
        mount.exitCode() == 0)
        return true;
    const QString said = QString::fromLocal8Bit(mount.readAllStandardError()).trimmed();
    why = QStringLiteral("mount %1: %2")
              .arg(arguments.join(' '), said.isEmpty() ? mount.errorString() : said);
    return false;
}
