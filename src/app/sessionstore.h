#pragma once

#include "engine/http/browsersession.h"
#include "engine/http/hostlogins.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QString>

class DownloadTask;

// What is kept of an unfinished download apart from the list: the browser's session for its
// link, its own speed limit (bytes per second, 0 for none) and the HTTP status that ended a
// failed one whose link has gone (403, 404 or 410), which makes it wait for a new link.
struct TaskSession {
    BrowserSession browser;
    qint64 speedLimit = 0;
    int linkGone = 0;
};

// The browser sessions of unfinished downloads, kept in "sessions.json" beside the task list so
// that Resume after a restart still works, with the speed limit of each download that has one
// of its own ("speedLimit", an entry an older version reads as a session, empty or not) and of each
// failed one whose link has gone ("linkGone"), so that a fresh link still finds it. The file
// holds cookies: it is created for its owner alone (mode 0600; on Windows the user's profile folder
// is private already) before any byte is written, and replaced atomically. A task's entry goes with
// the first save after the task is done or deleted; with no entry left the file goes too.
//
// The file also keeps the secrets of the preferences: the password of a proxy given by hand and
// the logins the user asked to remember, each in an entry of its own ({"proxyPassword"} and
// {"login": origin, "user", "password"}), which an older version reads as no session and skips.
class SessionStore {
public:
    explicit SessionStore(QString directory);

    QString path() const;

    // The sessions by taskKey(), read in one go (with the secrets).
    QHash<QString, TaskSession> load();
    // Writes the sessions and limits of the tasks that have one and are not done; false when that
    // failed.
    // Sessions as last written are not written again.
    bool save(const QList<DownloadTask *> &tasks);

    // What ties a saved session to its entry of the task list.
    static QString taskKey(const QString &url, const QString &savePath);

    // The secrets, read from the file at first use; a change is written by the next save().
    QString proxyPassword();
    void setProxyPassword(const QString &password);
    QMap<QString, Login> logins();
    void setLogins(const QMap<QString, Login> &logins);

private:
    QHash<QString, TaskSession> read();

    QString dir;
    QByteArray written; // the file's content as this store last wrote it
    bool secretsRead = false;
    QString proxySecret;
    QMap<QString, Login> hostLogins;
};
