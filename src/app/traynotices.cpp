#include "app/traynotices.h"

#include "engine/categories.h"
#include "engine/downloadtask.h"
#include "engine/http/weblink.h"
#include "language/translation.h"

#include <QApplication>
#include <QClipboard>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSystemTrayIcon>
#include <QWidget>

#include <utility>

bool TrayNotices::backgroundNoticePending = true;

TrayNotices::TrayNotices(QSystemTrayIcon *tray, QWidget *window)
    : QObject(window), tray(tray), window(window)
{
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this,
            &TrayNotices::onClipboardChanged);
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

void TrayNotices::onClipboardChanged()
{
    if (!m_watchClipboard)
        return;
    const QString text = QGuiApplication::clipboard()->text().trimmed();
    if (text == lastCopied || text.contains(QRegularExpression(QStringLiteral("\\s"))) ||
        !isWebLink(text))
        return;
    const QString suffix = QFileInfo(QUrl(text).path()).suffix();
    if (suffix.isEmpty() || categoryForSuffix(suffix) == QLatin1String("Other"))
        return;
    lastCopied = text;
    lastTask = nullptr;
    offeredLink = text;
    tray->showMessage(T(QStringLiteral("Download this link?")),
                      text + QLatin1Char('\n') + T(QStringLiteral("Click here to add it.")),
                      QSystemTrayIcon::Information, 10000);
}

void TrayNotices::showWarning(const QString &message)
{
    lastTask = nullptr;
    offeredLink.clear();
    tray->showMessage(QStringLiteral("Torvane"), message, QSystemTrayIcon::Warning, 8000);
}
