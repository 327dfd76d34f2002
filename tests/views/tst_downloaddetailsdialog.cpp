#include "engine/downloadtask.h"
#include "engine/http/trustedcertificates.h"
#include "engine/storage/filehasher.h"
#include "language/translation.h"
#include "testfiles.h"
#include "views/downloaddetailsdialog.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

// The details dialog against tasks put into each state by hand: the engine is not exercised.
class TestDownloadDetailsDialog : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

    template <typename W = QLabel> static W *child(QObject *in, const char *name)
    {
        return in->findChild<W *>(QLatin1String(name));
    }

    DownloadTask *task(const char *name)
    {
        auto *t = new DownloadTask(QUrl(QStringLiteral("http://127.0.0.1:1/") + name),
                                   dir.filePath(name), QStringLiteral("best"), this);
        t->status = 1;
        t->totalSize = 1048576000;
        t->downloadedSize = 13107200;
        return t;
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        g_lang = QStringLiteral("en");
    }

    // Arabic mirrors the dialog but not its paths, and a language switch follows live. Running,
    // paused, failed with the tool's message, failed on a certificate (the only failure that
    // offers to trust one, with its fingerprint; trusting pins it for the host, on disk), "Retry"
    // back to work without the offer, then canceled: a canceled task stays canceled whatever the
    // button is pressed for. The end of a transfer switches to the completed view, which a dialog
    // opened later starts in.
    void stateWalk()
    {
        TrustedCertificates::shared().useDirectory(dir.filePath("state"));
        g_lang = QStringLiteral("ar");
        DownloadTask *t = task("b.zip");
        DownloadDetailsDialog d(t, nullptr);
        QCOMPARE(d.layoutDirection(), Qt::RightToLeft);
        d.show();
        QCOMPARE(child<QLineEdit>(&d, "dstEdit")->layoutDirection(), Qt::LeftToRight);
        g_lang = QStringLiteral("en");
        QTRY_COMPARE(d.layoutDirection(), Qt::LeftToRight);
        QTRY_COMPARE(child<QPushButton>(&d, "btnHide")->text(), QStringLiteral("Hide"));
        QCOMPARE(child(&d, "downLbl")->text(), QStringLiteral("12.50 MB (1%)"));
        QPushButton *toggle = child<QPushButton>(&d, "btnPauseResume");
        QPushButton *trust = child<QPushButton>(&d, "btnTrust");
        toggle->click();
        QCOMPARE(t->status, 0);
        QCOMPARE(toggle->text(), QStringLiteral("Resume"));
        QTRY_COMPARE(child(&d, "statusLbl")->text(), QStringLiteral("Paused"));

        t->status = 1; // waiting out an outage: the countdown, and why
        t->retryInSeconds = 4;
        t->lastDlpMessage = QStringLiteral("Connection failed: Connection refused");
        QTRY_COMPARE(child(&d, "statusLbl")->text(),
                     QStringLiteral("Waiting for the server — retrying in 4 s\n") +
                         t->lastDlpMessage);
        t->retryInSeconds = -1;

        t->status = 3;
        t->lastDlpMessage = QStringLiteral("ERROR: HTTP Error 404");
        QTRY_COMPARE(child(&d, "statusLbl")->text(), QStringLiteral("ERROR: HTTP Error 404"));
        QCOMPARE(toggle->text(), QStringLiteral("Retry"));
        QVERIFY(trust->isHidden());

        QByteArray digest(32, char(0xaa));
        digest[1] = 0x0f; // hex digits print upper case, with leading zeros
        t->lastDlpMessage =
            QStringLiteral("Certificate not trusted: The certificate is self-signed");
        t->refusedCertificate = {QStringLiteral("127.0.0.1"), digest, t->lastDlpMessage};
        QTRY_VERIFY(trust->isVisible());
        QCOMPARE(child(&d, "statusLbl")->text(), t->lastDlpMessage);
        QCOMPARE(child(&d, "certLbl")->text(), "AA:0F:" + QString("AA:").repeated(13) + "AA\n" +
                                                   QString("AA:").repeated(15) + "AA");
        QCOMPARE(trust->text(), QStringLiteral("Trust this certificate for \u2066127.0.0.1\u2069"));
        trust->click();
        QVERIFY(!trust->isEnabled() && trust->text() == QStringLiteral("Certificate trusted"));
        TrustedCertificates::shared().useDirectory(dir.filePath("state"));
        QVERIFY(TrustedCertificates::shared().isTrusted(QStringLiteral("127.0.0.1"), digest));

        // A file that did not match its server's digest: both digests, in rows of 32 digits.
        t->refusedCertificate = RefusedCertificate();
        t->lastDlpMessage = QStringLiteral("Checksum mismatch");
        t->checksum.state = ChecksumResult::Mismatch;
        t->checksum.expected.algorithm = QCryptographicHash::Sha512;
        t->checksum.expected.digest = QByteArray(64, char(0x11));
        t->checksum.expected.source = QStringLiteral("Repr-Digest");
        t->checksum.actual = QByteArray(64, char(0x22));
        QTRY_COMPARE(child(&d, "expectedLbl")->text(),
                     "SHA-512 (Repr-Digest)\n" +
                         QString(32, '1').append('\n').repeated(4).chopped(1));
        QCOMPARE(child(&d, "actualLbl")->text(),
                 QString(32, '2').append('\n').repeated(4).chopped(1));
        // Every row of both is readable: the dialog grows for them.
        for (const char *name : {"expectedLbl", "actualLbl"})
            QTRY_VERIFY(child(&d, name)->height() >= child(&d, name)->sizeHint().height());

        toggle->click();
        QCOMPARE(t->status, 1);
        QCOMPARE(toggle->text(), QStringLiteral("Pause"));
        QTRY_VERIFY(trust->isHidden() && child(&d, "expectedLbl")->isHidden());

        child<QPushButton>(&d, "btnCancel")->click();
        QVERIFY(t->status == 4 && d.isHidden());
        toggle->click();
        QCOMPARE(t->status, 4);

        d.show();
        QVERIFY(writeFile(t->savePath(), {})); // a finished download's file, not "File missing"
        t->downloadedSize = t->totalSize;
        t->status = 2;
        QTRY_VERIFY(!child<QWidget>(&d, "completedWidget")->isHidden());
        QCOMPARE(child(&d, "CompStatus")->text(), QStringLiteral("1000.00 MB  |  \u2714 Done"));
        QCOMPARE(child<QLineEdit>(&d, "dstEdit")->text(), t->savePath());
        t->checksum.state = ChecksumResult::Verified;
        t->checksum.expected.source = QStringLiteral("b.zip.sha256");
        DownloadDetailsDialog reopened(t, nullptr);
        QVERIFY(!child<QWidget>(&reopened, "completedWidget")->isHidden());
        QCOMPARE(
            child(&reopened, "CompStatus")->text(),
            QStringLiteral("1000.00 MB  |  \u2714 \u2068Verified (SHA-256)\u2069\n\u2068Digest "
                           "from \u2066b.zip.sha256\u2069\u2069"));
    }

    // A completed download shows its file's SHA-256, and a pasted SHA-256, SHA-1 or MD5 (alone or
    // as sha256sum prints it) is compared with the file. The digests are the published ones of
    // "abc".
    void checksums()
    {
        const QString sha256 =
            QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
        const QPair<QString, QString> rows[] = {
            {sha256.toUpper() + QStringLiteral("  abc.txt"), "\u2714 Matches (SHA-256)"},
            {"a9993e364706816aba3e25717850c26c9cd0d89d", "\u2714 Matches (SHA-1)"},
            {" 900150983cd24fb0d6963f7d28e17f72 ", "\u2714 Matches (MD5)"},
            {QString(sha256).replace(0, 1, QLatin1Char('c')), "\u2718 Does not match (SHA-256)"},
            {sha256 + QLatin1Char('0'), "Not a SHA-256, SHA-1 or MD5 checksum"},
        };
        QVERIFY(writeFile(dir.filePath("abc.txt"), "abc"));
        DownloadTask *t = task("abc.txt");
        t->status = 2;
        DownloadDetailsDialog d(t, nullptr);
        d.show();
        QTRY_COMPARE(child<QLineEdit>(&d, "sha256Edit")->text(), sha256);
        for (const auto &[pasted, result] : rows) {
            child<QLineEdit>(&d, "expectedEdit")->setText(pasted);
            QTRY_COMPARE(child(&d, "checksumResult")->text(), result);
        }
    }

    // A large file is read in the background with a progress line; closing the dialog stops the
    // reading, and opening it again starts over.
    void checksumStopsWithTheDialog()
    {
        QFile file(dir.filePath("big.iso"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(qint64(8) << 30)); // sparse
        file.close();
        DownloadTask *t = task("big.iso");
        t->status = 2;
        DownloadDetailsDialog d(t, nullptr);
        QLineEdit *sha = child<QLineEdit>(&d, "sha256Edit");
        for (int showing = 0; showing < 2; ++showing) {
            d.show();
            QTRY_VERIFY(sha->text().startsWith(QStringLiteral("Computing... ")));
            QCOMPARE(d.findChildren<FileHasher *>().size(), 1);
            d.hide();
            QTRY_VERIFY(d.findChildren<FileHasher *>().isEmpty());
        }
        QVERIFY(sha->text().startsWith(QStringLiteral("Computing... ")));
        QFile::remove(file.fileName());
    }
};

QTEST_MAIN(TestDownloadDetailsDialog)
#include "tst_downloaddetailsdialog.moc"
