#include "adding/categoryfolder.h"

#include "engine/categories.h"

#include <QDir>
#include <QStandardPaths>

QString categoryFolder(const QString &fileName)
{
    const QString downloads = QDir::fromNativeSeparators(
        QStandardPaths::writableLocation(QStandardPaths::DownloadLocation));
    return downloads + QStringLiteral("/Torvane/") + categoryForFileName(fileName);
}
