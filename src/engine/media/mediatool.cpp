#include "engine/media/mediatool.h"

#include <QCoreApplication>
#include <QDir>

namespace {
QString g_toolDirectory;
}

QString mediaToolDirectory()
{
    if (!g_toolDirectory.isEmpty())
        return g_toolDirectory;
    return QDir::fromNativeSeparators(QCoreApplication::applicationDirPath());
}

void setMediaToolDirectory(const QString &directory)
{
    g_toolDirectory = QDir::fromNativeSeparators(directory);
}

QString mediaToolPath()
{
    return mediaToolDirectory() + QStringLiteral("/core_engine.bin");
}

QString ffmpegPath()
{
    return mediaToolDirectory() + QStringLiteral("/media_codec.bin");
}
