#pragma once

#include "app/linkoffer.h"
#include "app/preferences.h"
#include "app/taskstore.h"

#include <QList>
#include <QMainWindow>
#include <QString>

#include <functional>
#include <memory>

class AddUrlDialog;
class QueueAutomation;
class BandwidthLimiter;
class BrowserBridge;
class DownloadQueue;
class DownloadTask;
class LinkQueue;
class LoginQuestions;
class Preferences;
class QCloseEvent;
class QPushButton;
class QTimer;
class Sidebar;
class TaskList;
class TrayNotices;
class WindowTray;

// The one window of the program: sidebar filters, toolbar, the list of download cards, the tray
// icon, and the task list saved across restarts. Closing hides it in the tray; only the tray's
// quit entry ends the program. The user's preferences (language, theme, the window's place, the
// download folder, how many downloads run at once, a speed limit, tray notices) are remembered.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Every hand-over (browser bridge, torvane-host, command line) comes here: the offer waits
    // its turn for the add dialog. False when it has no http(s) link or too many offers wait.
    bool takeOffer(const LinkOffer &offer);
    // Brings the window forward and runs the add-download dialog pre-filled with what was handed
    // over, once for each link in order; an accepted dialog adds the download.
    void openAddDialog(const LinkOffer &offer);

    TaskList *taskList() const { return listView; }

    // Port of the browser bridge; tests use 0 for a free one.
    static quint16 bridgePort;

public slots:
    // Shows the window, also from the tray or minimised, and brings it to the front.
    void bringToFront();

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void onAddClicked();
    void applyFilter(int filterType, QString category = QString());
    void toggleTheme();
    void toggleLanguage();
    void openPreferences();
    void processDeleteAction();
    void processToggleAction();
    void updateToolbarState();
    void saveTasks();

private:
    friend class TestMainWindow;

    void setupUI();
    void setupTrayIcon();
    void applyCurrentTheme();
    void updateUITexts();
    bool handleDuplicateFile(QString &path);
    void loadTasks();

    void runAddDialog(const QString &url, const QString &name, qint64 size,
                      const BrowserSession &session = BrowserSession());
    // `pageAccepted`: the dialog told that the server sends a web page, and the user added it.
    void addDownload(const QString &url, const QString &savePath, const QString &quality,
                     bool queued, const BrowserSession &session = BrowserSession(),
                     bool pageAccepted = false);
    DownloadTask *createTask(const QString &url, const QString &path, const QString &quality,
                             const BrowserSession &session);
    void addDownloads(const AddUrlDialog &dialog);
    std::function<bool(const QString &)> nameTaken() const;
    // A link handed over or added for the file of a download that waits for a new link (the same
    // name and size): asks whether that download continues with it, and on Yes checks the link
    // and continues it. True when the link went to that download and nothing is to be added.
    bool offerToWaitingDownload(const QString &url, const QString &name, qint64 size,
                                const BrowserSession &session);
    void listTask(DownloadTask *task, bool restored = false);
    void removeTask(DownloadTask *task);
    void scheduleToolbarUpdate();
    void applyDownloadPreferences(const DownloadPreferences &chosen);
    void startBridge();
    void rememberWindow();
    void quitProgram();

    // Every download, newest on top; it holds the tasks in the order they were added.
    TaskList *listView = nullptr;
    // Parent of every DownloadTask; a child of the window.
    QObject *taskOwner = nullptr;
    // The listener for the browser extension; null when its port could not be bound.
    BrowserBridge *localServer = nullptr;
    // Offers of every pipe, one add dialog at a time.
    LinkQueue *links = nullptr;
    bool isDarkMode = false;
    QPushButton *btnTheme = nullptr;
    QPushButton *btnLang = nullptr;
    QPushButton *btnPrefs = nullptr;
    QPushButton *btnAdd = nullptr;
    QPushButton *tbToggle = nullptr;
    QPushButton *tbDel = nullptr;
    WindowTray *tray = nullptr;
    bool forceQuit = false;

    // The filters, with the logo and title.
    Sidebar *sidebar = nullptr;
    TaskStore store;
    std::unique_ptr<Preferences> prefs;
    // Shared by every task: how many run at once, and how fast all of them together.
    DownloadQueue *queue = nullptr;
    // Downloads that stopped at a server wanting a login, asked about one at a time.
    LoginQuestions *loginQuestions = nullptr;
    BandwidthLimiter *limiter = nullptr;
    TrayNotices *notices = nullptr;
    // Saves asked for in a row (a whole selection leaving the queue) write the list once.
    QTimer *saveTimer = nullptr;
    // The toolbar is recomputed once per event-loop pass, however many selection changes came.
    QTimer *toolbarTimer = nullptr;
    int toolbarShowsPause = -1;
    // The schedule and the action once the queue is done.
    QueueAutomation *automation = nullptr;
};
