#include "adding/freespace.h"

#include <QFileInfo>
#include <QStorageInfo>

qint64 freeSpaceFor(const QString &path)
{
    if (path.isEmpty())
        return -1;
    QString folder = QFileInfo(path).absolutePath();
    while (!QFileInfo::exists(folder)) {
        const QString parent = QFileInfo(folder).absolutePath();
        if (parent == folder)
            return -1;
        folder = parent;
    }
    const QStorageInfo volume(folder);
    if (!volume.isValid() || !volume.isReady())
        return -1;
    return volume.bytesAvailable();
}
