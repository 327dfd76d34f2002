// What the program keeps on disk: the task list with its private sessions file, and the
// preferences.
#include "app/preferences.h"
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
    void damagedListIsKeptAsideOrRefused();
    void portableFileKeepsTheListBesideTheProgram();
    void preferencesReadAndKept_data();
    void preferencesReadAndKept();
    void scheduleMoments();
};

// Saved and read back: names JSON must escape, text beyond ASCII and sizes above 2^32, in the text
// Qt's own JSON writer makes (the store writes it by hand, for speed). Cookies never reach the
// list; they live in a file only the user can read while an unfinished download needs them, as
// does the gone link a failed download waits to have replaced after a restart.
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
    tasks[3]->failedHttpStatus = 410;
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
    QCOMPARE(loaded[3].linkGone, 410);

    // The last download that needed its session is done, and the failed one failed for a reason
    // another try may mend (a server error): the file goes.
    tasks[0]->status = 2;
    tasks[3]->failedHttpStatus = 500;
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
}

// A list that does not parse loads nothing, and the next saves move it aside whole, once (an empty
// one holds nothing to keep). In a damaged or hand-edited list that does parse, numbers no task can
// have come back as "unknown" or "paused", and part records that reach past their file are dropped
// (the transfer then starts afresh).
void TestTaskStore::damagedListIsKeptAsideOrRefused()
{
    const QList<QPair<QByteArray, int>> cases = {{"[{\"url", 1}, {"{\"url\": 1}", 1}, {"", 0}};
    for (const auto &[content, keptAside] : cases) {
        QTemporaryDir dir;
        TaskStore store(dir.path());
        QVERIFY(writeFile(store.listPath(), content));
        QVERIFY(store.load().isEmpty());
        QVERIFY(store.save({}) && store.save({}));
        QCOMPARE(readFile(store.listPath()), QJsonDocument(QJsonArray()).toJson());
        const QStringList aside = QDir(dir.path()).entryList({"tasks.json.unreadable-*"});
        QCOMPARE(aside.size(), keptAside);
        QCOMPARE(readFile(dir.filePath(aside.value(0))), content);
    }

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

void TestTaskStore::preferencesReadAndKept_data()
{
    QTest::addColumn<QByteArray>("ini");
    // language|theme|folder ("+": the one chosen)|at once|limit|notices|proxy|give-up minutes
    QTest::addColumn<QString>("summary");
    QTest::newRow("no file") << QByteArray() << "|light||0|0|1|system|10";
    QTest::newRow("binary garbage")
        << QByteArray("\x00\xff\x13[[[=\n\x7f=\x01\n", 12) << "|light||0|0|1|system|10";
    QTest::newRow("each value bad, theme good")
        << QByteArray("language=fr\ntheme=dark\n[window]\ngeometry=not bytes\n[downloads]\n"
                      "folder=/no/such/folder\natOnce=-3\nspeedLimit=fast\nnotices=maybe\n"
                      "giveUpAfterMinutes=soon\n"
                      "[proxy]\nmode=manual\ntype=socks4\nhost=proxy.test\nport=1080\n")
        << "|dark||0|0|1|system|10";
    QTest::newRow("out of range")
        << QByteArray("language=AR\n[downloads]\nfolder=relative/path\natOnce=11\n"
                      "speedLimit=-5M\ngiveUpAfterMinutes=1441\n[proxy]\nmode=manual\n"
                      "type=http\nhost=proxy.test\nport=65536\n")
        << "|light||0|0|1|system|10";
    QTest::newRow("all good") << QByteArray("language=ar\ntheme=light\n[downloads]\n"
                                            "folder=@DIR@\natOnce=10\nspeedLimit=2M\n"
                                            "notices=false\ngiveUpAfterMinutes=0\n"
                                            "[proxy]\nmode=manual\n"
                                            "type=socks5\nhost=proxy.test\nport=1080\n"
                                            "user=alice\n")
                              << "ar|light|+|10|2097152|0|socks5h://alice@proxy.test:1080|0";
}

// Whatever the preferences file held (every value that reads as bad falls back to its own default
// without touching the others), the choices made now come back in the next run.
void TestTaskStore::preferencesReadAndKept()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, summary);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("settings.ini"));
    QVERIFY(ini.isEmpty() || writeFile(path, ini.replace("@DIR@", dir.path().toUtf8())));
    const QByteArray geometry("\x01\xd9\xd0\xcb\x00\x03", 6);
    ProxySettings proxy;
    proxy.mode = ProxySettings::Mode::None;
    proxy.host = QStringLiteral("kept.test"); // for a later manual choice
    proxy.port = 3128;
    DownloadPreferences chosen{dir.path(),
                               3,
                               512 * 1024,
                               false,
                               proxy,
                               true,
                               {false, QTime(23, 30), true, QTime(7, 5), 0x15},
                               AfterQueue::Command,
                               QStringLiteral("shutdown /s"),
                               30};
    {
        Preferences prefs(path);
        const DownloadPreferences d = prefs.downloads();
        const bool systemProxy = d.proxy.mode == ProxySettings::Mode::System;
        const QString got =
            QStringLiteral("%1|%2|%3|%4|%5|%6|%7|%8")
                .arg(prefs.language(), prefs.darkTheme() ? "dark" : "light",
                     d.folder == dir.path() ? QStringLiteral("+") : d.folder,
                     QString::number(d.maxRunning), QString::number(d.speedLimit),
                     QString::number(d.notices), systemProxy ? "system" : d.proxy.toUrl(),
                     QString::number(d.giveUpMinutes));
        QCOMPARE(got, summary);
        QVERIFY(prefs.windowGeometry().isEmpty());
        prefs.setLanguage(QStringLiteral("en"));
        prefs.setDarkTheme(!prefs.darkTheme());
        prefs.setWindowGeometry(geometry);
        chosen.proxy.password = QStringLiteral("s3cret");
        prefs.setDownloads(chosen);
        chosen.proxy.password.clear(); // the private sessions file keeps it, not this one
    }
    const Preferences again(path);
    QCOMPARE(again.language(), QStringLiteral("en"));
    QCOMPARE(again.darkTheme(), !summary.contains(QLatin1String("dark")));
    QCOMPARE(again.windowGeometry(), geometry);
    QVERIFY(again.downloads() == chosen);
    // Written in the spelling of the rate option, which a person can read and edit.
    QVERIFY(readFile(path).contains("speedLimit=512K"));
    QVERIFY(!readFile(path).contains("s3cret"));
}

