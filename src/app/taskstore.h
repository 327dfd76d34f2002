#pragma once

#include "app/sessionstore.h"
#include "engine/storage/checksumtext.h"
#include "engine/storage/transferprogress.h"

#include <QList>
#include <QString>

class DownloadTask;

// One entry of the saved task list, with the part progress kept beside it when there is any.
struct SavedTask {
    QString url;
    QString savePath;
    QString format;
    int status = 0;
    qint64 totalSize = 0;
    qint64 downloadedSize = 0;
    int queuePlace = 0; // place in the download queue, from 1; 0 when not waiting
    TransferProgress progress;
    BrowserSession session;  // kept apart from the list, in the private sessions file
    qint64 speedLimit = 0;   // the task's own limit, kept there too
    int linkGone = 0;        // and the HTTP status that ended it, when its link has gone
    ChecksumResult checksum; // Verified, with the algorithm and source, for a verified done one
};

// The task list on disk: "tasks.json" (an array of six-member objects, one per task, and a
// seventh, "queue", for a task waiting in the download queue: its place in line; a done download
// verified at completion adds "checksum" and "checksumSource", the algorithm and where the digest
// came from) and, beside it in the same folder, "transfers.json" with the part offsets of
// unfinished segmented downloads and "sessions.json" (SessionStore) with the browser sessions of
// unfinished downloads.
//
// Both files are replaced atomically, so an interrupted save leaves the previous list intact. A
// list that cannot be parsed is renamed aside before the next save, never silently overwritten.
class TaskStore {
public:
    // `directory` defaults to defaultDirectory().
    explicit TaskStore(QString directory = QString());

    // Where the list, the settings, the sessions and the checkpoints' list live: the program's own
    // folder when a file named "portable" lies beside the program (a copy carried on a stick keeps
    // its list with it), otherwise the "Torvane" folder of the per-user application data location.
    static QString defaultDirectory(const QString &programFolder, const QString &appDataFolder);

    QString directory() const { return dir; }
    QString listPath() const;
    QString progressPath() const;

    QList<SavedTask> load();
    // The entries of a list file's bytes, with the part progress of a transfers file's bytes
    // attached; *unreadable tells whether the list was no JSON array. Statuses other than 2, 3
    // and 4 read as 0, sizes that are no whole number from 0 to MaxByteCount as 0.
    static QList<SavedTask> parse(const QByteArray &list, const QByteArray &transfers,
                                  bool *unreadable = nullptr);
    // Writes the list in the given order, and the places of the `waiting` tasks in their queue;
    // false when it could not be written (the next save tries again).
    bool save(const QList<DownloadTask *> &tasks, const QList<DownloadTask *> &waiting = {});
    // The private sessions file, which also keeps the secrets of the preferences; a change to
    // them is written by the next save().
    SessionStore &secrets() { return sessions; }

private:
    bool keepUnreadableListAside();

    QString dir;
    SessionStore sessions;
    bool listUnreadable = false;
};
