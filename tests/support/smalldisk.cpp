#include "smalldisk.h"

#include <QProcess>

SmallDisk::SmallDisk(qint64 bytes)
{
    mounted = dir.isValid() &&
              run({QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                   QStringLiteral("size=%1").arg(bytes), QStringLiteral("tmpfs"), dir.path()});
}

SmallDisk::~SmallDisk()
{
    if (!mounted)
        return;
    // Lazily, so that a file a failed test left open does not keep the mount behind.
    QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), dir.path()});
}

bool SmallDisk::resize(qint64 bytes)
{
    return mounted &&
           run({QStringLiteral("-o"), QStringLiteral("remount,size=%1").arg(bytes), dir.path()});
}

bool SmallDisk::run(const QStringList &arguments)
{
    QProcess mount;
    mount.start(QStringLiteral("mount"), arguments);
    if (!mount.waitForFinished(10000) || mount.exitStatus() != QProcess::NormalExit ||
        mount.exitCode() != 0) {
        const QString said = QString::fromLocal8Bit(mount.readAllStandardError()).trimmed();
        why =
            QStringLiteral("mount %1: %2")
                .arg(arguments.join(QLatin1Char(' ')), said.isEmpty() ? mount.errorString() : said);
        return false;
    }
    return true;
}