// What the schedule asks for at launch or at a tick: the latest start or stop since it was
// last looked at, and when to look next. 2026-12-07 is a Monday.
void TestTaskStore::scheduleMoments()
{
    const auto at = [](int day, int hour, int minute = 0) {
        return QDateTime(QDate(2026, 12, 6).addDays(day), QTime(hour, minute));
    };
    const Schedule nineToFive{true, QTime(9, 0), true, QTime(17, 0), Schedule::kEveryDay};
    const Schedule tuesdayStart{true, QTime(9, 0), false, QTime(), 1 << 1};
    const Schedule noDay{true, QTime(9, 0), false, QTime(), 0};
    const Schedule stopOnly{false, QTime(), true, QTime(1, 30), Schedule::kEveryDay};
    const struct {
        const char *name;
        Schedule schedule;
        QDateTime since, now;
        ScheduleEvent due;
        QDateTime next;
    } rows[] = {
        {"start reached", nineToFive, at(1, 8), at(1, 9), ScheduleEvent::Start, at(1, 17)},
        {"start dealt with", nineToFive, at(1, 9), at(1, 10), ScheduleEvent::None, at(1, 17)},
        {"missed, then stopped", nineToFive, at(0, 18), at(1, 18), ScheduleEvent::Stop, at(2, 9)},
        {"closed a week: the last stop wins", nineToFive, at(-6, 10), at(1, 8, 59),
         ScheduleEvent::Stop, at(1, 9)},
        {"other day", tuesdayStart, at(1, 8), at(1, 10), ScheduleEvent::None, at(2, 9)},
        {"tuesday reached", tuesdayStart, at(1, 8), at(2, 9, 1), ScheduleEvent::Start, at(9, 9)},
        {"never looked at", nineToFive, QDateTime(), at(1, 10), ScheduleEvent::None, at(1, 17)},
        {"no day chosen", noDay, at(1, 8), at(1, 10), ScheduleEvent::None, QDateTime()},
        {"stop only", stopOnly, at(1, 1), at(1, 2), ScheduleEvent::Stop, at(2, 1, 30)},
    };
    for (const auto &row : rows) {
        QCOMPARE(int(dueScheduleEvent(row.schedule, row.since, row.now)), int(row.due));
        QCOMPARE(nextScheduleMoment(row.schedule, row.now), row.next);
    }
}

QTEST_GUILESS_MAIN(TestTaskStore)
#include "tst_taskstore.moc"
