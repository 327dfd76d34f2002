#pragma once

#include <QString>
#include <QTemporaryDir>

// A small tmpfs on a temporary folder, for downloads onto a full disk. Mounting needs root (CI
// runs as root); where the system refuses, isMounted() is false and error() says why.
class SmallDisk {
public:
    explicit SmallDisk(qint64 bytes);
    ~SmallDisk();

    bool isMounted() const { return mounted; }
    QString error() const { return why; }
    QString filePath(const QString &name) const { return dir.filePath(name); }
    // Gives the disk a new size, keeping what is on it.
    bool resize(qint64 bytes);

private:
    bool run(const QStringList &arguments);

    QTemporaryDir dir;
    bool mounted = false;
    QString why;
};
