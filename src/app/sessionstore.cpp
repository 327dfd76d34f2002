#include "app/sessionstore.h"

#include "engine/downloadtask.h"
#include "engine/storage/atomicwrite.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// An atomic write (QSaveFile) opens its new file for the owner alone when the target exists, and
// then gives it the target's permissions; so the target is made private first, while empty.
bool writePrivately(const QString &path, const QByteArray &data)
{
    QFile target(path);
    if (!target.exists()) {
        if (!target.open(QIODevice::WriteOnly | QIODevice::NewOnly, kOwnerOnly))
            return false;
        target.close();
    } else if (!target.setPermissions(kOwnerOnly)) {
        return false;
    }
    return writeFileAtomically(path, data);
}

// `status` when it says that a link has gone, else 0.
int linkGone(int status)
{
    return status == 403 || status == 404 || status == 410 ? status : 0;
}

} // namespace

SessionStore::SessionStore(QString directory) : dir(std::move(directory)) {}

QString SessionStore::path() const
{
    return dir + QStringLiteral("/sessions.json");
}

QString SessionStore::taskKey(const QString &url, const QString &savePath)
{
    return url + QLatin1Char('\n') + savePath;
}

QHash<QString, TaskSession> SessionStore::load()
{
    return read();
}

QHash<QString, TaskSession> SessionStore::read()
{
    QHash<QString, TaskSession> sessions;
    secretsRead = true;
    proxySecret.clear();
    hostLogins.clear();
    QFile file(path());
    if (!file.open(QIODevice::ReadOnly))
        return sessions;
    const QJsonArray entries = QJsonDocument::fromJson(file.readAll()).array();
    for (const QJsonValue &value : entries) {
        const QJsonObject entry = value.toObject();
        if (entry.contains(QLatin1String("proxyPassword"))) {
            proxySecret = entry.value(QLatin1String("proxyPassword")).toString();
            continue;
        }
        if (entry.contains(QLatin1String("login"))) {
            const Login login{entry.value(QLatin1String("user")).toString(),
                              entry.value(QLatin1String("password")).toString()};
            const QString origin = entry.value(QLatin1String("login")).toString();
            if (!origin.isEmpty() && !login.isNull())
                hostLogins.insert(origin, login);
            continue;
        }
        TaskSession session;
        session.browser.referrer = entry.value(QLatin1String("referrer")).toString();
        session.browser.userAgent = entry.value(QLatin1String("userAgent")).toString();
        session.browser.cookie = entry.value(QLatin1String("cookie")).toString();
        session.browser.page = entry.value(QLatin1String("page")).toString();
        session.speedLimit = qMax<qint64>(0, entry.value(QLatin1String("speedLimit")).toInteger());
        session.linkGone = linkGone(entry.value(QLatin1String("linkGone")).toInt());
        if (!session.browser.isEmpty() || session.speedLimit > 0 || session.linkGone)
            sessions.insert(taskKey(entry.value(QLatin1String("url")).toString(),
                                    entry.value(QLatin1String("savePath")).toString()),
                            session);
    }
    return sessions;
}

QString SessionStore::proxyPassword()
{
    if (!secretsRead)
        read();
    return proxySecret;
}

void SessionStore::setProxyPassword(const QString &password)
{
    if (!secretsRead)
        read();
    proxySecret = password;
}

QMap<QString, Login> SessionStore::logins()
{
    if (!secretsRead)
        read();
    return hostLogins;
}

void SessionStore::setLogins(const QMap<QString, Login> &logins)
{
    if (!secretsRead)
        read();
    hostLogins = logins;
}

bool SessionStore::save(const QList<DownloadTask *> &tasks)
{
    QJsonArray entries;
    for (const DownloadTask *task : tasks) {
        const int gone = task->status == 3 ? linkGone(task->failedHttpStatus) : 0;
        if ((task->browserSession.isEmpty() && task->speedLimit() <= 0 && !gone) ||
            task->status == 2)
            continue;
        QJsonObject entry;
        entry.insert(QLatin1String("url"), task->url().toString());
        entry.insert(QLatin1String("savePath"), task->savePath());
        entry.insert(QLatin1String("referrer"), task->browserSession.referrer);
        entry.insert(QLatin1String("userAgent"), task->browserSession.userAgent);
        entry.insert(QLatin1String("cookie"), task->browserSession.cookie);
        if (task->speedLimit() > 0)
            entry.insert(QLatin1String("speedLimit"), task->speedLimit());
        if (!task->browserSession.page.isEmpty())
            entry.insert(QLatin1String("page"), task->browserSession.page);
        if (gone)
            entry.insert(QLatin1String("linkGone"), gone);
        entries.append(entry);
    }
    if (!secretsRead)
        read(); // the secrets of the file are kept, not dropped by a save of the sessions
    if (!proxySecret.isEmpty())
        entries.append(QJsonObject{{QLatin1String("proxyPassword"), proxySecret}});
    for (auto it = hostLogins.cbegin(); it != hostLogins.cend(); ++it)
        entries.append(QJsonObject{{QLatin1String("login"), it.key()},
                                   {QLatin1String("user"), it->user},
                                   {QLatin1String("password"), it->password}});
    if (entries.isEmpty()) {
        written.clear();
        return !QFile::exists(path()) || QFile::remove(path());
    }
    const QByteArray data = QJsonDocument(entries).toJson(QJsonDocument::Compact);
    if (data == written && QFile::exists(path()))
        return true;
    if (!QDir().mkpath(dir) || !writePrivately(path(), data))
        return false;
    written = data;
    return true;
}
