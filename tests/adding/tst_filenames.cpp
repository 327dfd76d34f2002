#include "adding/filenames.h"

#include <QStringDecoder>
#include <QTest>

// The name rules alone: what a hostile or unusual name becomes, and which source wins.
class TestFileNames : public QObject {
    Q_OBJECT

private slots:
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
            {"COM0.log", "COM0_.log"},
            {"lpt0", "lpt0_"},
            {"تقرير سنوي.pdf", "تقرير سنوي.pdf"},
            // Shortening must not bare a device name or leave a trailing dot behind.
            {"CON" + QString(300, ' ') + ".txt", "CON_.txt"},
            {"nul" + QString(260, ' ') + ".exe", "nul_.exe"},
            {QString(400, 'a') + ".pdf", QString(251, 'a') + ".pdf"},
            {QString(250, 'a') + ". . ." + QString(40, 'b'), QString(250, 'a')},
            {QString(254, 'a') + QChar(0xD83D) + QChar(0xDE00) + "x", QString(254, 'a')},
            {QString("a") + QChar(0xDE00) + QChar(0xD83D) + ".txt", "a__.txt"}, // lone surrogates
            {QString("..\\..\\evil") + QChar(0xD800) + ".exe", "evil_.exe"},
        };
        for (const auto &[name, safe] : rows) {
            QCOMPARE(safeFileName(name), safe);
            QCOMPARE(safeFileName(safe), safe); // a second pass changes nothing
        }
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
            {"inline; filename*=windows-1252''caf%E9.png", "café.png"},
            {"inline; filename*=ISO-8859-1''%80.txt", "€.txt"}, // read as windows-1252
            {"inline; filename*=Shift_JIS'ja'%93%FA%96%7B.txt", "日本.txt"},
            {"inline; FILENAME*=UTF-8''%D9%85%D9%84%D9%81.pdf", "ملف.pdf"},
            {"Attachment; FileName=\"Report Q1.xlsx\"", "Report Q1.xlsx"},
            {"attachment; filename=\"\\\"quoting\\\" tested.html\"", "_quoting_ tested.html"},
            {"attachment; filename*=UTF-8''100%2525.txt; filename=a.txt", "100%25.txt"},
            {"attachment; filename*=x; filename=\"plain.doc\"", "plain.doc"},
            {"attachment; filename*=x-unknown''a.txt; filename=b.txt", "b.txt"},
            {"attachment; filename*=UTF-8''caf%E9.txt; filename=utf8.txt", "utf8.txt"},
            {"attachment; filename=\"=?UTF-8?B?2YXZhNmBLnBkZg==?=\"", "ملف.pdf"},
            {"attachment; filename==?ISO-8859-1?Q?caf=E9_1.txt?=", "café 1.txt"},
            {"attachment; xfilename=x.pdf; filename=y.pdf", "y.pdf"}, // whole names only
            {"attachment; note=\"a\\\"; filename=evil.exe\"; filename=ok.pdf", "ok.pdf"},
        };
        for (const auto &row : headers) {
            // Qt without ICU (the Windows build) decodes only Unicode and Latin-1 by name.
            if (QByteArray(row[0]).contains("Shift_JIS") &&
                !QStringDecoder("Shift_JIS").isValid()) {
                qInfo("skipped: this Qt has no Shift_JIS decoder (built without ICU)");
                continue;
            }
            in.contentDisposition = QString::fromUtf8(row[0]);
            QCOMPARE(probeFileName(in), QString::fromUtf8(row[1]));
        }

        ProbeNameInput bare;
        bare.nowMs = 99;
        QCOMPARE(probeFileName(bare), QStringLiteral("download_99.bin"));
        bare.isVid = true;
        QCOMPARE(probeFileName(bare), QStringLiteral("download_99.mp4"));
    }
};

QTEST_GUILESS_MAIN(TestFileNames)
#include "tst_filenames.moc"
