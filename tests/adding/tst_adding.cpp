#include "adding/addurldialog.h"
#include "adding/categoryfolder.h"
#include "adding/filenames.h"
#include "engine/http/trustedcertificates.h"
#include "engine/media/mediatool.h"
#include "language/translation.h"
#include "logindriver.h"
#include "processlist.h"
#include "testcertificates.h"
#include "testfiles.h"
#include "testhttpserver.h"
#include "testmedia.h"
#include "wine.h"

#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

namespace {

// The real dialog with a handle on the fields the tests read and type into.
struct Dialog : AddUrlDialog {
    using AddUrlDialog::AddUrlDialog;
    QLineEdit *url = findChild<QLineEdit *>("urlInput");
    QLineEdit *path = findChild<QLineEdit *>("pathInput");
    QComboBox *quality = findChild<QComboBox *>("qualityCombo");
    QLabel *info = findChild<QLabel *>("lblFileInfo");
    QPushButton *start = findChild<QPushButton *>("btnStart");

    QStringList qualities() const
    {
        QStringList items;
        for (int i = 0; i < quality->count(); ++i)
            items << quality->itemText(i);
        return items;
    }
};

// A stand-in for the media tool (faketool.cpp): takes its steps, then prints the answer and exits
// with the code.
void writeFakeTool(const QString &dir, const QByteArray &answer, int exitCode,
                   const QByteArray &steps = QByteArray())
{
    setMediaToolDirectory(dir);
    const QString fake = QStandardPaths::findExecutable(QStringLiteral("torvane-faketool"),
                                                        {QCoreApplication::applicationDirPath()});
    QVERIFY(QFile::copy(fake, mediaToolPath()));
    QVERIFY(writeFile(dir + "/script", steps + "print " + QByteArray(answer).replace('\n', "\\n") +
                                           "\\n\nexit " + QByteArray::number(exitCode) + '\n'));
}

} // namespace

// The name rules on their own, then the dialog driven offscreen against the in-process server and
// a fake media tool (last, the real one).
class TestAdding : public QObject {
    Q_OBJECT

    TestHttpServer server;

    // Answers the path with the body and, if given, one header line ("Name: value").
    void serve(const QByteArray &path, const QByteArray &body, const QByteArray &header = {})
    {
        TestHttpServer::Route r;
        r.body = body;
        if (!header.isEmpty())
            r.headers = {{header.left(header.indexOf(':')), header.mid(header.indexOf(':') + 2)}};
        server.setRoute(path, r);
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        g_lang = QStringLiteral("en");
        QVERIFY(server.start());
        setMediaToolDirectory("/nonexistent"); // the first listing finds no tool
        server.route("/go").redirectTo = "/files/real%20name.mp3";
        serve("/files/real%20name.mp3", "x");
    }

    // The name rules alone: what a hostile or unusual name becomes, and which source wins.
    void safeNames()
    {
        const QPair<QString, QString> rows[] = {
            {"../../x.exe", "x.exe"},
            {"a/b\\c.pdf", "c.pdf"},
            {"..", ""},
            {"CON.txt", "CON_.txt"},
            {"com1.tar.gz", "com1_.tar.gz"},
            {"CONTRACT.pdf", "CONTRACT.pdf"},
            {"name. ", "name"},
            {"a<b>c:d\"e|f*g.txt", "a_b_c_d_e_f_g.txt"},
            {"a\tb\nc\x01.txt", "a_b_c_.txt"},
            {"invoice\u202Efdp.exe", "invoicefdp.exe"}, // a disguised extension
            {"a\u200Fb\u061Cc\u200E.txt", "abc.txt"},
            {"lpt0", "lpt0_"},
            {"تقرير سنوي.pdf", "تقرير سنوي.pdf"},
            // Shortening must not bare a device name or leave a trailing dot behind.
            {"CON" + QString(300, ' ') + ".txt", "CON_.txt"},
            {QString(400, 'a') + ".pdf", QString(251, 'a') + ".pdf"},
            {QString(250, 'a') + ". . ." + QString(40, 'b'), QString(250, 'a')},
            {QString(254, 'a') + QChar(0xD83D) + QChar(0xDE00) + "x", QString(254, 'a')},
            {QString("a") + QChar(0xDE00) + QChar(0xD83D) + ".txt", "a__.txt"}, // lone surrogates
            {QString("..\\..\\evil") + QChar(0xD800) + ".exe", "evil_.exe"},
        };
        for (const auto &[name, safe] : rows)
            QCOMPARE(safeFileName(name), safe);
        QCOMPARE(withFormatExtension("/a.b/clip.mp4", "audio"), QStringLiteral("/a.b/clip.mp3"));
        QCOMPARE(withFormatExtension("/a.b/README", "720"), QStringLiteral("/a.b/README.mp4"));
    }

