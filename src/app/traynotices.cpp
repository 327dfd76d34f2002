#include "app/traynotices.h"

#include "engine/downloadtask.h"
#include "language/translation.h"

#include <QApplication>
#include <QSystemTrayIcon>
#include <QWidget>

#include <utility>

bool TrayNotices::backgroundNoticePending = true;

TrayNotices::TrayNotices(QSystemTrayIcon *tray, QWidget *window)
    : QObject(window), tray(tray), window(window)
{
    connect(tray, &QSystemTrayIcon::messageClicked, this, [this] {
        if (!offeredLink.isEmpty())
            emit linkChosen(std::exchange(offeredLink, QString()));
        else if (lastTask)
            emit detailsRequested(lastTask);
    });
}

// Away: hidden in the tray, minimised, or no window of the program in front. The user looking at
// the list, or at a details dialog, sees the end there.
bool TrayNotices::windowAway() const
{
    return !window->isVisible() || window->isMinimized() || !QApplication::activeWindow();
}

void TrayNotices::runEnded(DownloadTask *task)
{
    if (!m_enabled || (task->status != 2 && task->status != 3) || !windowAway())
        return;
    const bool done = task->status == 2;
    const QString title =
        done ? T(QStringLiteral("Download complete")) : T(QStringLiteral("Download failed"));
    QString message = task->fileName;
    if (!done && !task->lastDlpMessage.isEmpty())
        message += QLatin1Char('\n') + task->lastDlpMessage;
    lastTask = task;
    offeredLink.clear();
    tray->showMessage(title, message,
                      done ? QSystemTrayIcon::Information : QSystemTrayIcon::Warning, 8000);
    emit shown(task, title, message);
}

void TrayNotices::showBackgroundNotice()
{
    if (!backgroundNoticePending)
        return;
    backgroundNoticePending = false;
    lastTask = nullptr; // a click on this one opens nothing
    offeredLink.clear();
    const QString message = g_lang == QLatin1String("ar")
                                ? QStringLiteral("البرنامج يعمل في الخلفية لمتابعة التحميلات...")
                                : QStringLiteral("Application is running in the background...");
    tray->showMessage(QStringLiteral("Torvane"), message, QSystemTrayIcon::Information, 2000);
}

void TrayNotices::offerLink(const QString &url)
{
    lastTask = nullptr;
    offeredLink = url;
    tray->showMessage(T(QStringLiteral("Download this link?")),
                      url + QLatin1Char('\n') + T(QStringLiteral("Click here to add it.")),
                      QSystemTrayIcon::Information, 10000);
}
