// Test-only driver: starts the main window on a seeded task list (every state, a media task with a
// long tool message, a download waiting for its server, sizes above 4 GiB) and saves PNG pictures
// of it in both languages and both themes, with the Preferences dialog (its proxy block, its
// Schedule page, and its check and combo boxes in both states), the add-download dialog with one
// link and with several, a paused download's details and the login question beside each.
// scripts/screenshots.sh runs it under Xvfb with a throw-away home folder.
#include "adding/addurldialog.h"
#include "app/mainwindow.h"
#include "app/preferencesdialog.h"
#include "engine/downloadtask.h"
#include "language/translation.h"
#include "views/downloaddetailsdialog.h"
#include "views/logindialog.h"
#include "views/tasklist.h"
#include "views/updatelinkdialog.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTableView>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextStream>
#include <QTimer>

namespace {

constexpr qint64 MiB = 1024 * 1024;
constexpr qint64 GiB = 1024 * MiB;

struct Seed {
    const char *url;
    QString name;
    int status;
    qint64 total;
    qint64 done;
    bool fileKept = true; // a completed download whose file the user has moved shows as missing
};

void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

QPushButton *buttonStartingWith(QWidget *window, const QString &prefix)
{
    const auto buttons = window->findChildren<QPushButton *>();
    for (QPushButton *b : buttons)
        if (b->text().startsWith(prefix))
            return b;
    return nullptr;
}

// Answers every probe of the many-links picture with a size: the link's "size" query item.
class SizeServer : public QTcpServer {
public:
    SizeServer() { listen(QHostAddress::LocalHost); }

protected:
    void incomingConnection(qintptr handle) override
    {
        auto *socket = new QTcpSocket(this);
        socket->setSocketDescriptor(handle);
        connect(socket, &QTcpSocket::readyRead, socket, [socket] {
            const QByteArray head = socket->readAll();
            const int at = head.indexOf("size=");
            const QByteArray size = at < 0 ? "1" : head.mid(at + 5, head.indexOf(' ', at) - at - 5);
            socket->write("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-0/" + size +
                          "\r\nContent-Length: 1\r\nConnection: close\r\n\r\nx");
            socket->disconnectFromHost();
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
};

// The add dialog with a list of links, probed by the local server.
QStringList sampleLinks(const SizeServer &server)
{
    const QString base = QStringLiteral("http://127.0.0.1:%1/").arg(server.serverPort());
    const char *const files[] = {"lecture-01-introduction.mp4?size=734003200",
                                 "lecture-02-foundations.mp4?size=912261120",
                                 "slides-week1.pdf?size=4404019",
                                 "exercises-week1.zip?size=15938355",
                                 "field-recording.flac?size=48234496",
                                 "installer-x64.msi?size=99614720",
                                 "reading-list.docx?size=184320"};
    QStringList links;
    for (const char *file : files)
        links << base + QLatin1String(file);
    return links;
}

// The dialogs of a proxy, of a server's login and of a fresh link for a failed download, the
// Schedule page and the add dialog with several links, as a user meets them, saved as
// "<name>-<lang>-<theme>.png".
bool grabDialogs(QWidget *window, DownloadTask *failed, const QString &outDir,
                 const QString &suffix)
{
    DownloadPreferences prefs;
    prefs.proxy.mode = ProxySettings::Mode::Manual;
    prefs.proxy.kind = ProxySettings::Kind::Socks5;
    prefs.proxy.host = QStringLiteral("proxy.example.org");
    prefs.proxy.port = 1080;
    prefs.proxy.user = QStringLiteral("alice");
    prefs.proxy.password = QStringLiteral("secret");
    PreferencesDialog preferences(prefs, window);
    preferences.findChild<QTabWidget *>(QStringLiteral("prefsTabs"))->setCurrentIndex(1);
    // Check boxes and combo boxes in both states: a limit on, notices off.
    DownloadPreferences general;
    general.maxRunning = 3;
    general.speedLimit = 2 * 1024 * 1024;
    general.notices = false;
    PreferencesDialog generalPreferences(general, window);
    // A video handed over by the browser: its quality combo box beside the name and size.
    AddUrlDialog add(QStringLiteral("https://www.youtube.com/watch?v=dQw4w9WgXcQ"),
                     QStringLiteral("Conference keynote 2026.mp4"), 734003200, window);
    LoginRequest request;
    request.url = QUrl(QStringLiteral("https://files.example.org/reports/annual.zip"));
    request.realm = QStringLiteral("Members area");
    request.refused = true;
    HostLogins::shared().set(request.url, Login{QStringLiteral("alice"), QString()}, true);
    LoginDialog login(request, window);
    prefs.schedule = {true, QTime(1, 30), true, QTime(7, 0), 0x1f};
    prefs.afterQueue = AfterQueue::Command;
    prefs.afterCommand = QStringLiteral("shutdown /s /t 60");
    PreferencesDialog schedule(prefs, window);
    schedule.findChild<QTabWidget *>(QStringLiteral("prefsTabs"))->setCurrentIndex(2);
    static SizeServer server;
    AddUrlDialog links(sampleLinks(server).join(QLatin1Char('\n')), QString(), 0, window);
    // One row left out, so that both states of the rows' check boxes show.
    QAbstractItemModel *rows = links.findChild<QTableView *>(QStringLiteral("batchView"))->model();
    rows->setData(rows->index(4, 0), Qt::Unchecked, Qt::CheckStateRole);
    UpdateLinkDialog update(failed, window);
    update.findChild<QLineEdit *>(QStringLiteral("newLink"))
        ->setText(QStringLiteral(
            "https://files.example.org/project-report-final.pdf?expires=1796000000&token=9f2c41"));
    const std::pair<QDialog *, QString> dialogs[] = {
        {&preferences, QStringLiteral("proxy")},
        {&login, QStringLiteral("login")},
        {&generalPreferences, QStringLiteral("preferences")},
        {&add, QStringLiteral("add")},
        {&schedule, QStringLiteral("schedule")},
        {&links, QStringLiteral("links")},
        {&update, QStringLiteral("updatelink")}};
    for (const auto &[dialog, name] : dialogs) {
        dialog->show();
        wait(300);
        const QString path = outDir + QLatin1Char('/') + name + suffix;
        if (!dialog->grab().save(path))
            return false;
        QTextStream(stdout) << path << "\n";
        dialog->hide();
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    const QString outDir = app.arguments().value(1, QStringLiteral("docs"));
    QDir().mkpath(outDir);

    const QString dataDir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
                            QStringLiteral("/Torvane");
    const QString downloads = QDir::tempPath() + QStringLiteral("/torvane-screens/Downloads");
    QDir(dataDir).removeRecursively();
    QDir().mkpath(dataDir);
    QDir().mkpath(downloads);

    const QList<Seed> seeds = {
        {"https://releases.example.org/ubuntu-24.04-desktop-amd64.iso",
         QStringLiteral("ubuntu-24.04-desktop-amd64.iso"), 2, qint64(5.8 * GiB), qint64(5.8 * GiB)},
        {"https://files.example.org/project-report-final.pdf",
         QStringLiteral("project-report-final.pdf"), 3, 10 * MiB, qint64(2.4 * MiB)},
        {"https://files.example.org/setup_tool_v2.exe", QStringLiteral("setup_tool_v2.exe"), 4,
         96 * MiB, 12 * MiB},
        {"https://files.example.org/%D8%AA%D9%82%D8%B1%D9%8A%D8%B1.docx",
         QStringLiteral("تقرير المشروع السنوي.docx"), 2, 3 * MiB, 3 * MiB, false},
        {"https://files.example.org/holiday-photos-archive.zip",
         QStringLiteral("holiday-photos-archive.zip"), 0, qint64(4.7 * GiB), qint64(1.9 * GiB)},
        {"https://files.example.org/podcast-episode-112.mp3",
         QStringLiteral("podcast-episode-112.mp3"), 0, 0, 0},
        {"https://www.youtube.com/watch?v=dQw4w9WgXcQ",
         QStringLiteral("Conference keynote 2026 - full session.mp4"), 1, 0, 0},
        {"https://mirror.example.org/datasets/imagery-large-sample.tar.gz",
         QStringLiteral("imagery-large-sample.tar.gz"), 1, qint64(8.2 * GiB), qint64(3.1 * GiB)},
    };
    QJsonArray list;
    for (const Seed &s : seeds) {
        QJsonObject o;
        o.insert(QStringLiteral("url"), QString::fromLatin1(s.url));
        o.insert(QStringLiteral("savePath"), downloads + QLatin1Char('/') + s.name);
        o.insert(QStringLiteral("format"), QString());
        o.insert(QStringLiteral("status"), s.status == 1 ? 0 : s.status);
        o.insert(QStringLiteral("totalSize"), s.total);
        o.insert(QStringLiteral("downloadedSize"), s.done);
        list.append(o);
        // A completed download shows as done only while its file is there; sparse, it costs
        // nothing.
        QFile done(downloads + QLatin1Char('/') + s.name);
        if (s.status == 2 && s.fileKept &&
            (!done.open(QIODevice::WriteOnly) || !done.resize(s.total)))
            return 1;
    }
    QFile file(dataDir + QStringLiteral("/tasks.json"));
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    file.write(QJsonDocument(list).toJson());
    file.close();

    MainWindow window;
    const QList<DownloadTask *> tasks = window.taskList()->tasks();
    if (tasks.size() != seeds.size())
        return 1;
    // Running downloads cannot be saved as running; give them the live figures here.
    DownloadTask *media = tasks[6];
    media->status = 1;
    media->currentSpeed = 3.4 * MiB;
    media->lastDlpMessage = QStringLiteral(
        "[youtube] dQw4w9WgXcQ: Downloading webpage and extracting the player configuration");
    // Its server is away for now: the card counts down to the next try and says why.
    DownloadTask *archive = tasks[7];
    archive->status = 1;
    archive->retryInSeconds = 8;
    window.taskList()->setSelected(tasks[4], true);
    tasks[4]->setSpeedLimit(500 * 1024);
    // The failed one came from a page, where a fresh link is found.
    tasks[1]->browserSession.referrer = QStringLiteral("https://files.example.org/reports/");

    window.show();
    // Keep the pointer off the cards so that no hover frame shows.
    QCursor::setPos(window.mapToGlobal(QPoint(5, window.height() - 5)));
    const struct {
        const char *lang;
        bool dark;
    } shots[] = {{"ar", false}, {"ar", true}, {"en", true}, {"en", false}};
    for (const auto &shot : shots) {
        if (g_lang != QLatin1String(shot.lang))
            buttonStartingWith(&window, QStringLiteral("🌐"))->click();
        const bool dark = buttonStartingWith(&window, QStringLiteral("☀️")) != nullptr;
        if (dark != shot.dark)
            buttonStartingWith(&window, dark ? QStringLiteral("☀️") : QStringLiteral("🌙"))
                ->click();
        archive->lastDlpMessage =
            T(QStringLiteral("Connection failed: %1")).arg(QStringLiteral("Connection refused"));
        for (DownloadTask *task : tasks)
            emit task->progressUpdated();
        wait(400);
        const QString path =
            outDir + QStringLiteral("/torvane-%1-%2.png")
                         .arg(QLatin1String(shot.lang),
                              shot.dark ? QStringLiteral("dark") : QStringLiteral("light"));
        if (!window.grab().save(path))
            return 1;
        QTextStream(stdout) << path << "\n";
        const QString suffix =
            QStringLiteral("-%1-%2.png")
                .arg(QLatin1String(shot.lang),
                     shot.dark ? QStringLiteral("dark") : QStringLiteral("light"));
        if (!grabDialogs(&window, tasks[1], outDir, suffix))
            return 1;
        // A paused download in detail, with a speed limit of its own.
        window.taskList()->showDetails(tasks[4]);
        auto *details = window.findChild<DownloadDetailsDialog *>();
        wait(300);
        if (!details->grab().save(outDir + QStringLiteral("/details") + suffix))
            return 1;
        QTextStream(stdout) << outDir << "/details" << suffix << "\n";
        details->hide();
    }
    // Nothing is running for real; leave without saving over the seeded list's tests.
    QDir(QDir::tempPath() + QStringLiteral("/torvane-screens")).removeRecursively();
    QDir(dataDir).removeRecursively();
    return 0;
}