    void sourcesInOrder()
    {
        ProbeNameInput in;
        in.linkName = QStringLiteral("from-link.zip");
        in.redirectName = QStringLiteral("from-redirect.mp3");
        QCOMPARE(probeFileName(in), QStringLiteral("from-redirect.mp3"));
        in.hasContentDisposition = true;
        in.contentDisposition = QStringLiteral("attachment; filename=\"from%20header.pdf\"");
        QCOMPARE(probeFileName(in), QStringLiteral("from header.pdf"));
        in.defaultName = QStringLiteral("suggested.docx");
        QCOMPARE(probeFileName(in), QStringLiteral("suggested.docx"));
        for (const char *ignored : {"download", "Video.mp4", "noextension", "../.."}) {
            in.defaultName = QString::fromLatin1(ignored);
            QCOMPARE(probeFileName(in), QStringLiteral("from header.pdf"));
        }
        // A header name without an extension gives way to the link's own name.
        in.contentDisposition = QStringLiteral("attachment; filename=README");
        QCOMPARE(probeFileName(in), QStringLiteral("from-link.zip"));
        // Header names are parsed as browsers read them, and percent-decoded exactly once.
        const char *const headers[][2] = {
            {"attachment; filename=data.zip; size=3", "data.zip"},
            {"inline; filename*=ISO-8859-1''%80.txt", "€.txt"}, // read as windows-1252
            {"inline; FILENAME*=UTF-8''%D9%85%D9%84%D9%81.pdf", "ملف.pdf"},
            {"Attachment; FileName=\"Report Q1.xlsx\"", "Report Q1.xlsx"},
            {"attachment; filename=\"\\\"quoting\\\" tested.html\"", "_quoting_ tested.html"},
            {"attachment; filename*=UTF-8''100%2525.txt; filename=a.txt", "100%25.txt"},
            {"attachment; filename*=UTF-8''..%2F..%2Fx.exe", "x.exe"}, // decoded, then made safe
            {"attachment; filename*=x; filename=\"plain.doc\"", "plain.doc"},
            {"attachment; filename*=x-unknown''a.txt; filename=b.txt", "b.txt"},
            {"attachment; filename*=UTF-8''caf%E9.txt; filename=utf8.txt", "utf8.txt"},
            {"attachment; filename=\"=?UTF-8?B?2YXZhNmBLnBkZg==?=\"", "ملف.pdf"},
            {"attachment; filename==?ISO-8859-1?Q?caf=E9_1.txt?=", "café 1.txt"},
            {"attachment; xfilename=x.pdf; filename=y.pdf", "y.pdf"}, // whole names only
            {"attachment; note=\"a\\\"; filename=evil.exe\"; filename=ok.pdf", "ok.pdf"},
        };
        for (const auto &row : headers) {
            in.contentDisposition = QString::fromUtf8(row[0]);
            QCOMPARE(probeFileName(in), QString::fromUtf8(row[1]));
        }

        ProbeNameInput bare;
        bare.nowMs = 99;
        QCOMPARE(probeFileName(bare), QStringLiteral("download_99.bin"));
        bare.isVid = true;
        QCOMPARE(probeFileName(bare), QStringLiteral("download_99.mp4"));
    }

