#include "adding/filenames.h"

#include <QTest>

// The name rules alone: what a hostile or unusual name becomes, and which source wins.
class TestFileNames : public QObject {
    Q_OBJECT

private slots:
    void safeNames_data()
    {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QString>("safe");
        QTest::newRow("climbing") << "../../x.exe"
                                  << "x.exe";
        QTest::newRow("windows climbing") << "..\\..\\Windows\\evil.dll"
                                          << "evil.dll";
        QTest::newRow("mixed separators") << "a/b\\c.pdf"
                                          << "c.pdf";
        QTest::newRow("dot components") << "x.exe/.."
                                        << "x.exe";
        QTest::newRow("only dots") << ".."
                                   << "";
        QTest::newRow("device") << "CON.txt"
                                << "CON_.txt";
        QTest::newRow("device, two suffixes") << "com1.tar.gz"
                                              << "com1_.tar.gz";
        QTest::newRow("device in a word") << "CONTRACT.pdf"
                                          << "CONTRACT.pdf";
        QTest::newRow("trailing dot and space") << "name. "
                                                << "name";
        QTest::newRow("forbidden") << "a<b>c:d\"e|f*g.txt"
                                   << "a_b_c_d_e_f_g.txt";
        QTest::newRow("controls") << QStringLiteral("a\tb\nc\x01.txt") << "a_b_c_.txt";
        QTest::newRow("bidi override")
            << QStringLiteral("invoice\u202Efdp.exe") << "invoicefdp.exe";
        QTest::newRow("arabic") << QStringLiteral("تقرير سنوي.pdf")
                                << QStringLiteral("تقرير سنوي.pdf");
    }

    void safeNames()
    {
        QFETCH(QString, raw);
        QFETCH(QString, safe);
        QCOMPARE(safeFileName(raw), safe);
        const QString overlong = safeFileName(QString(400, QLatin1Char('a')) + ".pdf");
        QVERIFY(overlong.size() == 255 && overlong.endsWith(QLatin1String("a.pdf")));
    }

    void contentDisposition_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("decoded");
        QTest::newRow("quoted, space") << "attachment; filename=\"my report.pdf\""
                                       << "my report.pdf" << false;
        QTest::newRow("unquoted") << "attachment; filename=data.zip; size=3"
                                  << "data.zip" << false;
        QTest::newRow("extended wins") << "attachment; filename=\"fallback.pdf\"; "
                                          "filename*=UTF-8''%D8%AA%D9%82%D8%B1%D9%8A%D8%B1.pdf"
                                       << QStringLiteral("تقرير.pdf") << true;
        QTest::newRow("extended latin-1")
            << "inline; FILENAME*=ISO-8859-1''caf%E9.txt" << QStringLiteral("café.txt") << true;
        QTest::newRow("malformed extended")
            << "attachment; filename*=nonsense; filename=\"plain.doc\""
            << "plain.doc" << false;
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

        ProbeNameInput bare;
        bare.nowMs = 99;
        QCOMPARE(probeFileName(bare), QStringLiteral("download_99.bin"));
        bare.isVid = true;
        QCOMPARE(probeFileName(bare), QStringLiteral("download_99.mp4"));
        bare.linkName = QStringLiteral("page.php?id=3");
        QCOMPARE(probeFileName(bare), QStringLiteral("page.php"));
    }
};

QTEST_GUILESS_MAIN(TestFileNames)
#include "tst_filenames.moc"
