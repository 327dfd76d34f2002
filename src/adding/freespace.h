#pragma once

#include <QString>

// Bytes free for a new file at `path` on its volume, asked of the nearest folder of the path
// that exists (the category folder may not yet); -1 when the system cannot tell.
qint64 freeSpaceFor(const QString &path);
