// Test-only driver for the view benchmarks (bench/cardbench.sh, bench/listbench.sh).
//
// Usage:
//   torvane-cardbench URL OUTPUT_PATH
//       one download through the main window with its card on screen; exits when it ends
//   torvane-cardbench --burst CARDS
//       refresh cost per progress signal of one running card among CARDS
//   torvane-cardbench --seed N DOWNLOAD_DIR [URL]
//       writes a saved list of N idle entries (mixed states, types and sizes) pointing into
//       DOWNLOAD_DIR, the paused and failed ones with their partial file (sparse) and its
//       checkpoint, as a crash leaves them; with URL, N paused entries that all fetch URL
//   torvane-cardbench --list
//       starts the window on the saved list and prints the time from TORVANE_T0_NS (the
//       script's clock just before it started this program) until the window is shown and
//       answers, CPU and memory at that point, CPU while idle, and the longest event-loop gap
//       while scrolling, filtering, selecting all, saving and switching theme and language
//   torvane-cardbench --downloads [--headless]
//       resumes every entry of the saved list at once (with the window, or with the tasks alone)
//       and prints wall and CPU time until all ended, the longest event-loop gap and, with the
//       window, how often a card on screen missed its task's progress
//   torvane-cardbench --links N URL_PREFIX DOWNLOAD_DIR
//       hands N links (URL_PREFIX followed by 1.bin ... N.bin) to the add dialog at once, eight
//       downloads at a time, and prints how long the rows took to show and to be probed, the
//       longest event-loop gap while probing, how long "Start all" held the event loop, when
//       every download had ended, and the most probes and downloads seen running at once
//
// Every mode but the first two works on the real per-user data folder, so the scripts run it
// with a throw-away HOME.
#include "adding/addurldialog.h"
#include "app/mainwindow.h"
#include "app/preferences.h"
#include "engine/downloadtask.h"
#include "engine/storage/checkpoint.h"
#include "views/downloadcard.h"
#if __has_include("views/tasklist.h")
#include "views/tasklist.h"
#define TORVANE_TASKLIST 1
#endif

#include <QAbstractScrollArea>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTextStream>
#include <QTimer>
#include <QWheelEvent>
#include <QWindow>

#include <chrono>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <sys/resource.h>
#endif

namespace {

qint64 cpuMs()
{
#ifdef Q_OS_WIN
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0;
    const auto ticks = [](const FILETIME &t) {
        return (qint64(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return (ticks(kernel) + ticks(user)) / 10000; // 100 ns ticks
#else
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return qint64(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
#endif
}

// Nanoseconds since the epoch, comparable with `date +%s%N` of the shell that started us.
qint64 wallNs()
{
    using namespace std::chrono;
    return duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
}

// Resident and peak resident memory in MiB, from /proc.
QString memoryMiB(const QString &prefix = QString())
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return prefix + QStringLiteral("rss_mib=? ") + prefix + QStringLiteral("peak_rss_mib=?");
    qint64 rss = 0, peak = 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() >= 2 && parts[0] == "VmRSS:")
            rss = parts[1].toLongLong();
        if (parts.size() >= 2 && parts[0] == "VmHWM:")
            peak = parts[1].toLongLong();
    }
    return QStringLiteral("%1rss_mib=%2 %1peak_rss_mib=%3")
        .arg(prefix)
        .arg(rss / 1024)
        .arg(peak / 1024);
}

void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The longest time between two passes of a 4 ms timer: how long the event loop was busy with
// something else, and so how long input would have waited.
class GapMonitor : public QObject {
public:
    GapMonitor()
    {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(4);
        connect(&timer, &QTimer::timeout, this, [this] {
            const qint64 now = clock.nsecsElapsed();
            maxGapNs = qMax(maxGapNs, now - last);
            last = now;
        });
    }
    void start()
    {
        clock.start();
        last = 0;
        maxGapNs = 0;
        timer.start();
    }
    // Longest gap in ms since start(), and restarts.
    double take()
    {
        const double ms = double(qMax(maxGapNs, clock.nsecsElapsed() - last)) / 1e6;
        start();
        return ms;
    }

private:
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 maxGapNs = 0;
};

QString dataDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/Torvane");
}

QList<DownloadTask *> tasksOf(MainWindow &window)
{
#ifdef TORVANE_TASKLIST
    return window.taskList()->tasks();
#else
    QList<DownloadTask *> tasks;
    for (DownloadCard *card : window.taskCards())
        tasks.append(card->getTask());
    return tasks;
#endif
}

QAbstractScrollArea *listArea(MainWindow &window)
{
    return window.findChild<QAbstractScrollArea *>(QStringLiteral("ScrollArea"));
}

// The cards the user can see right now.
QList<DownloadCard *> cardsOnScreen(MainWindow &window)
{
    QList<DownloadCard *> shown;
    for (DownloadCard *card : window.findChildren<DownloadCard *>())
        if (card->isVisible() && !card->visibleRegion().isEmpty())
            shown.append(card);
    return shown;
}

QString cardTexts(DownloadCard *card)
{
    QString texts;
    for (QLabel *label : card->findChildren<QLabel *>())
        texts += label->text() + QLatin1Char('|');
    return texts;
}

void selectAll(MainWindow &window)
{
#ifdef TORVANE_TASKLIST
    QWidget *target = listArea(window)->viewport();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier);
    QApplication::sendEvent(target, &press);
#else
    // The list had no select-all; selecting every card is the least it took.
    for (DownloadCard *card : window.findChildren<DownloadCard *>())
        card->setSelected(true);
#endif
}

