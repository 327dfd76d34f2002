// The preferences file: what is set comes back after a restart, and every value that reads as bad
// falls back to its own default without touching the others.
#include "app/preferences.h"
#include "testfiles.h"

#include <QTemporaryDir>
#include <QTest>

class TestPreferences : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    int files = 0;

private slots:
    void readsAndKeepsChoices_data()
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
    // Whatever the file held, the choices made now come back in the next run.
    void readsAndKeepsChoices()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, summary);
        const QString path = dir.filePath(QStringLiteral("p%1.ini").arg(++files));
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
    void scheduleMoments()
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
            {"missed overnight", nineToFive, at(0, 18), at(1, 10), ScheduleEvent::Start, at(1, 17)},
            {"missed, then stopped", nineToFive, at(0, 18), at(1, 18), ScheduleEvent::Stop,
             at(2, 9)},
            {"closed a week: the last stop wins", nineToFive, at(-6, 10), at(1, 8, 59),
             ScheduleEvent::Stop, at(1, 9)},
            {"other day", tuesdayStart, at(1, 8), at(1, 10), ScheduleEvent::None, at(2, 9)},
            {"tuesday reached", tuesdayStart, at(1, 8), at(2, 9, 1), ScheduleEvent::Start,
             at(9, 9)},
            {"never looked at", nineToFive, QDateTime(), at(1, 10), ScheduleEvent::None, at(1, 17)},
            {"no day chosen", noDay, at(1, 8), at(1, 10), ScheduleEvent::None, QDateTime()},
            {"stop only", stopOnly, at(1, 1), at(1, 2), ScheduleEvent::Stop, at(2, 1, 30)},
        };
        for (const auto &row : rows) {
            QCOMPARE(int(dueScheduleEvent(row.schedule, row.since, row.now)), int(row.due));
            QCOMPARE(nextScheduleMoment(row.schedule, row.now), row.next);
        }
    }
};

QTEST_GUILESS_MAIN(TestPreferences)
#include "tst_preferences.moc"
