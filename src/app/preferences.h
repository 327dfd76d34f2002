#pragma once

#include "app/schedule.h"
#include "engine/http/proxysettings.h"

#include <QByteArray>
#include <QSettings>
#include <QString>

// What happens once the last download of the queue has ended: nothing, the program quits, or a
// command the user typed runs in the finished files' folder.
enum class AfterQueue { Nothing, Quit, Command };

// The choices of the preferences dialog.
struct DownloadPreferences {
    QString folder;        // where "Torvane/<Category>" goes; empty for the Download folder
    int maxRunning = 0;    // downloads that run at once, 1 to kMaxRunning; 0 for no limit
    qint64 speedLimit = 0; // bytes per second for all downloads together; 0 for none
    bool notices = true;   // a tray notice when a download ends while the window is away
    // The proxy of every download; its password is not kept in the preferences file but in the
    // private sessions file (SessionStore).
    ProxySettings proxy;
    bool watchClipboard = false; // offer a copied link to a file in a tray notice
    Schedule schedule;
    AfterQueue afterQueue = AfterQueue::Nothing;
    QString afterCommand; // program and arguments, for AfterQueue::Command
    // How long a download waits out an outage of its server or network before it ends in error;
    // 0 waits for ever.
    int giveUpMinutes = 10;

    static constexpr int kMaxRunning = 10;
    static constexpr int kMaxGiveUpMinutes = 24 * 60;
    bool operator==(const DownloadPreferences &o) const
    {
        return folder == o.folder && maxRunning == o.maxRunning && speedLimit == o.speedLimit &&
               notices == o.notices && proxy == o.proxy && watchClipboard == o.watchClipboard &&
               schedule == o.schedule && afterQueue == o.afterQueue &&
               afterCommand == o.afterCommand &&
               giveUpMinutes == o.giveUpMinutes;
    }
};

// The user's choices, kept across restarts in an INI file. Each value is read and checked on its
// own: a missing or bad one (a folder that is gone, a number out of range, text where a number
// belongs) gives that value's default and leaves the others as they are. Each setter writes its
// own values at once and nothing else, so a value that reads as bad now (a folder on a drive
// that is not plugged in) stays in the file until the user sets another.
class Preferences {
public:
    explicit Preferences(const QString &path);

    QString path() const { return settings.fileName(); }

    // "ar" or "en"; empty when none was chosen, and the program's default holds.
    QString language() const;
    void setLanguage(const QString &language);
    bool darkTheme() const;
    void setDarkTheme(bool dark);
    // As QWidget::saveGeometry() gives it; empty when none.
    QByteArray windowGeometry() const;
    void setWindowGeometry(const QByteArray &geometry);
    // The proxy comes without its password, which the file never holds.
    DownloadPreferences downloads() const;
    void setDownloads(const DownloadPreferences &prefs);
    // Whether the browser bridge takes links from other machines on the network; off unless the
    // file says exactly "true".
    bool acceptRemoteLinks() const;
    void setAcceptRemoteLinks(bool accept);
    // Up to when the schedule's starts and stops have been dealt with; invalid when never.
    QDateTime scheduleChecked() const;
    void setScheduleChecked(const QDateTime &moment);

private:
    void write(const QString &key, const QVariant &value);
    ProxySettings proxy() const;
    void setProxy(const ProxySettings &proxy);
    Schedule schedule() const;
    void setSchedule(const Schedule &schedule);

    mutable QSettings settings;
};