    // Each source of a name through the probe's answer; hostile ones end as plain names inside the
    // category folder. Sizes come from the headers alone: a trickled body, even a whole one, does
    // not keep the probe.
    void namesAndSizes()
    {
        const struct {
            QByteArray path, header; // requested path with query; one extra header of the answer
            QString suggested, expected; // as the browser hands it in; "#" for a time stamp
        } rows[] = {
            {"/go", "", "", "real name.mp3"},
            {"/get?filename=song.flac", "", "", "song.flac"},
            {"/get?response-content-disposition=attachment%3Bfilename%3Dd.docx", "", "", "d.docx"},
            {"/n4", "Content-Type: text/html", "", "download_#.html"},
            {"/n6", "", "../../x.exe", "x.exe"},
        };
        for (const auto &row : rows) {
            if (row.path != "/go")
                serve(row.path.split('?').value(0), "0123456789", row.header);
            Dialog d(server.url(row.path).toString(), row.suggested, 0, nullptr);
            QTRY_VERIFY(!d.path->text().isEmpty());
            const QString name = QFileInfo(d.path->text()).fileName();
            QCOMPARE(QString(name).replace(QRegularExpression("\\d{6,}"), "#"), row.expected);
            QCOMPARE(d.getSavePath(), categoryFolder(name) + QLatin1Char('/') + name);
        }

        const std::tuple<bool, int, QString> sizes[] = {
            {true, 200, "5.00 MB"}, {false, 200, "5.00 MB"}, {true, 404, "Unknown"}};
        serve("/big.iso", TestHttpServer::randomBody(5 * 1048576));
        TestHttpServer::Route &r = server.route("/big.iso");
        r.trickleBytes = 32768; // every 20 ms: three seconds for the whole body
        for (const auto &[honourRange, status, size] : sizes) {
            r.honourRange = honourRange;
            r.status = status;
            Dialog d(server.url("/big.iso").toString(), {}, 0, nullptr);
            QTRY_COMPARE(d.info->text(), QString("Size: %1  |  \u2705 Safe file type.").arg(size));
            QVERIFY(server.requestsFor("/big.iso").last().headers.value("range") == "bytes=0-0");
            if (!honourRange || status != 200) // the whole body is on its way
                QTRY_COMPARE_WITH_TIMEOUT(server.openConnectionsNow(), 0, 1000);
        }
        // A file larger than the room left on the destination's disk is said before it starts.
        Dialog huge(server.url("/big.iso").toString(), {}, qint64(1) << 60, nullptr);
        QTRY_VERIFY(huge.info->text().contains("  |  \u26A0\uFE0F Not enough free space: "));
    }

