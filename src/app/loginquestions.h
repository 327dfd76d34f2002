#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>

class DownloadTask;
class QWidget;

// Asks the user for the logins that downloads stopped at, one question at a time. Downloads that
// stop at a server while it is being asked about wait for that answer: a login given resumes every
// download waiting for that server (each through its queue); a cancelled question leaves them
// failed with the reason, for Retry to ask again.
class LoginQuestions : public QObject {
    Q_OBJECT

public:
    explicit LoginQuestions(QWidget *window);

    // `task` stopped at a server that wants a login (DownloadTask::loginRequired()).
    void add(DownloadTask *task);

private:
    void askNext();

    QWidget *window;
    QList<QPointer<DownloadTask>> waiting;
    bool asking = false;
    // How many logins were given per server, and the latest of them each download was resumed
    // with: a download refused with an older one (its request was on its way when the answer
    // came) tries the newest before anyone is asked again.
    QHash<QString, int> givenLogins;
    QHash<const DownloadTask *, int> triedLogin;
};
