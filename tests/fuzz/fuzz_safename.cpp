// The safe-name function on any text, read both as UTF-8 and as raw UTF-16 (which can hold lone
// surrogates): the result keeps every rule and a second pass changes nothing.
#include "adding/filenames.h"
#include "fuzzcheck.h"

#include <cstring>

void fuzzOneInput(const QByteArray &bytes)
{
    QString utf16(bytes.size() / 2, Qt::Uninitialized);
    std::memcpy(utf16.data(), bytes.constData(), bytes.size() / 2 * 2);
    const QString inputs[] = {QString::fromUtf8(bytes), utf16};
    for (const QString &input : inputs) {
        const QString safe = safeFileName(input);
        checkSafeName(safe);
        FUZZ_CHECK(safeFileName(safe) == safe);
    }
}
