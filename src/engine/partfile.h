#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// The file a segmented transfer writes into. It is sized to the whole download before the first
// byte arrives, and every part writes its bytes at their own offsets, all of them through
// writeAt().
class PartFile {
public:
    explicit PartFile(const QString &path);

    // Opens the file for reading and writing, creating it and its folder when missing; true when
    // it is open.
    bool open();
    void close();
    qint64 size() const { return file.size(); }
    bool resize(qint64 size) { return file.resize(size); }
    // False when not all of `data` reached the file: disk full, file gone, no permission.
    bool writeAt(qint64 offset, const QByteArray &data);

private:
    QFile file;
};
