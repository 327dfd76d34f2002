#pragma once

#include <QByteArray>
#include <QString>

// Replaces the file at path with data, or leaves it as it was: the data goes to a new file first,
// which takes the old one's place only once it is written in full. False if any step failed.
bool writeFileAtomically(const QString &path, const QByteArray &data);