// Waits until the window is on screen and then for one more pass of the event loop, which is
// when input sent to it would be handled.
void waitUntilAnswering(QWidget &window)
{
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(0);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (window.windowHandle() && window.windowHandle()->isExposed()) {
            poll.stop();
            QTimer::singleShot(0, &loop, &QEventLoop::quit);
        }
    });
    poll.start();
    loop.exec();
}

QJsonObject listEntry(const QString &url, const QString &path, int status, qint64 total,
                      qint64 done)
{
    QJsonObject entry;
    entry.insert(QStringLiteral("url"), url);
    entry.insert(QStringLiteral("savePath"), path);
    entry.insert(QStringLiteral("format"), QString());
    entry.insert(QStringLiteral("status"), status);
    entry.insert(QStringLiteral("totalSize"), total);
    entry.insert(QStringLiteral("downloadedSize"), done);
    return entry;
}

// A partial download as a crash leaves it: the pre-sized file and a checkpoint record of each
// part a third done.
bool writeCheckpoint(const QUrl &url, const QString &path, qint64 total)
{
    TransferProgress progress;
    progress.totalSize = total;
    progress.numParts = partCountFor(total);
    for (int i = 0; i < progress.numParts; ++i) {
        const PartRange range = partRange(total, progress.numParts, i);
        progress.partOffsets.append(range.first + (range.last - range.first + 1) / 3);
    }
    QFile data(path);
    QFile record(Checkpoint::pathFor(path));
    const QJsonObject json{{QStringLiteral("url"), url.toString(QUrl::FullyEncoded)},
                           {QStringLiteral("progress"), progress.toJson()}};
    return QDir().mkpath(QFileInfo(path).absolutePath()) && data.open(QIODevice::WriteOnly) &&
           data.resize(total) && record.open(QIODevice::WriteOnly) &&
           record.write(QJsonDocument(json).toJson(QJsonDocument::Compact)) > 0;
}

int writeList(const QJsonArray &array)
{
    QDir(dataDir()).removeRecursively();
    QDir().mkpath(dataDir());
    QFile list(dataDir() + QStringLiteral("/tasks.json"));
    if (!list.open(QIODevice::WriteOnly))
        return 1;
    list.write(QJsonDocument(array).toJson());
    return 0;
}

