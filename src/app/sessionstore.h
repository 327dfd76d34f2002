#pragma once

#include "engine/http/browsersession.h"

#include <QHash>
#include <QList>
#include <QString>

class DownloadTask;

// The browser sessions of unfinished downloads, kept in "sessions.json" beside the task list so
// that Resume after a restart still works. The file holds cookies: it is created for its owner
// alone (mode 0600; on Windows the user's profile folder is private already) before any byte is
// written, and replaced atomically. A task's entry goes with the first save after the task is
// done or deleted; with no entry left the file goes too.
class SessionStore {
public:
    explicit SessionStore(QString directory);

    QString path() const;

    // The sessions by taskKey(), read in one go.
    QHash<QString, BrowserSession> load() const;
    // Writes the sessions of the tasks that have one and are not done; false when that failed.
    // Sessions as last written are not written again.
    bool save(const QList<DownloadTask *> &tasks);

    // What ties a saved session to its entry of the task list.
    static QString taskKey(const QString &url, const QString &savePath);

private:
    QString dir;
    QByteArray written; // the file's content as this store last wrote it
};
