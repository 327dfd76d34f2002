#include "adding/categoryfolder.h"
#include "adding/filenames.h"
#include "adding/formatlist.h"

#include <QDir>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>

// The name rules alone: what a hostile or unusual name becomes, and which source wins.
class TestFileNames : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void safeNames_data()
    {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QString>("safe");
        QTest::newRow("plain") << "report.pdf"
                               << "report.pdf";
        QTest::newRow("climbing") << "../../x.exe"
                                  << "x.exe";
        QTest::newRow("windows climbing") << "..\\..\\Windows\\evil.dll"
                                          << "evil.dll";
        QTest::newRow("mixed separators") << "a/b\\c.pdf"
                                          << "c.pdf";
        QTest::newRow("trailing separator") << "folder/"
                                            << "folder";
        QTest::newRow("dot components") << "x.exe/.."
                                        << "x.exe";
        QTest::newRow("only dots") << ".."
                                   << "";
        QTest::newRow("device") << "CON.txt"
                                << "CON_.txt";
        QTest::newRow("device lower, bare") << "nul"
                                            << "nul_";
        QTest::newRow("device with two suffixes") << "com1.tar.gz"
                                                  << "com1_.tar.gz";
        QTest::newRow("device as part of a word") << "CONTRACT.pdf"
                                                  << "CONTRACT.pdf";
        QTest::newRow("trailing dot and space") << "name. "
                                                << "name";
        QTest::newRow("forbidden characters") << "a<b>c:d\"e|f*g.txt"
                                              << "a_b_c_d_e_f_g.txt";
        QTest::newRow("control characters") << QStringLiteral("a\tb\nc\x01.txt") << "a_b_c_.txt";
        QTest::newRow("bidi override")
            << QStringLiteral("invoice\u202Efdp.exe") << "invoicefdp.exe";
        QTest::newRow("arabic kept")
            << QStringLiteral("تقرير سنوي.pdf") << QStringLiteral("تقرير سنوي.pdf");
        QTest::newRow("empty") << ""
                               << "";
    }

    void safeNames()
    {
        QFETCH(QString, raw);
        QFETCH(QString, safe);
        QCOMPARE(safeFileName(raw), safe);
    }

    void overlongNameKeepsExtension()
    {
        const QString name = safeFileName(QString(400, QLatin1Char('a')) + QStringLiteral(".pdf"));
        QCOMPARE(name.size(), 255);
        QVERIFY(name.endsWith(QLatin1String("a.pdf")));
    }

    void contentDisposition_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("decoded");
        QTest::newRow("quoted with space") << "attachment; filename=\"my report.pdf\""
                                           << "my report.pdf" << false;
        QTest::newRow("unquoted ends at ;") << "attachment; filename=data.zip; size=3"
                                            << "data.zip" << false;
        QTest::newRow("extended wins, utf-8 arabic")
            << "attachment; filename=\"fallback.pdf\"; "
               "filename*=UTF-8''%D8%AA%D9%82%D8%B1%D9%8A%D8%B1.pdf"
            << QStringLiteral("تقرير.pdf") << true;
        QTest::newRow("extended first, case-insensitive")
            << "attachment; FILENAME*=utf-8'ar'%D9%85.txt; filename=x.txt"
            << QStringLiteral("م.txt") << true;
        QTest::newRow("extended latin-1")
            << "inline; filename*=ISO-8859-1''caf%E9.txt" << QStringLiteral("café.txt") << true;
        QTest::newRow("malformed extended falls back")
            << "attachment; filename*=nonsense; filename=\"plain.doc\""
            << "plain.doc" << false;
        QTest::newRow("none") << "inline"
                              << "" << false;
    }

    void contentDisposition()
    {
        QFETCH(QString, value);
        QFETCH(QString, name);
        QFETCH(bool, decoded);
        bool wasDecoded = !decoded;
        QCOMPARE(contentDispositionFileName(value, &wasDecoded), name);
        QCOMPARE(wasDecoded, decoded);
    }

    void sourcesInOrder()
    {
        ProbeNameInput in;
        in.nowMs = 1234;
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
        // A hostile header name is reduced, not followed.
        in.contentDisposition = QStringLiteral("attachment; filename=\"../../../.bashrc.sh\"");
        QCOMPARE(probeFileName(in), QStringLiteral(".bashrc.sh"));

        ProbeNameInput bare;
        bare.nowMs = 99;
        QCOMPARE(probeFileName(bare), QStringLiteral("download_99.bin"));
        bare.isVid = true;
        QCOMPARE(probeFileName(bare), QStringLiteral("download_99.mp4"));
        bare.hasContentType = true;
        bare.contentType = QStringLiteral("text/html; charset=utf-8");
        QCOMPARE(probeFileName(bare), QStringLiteral("download_99.html"));
        bare.linkName = QStringLiteral("page.php?id=3");
        QCOMPARE(probeFileName(bare), QStringLiteral("page.php"));
    }

    void linkNames()
    {
        QCOMPARE(nameFromLink(QUrl(QStringLiteral("http://h/a/b/My%20File.pdf"))),
                 QStringLiteral("My File.pdf"));
        QCOMPARE(nameFromLink(QUrl(QStringLiteral("http://h/dir/"))), QString());
        QCOMPARE(nameFromLink(QUrl(QStringLiteral("http://h/get?filename=song%2520x.flac"))),
                 QStringLiteral("song x.flac"));
        QCOMPARE(nameFromLink(QUrl(QStringLiteral(
                     "http://h/o?response-content-disposition=attachment%3B%20filename%3D%22"
                     "doc.docx%22&filename=other.txt"))),
                 QStringLiteral("doc.docx"));
    }

    void formatExtension()
    {
        QCOMPARE(withFormatExtension(QStringLiteral("/d/Videos/clip.mp4"), QStringLiteral("audio")),
                 QStringLiteral("/d/Videos/clip.mp3"));
        QCOMPARE(withFormatExtension(QStringLiteral("/d/Videos/clip.webm"), QStringLiteral("720")),
                 QStringLiteral("/d/Videos/clip.mp4"));
        QCOMPARE(withFormatExtension(QStringLiteral("/d/README"), QStringLiteral("best")),
                 QStringLiteral("/d/README.mp4"));
        // A dotted folder (a user name like john.doe) is not mistaken for an extension.
        QCOMPARE(withFormatExtension(QStringLiteral("/home/john.doe/Other/README"),
                                     QStringLiteral("audio")),
                 QStringLiteral("/home/john.doe/Other/README.mp3"));
    }

    void heights()
    {
        const QByteArray json = R"({"formats":[
            {"vcodec":"avc1","height":720}, {"vcodec":"vp9","height":1080},
            {"vcodec":"avc1","height":720}, {"vcodec":"avc1","height":0},
            {"height":360}, {"vcodec":"none","height":2160}, 7,
            {"vcodec":"avc1"}, {"vcodec":"avc1","height":"tall"}]})";
        bool isObject = false;
        QCOMPARE(listedVideoHeights(json, &isObject), (QList<int>{1080, 720, 360}));
        QVERIFY(isObject);
        QCOMPARE(listedVideoHeights(R"({"formats":[{"vcodec":"none","height":0}]})"), QList<int>());
        QCOMPARE(listedVideoHeights("[1,2]", &isObject), QList<int>());
        QVERIFY(!isObject);
    }

    void categoryFolders()
    {
        const QString base = QDir::fromNativeSeparators(QStandardPaths::writableLocation(
                                 QStandardPaths::DownloadLocation)) +
                             QStringLiteral("/Torvane/");
        QCOMPARE(categoryFolder(QStringLiteral("archive.tar.gz")), base + "Compressed");
        QCOMPARE(categoryFolder(QStringLiteral("MOVIE.MKV")), base + "Videos");
        QCOMPARE(categoryFolder(QStringLiteral("README")), base + "Other");
        QCOMPARE(categoryFolder(QStringLiteral("download_1.bin")), base + "Programs");
    }
};

QTEST_GUILESS_MAIN(TestFileNames)
#include "tst_filenames.moc"
