#include "app/taskstore.h"
#include "engine/downloadtask.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

class TestTaskStore : public QObject {
    Q_OBJECT

private slots:
    void roundTrip();
    void unreadableListIsKeptAside();
    void hostileNumbersAreRefused();
    void sessionsStayPrivate();
    void portableFileKeepsTheListBesideTheProgram();
};

void TestTaskStore::roundTrip()
{
    QTemporaryDir dir;
    const qint64 big = 5LL * 1024 * 1024 * 1024 + 7; // above 2^32
    QList<DownloadTask *> tasks;
    for (int status : {1, 0, 2, 3, 4}) {
        // Names that JSON must escape, and text beyond ASCII.
        const QString name = QStringLiteral("f%1 \"q\" \\ \t\x01 تقرير 🎬.iso").arg(status);
        tasks << new DownloadTask(QUrl("http://example.org/a b/" + name), dir.filePath(name),
                                  status == 1 ? "720" : "", this);
        tasks.last()->status = status;
        tasks.last()->totalSize = big + status;
        tasks.last()->downloadedSize = big - status;
        // Verified: kept for the done one only, which must say so again after a restart.
        tasks.last()->checksum.state = ChecksumResult::Verified;
        tasks.last()->checksum.expected.algorithm = QCryptographicHash::Sha512;
        tasks.last()->checksum.expected.source = name + ".sha512";
    }
    TaskStore store(dir.filePath(QStringLiteral("not/yet/there")));
    QVERIFY(store.save(tasks));

    // Six members per entry (eight for the verified done one), and a running task is written
    // paused; the text is the one Qt's own JSON writer makes.
    QJsonArray expected;
    for (const DownloadTask *t : qAsConst(tasks)) {
        QJsonObject entry{{"url", t->url().toString()}, {"savePath", t->savePath()},
                          {"format", t->m_format},      {"status", t->status == 1 ? 0 : t->status},
                          {"totalSize", t->totalSize},  {"downloadedSize", t->downloadedSize}};
        if (t->status == 2) {
            entry.insert("checksum", "SHA-512");
            entry.insert("checksumSource", t->checksum.expected.source);
        }
        expected.append(entry);
    }
    QCOMPARE(readFile(store.listPath()), QJsonDocument(expected).toJson());

    const QList<SavedTask> loaded = TaskStore(store.directory()).load();
    QCOMPARE(loaded.size(), 5);
    for (int i = 0; i < 5; ++i) {
        const DownloadTask *t = tasks[i];
        QCOMPARE(QList<qint64>({loaded[i].status, loaded[i].totalSize, loaded[i].downloadedSize}),
                 QList<qint64>({i ? t->status : 0, t->totalSize, t->downloadedSize}));
        QCOMPARE(
            QStringList({loaded[i].savePath, QUrl(loaded[i].url).toString(), loaded[i].format}),
            QStringList({t->savePath(), t->url().toString(), i ? "" : "720"}));
        const ChecksumResult &c = loaded[i].checksum;
        const bool kept = t->status == 2;
        QCOMPARE(c.state, kept ? ChecksumResult::Verified : ChecksumResult::None);
        QCOMPARE(c.expected.source, kept ? t->checksum.expected.source : QString());
        QCOMPARE(c.expected.algorithm,
                 kept ? QCryptographicHash::Sha512 : QCryptographicHash::Sha256);
    }
}

void TestTaskStore::unreadableListIsKeptAside()
{
    const QList<QPair<QByteArray, int>> cases = {{"[{\"url", 1}, {"{\"url\": 1}", 1}, {"", 0}};
    for (const auto &[content, keptAside] : cases) {
        QTemporaryDir dir;
        TaskStore store(dir.path());
        QVERIFY(writeFile(store.listPath(), content));
        // Nothing loads, and the next saves move the file aside whole, once.
        QVERIFY(store.load().isEmpty());
        QVERIFY(store.save({}) && store.save({}));
        QCOMPARE(readFile(store.listPath()), QJsonDocument(QJsonArray()).toJson());
        const QStringList aside = QDir(dir.path()).entryList({"tasks.json.unreadable-*"});
        QCOMPARE(aside.size(), keptAside);
        QCOMPARE(readFile(dir.filePath(aside.value(0))), content);
    }
}

// A damaged or hand-edited list: numbers no task can have come back as "unknown" or "paused", and
// part records that reach past their file are dropped (the transfer then starts afresh).
void TestTaskStore::hostileNumbersAreRefused()
{
    const QByteArray list = R"([
        {"url": "a", "savePath": "p", "status": 99, "totalSize": -5, "downloadedSize": 1e30},
        {"url": "b", "savePath": "p", "status": 1, "totalSize": 1e17, "downloadedSize": 2.5},
        {"url": "c", "savePath": "p", "status": 4, "totalSize": 100, "downloadedSize": 40},
        {"url": "d", "savePath": "p", "status": -1, "totalSize": 100, "downloadedSize": 40}])";
    const auto parts = [](const char *url, const char *ends) {
        return QByteArray(R"({"url": ")") + url +
               R"(", "savePath": "p", "progress": {"totalSize": 100, "numParts": 2,
               "partOffsets": [0, 50], "partStarts": [0, 50], "partEnds": )" +
               ends + "}}";
    };
    const QByteArray transfers =
        "[" + parts("c", "[49, 99]") + "," + parts("d", "[49, 9223372036854775807]") + "]";
    const QList<SavedTask> tasks = TaskStore::parse(list, transfers);
    QCOMPARE(tasks.size(), 4);
    QList<QList<qint64>> got;
    for (const SavedTask &t : tasks)
        got.append({t.status, t.totalSize, t.downloadedSize, t.progress.isValid()});
    QCOMPARE(got, (QList<QList<qint64>>{
                      {0, 0, 0, 0}, {0, qint64(1e17), 0, 0}, {4, 100, 40, 1}, {0, 100, 40, 0}}));
}