    // What the server wants first. A login: asked in one dialog, asked again with the reason after
    // a wrong password, then the size is read with the login; a cancelled login says it is needed.
    // The browser's login: without its session the server sends its login page, and the dialog
    // says so, leaving Start to the user; with the session the probe gets the file, and the cookie
    // stays with the host it was handed over for. A certificate that fails verification is named
    // instead of a size; once the user trusted it for the host, the size is read again.
    void loginSessionAndCertificate()
    {
        TestHttpServer::Route r = server.route("/files/real%20name.mp3");
        r.loginUser = "alice";
        r.loginPassword = "s3cret";
        r.digest = true;
        server.setRoute("/locked.zip", r);
        for (const QStringList &passwords : {QStringList{"wrong", "s3cret"}, QStringList{""}}) {
            HostLogins::shared().set(server.url("/"), Login(), false);
            QStringList reasons;
            answerLogins(passwords, &reasons);
            Dialog d(server.url("/locked.zip").toString(), {}, 0, nullptr);
            d.show();
            QTRY_COMPARE(reasons.size(), passwords.size());
            const bool given = passwords.last().isEmpty();
            QTRY_VERIFY(d.info->text().startsWith(given ? "Login required" : "Size: 0.00 MB"));
            QCOMPARE(reasons.value(1),
                     given ? QString() : QString("The user name or password was not accepted"));
        }

        TestHttpServer::Route locked = server.route("/files/real%20name.mp3");
        locked.needCookie = "sid=1";
        locked.needReferer = "http://page.test/";
        locked.loginPage = true;
        server.setRoute("/locked.zip", locked);
        const QString link = server.url("/locked.zip").toString();
        {
            Dialog d(link, {}, 0, nullptr);
            QTRY_VERIFY(d.warnedOfWebPage());
            QCOMPARE(d.info->text(), "\u26A0\uFE0F The server sent a web page, not the file "
                                     "\u2014 the link may need the browser's login");
            QVERIFY(d.start->isEnabled());
        }

        const BrowserSession session{"http://page.test/", "Browser/2", "sid=1"};
        Dialog signedIn(link, "locked.zip", 0, nullptr, session);
        QTRY_COMPARE(signedIn.info->text(), QString("Size: 0.00 MB  |  \u2705 Safe file type."));
        QVERIFY(!signedIn.warnedOfWebPage());
        // The route answers the file only to the session's cookie and referer.
        QCOMPARE(server.requestsFor("/locked.zip").last().headers.value("user-agent"), "Browser/2");
        QCOMPARE(signedIn.getSession(), session);
        signedIn.url->setText("http://127.0.0.2:9/locked.zip"); // another host gets no cookie
        QCOMPARE(signedIn.getSession(), session.withoutCookie());

        if (runningUnderWine())
            QSKIP(NoTlsServerUnderWine);
        TrustedCertificates::shared().useDirectory(QString());
        const TlsIdentity identity = TestCertificates().selfSigned();
        TestHttpServer tls;
        QVERIFY(tls.useTls(identity));
        tls.setRoute("/s.zip", server.route("/files/real%20name.mp3"));
        QVERIFY(tls.start());
        const QString problem = "Certificate not trusted: The certificate is self-signed, and "
                                "untrusted";
        for (const QString &expected :
             {problem, QString("Size: 0.00 MB  |  \u2705 Safe file type.")}) {
            Dialog d(tls.url("/s.zip").toString(), {}, 0, nullptr);
            QTRY_COMPARE(d.info->text(), expected);
            QVERIFY(d.path->text().endsWith(QLatin1String("/Compressed/s.zip")));
            TrustedCertificates::shared().trust(
                "127.0.0.1", TrustedCertificates::digestOf(identity.certificate));
        }
    }

    // A probe for a half-typed link that answers after the current one must not overwrite it;
    // a "blob:" link, or any but an http(s) one, is refused without a request, and a real link
    // afterwards is taken again.
    void staleProbeExecutableAndBlob()
    {
        serve("/slow", "slow", "Content-Disposition: attachment; filename=\"stale.zip\"");
        server.route("/slow").trickleBytes = 3; // about a second until the headers are through
        serve("/setup.EXE", "MZ");
        Dialog d({}, {}, 0, nullptr);
        d.url->setText(server.url("/slow").toString());
        QTRY_COMPARE(server.requestsFor("/slow").size(), 1);
        d.url->setText(server.url("/setup.EXE").toString());
        QTest::qWait(1800);
        QVERIFY(d.path->text().endsWith(QLatin1String("/Programs/setup.EXE")));
        QVERIFY(d.info->text().endsWith("Warning: Executable file. Might be unsafe."));

        const int before = server.requests.size();
        d.url->setText(QStringLiteral("BLOB:https://example.org/1234"));
        QVERIFY(!d.start->isEnabled() && d.info->text().startsWith("Error: 'blob:' links"));
        // Nor can any other scheme be started or kept for later: file: would read the disk.
        auto *later = d.findChild<QPushButton *>("btnLater");
        for (const char *link : {"file:///etc/hostname", "javascript:alert(1)", "data:,x",
                                 "ftp://h/f.zip", "qrc:/icon/add.png", "https:///f.zip"}) {
            d.url->setText(QString::fromLatin1(link));
            QVERIFY2(!d.start->isEnabled() && !later->isEnabled(), link);
            QCOMPARE(d.info->text(),
                     QStringLiteral("Error: Only http:// and https:// links can be downloaded."));
        }
        QTest::qWait(50);
        QCOMPARE(server.requests.size(), before);
        d.url->setText(server.url("/setup.EXE").toString());
        QVERIFY(d.start->isEnabled() && later->isEnabled());
    }