int seed(int count, const QString &downloads, const QString &url)
{
    static const char *const names[] = {"holiday-%1.zip",    "report-%1.pdf", "setup-%1.exe",
                                        "episode-%1.mp3",    "talk-%1.mp4",   "notes-%1.txt",
                                        "archive-%1.tar.gz", "image-%1.iso",  "data-%1.bin"};
    static const int states[] = {2, 2, 2, 0, 2, 3, 0, 4, 2, 0};
    QJsonArray array;
    for (int i = 0; i < count; ++i) {
        if (!url.isEmpty()) {
            array.append(listEntry(url, downloads + QStringLiteral("/f%1.bin").arg(i), 0, 0, 0));
            continue;
        }
        const QString name = QString::fromLatin1(names[i % 9]).arg(i);
        const int status = states[i % 10];
        const qint64 total = (qint64(i % 97) + 1) * 7340033;
        const QString link = QStringLiteral("https://files.example.org/") + name;
        const QString path = downloads + QLatin1Char('/') + name;
        array.append(listEntry(link, path, status, total, status == 2 ? total : total / 3));
        if ((status == 0 || status == 3) && !writeCheckpoint(QUrl(link), path, total))
            return 1;
    }
    return writeList(array);
}

int listRun()
{
    const qint64 t0 = qEnvironmentVariableIsSet("TORVANE_T0_NS")
                          ? qEnvironmentVariable("TORVANE_T0_NS").toLongLong()
                          : wallNs();
    QTextStream out(stdout);
    MainWindow window;
    window.show();
    waitUntilAnswering(window);
    const qint64 startMs = (wallNs() - t0) / 1000000;
    const qint64 startCpu = cpuMs();
    const int entries = int(tasksOf(window).size());
    out << "entries=" << entries << " start_ms=" << startMs << " start_cpu_ms=" << startCpu << " "
        << memoryMiB() << Qt::endl;

    // Idle: nothing runs, so nothing should take CPU.
    wait(200);
    const qint64 idleFrom = cpuMs();
    wait(3000);
    out << "idle_cpu_ms_per_3s=" << cpuMs() - idleFrom << Qt::endl;

    GapMonitor gaps;
    QAbstractScrollArea *area = listArea(window);
    QScrollBar *bar = area->verticalScrollBar();
    auto everyFrame = [&](int steps, const std::function<void(int)> &step) {
        gaps.start();
        for (int i = 0; i < steps; ++i) {
            step(i);
            wait(16);
        }
        wait(50);
        return gaps.take();
    };
    const auto wheel = [&](int delta) {
        const QPointF at(area->viewport()->width() / 2.0, area->viewport()->height() / 2.0);
        QWheelEvent event(at, area->viewport()->mapToGlobal(at), QPoint(), QPoint(0, delta),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(area->viewport(), &event);
    };
    const double wheelGap = everyFrame(120, [&](int i) { wheel(i < 60 ? -120 : 120); });
    QRandomGenerator random(7);
    const double dragGap =
        everyFrame(60, [&](int) { bar->setValue(random.bounded(bar->maximum() + 1)); });
    out << "scroll_wheel_gap_ms=" << wheelGap << " scroll_drag_gap_ms=" << dragGap << Qt::endl;

    QList<QPushButton *> filters;
    for (QPushButton *b :
         window.findChild<QWidget *>(QStringLiteral("Sidebar"))->findChildren<QPushButton *>())
        if (b->isVisible())
            filters.append(b);
    double filterGap = 0;
    for (QPushButton *button : filters) {
        gaps.start();
        button->click();
        wait(60);
        filterGap = qMax(filterGap, gaps.take());
    }
    filters.first()->click(); // back to "All"
    wait(100);
    out << "filter_gap_ms=" << filterGap << " filters=" << filters.size() << Qt::endl;

    gaps.start();
    selectAll(window);
    wait(100);
    const double selectGap = gaps.take();
    const double selectedScrollGap =
        everyFrame(30, [&](int) { bar->setValue(random.bounded(bar->maximum() + 1)); });
    // A plain click on a card selects it alone.
    gaps.start();
    if (DownloadCard *card = cardsOnScreen(window).value(0)) {
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), card->mapToGlobal(QPointF(5, 5)),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(card, &press);
    }
    wait(100);
    const double clickGap = gaps.take();
    out << "select_all_gap_ms=" << selectGap << " scroll_selected_gap_ms=" << selectedScrollGap
        << " click_select_gap_ms=" << clickGap << Qt::endl;

    QPushButton *theme = nullptr, *language = nullptr;
    for (QPushButton *b : window.findChildren<QPushButton *>()) {
        if (b->text().startsWith(QStringLiteral("🌐")))
            language = b;
        if (b->text().startsWith(QStringLiteral("🌙")) || b->text().startsWith(QStringLiteral("☀")))
            theme = b;
    }
    gaps.start();
    theme->click();
    wait(100);
    const double themeGap = gaps.take();
    language->click();
    wait(100);
    const double languageGap = gaps.take();
    // Hiding to the tray writes the whole list.
    gaps.start();
    window.close();
    wait(100);
    const double saveGap = gaps.take();
    out << "theme_gap_ms=" << themeGap << " language_gap_ms=" << languageGap
        << " save_gap_ms=" << saveGap << " " << memoryMiB(QStringLiteral("end_")) << Qt::endl;
    return 0;
}

