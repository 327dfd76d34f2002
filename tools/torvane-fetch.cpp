// torvane-fetch URL OUTPUT_PATH
//
// Downloads one link with one DownloadTask, prints progress to stderr at most twice a second and
// one summary line on stdout: "bytes=N seconds=S mib_per_s=R status=K". Exit code 0 when the
// task ended done (status 2), 1 otherwise.
#include "engine/downloadtask.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTextStream>
#include <QUrl>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: torvane-fetch URL OUTPUT_PATH\n");
        return 1;
    }

    DownloadTask task(QUrl(args.at(1)), QFileInfo(args.at(2)).absoluteFilePath(),
                      QStringLiteral("best"));
    QElapsedTimer clock;
    QElapsedTimer lastReport;
    bool reported = false;

    QObject::connect(&task, &DownloadTask::progressUpdated, &app, [&] {
        if (task.status >= 2) {
            QCoreApplication::quit();
            return;
        }
        if (reported && lastReport.elapsed() < 500)
            return;
        reported = true;
        lastReport.start();
        std::fprintf(stderr, "%lld / %lld bytes  %.2f MiB/s%s%s\n",
                     static_cast<long long>(task.downloadedSize),
                     static_cast<long long>(task.totalSize), task.currentSpeed / 1048576.0,
                     task.lastDlpMessage.isEmpty() ? "" : "  ",
                     task.lastDlpMessage.toLocal8Bit().constData());
    });

    clock.start();
    task.start();
    if (task.status == 1)
        app.exec();

    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    const qint64 bytes = task.downloadedSize;
    const double rate = seconds > 0 ? double(bytes) / 1048576.0 / seconds : 0.0;
    QTextStream(stdout) << "bytes=" << bytes << " seconds=" << QString::number(seconds, 'f', 3)
                        << " mib_per_s=" << QString::number(rate, 'f', 2)
                        << " status=" << task.status << Qt::endl;
    return task.status == 2 ? 0 : 1;
}