    // The quality list from the tool's answer; any failure leaves "Best Available". Link text
    // never reaches the tool as an option: only web links are listed, after "--". A listing
    // superseded by a plain link, or still running when the dialog goes, is killed with the helper
    // it started (the tool waits for a child that sleeps), and its answer, had it come, touches
    // nothing.
    void listings()
    {
        const QStringList fallback{"Best Available", "Audio Only"};
        const QByteArray heights = R"({"formats":[{"vcodec":"avc1","height":720},
            {"vcodec":"avc1","height":1080},{"vcodec":"avc1","height":720},{"vcodec":"avc1",
            "height":0},{"vcodec":"vp9","height":360},{"vcodec":"none","height":2160}]})";
        const struct {
            QByteArray json;
            int exitCode; // -1 (first): no tool at all
            QStringList entries;
        } rows[] = {
            {"", -1, fallback},
            {heights, 0, {"1080p HD", "720p HD", "360p HD", "Audio Only"}},
            {R"({"formats":[{"vcodec":"none","acodec":"opus"}]})", 0, fallback},
            {R"({"formats":[{"vcodec":"avc1","height":720}]})", 1, fallback},
            {"ERROR: Unsupported URL", 0, fallback},
        };
        serve("/watch", "<html></html>", "Content-Type: text/html");
        for (const auto &row : rows) {
            QTemporaryDir tool;
            if (row.exitCode >= 0)
                writeFakeTool(tool.path(), row.json, row.exitCode);
            Dialog d(server.url("/watch?v=abc&from=youtube.com").toString(), {}, 0, nullptr);
            QTRY_VERIFY(d.start->isEnabled());
            QCOMPARE(d.qualities(), row.entries);
            // Whichever of probe and listing answers first, the page ends as a video.
            QTRY_VERIFY(d.path->text().endsWith(QLatin1String(".mp4")));
            d.quality->setCurrentIndex(d.quality->count() - 1); // "Audio Only"
            QVERIFY(d.path->text().endsWith(QLatin1String(".mp3")));
        }

        QTemporaryDir tool;
        writeFakeTool(tool.path(), R"({"formats":[{"vcodec":"avc1","height":480}]})", 0,
                      "write args $args\nchild\n");
        const auto bothEnded = [&] {
            const qint64 toolPid = readFile(tool.path() + "/tool").toLongLong();
            const qint64 childPid = readFile(tool.path() + "/child").toLongLong();
            QVERIFY(toolPid > 0 && childPid > 0);
            QTRY_VERIFY(!processIsLive(toolPid) && !processIsLive(childPid));
            QFile::remove(tool.path() + "/tool");
            QFile::remove(tool.path() + "/child");
        };
        serve("/paper.pdf", "pdf");
        {
            Dialog d(QStringLiteral("--config-locations=x.com.conf"), {}, 0, nullptr);
            QCOMPARE(d.info->text(),
                     QStringLiteral("Error: Video links must begin with http:// or https://"));
            QVERIFY(!d.start->isEnabled());
            const QString link = server.url("/paper.pdf?h=instagram.com").toString();
            d.url->setText(link);
            QTRY_VERIFY(QFile::exists(tool.path() + "/child"));
            QCOMPARE(readFile(tool.path() + "/args"), "-J --no-playlist -- " + link.toUtf8());
            d.url->setText(server.url("/paper.pdf").toString());
            QVERIFY(d.start->isEnabled() && d.quality->isHidden());
            bothEnded();
            QVERIFY(d.path->text().endsWith(QLatin1String("/Documents/paper.pdf")));
            d.url->setText(server.url("/paper.pdf?h=tiktok.com").toString());
            QTRY_VERIFY(QFile::exists(tool.path() + "/child")); // the dialog goes with it running
        }
        bothEnded();
    }

    // 500 pasted links become 500 rows, probed a few at a time (counted at the server), each
    // with the name, size and category of its answer; links already listed, or not web links,
    // add no row; a text file adds its links; an unchecked row is left out.
    void manyLinks()
    {
        serve("/many.zip", "0123456789");
        server.route("/many.zip").answerDelayMs = 5;
        serve("/extra.pdf", "pdf");
        QStringList links;
        for (int i = 0; i < 500; ++i)
            links << server.url("/many.zip?n=" + QByteArray::number(i)).toString();
        Dialog d(links.join('\n') + "\nnot-a-link\n" + links.first(), {}, 0, nullptr);
        auto *view = d.findChild<QTableView *>("batchView");
        QVERIFY(view && d.isBatch() && d.path->isHidden() && d.url->text().isEmpty());
        QAbstractItemModel *rows = view->model();
        QCOMPARE(rows->rowCount(), 500);
        QTRY_COMPARE_WITH_TIMEOUT(rows->index(499, LinkBatch::SizeColumn).data().toString(),
                                  QString("0.00 MB"), 30000);
        QVERIFY(server.maxPendingAnswers >= 2 && server.maxPendingAnswers <= LinkBatch::maxProbes);
        QCOMPARE(server.requestsFor("/many.zip").size(), 500);
        QCOMPARE(d.chosenLinks().at(7).size, 10);
        QCOMPARE(rows->index(7, LinkBatch::CategoryColumn).data().toString(), "Compressed");

        QTemporaryDir dir;
        const QString list = dir.filePath("links.txt");
        QVERIFY(writeFile(list, "# saved links\n" + links.at(3).toUtf8() + "\r\n  " +
                                    server.url("/extra.pdf").toEncoded() + "  ftp://x/y\n"));
        d.importLinks(list);
        QCOMPARE(rows->rowCount(), 501);
        QTRY_COMPARE(d.chosenLinks().last().path, categoryFolder("e.pdf") + "/extra.pdf");
        QVERIFY(rows->setData(rows->index(0, 0), Qt::Unchecked, Qt::CheckStateRole));
        QCOMPARE(d.chosenLinks().size(), 500);
        QCOMPARE(d.info->text(), QString("501 links, 500 chosen"));
    }

    // The real media tool beside the build takes the listing's arguments and lists an HLS master
    // made with ffmpeg; last, as it moves the tool's configuration into a folder of its own.
    void listingFromTheRealTool()
    {
        const QString toolDir = QStringLiteral(TORVANE_MEDIA_TOOL_DIR);
        if (!QFileInfo(toolDir + "/core_engine.bin").isExecutable()) {
            if (qEnvironmentVariableIsSet("CI") && !runningUnderWine())
                QFAIL("core_engine.bin missing beside the build; run scripts/install-deps.sh");
            QSKIP("media tool not installed beside the build");
        }
        QTemporaryDir dir;
        setMediaToolDirectory(toolDir);
        qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
        qputenv("XDG_CACHE_HOME", dir.filePath("cache").toUtf8());
        QVERIFY(makeSampleMedia(dir.filePath("media")));
        serveMediaFolder(server, dir.filePath("media/hls"), "/hls/");
        Dialog d(server.url("/hls/master.m3u8?via=www.youtube.com").toString(), {}, 0, nullptr);
        QVERIFY(d.quality->itemText(0) == "Fetching..." && !d.start->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(d.start->isEnabled(), 60000);
        QCOMPARE(d.qualities(), (QStringList{"720p HD", "360p HD", "Audio Only"}));
        QCOMPARE(d.getQuality(), QString("720"));
    }
};

QTEST_MAIN(TestAdding)
#include "tst_adding.moc"
