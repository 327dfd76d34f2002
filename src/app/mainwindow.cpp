#include "app/mainwindow.h"

#include "adding/addurldialog.h"
#include "adding/categoryfolder.h"
#include "adding/filenames.h"
#include "app/browserbridge.h"
#include "app/linkqueue.h"
#include "app/loginquestions.h"
#include "app/preferences.h"
#include "app/preferencesdialog.h"
#include "app/queueautomation.h"
#include "app/sidebar.h"
#include "app/stylesheets.h"
#include "app/traynotices.h"
#include "app/windowtray.h"
#include "engine/bandwidthlimiter.h"
#include "engine/downloadqueue.h"
#include "engine/downloadtask.h"
#include "engine/http/hostlogins.h"
#include "engine/http/proxysettings.h"
#include "engine/http/retryschedule.h"
#include "engine/http/trustedcertificates.h"
#include "language/translation.h"
#include "views/appicon.h"
#include "views/deletequestion.h"
#include "views/downloadcard.h"
#include "views/duplicatequestion.h"
#include "views/tasklist.h"
#include "views/updatelinkdialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QMultiMap>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

quint16 MainWindow::bridgePort = BridgePort;

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    initAppResources();
    QGuiApplication::setQuitOnLastWindowClosed(false);
    resize(1150, 700);
    // A first start, or a value that reads as bad, keeps the program's defaults: Arabic, light,
    // this size.
    prefs = std::make_unique<Preferences>(store.directory() + QStringLiteral("/settings.ini"));
    if (!prefs->language().isEmpty())
        g_lang = prefs->language();
    isDarkMode = prefs->darkTheme();
    restoreGeometry(prefs->windowGeometry());

    toolbarTimer = new QTimer(this);
    toolbarTimer->setSingleShot(true);
    toolbarTimer->setInterval(0);
    connect(toolbarTimer, &QTimer::timeout, this, &MainWindow::updateToolbarState);
    // Every change of a task's status or of the queue's line is saved, once per event-loop pass
    // however many tasks changed in it (a toolbar action on thousands of them).
    saveTimer = new QTimer(this);
    saveTimer->setSingleShot(true);
    saveTimer->setInterval(0);
    connect(saveTimer, &QTimer::timeout, this, &MainWindow::saveTasks);

    setupUI();
    setupTrayIcon();
    applyCurrentTheme();
    updateUITexts();
    // Made before the tasks' owner, so deleted before the tasks: a window going away must not
    // start waiting downloads while it cancels the running ones.
    queue = new DownloadQueue(this);
    loginQuestions = new LoginQuestions(this);
    limiter = new BandwidthLimiter(this);
    notices = new TrayNotices(tray->trayIcon(), this);
    connect(queue, &DownloadQueue::changed, saveTimer, qOverload<>(&QTimer::start));
    connect(queue, &DownloadQueue::ended, notices, &TrayNotices::runEnded);
    connect(notices, &TrayNotices::detailsRequested, listView, &TaskList::showDetails);
    // The secrets of the preferences live in the private sessions file, not in settings.ini.
    HostLogins::shared().restore(store.secrets().logins());
    DownloadPreferences chosen = prefs->downloads();
    chosen.proxy.password = store.secrets().proxyPassword();
    applyDownloadPreferences(chosen);
    // The tasks have an owner of their own: among the window's children, thousands of tasks would
    // slow down every widget operation that walks them (painting, finding the widget under the
    // pointer). Made after the widgets, it is also deleted after them.
    taskOwner = new QObject(this);
    loadTasks();

    links = new LinkQueue([this](const LinkOffer &offer) { openAddDialog(offer); }, this);
    startBridge();

    // The schedule runs once the list is in: a start missed while the program was closed resumes
    // the loaded downloads now.
    automation = new QueueAutomation(listView, queue, prefs.get(), notices, this);
    connect(automation, &QueueAutomation::quitRequested, this, &MainWindow::quitProgram);
    automation->apply(chosen);
    connect(notices, &TrayNotices::linkChosen, this, [this](const QString &url) {
        LinkOffer offer;
        offer.urls = QStringList{url};
        takeOffer(offer);
    });
#if QT_CONFIG(sessionmanager)
    // Logging off ends the program without the tray's quit entry; the list is saved all the same.
    connect(qApp, &QGuiApplication::commitDataRequest, this, &MainWindow::saveTasks);
