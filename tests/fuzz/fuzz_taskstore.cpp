// The saved task list, the part-progress file and the crash checkpoint beside a download on any
// bytes (one text serves as all three: each reader skips what the others read): statuses are codes
// a task can leave, sizes are believable, and a part record is either refused or lies wholly
// inside its file.
#include "app/taskstore.h"
#include "engine/bytecount.h"
#include "engine/storage/checkpoint.h"
#include "fuzzcheck.h"

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

void fuzzOneInput(const QByteArray &bytes)
{
    for (const SavedTask &task : TaskStore::parse(bytes, bytes)) {
        FUZZ_CHECK(task.status == 0 || (task.status >= 2 && task.status <= 4));
        FUZZ_CHECK(isByteCount(task.totalSize) && isByteCount(task.downloadedSize));
        checkProgress(task.progress);
    }
    checkProgress(Checkpoint::parse(bytes, QUrl(QStringLiteral("http://h/f.iso"))));
}
