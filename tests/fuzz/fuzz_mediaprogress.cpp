// The media tool's output on any bytes, and the size texts on any numbers: sizes stay between 0
// and MaxByteCount with the downloaded part never above the total, rates are finite and not
// negative, and percentages and remaining times read sensibly.
#include "engine/bytecount.h"
#include "engine/media/mediaprogress.h"
#include "fuzzcheck.h"
#include "views/sizetext.h"

#include <QRegularExpression>

#include <cmath>
#include <cstring>

namespace {

void checkTexts(qint64 total, qint64 downloaded, double speed)
{
    const qint64 percent = percentOf(downloaded, total);
    FUZZ_CHECK(percent >= 0 && percent <= 999);
    static const QRegularExpression eta(QStringLiteral("^(--:--|\\d+m \\d{1,2}s)$"));
    const QString left = etaText(total, downloaded, speed, QString());
    FUZZ_CHECK(eta.match(left).hasMatch());
    FUZZ_CHECK(!mbText(speed).startsWith(QLatin1Char('-')));
}

} // namespace

void fuzzOneInput(const QByteArray &bytes)
{
    QByteArray pending;
    QList<QByteArray> lines = takeCompleteLines(pending, bytes);
    lines += takeCompleteLines(pending, "\n");
    FUZZ_CHECK(pending.isEmpty());
    for (const QByteArray &line : lines) {
        const MediaLineInfo info = parseMediaLine(QString::fromUtf8(line));
        FUZZ_CHECK(isByteCount(info.totalSize) && info.downloadedSize >= 0 &&
                   info.downloadedSize <= info.totalSize);
        FUZZ_CHECK(std::isfinite(info.speed) && info.speed >= 0);
        FUZZ_CHECK(!info.eta.contains(QLatin1Char('-')));
        if (info.kind == MediaLineInfo::Progress)
            FUZZ_CHECK(percentOf(info.downloadedSize, info.totalSize) <= 100);
        checkTexts(info.totalSize, info.downloadedSize, info.speed);
    }
    // The same texts on numbers straight from the input, as a damaged list could hold them.
    if (bytes.size() >= 24) {
        qint64 total, downloaded;
        double speed;
        std::memcpy(&total, bytes.constData(), 8);
        std::memcpy(&downloaded, bytes.constData() + 8, 8);
        std::memcpy(&speed, bytes.constData() + 16, 8);
        checkTexts(total, downloaded, speed);
    }
}