#endif
}

MainWindow::~MainWindow() = default;

void MainWindow::setupUI()
{
    auto *mainWidget = new QWidget(this);
    auto *mainLayout = new QHBoxLayout(mainWidget);
    mainLayout->setContentsMargins(0, 0, 0, 0);
    mainLayout->setSpacing(0);

    sidebar = new Sidebar(mainWidget);
    connect(sidebar, &Sidebar::filterChosen, this, &MainWindow::applyFilter);

    auto *workspace = new QWidget(mainWidget);
    auto *workLayout = new QVBoxLayout(workspace);
    workLayout->setContentsMargins(0, 0, 0, 0);

    auto *toolbar = new QWidget(workspace);
    toolbar->setObjectName(QStringLiteral("Toolbar"));
    toolbar->setFixedHeight(65);
    auto *toolLayout = new QHBoxLayout(toolbar);
    btnAdd = new QPushButton(toolbar);
    tbToggle = new QPushButton(toolbar);
    tbDel = new QPushButton(toolbar);
    btnTheme = new QPushButton(toolbar);
    btnLang = new QPushButton(toolbar);
    btnPrefs = new QPushButton(toolbar);
    for (QPushButton *button : {btnAdd, tbToggle, tbDel})
        button->setIconSize(QSize(24, 24));
    toolLayout->addWidget(btnAdd);
    toolLayout->addWidget(tbToggle);
    toolLayout->addWidget(tbDel);
    toolLayout->addStretch();
    toolLayout->addWidget(btnPrefs);
    toolLayout->addWidget(btnTheme);
    toolLayout->addWidget(btnLang);
    connect(btnAdd, &QPushButton::clicked, this, &MainWindow::onAddClicked);
    connect(tbToggle, &QPushButton::clicked, this, &MainWindow::processToggleAction);
    connect(tbDel, &QPushButton::clicked, this, &MainWindow::processDeleteAction);
    connect(btnTheme, &QPushButton::clicked, this, &MainWindow::toggleTheme);
    connect(btnLang, &QPushButton::clicked, this, &MainWindow::toggleLanguage);
    connect(btnPrefs, &QPushButton::clicked, this, &MainWindow::openPreferences);

    listView = new TaskList(workspace);
    listView->setObjectName(QStringLiteral("ScrollArea"));
    connect(listView, &TaskList::deleteRequested, this, &MainWindow::removeTask);
    connect(listView, &TaskList::selectionChanged, this, &MainWindow::scheduleToolbarUpdate);

    workLayout->addWidget(toolbar);
    workLayout->addWidget(listView);
    mainLayout->addWidget(sidebar);
    mainLayout->addWidget(workspace);
    setCentralWidget(mainWidget);
}

// The tray only asks; showing, the preferences and quitting are the window's.
void MainWindow::setupTrayIcon()
{
    tray = new WindowTray(this);
    connect(tray, &WindowTray::restoreRequested, this, [this] {
        showNormal();
        activateWindow();
    });
    connect(tray, &WindowTray::preferencesRequested, this, [this] {
        bringToFront();
        openPreferences();
    });
    connect(tray, &WindowTray::quitRequested, this, &MainWindow::quitProgram);
}

void MainWindow::quitProgram()
{
    forceQuit = true;
    rememberWindow();
    saveTasks();
    QCoreApplication::quit();
}

void MainWindow::bringToFront()
{
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    rememberWindow();
    if (forceQuit) {
        saveTasks();
        event->accept();
        return;
    }
    event->ignore();
    if (!WindowTray::available()) {
        // Hidden without a tray there would be no way back: keep it on the taskbar instead.
        showMinimized();
        saveTasks();
        return;
    }
    hide();
    saveTasks();
    notices->showBackgroundNotice();
}

void MainWindow::rememberWindow()
{
    prefs->setWindowGeometry(saveGeometry());
}

// ---- Preferences --------------------------------------------------------------------------------

void MainWindow::openPreferences()
{
    DownloadPreferences current = prefs->downloads();
    current.proxy.password = store.secrets().proxyPassword();
    PreferencesDialog dialog(current, this);
    dialog.setAcceptRemoteLinks(prefs->acceptRemoteLinks());
    if (dialog.exec() != QDialog::Accepted)
        return;
    const DownloadPreferences chosen = dialog.values();
    prefs->setDownloads(chosen);
    store.secrets().setProxyPassword(chosen.proxy.password);
    applyDownloadPreferences(chosen);
    prefs->setAcceptRemoteLinks(dialog.acceptRemoteLinks());
    if (localServer)
        localServer->setAcceptRemote(dialog.acceptRemoteLinks());
    saveTasks(); // writes the password into the private file
}

