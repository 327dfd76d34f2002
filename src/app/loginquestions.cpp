#include "app/loginquestions.h"

#include "engine/downloadtask.h"
#include "views/logindialog.h"

#include <QTimer>
#include <QWidget>

namespace {

bool stoppedForLogin(const DownloadTask *task)
{
    return task && task->status == 3 && !task->loginRequest.isNull();
}

} // namespace

LoginQuestions::LoginQuestions(QWidget *window) : QObject(window), window(window) {}

void LoginQuestions::add(DownloadTask *task)
{
    if (!waiting.contains(task))
        waiting.append(task);
    // The task ends its run right after it reports; the question comes once it has.
    if (!asking)
        QTimer::singleShot(0, this, &LoginQuestions::askNext);
}

void LoginQuestions::askNext()
{
    waiting.removeIf([](const QPointer<DownloadTask> &task) { return !stoppedForLogin(task); });
    waiting.removeIf([this](const QPointer<DownloadTask> &task) {
        const int latest = givenLogins.value(HostLogins::originOf(task->loginRequest.url));
        if (latest == 0 || triedLogin.value(task.data()) >= latest)
            return false;
        triedLogin.insert(task.data(), latest);
        task->resume();
        return true;
    });
    if (asking || waiting.isEmpty())
        return;
    const LoginRequest request = waiting.first()->loginRequest;
    const QString server = HostLogins::originOf(request.url);
    asking = true;
    // Downloads keep running and reporting meanwhile: the dialog has an event loop of its own.
    const bool given = LoginDialog::ask(request, window);
    asking = false;
    QList<DownloadTask *> answered;
    for (const QPointer<DownloadTask> &task : std::as_const(waiting)) {
        if (stoppedForLogin(task) && HostLogins::originOf(task->loginRequest.url) == server)
            answered.append(task);
    }
    waiting.removeIf([&answered](const QPointer<DownloadTask> &task) {
        return !task || answered.contains(task.data());
    });
    if (given) {
        const int latest = ++givenLogins[server];
        for (DownloadTask *task : std::as_const(answered)) {
            triedLogin.insert(task, latest);
            task->resume();
        }
    }
    if (!waiting.isEmpty())
        QTimer::singleShot(0, this, &LoginQuestions::askNext);
}