// Cookies never reach the task list; they live in a file only the user can read, as long as a
// download that is not done needs them.
void TestTaskStore::sessionsStayPrivate()
{
    QTemporaryDir dir;
    TaskStore store(dir.path());
    const QString sessions = dir.filePath(QStringLiteral("sessions.json"));
    const auto isPrivate = [&] { // there, and for the owner's eyes only
#ifdef Q_OS_WIN
        // The profile folder's ACL keeps it private; Qt shows no owner-only bits on Windows.
        return QFile::exists(sessions);
#endif
        const QFile::Permissions seen = QFile::ReadOwner | QFile::ReadGroup | QFile::WriteGroup |
                                        QFile::ReadOther | QFile::WriteOther;
        return (QFile::permissions(sessions) & seen) == QFile::ReadOwner;
    };
    QList<DownloadTask *> tasks;
    for (int status : {1, 2, 0}) {
        const QString name = QStringLiteral("f%1.zip").arg(status);
        tasks << new DownloadTask(QUrl("http://example.org/" + name), dir.filePath(name), "", this);
        tasks.last()->status = status;
        if (status != 0)
            tasks.last()->browserSession = {"http://example.org/page", "Browser/1",
                                            QStringLiteral("sid=secret%1").arg(status),
                                            "http://example.org/expired-link"};
    }
#ifdef Q_OS_UNIX
    ::umask(022); // what a file made plainly would get
#endif
    // Left readable by others by someone else: tightened before any write.
    QVERIFY(
        writeFile(sessions, {}) &&
        QFile::setPermissions(sessions, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
    QVERIFY(store.save(tasks));
    QVERIFY(!readFile(store.listPath()).contains("secret"));
    QVERIFY(!readFile(store.listPath()).contains("expired-link"));
    QVERIFY(isPrivate());
    const QByteArray kept = readFile(sessions);
    QVERIFY(kept.contains("sid=secret1") && !kept.contains("sid=secret2")); // a done task's goes

    const QList<SavedTask> loaded = TaskStore(dir.path()).load();
    QCOMPARE(loaded.size(), 3);
    QCOMPARE(loaded[0].session, tasks[0]->browserSession);
    QVERIFY(loaded[1].session.isEmpty() && loaded[2].session.isEmpty());

    // The last download that needed its session is done: the file goes.
    tasks[0]->status = 2;
    QVERIFY(store.save(tasks));
    QVERIFY(!QFile::exists(sessions));
    // Made anew, it is private from its first byte on.
    tasks[0]->status = 0;
    QVERIFY(store.save(tasks));
    QVERIFY(isPrivate());

    // The secrets of the preferences share the file and outlive the sessions; no entry of theirs
    // reads as a session.
    const Login alice{"alice", "s3cret"};
    store.secrets().setProxyPassword("pr0xy");
    store.secrets().setLogins({{"https://files.test:443", alice}});
    tasks[0]->status = 2;
    QVERIFY(store.save(tasks));
    QVERIFY(isPrivate());
    TaskStore again(dir.path());
    QCOMPARE(again.secrets().proxyPassword(), QStringLiteral("pr0xy"));
    QVERIFY(again.secrets().logins().value("https://files.test:443") == alice);
    QVERIFY(again.load()[0].session.isEmpty());
    QVERIFY(again.save(tasks) && readFile(sessions).contains("pr0xy"));

    // A download whose link has gone still waits for a new one after a restart; another failure
    // leaves nothing to keep.
    for (int status : {410, 500}) {
        DownloadTask failed(QUrl("http://example.org/gone.zip"), dir.filePath("gone.zip"), "");
        failed.status = 3;
        failed.failedHttpStatus = status;
        QVERIFY(store.save({&failed}));
        QCOMPARE(TaskStore(dir.path()).load().value(0).linkGone, status == 410 ? 410 : 0);
    }
}

// Only a plain file named "portable" beside the program moves the list there.
void TestTaskStore::portableFileKeepsTheListBesideTheProgram()
{
    QTemporaryDir program, profile;
    const QString appData = profile.path() + QStringLiteral("/Torvane");
    QCOMPARE(TaskStore::defaultDirectory(program.path(), profile.path()), appData);
    QVERIFY(QDir(program.path()).mkdir(QStringLiteral("portable")));
    QCOMPARE(TaskStore::defaultDirectory(program.path(), profile.path()), appData);
    QVERIFY(QDir(program.path()).rmdir(QStringLiteral("portable")));
    writeFile(program.path() + QStringLiteral("/portable"), QByteArray());
    QCOMPARE(TaskStore::defaultDirectory(program.path(), profile.path()), program.path());
}

QTEST_GUILESS_MAIN(TestTaskStore)
#include "tst_taskstore.moc"