void MainWindow::applyDownloadPreferences(const DownloadPreferences &chosen)
{
    setDownloadLocation(chosen.folder);
    queue->setLimit(chosen.maxRunning);
    limiter->setLimit(chosen.speedLimit);
    notices->setEnabled(chosen.notices);
    notices->setWatchClipboard(chosen.watchClipboard);
    if (automation)
        automation->apply(chosen);
    ProxySettings::setCurrent(chosen.proxy);
    setGiveUpAfterMs(qint64(chosen.giveUpMinutes) * 60 * 1000);
}

// ---- Links handed over
// ---------------------------------------------------------------------------

void MainWindow::startBridge()
{
    // Without the port (another program holds it) everything but the bridge works, and the
    // extension still reaches the program through the browser's native messaging.
    auto *bridge = new BrowserBridge(this);
    if (!bridge->listen(QHostAddress::Any, bridgePort)) {
        delete bridge;
        return;
    }
    localServer = bridge;
    bridge->setLinkTaker([this](const LinkOffer &offer) { return takeOffer(offer); });
    bridge->setAcceptRemote(prefs->acceptRemoteLinks());
}

bool MainWindow::takeOffer(const LinkOffer &offer)
{
    return links->add(offer);
}

void MainWindow::openAddDialog(const LinkOffer &offer)
{
    const QStringList urls = webLinksAmong(offer.urls);
    if (urls.isEmpty())
        return;
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    raise();
    activateWindow();
    // One link for the file of a download that waits for a new link may continue that download.
    if (urls.size() == 1 &&
        offerToWaitingDownload(urls.first(), offer.name, offer.size, offer.session))
        return;
    // Several links come as one list in one dialog; the name and size describe the first link,
    // and the session's cookie is for its host alone (the dialog sees to that per link).
    runAddDialog(urls.join(QLatin1Char('\n')), offer.name, offer.size, offer.session);
}

// ---- Adding -------------------------------------------------------------------------------------

void MainWindow::onAddClicked()
{
    runAddDialog(QString(), QString(), 0);
}

void MainWindow::runAddDialog(const QString &url, const QString &name, qint64 size,
                              const BrowserSession &session)
{
    AddUrlDialog dialog(url, name, size, this, session);
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (dialog.isBatch()) {
        addDownloads(dialog);
        return;
    }
    if (dialog.getUrl().isEmpty())
        return;
    // The probe may have learned the name and size that the hand-over did not tell; a question
    // already answered No for the same name and size is not asked again.
    const QString chosenName = QFileInfo(dialog.getSavePath()).fileName();
    if ((chosenName != name || dialog.fileSize() != size) &&
        offerToWaitingDownload(dialog.getUrl(), chosenName, dialog.fileSize(), dialog.getSession()))
        return;
    addDownload(dialog.getUrl(), dialog.getSavePath(), dialog.getQuality(), dialog.isQueued(),
                dialog.getSession(), dialog.warnedOfWebPage());
}

void MainWindow::addDownload(const QString &url, const QString &savePath, const QString &quality,
                             bool queued, const BrowserSession &session, bool pageAccepted)
{
    QString finalPath = savePath;
    if (!handleDuplicateFile(finalPath))
        return;
    DownloadTask *task = createTask(url, finalPath, quality, session);
    task->webPageAccepted = pageAccepted;
    if (!queued)
        task->start();
    listView->showDetails(task);
    saveTasks();
}

DownloadTask *MainWindow::createTask(const QString &url, const QString &path,
                                     const QString &quality, const BrowserSession &session)
{
    auto *task = new DownloadTask(QUrl(url), path, quality, taskOwner);
    task->browserSession = session;
    // Reserves the name at once, as the list makes placeholders only for rows in view.
    makePlaceholderFile(path);
    listTask(task);
    return task;
}

