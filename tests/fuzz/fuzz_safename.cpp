// The safe-name function on any text, read both as UTF-8 and as raw UTF-16 (which can hold lone
// surrogates): the result keeps every rule and a second pass changes nothing.
#include "adding/filenames.h"
#include "fuzzcheck.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QString utf16(int(size / 2), Qt::Uninitialized);
    std::memcpy(utf16.data(), data, size / 2 * 2);
    const QString inputs[] = {QString::fromUtf8(reinterpret_cast<const char *>(data), int(size)),
                              utf16};
    withinTimeLimit([&] {
        for (const QString &input : inputs) {
            const QString safe = safeFileName(input);
            checkSafeName(safe);
            FUZZ_CHECK(safeFileName(safe) == safe);
        }
    });
    return 0;
}
