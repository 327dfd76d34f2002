#include "engine/partfile.h"

#include <QDir>
#include <QFileInfo>

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

void PartFile::close()
{
    if (file.isOpen())
        file.close();
}

bool PartFile::writeAt(qint64 offset, const QByteArray &data)
{
    return file.seek(offset) && file.write(data) == data.size();
}