// Runs every saved entry at once, each with its own file; prints the figures when all ended.
int downloadsRun(bool headless)
{
    QTextStream out(stdout);
    QScopedPointer<MainWindow> window;
    QList<DownloadTask *> tasks;
    QObject owner;
    if (headless) {
        QFile list(dataDir() + QStringLiteral("/tasks.json"));
        if (!list.open(QIODevice::ReadOnly))
            return 1;
        for (const QJsonValue &value : QJsonDocument::fromJson(list.readAll()).array()) {
            const QJsonObject o = value.toObject();
            tasks.append(new DownloadTask(QUrl(o.value(QStringLiteral("url")).toString()),
                                          o.value(QStringLiteral("savePath")).toString(), QString(),
                                          &owner));
        }
    } else {
        window.reset(new MainWindow);
        window->show();
        waitUntilAnswering(*window);
        tasks = tasksOf(*window);
    }

    int running = int(tasks.size());
    QEventLoop loop;
    for (DownloadTask *task : tasks) {
        QObject::connect(task, &DownloadTask::progressUpdated, &loop, [task, &running, &loop] {
            if (task->status >= 2 && !task->property("ended").toBool()) {
                task->setProperty("ended", true);
                if (--running == 0)
                    loop.quit();
            }
        });
    }

    // With the window: every half second, each card on screen whose task moved on must show
    // other figures than half a second ago; now and then the list jumps elsewhere.
    int samples = 0, stale = 0;
    QHash<DownloadCard *, QPair<DownloadTask *, QString>> lastSeen;
    QHash<DownloadTask *, qint64> lastBytes;
    QTimer sampler;
    int tick = 0;
    if (window) {
        QObject::connect(&sampler, &QTimer::timeout, &loop, [&] {
            for (DownloadCard *card : cardsOnScreen(*window)) {
                DownloadTask *task = card->getTask();
                const QString texts = cardTexts(card);
                const auto seen = lastSeen.value(card);
                if (seen.first == task && task->status == 1 &&
                    lastBytes.value(task) != task->downloadedSize) {
                    ++samples;
                    stale += seen.second == texts;
                }
                lastSeen.insert(card, qMakePair(task, texts));
                lastBytes.insert(task, task->downloadedSize);
            }
            if (++tick % 4 == 0) {
                QScrollBar *bar = listArea(*window)->verticalScrollBar();
                bar->setValue(QRandomGenerator::global()->bounded(bar->maximum() + 1));
            }
        });
        sampler.start(500);
    }

    GapMonitor gaps;
    QElapsedTimer clock;
    clock.start();
    const qint64 cpuFrom = cpuMs();
    // Starting them all is one pass of the event loop, as a click on the toolbar would be.
    for (DownloadTask *task : tasks)
        task->resume();
    const double startGap = clock.nsecsElapsed() / 1e6;
    gaps.start();
    // The first seconds open 50 x 8 connections; the gaps after them are those of a steady run.
    double openingGap = 0;
    QTimer::singleShot(2000, &loop, [&] { openingGap = gaps.take(); });
    loop.exec();
    const qint64 cpu = cpuMs() - cpuFrom;
    const double steadyGap = gaps.take();
    int done = 0;
    for (DownloadTask *task : tasks)
        done += task->status == 2;
    out << (headless ? "mode=headless" : "mode=window") << " downloads=" << tasks.size()
        << " done=" << done << " seconds=" << clock.elapsed() / 1000.0 << " cpu_ms=" << cpu
        << " start_all_ms=" << startGap << " opening_gap_ms=" << openingGap
        << " steady_gap_ms=" << steadyGap;
    if (window)
        out << " card_samples=" << samples << " stale_card_samples=" << stale;
    out << Qt::endl;
    if (window) {
        window->close(); // saves the list
        window.reset();
    }
    return done == tasks.size() ? 0 : 1;
}

