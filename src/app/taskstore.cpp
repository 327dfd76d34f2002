#include "app/taskstore.h"

#include "engine/bytecount.h"
#include "engine/downloadtask.h"
#include "engine/storage/atomicwrite.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QStandardPaths>

namespace {

QString progressKey(const QString &url, const QString &savePath)
{
    return url + QLatin1Char('\n') + savePath;
}

// A size as stored: a whole number from 0 to MaxByteCount, else 0 (unknown).
qint64 storedSize(const QJsonValue &value)
{
    return byteCountOrZero(value.toInteger(0));
}

// A status as stored: done, failed or canceled come back as they were; anything else, including
// a "running" that no save writes and that no task could leave again, comes back paused.
int storedStatus(const QJsonValue &value)
{
    const qint64 status = value.toInteger(0);
    return status >= 2 && status <= 4 ? int(status) : 0;
}

void appendJsonString(QByteArray &out, const QString &text)
{
    static const char hex[] = "0123456789abcdef";
    out += '"';
    const QByteArray utf8 = text.toUtf8();
    for (const char c : utf8) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (uchar(c) < 0x20) {
                out += "\\u00";
                out += hex[uchar(c) >> 4];
                out += hex[uchar(c) & 0xf];
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

// The list as QJsonDocument writes it in its indented form, members in its order, but written
// directly: for a list of thousands, building the document first costs several times more than
// the text, and the list is saved after every add, delete and finished download.
QByteArray listText(const QList<DownloadTask *> &tasks, const QList<DownloadTask *> &waiting)
{
    QHash<const DownloadTask *, int> places;
    for (int i = 0; i < waiting.size(); ++i)
        places.insert(waiting[i], i + 1);
    if (tasks.isEmpty())
        return QByteArrayLiteral("[\n]\n");
    QByteArray out;
    out.reserve(tasks.size() * 320);
    out += "[\n";
    for (int i = 0; i < tasks.size(); ++i) {
        const DownloadTask *task = tasks[i];
        out += "    {\n        ";
        // A done download keeps what its file was verified with, so that its card says so again
        // after a restart; the others carry nothing and read as before.
        if (task->status == 2 && task->checksum.state == ChecksumResult::Verified) {
            out += "\"checksum\": ";
            appendJsonString(out, checksumName(task->checksum.expected.algorithm));
            out += ",\n        \"checksumSource\": ";
            appendJsonString(out, task->checksum.expected.source);
            out += ",\n        ";
        }
        out += "\"downloadedSize\": ";
        out += QByteArray::number(task->downloadedSize);
        out += ",\n        \"format\": ";
        appendJsonString(out, task->m_format);
        // Only waiting tasks carry it, so a list that never used the queue reads as before.
        if (const int place = places.value(task)) {
            out += ",\n        \"queue\": ";
            out += QByteArray::number(place);
        }
        out += ",\n        \"savePath\": ";
        appendJsonString(out, task->savePath());
        // A running task comes back paused: nothing starts by itself after a restart.
        out += ",\n        \"status\": ";
        out += QByteArray::number(task->status == 1 ? 0 : task->status);
        out += ",\n        \"totalSize\": ";
        out += QByteArray::number(task->totalSize);
        out += ",\n        \"url\": ";
        appendJsonString(out, task->url().toString());
        out += i + 1 < tasks.size() ? "\n    },\n" : "\n    }\n";
    }
    out += "]\n";
    return out;
}

} // namespace

namespace {

QString storeDirectory(const QString &directory)
{
    if (!directory.isEmpty())
        return directory;
    return TaskStore::defaultDirectory(
        QCoreApplication::applicationDirPath(),
        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
}

} // namespace

QString TaskStore::defaultDirectory(const QString &programFolder, const QString &appDataFolder)
{
    if (!programFolder.isEmpty() && QFileInfo(programFolder + QStringLiteral("/portable")).isFile())
        return programFolder;
    return appDataFolder + QStringLiteral("/Torvane");
}

TaskStore::TaskStore(QString directory) : dir(storeDirectory(directory)), sessions(dir) {}

QString TaskStore::listPath() const
{
    return dir + QStringLiteral("/tasks.json");
}

QString TaskStore::progressPath() const
{
    return dir + QStringLiteral("/transfers.json");
}

QList<SavedTask> TaskStore::load()
{
    QFile file(listPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray data = file.readAll();
    file.close();
    QFile progressFile(progressPath());
    const QByteArray progress =
        progressFile.open(QIODevice::ReadOnly) ? progressFile.readAll() : QByteArray();

    bool unreadable = false;
    QList<SavedTask> result = parse(data, progress, &unreadable);
    const QHash<QString, TaskSession> saved = sessions.load();
    if (!saved.isEmpty()) {
        for (SavedTask &task : result) {
            const TaskSession kept = saved.value(SessionStore::taskKey(task.url, task.savePath));
            task.session = kept.browser;
            task.speedLimit = kept.speedLimit;
            task.linkGone = kept.linkGone;
        }
    }
    // An empty file holds nothing worth keeping; anything else may be a list that a person or
    // another version can still read, so the next save moves it aside first.
    listUnreadable = unreadable && !data.trimmed().isEmpty();
    return result;
}

QList<SavedTask> TaskStore::parse(const QByteArray &list, const QByteArray &transfers,
                                  bool *unreadable)
{
    QList<SavedTask> result;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(list, &error);
    if (unreadable)
        *unreadable = error.error != QJsonParseError::NoError || !doc.isArray();
    if (error.error != QJsonParseError::NoError || !doc.isArray())
        return result;

    QHash<QString, TransferProgress> progress;
    const QJsonArray entries = QJsonDocument::fromJson(transfers).array();
    for (const QJsonValue &value : entries) {
        const QJsonObject entry = value.toObject();
        progress.insert(
            progressKey(entry.value(QLatin1String("url")).toString(),
                        entry.value(QLatin1String("savePath")).toString()),
            TransferProgress::fromJson(entry.value(QLatin1String("progress")).toObject()));
    }

    const QJsonArray array = doc.array();
    result.reserve(array.size());
    for (const QJsonValue &value : array) {
        const QJsonObject object = value.toObject();
        SavedTask task;
        task.url = object.value(QLatin1String("url")).toString();
        task.savePath = object.value(QLatin1String("savePath")).toString();
        task.format = object.value(QLatin1String("format")).toString();
        task.status = storedStatus(object.value(QLatin1String("status")));
        task.totalSize = storedSize(object.value(QLatin1String("totalSize")));
        task.downloadedSize = storedSize(object.value(QLatin1String("downloadedSize")));
        const qint64 place = object.value(QLatin1String("queue")).toInteger(0);
        if (task.status == 0 && place > 0 && place <= array.size())
            task.queuePlace = int(place);
        const QString verified =
            task.status == 2 ? object.value(QLatin1String("checksum")).toString() : QString();
        for (const auto algorithm : {QCryptographicHash::Md5, QCryptographicHash::Sha1,
                                     QCryptographicHash::Sha256, QCryptographicHash::Sha512}) {
            if (verified == checksumName(algorithm)) {
                task.checksum.state = ChecksumResult::Verified;
                task.checksum.expected.valid = true;
                task.checksum.expected.algorithm = algorithm;
                task.checksum.expected.source =
                    object.value(QLatin1String("checksumSource")).toString();
            }
        }
        if (!progress.isEmpty())
            task.progress = progress.value(progressKey(task.url, task.savePath));
        result.append(std::move(task));
    }
    return result;
}

bool TaskStore::keepUnreadableListAside()
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = listPath() + QStringLiteral(".unreadable-") + stamp;
    for (int n = 2; QFile::exists(target); ++n)
        target = listPath() + QStringLiteral(".unreadable-") + stamp + QLatin1Char('-') +
                 QString::number(n);
    if (!QFile::rename(listPath(), target))
        return false;
    return true;
}

bool TaskStore::save(const QList<DownloadTask *> &tasks, const QList<DownloadTask *> &waiting)
{
    if (!QDir().mkpath(dir))
        return false;

    QJsonArray progress;
    for (const DownloadTask *task : tasks) {
        if (task->status == 2)
            continue;
        const TransferProgress parts = task->transferProgress();
        if (parts.isValid()) {
            QJsonObject entry;
            entry.insert(QLatin1String("url"), task->url().toString());
            entry.insert(QLatin1String("savePath"), task->savePath());
            entry.insert(QLatin1String("progress"), parts.toJson());
            progress.append(entry);
        }
    }

    // The part offsets and sessions go first: either without a list entry is ignored at load,
    // while a list entry without them is merely fetched again where it cannot be proven complete.
    writeFileAtomically(progressPath(), QJsonDocument(progress).toJson(QJsonDocument::Indented));
    sessions.save(tasks);

    if (listUnreadable && QFile::exists(listPath())) {
        if (!keepUnreadableListAside())
            return false;
    }
    listUnreadable = false;
    return writeFileAtomically(listPath(), listText(tasks, waiting));
}
