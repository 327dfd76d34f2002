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
        QTest::addColumn<QString>("summary"); // language|theme|folder?|at once|limit|notices
        QTest::newRow("no file") << QByteArray() << "|light|-|0|0|1";
        QTest::newRow("binary garbage")
            << QByteArray("\x00\xff\x13[[[=\n\x7f=\x01\n", 12) << "|light|-|0|0|1";
        QTest::newRow("each value bad, theme good")
            << QByteArray("language=fr\ntheme=dark\n[window]\ngeometry=not bytes\n[downloads]\n"
                          "folder=/no/such/folder\natOnce=-3\nspeedLimit=fast\nnotices=maybe\n")
            << "|dark|-|0|0|1";
        QTest::newRow("out of range")
            << QByteArray("language=AR\n[downloads]\nfolder=relative/path\natOnce=11\n"
                          "speedLimit=-5M\n")
            << "|light|-|0|0|1";
        QTest::newRow("all good") << QByteArray("language=ar\ntheme=light\n[downloads]\n"
                                                "folder=@DIR@\natOnce=10\nspeedLimit=2M\n"
                                                "notices=false\n")
                                  << "ar|light|+|10|2097152|0";
    }
    // Whatever the file held, the choices made now come back in the next run.
    void readsAndKeepsChoices()
    {
        QFETCH(QByteArray, ini);
        QFETCH(QString, summary);
        const QString path = dir.filePath(QStringLiteral("p%1.ini").arg(++files));
        QVERIFY(ini.isEmpty() || writeFile(path, ini.replace("@DIR@", dir.path().toUtf8())));
        const QByteArray geometry("\x01\xd9\xd0\xcb\x00\x03", 6);
        DownloadPreferences chosen{dir.path(), 3, 512 * 1024, false};
        {
            Preferences prefs(path);
            const DownloadPreferences d = prefs.downloads();
            const QStringList got = {prefs.language(),
                                     prefs.darkTheme() ? "dark" : "light",
                                     d.folder.isEmpty()       ? "-"
                                     : d.folder == dir.path() ? "+"
                                                              : d.folder,
                                     QString::number(d.maxRunning),
                                     QString::number(d.speedLimit),
                                     QString::number(d.notices)};
            QCOMPARE(got.join(QLatin1Char('|')), summary);
            QVERIFY(prefs.windowGeometry().isEmpty());
            prefs.setLanguage(QStringLiteral("en"));
            prefs.setDarkTheme(!prefs.darkTheme());
            prefs.setWindowGeometry(geometry);
            prefs.setDownloads(chosen);
        }
        const Preferences again(path);
        QCOMPARE(again.language(), QStringLiteral("en"));
        QCOMPARE(again.darkTheme(), !summary.contains(QLatin1String("dark")));
        QCOMPARE(again.windowGeometry(), geometry);
        QVERIFY(again.downloads() == chosen);
        // Written in the spelling of the rate option, which a person can read and edit.
        QVERIFY(readFile(path).contains("speedLimit=512K"));
    }
};

QTEST_GUILESS_MAIN(TestPreferences)
#include "tst_preferences.moc"
