// The saved task list and the part-progress file on any bytes (one text serves as both: the list
// reader skips "progress", the progress reader skips the rest): statuses are codes a task can
// leave, sizes are believable, and a part record is either refused or lies wholly inside its file.
#include "app/taskstore.h"
#include "engine/bytecount.h"
#include "fuzzcheck.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

void checkProgress(const TransferProgress &p)
{
    if (!p.isValid())
        return;
    for (int i = 0; i < p.numParts; ++i) {
        const PartRange r = p.rangeOf(i);
        FUZZ_CHECK(r.first >= 0 && r.first <= r.last && r.last < p.totalSize);
    }
    const qint64 done = p.downloadedBytes();
    FUZZ_CHECK(done >= 0 && done <= p.totalSize);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    withinTimeLimit([&] {
        for (const SavedTask &task : TaskStore::parse(bytes, bytes)) {
            FUZZ_CHECK(task.status == 0 || (task.status >= 2 && task.status <= 4));
            FUZZ_CHECK(isByteCount(task.totalSize) && isByteCount(task.downloadedSize));
            checkProgress(task.progress);
        }
        const QJsonDocument doc = QJsonDocument::fromJson(bytes);
        checkProgress(TransferProgress::fromJson(doc.object()));
        for (const QJsonValue &entry : doc.array())
            checkProgress(TransferProgress::fromJson(entry[QLatin1String("progress")].toObject()));
    });
    return 0;
}