// N links in one add dialog, then "Start all" under a limit of eight at once.
int linksRun(int count, const QString &prefix, const QString &folder)
{
    DownloadPreferences chosen;
    chosen.folder = folder;
    chosen.maxRunning = 8;
    QDir().mkpath(dataDir());
    Preferences(dataDir() + QStringLiteral("/settings.ini")).setDownloads(chosen);
    MainWindow window;
    window.show();
    waitUntilAnswering(window);
    LinkOffer offer;
    for (int i = 1; i <= count; ++i)
        offer.urls.append(prefix + QString::number(i) + QStringLiteral(".bin"));

    QTextStream out(stdout);
    GapMonitor gaps;
    QElapsedTimer clock;
    double shownMs = 0, probedMs = 0, probeGapMs = 0;
    int mostProbes = 0, mostRunning = 0; // sampled every 10 ms and 50 ms
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, &window, [&] {
        auto *dialog = window.findChild<AddUrlDialog *>();
        if (!dialog || !dialog->isVisible())
            return;
        if (shownMs == 0) {
            shownMs = clock.nsecsElapsed() / 1e6;
            gaps.start();
        }
        if (const auto *batch = dialog->findChild<LinkBatch *>())
            mostProbes = qMax(mostProbes, batch->probesInFlight());
        const QList<LinkBatch::Row> rows = dialog->chosenLinks();
        if (std::any_of(rows.cbegin(), rows.cend(),
                        [](const LinkBatch::Row &r) { return !r.probed; }))
            return;
        poll.stop();
        probedMs = clock.nsecsElapsed() / 1e6;
        probeGapMs = gaps.take();
        dialog->findChild<QPushButton *>(QStringLiteral("btnStart"))->click();
    });
    poll.start();
    clock.start();
    window.openAddDialog(offer); // returns once the downloads are added
    const double startAllMs = clock.nsecsElapsed() / 1e6 - probedMs;
    const QList<DownloadTask *> tasks = tasksOf(window);
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        mostRunning = qMax(
            mostRunning, int(std::count_if(tasks.cbegin(), tasks.cend(),
                                           [](const DownloadTask *t) { return t->status == 1; })));
        if (std::all_of(tasks.cbegin(), tasks.cend(),
                        [](const DownloadTask *t) { return t->status >= 2; }))
            loop.quit();
    });
    check.start(50);
    loop.exec();
    int done = 0;
    for (const DownloadTask *task : tasks)
        done += task->status == 2;
    out << "links=" << count << " done=" << done << " rows_shown_ms=" << shownMs
        << " all_probed_ms=" << probedMs << " probing_gap_ms=" << probeGapMs
        << " start_all_ms=" << startAllMs << " all_done_s=" << clock.elapsed() / 1000.0
        << " most_probes=" << mostProbes << " most_running=" << mostRunning << Qt::endl;
    window.close();
    return done == count ? 0 : 1;
}

