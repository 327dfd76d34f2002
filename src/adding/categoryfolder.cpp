#include "adding/categoryfolder.h"

#include "engine/categories.h"

#include <QDir>
#include <QStandardPaths>

namespace {

QString &chosenLocation()
{
    static QString folder;
    return folder;
}

} // namespace

QString downloadLocation()
{
    if (!chosenLocation().isEmpty())
        return chosenLocation();
    return QDir::fromNativeSeparators(
        QStandardPaths::writableLocation(QStandardPaths::DownloadLocation));
}

void setDownloadLocation(const QString &folder)
{
    chosenLocation() =
        folder.isEmpty() ? QString() : QDir::cleanPath(QDir::fromNativeSeparators(folder));
}

QString categoryFolder(const QString &fileName)
{
    QString base = downloadLocation();
    if (!base.endsWith(QLatin1Char('/'))) // a drive or the root folder keeps its own "/"
        base += QLatin1Char('/');
    return base + QStringLiteral("Torvane/") + categoryForFileName(fileName);
}