// The checked rows of a list of links, without a details dialog for each. Names already taken
// are asked about once for the whole list; started ones wait for the queue's slots.
void MainWindow::addDownloads(const AddUrlDialog &dialog)
{
    const QList<LinkBatch::Row> rows = dialog.chosenLinks();
    const auto taken = nameTaken();
    const bool anyTaken =
        std::any_of(rows.cbegin(), rows.cend(),
                    [&taken](const LinkBatch::Row &row) { return taken(row.path); });
    const QStringList paths = batchTargets(rows, taken, !anyTaken || askDownloadAsNewFile(this));
    for (int i = 0; i < rows.size(); ++i) {
        if (paths.at(i).isEmpty())
            continue;
        DownloadTask *task = createTask(rows.at(i).url, paths.at(i), QStringLiteral("best"),
                                        dialog.sessionFor(rows.at(i).url));
        if (!dialog.isQueued())
            task->start();
    }
    saveTasks();
}

bool MainWindow::offerToWaitingDownload(const QString &url, const QString &name, qint64 size,
                                        const BrowserSession &session)
{
    if (name.isEmpty() || size <= 0)
        return false;
    const QList<DownloadTask *> all = listView->tasks();
    const auto found = std::find_if(all.cbegin(), all.cend(), [&](const DownloadTask *task) {
        return task->waitsForNewLink() && task->fileName == name && task->totalSize == size &&
               task->url() != QUrl(url);
    });
    if (found == all.cend() || !UpdateLinkDialog::askContinue(name, this))
        return false;
    listView->scrollToTask(*found);
    UpdateLinkDialog::run(*found, this, url, session);
    return true;
}

// A name is taken when a file is there or a listed download goes to it: the list leaves the
// placeholder of a download out of view to when it comes into view.
std::function<bool(const QString &)> MainWindow::nameTaken() const
{
    QSet<QString> listed;
    for (const DownloadTask *task : listView->tasks())
        listed.insert(task->savePath());
    return [listed](const QString &p) {
        return listed.contains(p) || QFile::exists(p);
    };
}

bool MainWindow::handleDuplicateFile(QString &path)
{
    const auto taken = nameTaken();
    if (!taken(path))
        return true;
    if (!askDownloadAsNewFile(this))
        return false;
    path = numberedFreePath(path, taken);
    return true;
}

// ---- The list -----------------------------------------------------------------------------------

void MainWindow::listTask(DownloadTask *task, bool restored)
{
    task->setQueue(queue);
    task->setBandwidthLimiter(limiter);
    listView->addTask(task, restored);
    // To the timer, not to the window: the tasks still report their cancel while the window
    // is being destroyed, after the timer has gone.
    connect(task, &DownloadTask::statusChanged, saveTimer, qOverload<>(&QTimer::start));
    connect(task, &DownloadTask::speedLimitChanged, saveTimer, qOverload<>(&QTimer::start));
    connect(task, &DownloadTask::loginRequired, loginQuestions,
            [questions = loginQuestions, task] { questions->add(task); });
}

void MainWindow::removeTask(DownloadTask *task)
{
    task->cancel();
    task->discardCheckpoint();
    listView->removeTasks({task});
    // Nothing refers to the canceled task any more; it goes after its details dialog, which
    // reads it and is deleted first.
    task->deleteLater();
    updateToolbarState();
    saveTasks();
}

void MainWindow::scheduleToolbarUpdate()
{
    if (!toolbarTimer->isActive())
        toolbarTimer->start();
}

void MainWindow::applyFilter(int filterType, QString category)
{
    listView->applyFilter(filterType, category);
}

void MainWindow::updateToolbarState()
{
    toolbarTimer->stop();
    const bool downloading = listView->anySelectedActive();
    const QString text =
        QStringLiteral(" ") + T(downloading ? QStringLiteral("Pause") : QStringLiteral("Resume"));
    if (tbToggle->text() != text)
        tbToggle->setText(text);
    if (toolbarShowsPause != int(downloading)) {
        toolbarShowsPause = int(downloading);
        tbToggle->setIcon(downloading
                              ? getAppIcon(QStringLiteral("pause.png"), QStyle::SP_MediaPause, this)
                              : getAppIcon(QStringLiteral("play.png"), QStyle::SP_MediaPlay, this));
    }
}

void MainWindow::processToggleAction()
{
    // A copy: pausing or resuming emits signals that may reach code changing the list.
    const QList<DownloadTask *> selected = listView->selectedTasks();
    for (DownloadTask *task : selected) {
        if (task->isActive())
            task->pause();
        else if (task->status == 0)
            task->resume();
    }
    updateToolbarState();
}