// Progress signals as fast as an engine could send them, one event-loop pass per 64 signals, on
// one selected running card among `count`; prints the cost per signal.
int burst(int count)
{
    const QString downloads = QDir::tempPath() + QStringLiteral("/torvane-burst");
    if (seed(count, downloads, QStringLiteral("http://127.0.0.1:9/f.bin")) != 0)
        return 1;
    {
        MainWindow window;
        window.show();
        QCoreApplication::processEvents();
        DownloadTask *task = tasksOf(window).constLast();
        task->totalSize = 1LL << 32;
        cardsOnScreen(window).value(0)->setSelected(true);
        task->status = 1;
        task->currentSpeed = 500.0 * 1048576;
        const int signals_ = 200000;
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < signals_; ++i) {
            task->downloadedSize += 16384;
            emit task->progressUpdated();
            if (i % 64 == 0)
                QCoreApplication::processEvents();
        }
        QCoreApplication::processEvents();
        QTextStream(stdout) << "cards=" << count
                            << " ns_per_signal=" << clock.nsecsElapsed() / signals_ << "\n";
        task->status = 0;
    }
    QDir(dataDir()).removeRecursively();
    QDir(downloads).removeRecursively();
    return 0;
}

int singleDownload(QApplication &app, const QString &url, const QString &output)
{
    QStandardPaths::setTestModeEnabled(true);
    QFile::remove(output);
    // The task comes in through the saved list, as a queued download would after a restart.
    if (writeList(QJsonArray{listEntry(url, output, 0, 0, 0)}) != 0)
        return 1;

    int result = 1;
    QElapsedTimer clock;
    {
        MainWindow window;
        window.show();
        DownloadTask *task = tasksOf(window).value(0);
        QObject::connect(task, &DownloadTask::finished, &app, [&] {
            result = task->status == 2 ? 0 : 1;
            QTextStream(stdout) << "status=" << task->status << " bytes=" << task->downloadedSize
                                << " seconds=" << clock.elapsed() / 1000.0 << "\n";
            QCoreApplication::exit(result);
        });
        QTimer::singleShot(300, task, [task, &clock] {
            clock.start();
            task->resume();
        });
        app.exec();
    }
    QDir(dataDir()).removeRecursively();
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));
    MainWindow::bridgePort = 0; // never the user's own port
    if (args.value(1) == QLatin1String("--downloads") &&
        args.value(2) == QLatin1String("--headless")) {
        QCoreApplication app(argc, argv);
        return downloadsRun(true);
    }
    if (args.size() >= 4 && args.at(1) == QLatin1String("--seed")) {
        QCoreApplication app(argc, argv);
        return seed(args.at(2).toInt(), args.at(3), args.value(4));
    }
    QApplication app(argc, argv);
    if (args.size() == 3 && args.at(1) == QLatin1String("--burst")) {
        QStandardPaths::setTestModeEnabled(true);
        return burst(args.at(2).toInt());
    }
    if (args.size() == 5 && args.at(1) == QLatin1String("--links"))
        return linksRun(args.at(2).toInt(), args.at(3), args.at(4));
    if (args.size() == 2 && args.at(1) == QLatin1String("--list"))
        return listRun();
    if (args.size() == 2 && args.at(1) == QLatin1String("--downloads"))
        return downloadsRun(false);
    if (args.size() == 3 && !args.at(1).startsWith(QLatin1String("--")))
        return singleDownload(app, args.at(1), args.at(2));
    QTextStream(stderr) << "usage: see the head of tools/torvane-cardbench.cpp\n";
    return 2;
}
