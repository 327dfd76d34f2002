// The header helpers on any value: sizes are never negative nor past MaxByteCount, a valid range
// lies inside its total, and whatever Content-Disposition, link or redirect a server sends, the
// name chosen for the file is safe and not empty. The safe-name function itself, on the bytes read
// both as UTF-8 and as raw UTF-16 (which can hold lone surrogates), keeps every rule, and a second
// pass changes nothing.
#include "adding/filenames.h"
#include "engine/bytecount.h"
#include "engine/http/httpheaders.h"
#include "fuzzcheck.h"

#include <QUrl>

#include <cstring>

void fuzzOneInput(const QByteArray &bytes)
{
    const QString text = QString::fromUtf8(bytes);
    FUZZ_CHECK(isByteCount(parseDecimalHeader(bytes)));
    FUZZ_CHECK(isByteCount(contentRangeTotal(bytes)));
    const ContentRange range = parseContentRange(bytes);
    if (range.valid) {
        FUZZ_CHECK(range.first >= 0 && range.first <= range.last);
        FUZZ_CHECK(range.last <= MaxByteCount);
        FUZZ_CHECK(range.total == -1 || (range.last < range.total && isByteCount(range.total)));
    }

    const QUrl link(text, QUrl::TolerantMode);
    ProbeNameInput in;
    in.linkName = nameFromLink(link);
    in.redirectName = text;
    in.hasContentDisposition = true;
    in.contentDisposition = text;
    in.hasContentType = true;
    in.contentType = text;
    const QString name = probeFileName(in);
    FUZZ_CHECK(!name.isEmpty());
    checkSafeName(name);

    QString utf16(bytes.size() / 2, Qt::Uninitialized);
    std::memcpy(utf16.data(), bytes.constData(), bytes.size() / 2 * 2);
    for (const QString &input : {text, utf16}) {
        const QString safe = safeFileName(input);
        checkSafeName(safe);
        FUZZ_CHECK(safeFileName(safe) == safe);
    }
}
