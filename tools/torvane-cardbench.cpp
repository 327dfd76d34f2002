// Test-only driver for the view-cost benchmark: downloads one link through the main window, with
// its card on screen, and exits when the download ends. bench/cardbench.sh compares its CPU time
// with build/torvane-fetch on the same file.
//
// Usage: torvane-cardbench URL OUTPUT_PATH
//        torvane-cardbench --burst CARDS    (refresh cost per progress signal with CARDS cards)
#include "app/mainwindow.h"
#include "engine/downloadtask.h"
#include "views/downloadcard.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTextStream>
#include <QTimer>

namespace {

// Progress signals as fast as an engine could send them, one event-loop pass per 64 signals, on
// one selected running card among `count`; prints the cost per signal.
int burst(int count)
{
    const QString dataDir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
                            QStringLiteral("/Torvane");
    const QString downloads = QDir::tempPath() + QStringLiteral("/torvane-burst");
    QDir(dataDir).removeRecursively();
    QDir().mkpath(dataDir);
    QJsonArray array;
    for (int i = 0; i < count; ++i) {
        QJsonObject entry;
        entry.insert(QStringLiteral("url"), QStringLiteral("http://127.0.0.1:9/f%1.bin").arg(i));
        entry.insert(QStringLiteral("savePath"), downloads + QStringLiteral("/f%1.bin").arg(i));
        entry.insert(QStringLiteral("status"), 0);
        entry.insert(QStringLiteral("totalSize"), 1LL << 32);
        entry.insert(QStringLiteral("downloadedSize"), 0);
        array.append(entry);
    }
    QFile list(dataDir + QStringLiteral("/tasks.json"));
    if (!list.open(QIODevice::WriteOnly))
        return 1;
    list.write(QJsonDocument(array).toJson());
    list.close();
    {
        MainWindow window;
        window.show();
        QCoreApplication::processEvents();
        DownloadCard *card = window.taskCards().constLast();
        DownloadTask *task = card->getTask();
        card->setSelected(true);
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
    QDir(dataDir).removeRecursively();
    QDir(downloads).removeRecursively();
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args.at(1) == QLatin1String("--burst"))
        return burst(args.at(2).toInt());
    if (args.size() != 3) {
        QTextStream(stderr) << "usage: torvane-cardbench URL OUTPUT_PATH\n";
        return 2;
    }
    const QString dataDir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
                            QStringLiteral("/Torvane");
    QDir(dataDir).removeRecursively();
    QDir().mkpath(dataDir);
    QFile::remove(args.at(2));

    // The task comes in through the saved list, as a queued download would after a restart.
    QJsonObject entry;
    entry.insert(QStringLiteral("url"), args.at(1));
    entry.insert(QStringLiteral("savePath"), args.at(2));
    entry.insert(QStringLiteral("format"), QString());
    entry.insert(QStringLiteral("status"), 0);
    entry.insert(QStringLiteral("totalSize"), 0);
    entry.insert(QStringLiteral("downloadedSize"), 0);
    QFile list(dataDir + QStringLiteral("/tasks.json"));
    if (!list.open(QIODevice::WriteOnly))
        return 1;
    list.write(QJsonDocument(QJsonArray{entry}).toJson());
    list.close();

    int result = 1;
    QElapsedTimer clock;
    {
        MainWindow window;
        window.show();
        DownloadTask *task = window.taskCards().value(0)->getTask();
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
    QDir(dataDir).removeRecursively();
    return result;
}
