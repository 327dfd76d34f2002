#pragma once

#include <QObject>
#include <QPointer>

class DownloadTask;
class QSystemTrayIcon;
class QWidget;

// The tray's messages: the note on the first hide that the program goes on in the background, and
// a notice for each download that completes or fails while the window is hidden or another
// program is in front. Clicking a download's notice asks for its details.
class TrayNotices : public QObject {
    Q_OBJECT

public:
    TrayNotices(QSystemTrayIcon *tray, QWidget *window);

    void setEnabled(bool enabled) { m_enabled = enabled; }
    bool isEnabled() const { return m_enabled; }

    // A run of `task` stopped (DownloadQueue::ended): one notice when it completed or failed.
    void runEnded(DownloadTask *task);
    // The clipboard watch: a copied link to a file (its name has the extension of a known
    // category) is offered in a notice, once however often it is copied; a click on the notice
    // chooses it. Offered whether or not notices of ends are on: the watch has its own switch.
    void setWatchClipboard(bool watch) { m_watchClipboard = watch; }
    // A warning of the program's own, such as a command that could not be run.
    void showWarning(const QString &message);
    // Shown on the first hide of the process only.
    void showBackgroundNotice();
    static bool backgroundNoticePending;

signals:
    // A notice about `task` was handed to the tray.
    void shown(DownloadTask *task, const QString &title, const QString &message);
    // The user clicked the notice about `task`.
    void detailsRequested(DownloadTask *task);
    // The user clicked the notice offering `url`.
    void linkChosen(const QString &url);

private:
    bool windowAway() const;
    void onClipboardChanged();

    QSystemTrayIcon *tray;
    QWidget *window;
    bool m_enabled = true;
    QPointer<DownloadTask> lastTask; // what the notice on screen is about, if any
    QString offeredLink;             // or the link it offers
    bool m_watchClipboard = false;
    QString lastCopied; // offered once, however often it is copied again
};