void MainWindow::processDeleteAction()
{
    const QList<DownloadTask *> selected = listView->selectedTasks();
    if (selected.isEmpty())
        return;

    const DeleteChoice choice = askDeleteOptions(this, T(QStringLiteral("Delete selected tasks?")));
    if (choice == DeleteChoice::Cancel)
        return;

    const bool removeFiles = choice == DeleteChoice::ListAndFile;
    for (auto it = selected.crbegin(); it != selected.crend(); ++it) {
        DownloadTask *task = *it;
        // Stopped before its file goes: a file the task still holds open cannot be removed on
        // Windows.
        task->cancel();
        task->discardCheckpoint();
        if (removeFiles)
            QFile::remove(task->savePath());
    }
    listView->removeTasks(selected);
    for (DownloadTask *task : selected)
        task->deleteLater();
    updateToolbarState();
    saveTasks();
}

// ---- Persistence --------------------------------------------------------------------------------

void MainWindow::saveTasks()
{
    saveTimer->stop();
    // Logins the user asked to remember, wherever they were given (the add dialog, a download's
    // login question), go to the private file with the sessions.
    store.secrets().setLogins(HostLogins::shared().remembered());
    store.save(listView->tasks(), queue->waiting());
}

void MainWindow::loadTasks()
{
    // The certificates the user trusted live beside the list they were trusted for.
    TrustedCertificates::shared().useDirectory(store.directory());
    const QList<SavedTask> saved = store.load();
    QMultiMap<int, DownloadTask *> waiting; // by place in the queue
    for (const SavedTask &entry : saved) {
        auto *task = new DownloadTask(QUrl(entry.url), entry.savePath, entry.format, taskOwner);
        task->status = entry.status;
        task->totalSize = entry.totalSize;
        task->downloadedSize = entry.downloadedSize;
        task->checksum = entry.checksum;
        task->browserSession = entry.session;
        task->setSpeedLimit(entry.speedLimit);
        task->failedHttpStatus = entry.linkGone;
        if (entry.progress.isValid())
            task->restoreTransferProgress(entry.progress);
        // Its card shows the loaded sizes and state as soon as it comes into view.
        listTask(task, true);
        if (entry.queuePlace > 0)
            waiting.insert(entry.queuePlace, task);
    }
    // Downloads that waited for a slot wait again, in their order, and start as slots are free.
    queue->restore(waiting.values());
}

// ---- Look and language --------------------------------------------------------------------------

void MainWindow::toggleTheme()
{
    isDarkMode = !isDarkMode;
    prefs->setDarkTheme(isDarkMode);
    applyCurrentTheme();
}

void MainWindow::applyCurrentTheme()
{
    qApp->setStyleSheet(QString::fromUtf8(isDarkMode ? DarkStyleSheet : LightStyleSheet));
    updateUITexts();
}

void MainWindow::toggleLanguage()
{
    g_lang = g_lang == QLatin1String("ar") ? QStringLiteral("en") : QStringLiteral("ar");
    prefs->setLanguage(g_lang);
    updateUITexts();
}

void MainWindow::updateUITexts()
{
    const bool arabic = g_lang == QLatin1String("ar");
    QGuiApplication::setLayoutDirection(arabic ? Qt::RightToLeft : Qt::LeftToRight);
    sidebar->updateTexts(isDarkMode);

    btnAdd->setIcon(getAppIcon(QStringLiteral("add.png"), QStyle::SP_FileIcon, this));
    tbDel->setIcon(getAppIcon(QStringLiteral("delete.png"), QStyle::SP_TrashIcon, this));
    updateToolbarState();

    btnAdd->setText(T(QStringLiteral(" Add URL")));
    tbDel->setText(T(QStringLiteral(" Delete")));

    if (isDarkMode)
        btnTheme->setText(arabic ? QStringLiteral("☀️ نهار")
                                 : QStringLiteral("☀️ Light"));
    else
        btnTheme->setText(arabic ? QStringLiteral("🌙 ليل") : QStringLiteral("🌙 Dark"));
    btnLang->setText(arabic ? QStringLiteral("🌐 EN") : QStringLiteral("🌐 AR"));
    btnPrefs->setText(QStringLiteral("⚙️ ") + T(QStringLiteral("Preferences")));

    tray->updateTexts();

    listView->updateTooltips();
}
