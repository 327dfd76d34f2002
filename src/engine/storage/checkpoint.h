#pragma once

#include "engine/storage/partfile.h"
#include "engine/storage/transferprogress.h"

#include <QString>
#include <QUrl>

#include <memory>

// The crash checkpoint of a segmented download: "<file>.torvane" beside the file (for a name too
// long to take that, the start of the name and a hash of all of it), a small JSON record of the
// link and of the part progress that a later run continues from, after a crash or a power cut as
// after a pause. The window and torvane-fetch both resume from it.
//
// A record never claims bytes that are not on the disk. save() takes a second handle on the data
// file; a worker thread flushes the data through it (fdatasync / FlushFileBuffers) and only then
// replaces the record atomically (a new temporary file, sync, rename). The transfer never waits for
// the disk: while a flush runs, newer records wait in a single slot where the newest wins, so a
// slow disk makes the record older, never the transfer slower.
class Checkpoint {
public:
    explicit Checkpoint(const QString &dataPath);
    // Waits for the newest record to reach the disk, unless remove() came after it.
    ~Checkpoint();
    Checkpoint(const Checkpoint &) = delete;
    Checkpoint &operator=(const Checkpoint &) = delete;

    static QString pathFor(const QString &dataPath);
    // The record beside `dataPath` for a download of `url`. Invalid when there is none, it is no
    // small regular file, it cannot be read, it belongs to another link, or the data file is not
    // the pre-sized file it describes.
    static TransferProgress read(const QString &dataPath, const QUrl &url);
    // The progress in a record's bytes when they are a record of `url`; invalid otherwise.
    static TransferProgress parse(const QByteArray &record, const QUrl &url);

    // Records `progress` once everything written to `file` so far is durable. False when there
    // is nothing to record: an invalid progress, or the file is not open.
    bool save(const TransferProgress &progress, const QUrl &url, const PartFile &file);
    // Deletes the record now; nothing saved before writes it again.
    void remove();
    // Deletes the record beside `dataPath` that no Checkpoint of this run is writing.
    static void discard(const QString &dataPath);
    // Blocks until the newest record saved has reached the disk or failed to.
    void waitUntilWritten();

    // The newest record that reached the disk in this run; invalid when none did.
    TransferProgress written() const;
    // Why the latest flush of the data failed, once; PartFile::Problem::None when none did.
    PartFile::Problem takeFlushProblem();

private:
    struct Shared;
    std::shared_ptr<Shared> shared;
    bool wanted = false; // the newest request was a save, not a removal
};
