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
    void roundTripKeepsSessionsPrivate();
    void unreadableListIsKeptAside();
    void hostileNumbersAreRefused();
    void portableFileKeepsTheListBesideTheProgram();
};

// Saved and read back: names JSON must escape, text beyond ASCII and sizes above 2^32, in the text
// Qt's own JSON writer makes (the store writes it by hand, for speed). Cookies never reach the
// list; they live in a file only the user can read, as long as a download that is not done needs
// them.
void TestTaskStore::roundTripKeepsSessionsPrivate()
{
    QTemporaryDir dir;
    const qint64 big = 5LL * 1024 * 1024 * 1024 + 7;
    QList<DownloadTask *> tasks;
    for (int status : {1, 0, 2, 3, 4}) {
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
        if (status == 1 || status == 2)
            tasks.last()->browserSession = {"http://example.org/page", "Browser/1",
                                            QStringLiteral("sid=secret%1").arg(status),
                                            "http://example.org/expired-link"};
    }
    TaskStore store(dir.filePath(QStringLiteral("not/yet/there")));
    const QString sessions = store.directory() + QStringLiteral("/sessions.json");
    const auto isPrivate = [&] { // there, and for the owner's eyes only
#ifdef Q_OS_WIN
        // The profile folder's ACL keeps it private; Qt shows no owner-only bits on Windows.
        return QFile::exists(sessions);
#endif
        const QFile::Permissions seen = QFile::ReadOwner | QFile::ReadGroup | QFile::WriteGroup |
                                        QFile::ReadOther | QFile::WriteOther;
        return (QFile::permissions(sessions) & seen) == QFile::ReadOwner;
    };
#ifdef Q_OS_UNIX
    ::umask(022); // what a file made plainly would get
#endif
    QVERIFY(store.save(tasks));

    // An entry of the list: six members, and two more for a verified done download.
    const auto entry = [](const QString &url, const QString &savePath, const QString &format,
                          qint64 status, qint64 total, qint64 downloaded, const QString &sha512) {
        QJsonObject e{{"url", url},       {"savePath", savePath}, {"format", format},
                      {"status", status}, {"totalSize", total},   {"downloadedSize", downloaded}};
        if (!sha512.isEmpty()) {
            e.insert("checksum", "SHA-512");
            e.insert("checksumSource", sha512);
        }
        return e;
    };
    QJsonArray expected, read;
    for (const DownloadTask *t : qAsConst(tasks)) // a running one written paused
        expected.append(entry(t->url().toString(), t->savePath(), t->m_format,
                              t->status == 1 ? 0 : t->status, t->totalSize, t->downloadedSize,
                              t->status == 2 ? t->checksum.expected.source : QString()));
    QCOMPARE(readFile(store.listPath()), QJsonDocument(expected).toJson());
    QVERIFY(isPrivate()); // from its first byte on
    const QByteArray kept = readFile(sessions);
    QVERIFY(kept.contains("sid=secret1") && !kept.contains("sid=secret2")); // a done task's goes

    const QList<SavedTask> loaded = TaskStore(store.directory()).load();
    for (const SavedTask &s : loaded) {
        const bool sha512 = s.checksum.state == ChecksumResult::Verified &&
                            s.checksum.expected.algorithm == QCryptographicHash::Sha512;
        read.append(entry(QUrl(s.url).toString(), s.savePath, s.format, s.status, s.totalSize,
                          s.downloadedSize, sha512 ? s.checksum.expected.source : QString()));
    }
    QCOMPARE(read, expected);
    QCOMPARE(loaded[0].session, tasks[0]->browserSession);
    QVERIFY(loaded[2].session.isEmpty());

    // The last download that needed its session is done: the file goes.
    tasks[0]->status = 2;
    QVERIFY(store.save(tasks));
    QVERIFY(!QFile::exists(sessions));

    // The secrets of the preferences share the file and outlive the sessions; no entry of theirs
    // reads as a session. Left readable by others by someone else, the file is tightened before
    // the next write.
    const Login alice{"alice", "s3cret"};
    store.secrets().setProxyPassword("pr0xy");
    store.secrets().setLogins({{"https://files.test:443", alice}});
    QVERIFY(store.save(tasks));
    QVERIFY(
        QFile::setPermissions(sessions, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
    TaskStore again(store.directory());
    QCOMPARE(again.secrets().proxyPassword(), QStringLiteral("pr0xy"));
    QVERIFY(again.secrets().logins().value("https://files.test:443") == alice);
    QVERIFY(again.load()[0].session.isEmpty());
    QVERIFY(again.save(tasks) && readFile(sessions).contains("pr0xy"));
    QVERIFY(isPrivate());

    // A download whose link has gone still waits for a new one after a restart; another failure
    // leaves nothing to keep.
    for (int status : {410, 500}) {
        DownloadTask failed(QUrl("http://example.org/gone.zip"), dir.filePath("gone.zip"), "");
        failed.status = 3;
        failed.failedHttpStatus = status;
        QVERIFY(store.save({&failed}));
        QCOMPARE(TaskStore(store.directory()).load().value(0).linkGone, status == 410 ? 410 : 0);
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
    QList<QList<qint64>> got;
    for (const SavedTask &t : TaskStore::parse(list, transfers))
        got.append({t.status, t.totalSize, t.downloadedSize, t.progress.isValid()});
    QCOMPARE(got, (QList<QList<qint64>>{
                      {0, 0, 0, 0}, {0, qint64(1e17), 0, 0}, {4, 100, 40, 1}, {0, 100, 40, 0}}));
}

// Only a plain file named "portable" beside the program moves the list there.
void TestTaskStore::portableFileKeepsTheListBesideTheProgram()
{
    QTemporaryDir program, profile;
    QVERIFY(QDir(program.path()).mkdir(QStringLiteral("portable")));
    QCOMPARE(TaskStore::defaultDirectory(program.path(), profile.path()),
             profile.path() + QStringLiteral("/Torvane"));
    QVERIFY(QDir(program.path()).rmdir(QStringLiteral("portable")));
    writeFile(program.path() + QStringLiteral("/portable"), QByteArray());
    QCOMPARE(TaskStore::defaultDirectory(program.path(), profile.path()), program.path());
}

QTEST_GUILESS_MAIN(TestTaskStore)
#include "tst_taskstore.moc"
