#include "adding/addurldialog.h"
#include "adding/categoryfolder.h"
#include "engine/mediatool.h"
#include "language/translation.h"
#include "testhttpserver.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

struct Fields {
    explicit Fields(AddUrlDialog *d)
        : url(d->findChild<QLineEdit *>(QStringLiteral("urlInput"))),
          path(d->findChild<QLineEdit *>(QStringLiteral("pathInput"))),
          quality(d->findChild<QComboBox *>(QStringLiteral("qualityCombo"))),
          info(d->findChild<QLabel *>(QStringLiteral("lblFileInfo"))),
          start(d->findChild<QPushButton *>(QStringLiteral("btnStart")))
    {
    }
    QLineEdit *url;
    QLineEdit *path;
    QComboBox *quality;
    QLabel *info;
    QPushButton *start;

    QStringList entries() const
    {
        QStringList out;
        for (int i = 0; i < quality->count(); ++i)
            out << quality->itemText(i);
        return out;
    }
};

using Headers = QList<QPair<QByteArray, QByteArray>>;

} // namespace

// The dialog driven offscreen against the in-process server and a fake media tool.
class TestAddUrlDialog : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        g_lang = QStringLiteral("en");
        QVERIFY(server.start());
        QVERIFY(noTool.isValid());
        setMediaToolDirectory(noTool.path()); // no media tool unless a test writes one
    }

    void init() { setMediaToolDirectory(noTool.path()); }

    void names_data()
    {
        QTest::addColumn<QByteArray>("path"); // requested path (with query)
        QTest::addColumn<Headers>("headers"); // extra headers of the answer
        QTest::addColumn<QString>("defaultName");
        QTest::addColumn<QString>("expected"); // a regular expression for the file name

        const QByteArray cd = "Content-Disposition";
        QTest::newRow("disposition quoted with space")
            << QByteArray("/n1") << Headers{{cd, "attachment; filename=\"my report.pdf\""}}
            << QString() << "my report\\.pdf";
        QTest::newRow("disposition percent-encoded")
            << QByteArray("/n3") << Headers{{cd, "attachment; filename=\"r%C3%A9sum%C3%A9.pdf\""}}
            << QString() << QStringLiteral("résumé\\.pdf");
        QTest::newRow("disposition filename* arabic")
            << QByteArray("/n4")
            << Headers{{cd, "attachment; filename=\"fallback.pdf\"; "
                            "filename*=UTF-8''%D8%AA%D9%82%D8%B1%D9%8A%D8%B1%20%D9%A1.pdf"}}
            << QString() << QStringLiteral("تقرير ١\\.pdf");
        QTest::newRow("redirect") << QByteArray("/go") << Headers{} << QString()
                                  << "real name\\.mp3";
        QTest::newRow("query filename")
            << QByteArray("/get?filename=song.flac") << Headers{} << QString() << "song\\.flac";
        QTest::newRow("query response-content-disposition")
            << QByteArray("/get?response-content-disposition=attachment%3B%20filename%3D%22doc."
                          "docx%22")
            << Headers{} << QString() << "doc\\.docx";
        QTest::newRow("mime type")
            << QByteArray("/n5") << Headers{{"Content-Type", "text/html; charset=utf-8"}}
            << QString() << "download_\\d+\\.html";
        QTest::newRow("fallback") << QByteArray("/n6") << Headers{{"Content-Type", ""}} << QString()
                                  << "download_\\d+\\.bin";
        QTest::newRow("suggested name wins")
            << QByteArray("/n7") << Headers{{cd, "attachment; filename=\"x.zip\""}} << "report.pdf"
            << "report\\.pdf";
        QTest::newRow("hostile suggested") << QByteArray("/n9") << Headers{} << "../../x.exe"
                                           << "x\\.exe";
        QTest::newRow("hostile disposition separators")
            << QByteArray("/n10") << Headers{{cd, "attachment; filename=\"a/b\\\\c.pdf\""}}
            << QString() << "c\\.pdf";
        QTest::newRow("hostile filename* climbing")
            << QByteArray("/n12") << Headers{{cd, "attachment; filename*=UTF-8''..%2F..%2Fx.exe"}}
            << QString() << "x\\.exe";
        QTest::newRow("hostile query") << QByteArray("/get?filename=..%5C..%5Cboot.ini")
                                       << Headers{} << QString() << "boot\\.ini";
        QTest::newRow("trailing dot and space falls through")
            << QByteArray("/file.txt") << Headers{{cd, "attachment; filename=\"name. \""}}
            << "name. "
            << "file\\.txt";
    }

    void names()
    {
        QFETCH(QByteArray, path);
        QFETCH(Headers, headers);
        QFETCH(QString, defaultName);
        QFETCH(QString, expected);

        const QByteArray routePath = path.split('?').value(0);
        TestHttpServer::Route r;
        r.body = "0123456789";
        r.headers = headers;
        server.setRoute(routePath, r);
        TestHttpServer::Route redirect;
        redirect.redirectTo = "/files/real%20name.mp3";
        server.setRoute("/go", redirect);
        server.setRoute("/files/real%20name.mp3", r);

        AddUrlDialog d(server.url(path).toString(), defaultName, 0, nullptr);
        Fields f(&d);
        QTRY_VERIFY(!f.path->text().isEmpty());
        const QString name = QFileInfo(f.path->text()).fileName();
        QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(expected))
                     .match(name)
                     .hasMatch(),
                 qPrintable(name));
        // Directly inside the category folder of the name, whatever the source offered.
        QCOMPARE(d.getSavePath(), categoryFolder(name) + QLatin1Char('/') + name);

        // The probe asks for one byte, with the fixed agent.
        const auto sent = server.requestsFor(routePath);
        QVERIFY(!sent.isEmpty());
        QCOMPARE(sent.last().headers.value("range"), QByteArray("bytes=0-0"));
        QVERIFY(sent.last().headers.value("user-agent").startsWith("Mozilla/5.0"));
    }

    void sizes_data()
    {
        QTest::addColumn<bool>("honourRange");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("info");
        QTest::newRow("content-range") << true << 200 << "Size: 5.00 MB  |  \u2705 Safe file type.";
        QTest::newRow("content-length")
            << false << 200 << "Size: 5.00 MB  |  \u2705 Safe file type.";
        QTest::newRow("error page length is no size")
            << true << 404 << "Size: Unknown  |  \u2705 Safe file type.";
    }

    void sizes()
    {
        QFETCH(bool, honourRange);
        QFETCH(int, status);
        QFETCH(QString, info);
        TestHttpServer::Route r;
        r.body = TestHttpServer::randomBody(5 * 1048576);
        r.honourRange = honourRange;
        r.status = status;
        server.setRoute("/big.iso", r);
        AddUrlDialog d(server.url("/big.iso").toString(), QString(), 0, nullptr);
        Fields f(&d);
        QTRY_COMPARE(f.info->text(), info);
        QVERIFY(f.path->text().endsWith(QLatin1String("/Compressed/big.iso")));
    }

    void executableWarning()
    {
        TestHttpServer::Route r;
        r.body = "MZ";
        server.setRoute("/setup.EXE", r);
        AddUrlDialog d(server.url("/setup.EXE").toString(), QString(), 0, nullptr);
        Fields f(&d);
        QTRY_VERIFY(!f.path->text().isEmpty());
        QCOMPARE(f.info->text(), QStringLiteral("Size: 0.00 MB  |  \u26A0\uFE0F Warning: "
                                                "Executable file. Might be unsafe."));
        QVERIFY(f.info->styleSheet().contains(QLatin1String("#ef4444")));
        QVERIFY(f.path->text().endsWith(QLatin1String("/Programs/setup.EXE")));
    }

    void blobRefused()
    {
        AddUrlDialog d(QString(), QString(), 0, nullptr);
        Fields f(&d);
        const int before = server.requests.size();
        f.url->setText(QStringLiteral("BLOB:https://example.org/1234"));
        QVERIFY(!f.start->isEnabled());
        QVERIFY(f.info->text().startsWith(QLatin1String("Error: 'blob:' links")));
        QVERIFY(f.info->styleSheet().contains(QLatin1String("#ef4444")));
        QTest::qWait(50);
        QCOMPARE(server.requests.size(), before);

        TestHttpServer::Route r;
        r.body = "x";
        server.setRoute("/after-blob.pdf", r);
        f.url->setText(server.url("/after-blob.pdf").toString());
        QVERIFY(f.start->isEnabled());
        QTRY_VERIFY(f.path->text().endsWith(QLatin1String("/Documents/after-blob.pdf")));
    }

    void formatChange()
    {
        AddUrlDialog d(QString(), QString(), 0, nullptr);
        Fields f(&d);
        f.path->setText(QStringLiteral("/dl/Torvane/Videos/clip.mp4"));
        f.quality->setCurrentIndex(f.quality->findData(QStringLiteral("audio")));
        QCOMPARE(f.path->text(), QStringLiteral("/dl/Torvane/Videos/clip.mp3"));
        f.quality->setCurrentIndex(f.quality->findData(QStringLiteral("720")));
        QCOMPARE(f.path->text(), QStringLiteral("/dl/Torvane/Videos/clip.mp4"));
        QCOMPARE(d.getQuality(), QStringLiteral("720"));
        f.path->setText(QStringLiteral("/home/a.b/Other/README"));
        f.quality->setCurrentIndex(f.quality->findData(QStringLiteral("best")));
        QCOMPARE(f.path->text(), QStringLiteral("/home/a.b/Other/README.mp4"));
        f.path->clear();
        f.quality->setCurrentIndex(f.quality->findData(QStringLiteral("audio")));
        QVERIFY(f.path->text().isEmpty());
    }

    // An early probe for a half-typed link that answers last must not overwrite the fields of
    // the current link, and it is cut off rather than left running.
    void staleProbeLoses()
    {
        TestHttpServer::Route slow;
        slow.body = "slow";
        slow.trickleBytes = 3;
        slow.trickleIntervalMs = 20; // about a second until the headers are through
        slow.headers = {{"Content-Disposition", "attachment; filename=\"stale.zip\""}};
        server.setRoute("/slow", slow);
        TestHttpServer::Route fast;
        fast.body = "fast";
        server.setRoute("/current.pdf", fast);

        AddUrlDialog d(QString(), QString(), 0, nullptr);
        Fields f(&d);
        f.url->setText(server.url("/slow").toString());
        QTRY_COMPARE(server.requestsFor("/slow").size(), 1);
        f.url->setText(server.url("/current.pdf").toString());
        QTRY_VERIFY(f.path->text().endsWith(QLatin1String("/current.pdf")));
        QTest::qWait(1800);
        QVERIFY2(f.path->text().endsWith(QLatin1String("/Documents/current.pdf")),
                 qPrintable(f.path->text()));
    }

    // The probe takes the headers and leaves: a server that ignores the range and trickles a
    // large body does not keep it waiting for the body.
    void probeStopsAtHeaders()
    {
        TestHttpServer::Route r;
        r.body = QByteArray(200000, 'x');
        r.honourRange = false;
        r.trickleBytes = 2000;
        r.trickleIntervalMs = 20; // two seconds for the whole body
        server.setRoute("/whole.dat", r);
        AddUrlDialog d(server.url("/whole.dat").toString(), QString(), 0, nullptr);
        Fields f(&d);
        QTRY_VERIFY_WITH_TIMEOUT(f.info->text().startsWith(QLatin1String("Size: 0.19 MB")), 1000);
        QTRY_COMPARE_WITH_TIMEOUT(server.openConnections, 0, 1000);
    }

    void listing_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("quality");
        QTest::newRow("heights sorted, unique")
            << QByteArray(R"({"formats":[{"vcodec":"avc1","height":720},
                 {"vcodec":"avc1","height":1080},{"vcodec":"avc1","height":720},
                 {"vcodec":"avc1","height":0},{"vcodec":"vp9","height":360},
                 {"vcodec":"none","height":2160}]})")
            << 0 << QStringList{"1080p HD", "720p HD", "360p HD", "Audio Only"} << "1080";
        QTest::newRow("audio formats only")
            << QByteArray(R"({"formats":[{"vcodec":"none","acodec":"opus"}]})") << 0
            << QStringList{"Best Available", "Audio Only"} << "best";
        QTest::newRow("non-zero exit")
            << QByteArray(R"({"formats":[{"vcodec":"avc1","height":720}]})") << 1
            << QStringList{"Best Available", "Audio Only"} << "best";
        QTest::newRow("not json") << QByteArray("ERROR: Unsupported URL") << 0
                                  << QStringList{"Best Available", "Audio Only"} << "best";
        // A tool that cannot be started must not leave the list at "Fetching..." for good.
        QTest::newRow("no tool") << QByteArray() << -1
                                 << QStringList{"Best Available", "Audio Only"} << "best";
    }

    void listing()
    {
        QFETCH(QByteArray, json);
        QFETCH(int, exitCode);
        QFETCH(QStringList, entries);
        QFETCH(QString, quality);
        QTemporaryDir tool;
        if (exitCode >= 0) {
            writeFakeTool(tool.path(), json, exitCode);
            setMediaToolDirectory(tool.path());
        }
        TestHttpServer::Route page;
        page.body = "<html></html>";
        page.headers = {{"Content-Type", "text/html"}};
        server.setRoute("/watch", page);

        const QString link = server.url("/watch?v=abc&from=youtube.com").toString();
        AddUrlDialog d(link, QString(), 0, nullptr);
        Fields f(&d);
        QVERIFY(!f.quality->isHidden());
        QTRY_COMPARE(f.entries(), entries);
        QVERIFY(f.quality->isEnabled());
        QVERIFY(f.start->isEnabled());
        QCOMPARE(d.getQuality(), quality);

        // The tool ran in its own folder with the listing arguments.
        if (exitCode >= 0)
            QCOMPARE(readFile(tool.path() + "/args.txt"),
                     QStringList({"-J", "--no-playlist", link}));
        if (exitCode >= 0)
            QCOMPARE(readFile(tool.path() + "/cwd.txt").value(0),
                     QDir(tool.path()).canonicalPath());

        // Whichever of probe and listing answers first, the page name ends as a video in the
        // folder of its probed type.
        QTRY_VERIFY(f.path->text().endsWith(QLatin1String(".mp4")));
        QVERIFY(f.path->text().contains(QLatin1String("/Torvane/Other/download_")));
        f.quality->setCurrentIndex(f.quality->findData(QStringLiteral("audio")));
        QVERIFY(f.path->text().endsWith(QLatin1String(".mp3")));
    }

    // A listing killed because the link changed must not write its late answer over the
    // current one; a listing still running when the dialog goes ends with it.
    void supersededAndOrphanedListings()
    {
        QTemporaryDir tool;
        // The slow listing answers through a child of its own, which must end with the tool.
        writeFakeTool(tool.path(), R"({"formats":[{"vcodec":"avc1","height":720}]})", 0,
                      R"(case "$3" in *slow*) (sleep 1.5; touch "$d/late-answer") & wait;
                 echo '{"formats":[{"vcodec":"avc1","height":240}]}'; exit 0;; esac)");
        setMediaToolDirectory(tool.path());
        TestHttpServer::Route page;
        page.body = "x";
        server.setRoute("/watch", page);

        {
            AddUrlDialog d(server.url("/watch?slow=1&h=tiktok.com").toString(), QString(), 0,
                           nullptr);
            Fields f(&d);
            QTest::qWait(200);
            f.url->setText(server.url("/watch?fast=1&h=tiktok.com").toString());
            QTRY_COMPARE(f.entries(), (QStringList{"720p HD", "Audio Only"}));
            QTest::qWait(2000);
            QCOMPARE(f.entries(), (QStringList{"720p HD", "Audio Only"}));
            QVERIFY(!QFile::exists(tool.path() + "/late-answer"));
        }

        QPointer<AddUrlDialog> d = new AddUrlDialog(
            server.url("/watch?slow=2&h=tiktok.com").toString(), QString(), 0, nullptr);
        QTest::qWait(200);
        delete d;
        QTest::qWait(2000);
        QVERIFY(!QFile::exists(tool.path() + "/late-answer"));
    }

    // A link that stops being a media link drops its listing, so the list cannot later rewrite
    // the new link's path to a video extension.
    void listingDroppedForPlainLink()
    {
        QTemporaryDir tool;
        writeFakeTool(tool.path(), "{}", 0,
                      R"(sleep 1; echo '{"formats":[{"vcodec":"avc1","height":480}]}'; exit 0)");
        setMediaToolDirectory(tool.path());
        TestHttpServer::Route r;
        r.body = "pdf";
        server.setRoute("/watch", r);
        server.setRoute("/paper.pdf", r);
        AddUrlDialog d(server.url("/watch?h=instagram.com").toString(), QString(), 0, nullptr);
        Fields f(&d);
        QVERIFY(!f.start->isEnabled());
        f.url->setText(server.url("/paper.pdf").toString());
        QVERIFY(f.start->isEnabled());
        QVERIFY(f.quality->isHidden());
        QTRY_VERIFY(f.path->text().endsWith(QLatin1String("/Documents/paper.pdf")));
        QTest::qWait(1500);
        QVERIFY(f.path->text().endsWith(QLatin1String("/Documents/paper.pdf")));
    }

private:
    static QStringList readFile(const QString &path)
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    // A stand-in for the media tool: records its arguments and folder, optionally runs a snippet,
    // then prints the given answer and exits with the given code.
    static void writeFakeTool(const QString &dir, const QByteArray &json, int exitCode,
                              const QByteArray &snippet = QByteArray())
    {
        QFile answer(dir + "/answer.json");
        QVERIFY(answer.open(QIODevice::WriteOnly));
        answer.write(json);
        answer.close();
        QFile script(dir + "/core_engine.bin");
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nd=\"$(dirname \"$0\")\"\nprintf '%s\\n' \"$@\" > \"$d/args.txt\"\n"
                     "pwd -P > \"$d/cwd.txt\"\n" +
                     snippet + "\ncat \"$d/answer.json\"\nexit " + QByteArray::number(exitCode) +
                     "\n");
        script.close();
        QVERIFY(script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                      QFileDevice::ExeOwner));
    }

    TestHttpServer server;
    QTemporaryDir noTool;
};

QTEST_MAIN(TestAddUrlDialog)
#include "tst_addurldialog.moc"
