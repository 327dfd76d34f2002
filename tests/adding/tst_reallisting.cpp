// The add dialog's quality list from the real media tool, for an HLS master with 720p and 360p
// variants made with ffmpeg and served on loopback.
#include "adding/addurldialog.h"
#include "engine/media/mediatool.h"
#include "language/translation.h"
#include "testhttpserver.h"
#include "testmedia.h"

#include <QComboBox>
#include <QFileInfo>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

class TstRealListing : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    TestHttpServer server;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        g_lang = QStringLiteral("en");
        const QString toolDir = QStringLiteral(TORVANE_MEDIA_TOOL_DIR);
        if (!QFileInfo(toolDir + "/core_engine.bin").isExecutable()) {
            if (qEnvironmentVariableIsSet("CI"))
                QFAIL("core_engine.bin missing beside the build; run scripts/install-deps.sh");
            QSKIP("media tool not installed beside the build");
        }
        setMediaToolDirectory(toolDir);
        qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
        qputenv("XDG_CACHE_HOME", dir.filePath("cache").toUtf8());
        QVERIFY(makeSampleMedia(dir.filePath("media")));
        serveMediaFolder(server, dir.filePath("media/hls"), "/hls/");
        QVERIFY(server.start());
    }

    void heightsFromTheRealTool()
    {
        // A media host anywhere in the link's text makes the dialog list qualities.
        const QString link = server.url("/hls/master.m3u8?via=www.youtube.com").toString();
        AddUrlDialog dialog(link, QString(), 0, nullptr);
        auto *combo = dialog.findChild<QComboBox *>("qualityCombo");
        auto *start = dialog.findChild<QPushButton *>("btnStart");
        QVERIFY(combo && start);
        QCOMPARE(combo->itemText(0), T("Fetching..."));
        QVERIFY(!start->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(combo->isEnabled(), 60000);
        QStringList items;
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        QCOMPARE(items, (QStringList{"720p HD", "360p HD", "Audio Only"}));
        QCOMPARE(dialog.getQuality(), QString("720"));
        QVERIFY(start->isEnabled());
    }
};

QTEST_MAIN(TstRealListing)
#include "tst_reallisting.moc"
