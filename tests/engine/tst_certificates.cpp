// HTTPS downloads against the in-process server with throw-away certificates: a certificate that
// fails verification ends the task before a byte of the answer is taken, unless the user trusted
// exactly that certificate for that host.
#include "engine/downloadtask.h"
#include "engine/http/trustedcertificates.h"
#include "language/translation.h"
#include "testcertificates.h"
#include "testdownloads.h"
#include "testhttpserver.h"
#include "wine.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class TstCertificates : public QObject {
    Q_OBJECT

    TestCertificates certificates;
    QTemporaryDir dir;
    std::unique_ptr<TestHttpServer> server;
    QByteArray body = TestHttpServer::randomBody(300 * 1024 + 5, 40);

    QString out() const { return dir.filePath("out.bin"); }
    QString stateDir() const { return dir.filePath("state"); }

    void serve(const TlsIdentity &identity)
    {
        server = std::make_unique<TestHttpServer>();
        QVERIFY(server->useTls(identity));
        TestHttpServer::Route r;
        r.body = body;
        server->setRoute("/f.bin", r);
        QVERIFY(server->start());
    }

    std::unique_ptr<DownloadTask> start()
    {
        auto t = std::make_unique<DownloadTask>(server->url("/f.bin"), out(), "best");
        t->setRetryBaseDelayMs(20);
        t->start();
        return t;
    }

    // Ended in error on the certificate `identity` without a request more to the server.
    void expectRefused(const DownloadTask &t, const TlsIdentity &identity, const QString &problem,
                       int requestsBefore = 0)
    {
        QCOMPARE(t.status, 3);
        QVERIFY2(t.lastDlpMessage.startsWith("Certificate not trusted: ") &&
                     t.lastDlpMessage.contains(problem),
                 qPrintable(t.lastDlpMessage));
        QCOMPARE(t.refusedCertificate.reason, t.lastDlpMessage);
        QCOMPARE(t.refusedCertificate.host, QStringLiteral("127.0.0.1"));
        QCOMPARE(t.refusedCertificate.sha256, TrustedCertificates::digestOf(identity.certificate));
        QCOMPARE(server->requests.size(), requestsBefore); // refused in the handshake
    }

private slots:
    void initTestCase()
    {
        g_lang = QStringLiteral("en");
        QVERIFY(certificates.trustAuthorityInProcess());
    }

    void init()
    {
        if (runningUnderWine())
            QSKIP(NoTlsServerUnderWine);
        QFile::remove(out());
        QDir(stateDir()).removeRecursively();
        TrustedCertificates::shared().useDirectory(stateDir());
    }

    // A certificate that fails verification, here one that a trusted authority issued for
    // another host, is refused and nothing is written. Trusting the refused certificate lets
    // Retry finish the download, and the pin is on disk.
    void pinnedCertificate()
    {
        const TlsIdentity first = certificates.issued("downloads.example");
        serve(first);
        auto t = start();
        QVERIFY(waitForEnd(*t));
        expectRefused(*t, first, "host name did not match");
        QVERIFY(!QFile::exists(out()));
        QVERIFY(TrustedCertificates::shared().trust(t->refusedCertificate.host,
                                                    t->refusedCertificate.sha256));
        TrustedCertificates::shared().useDirectory(stateDir()); // as the next start reads it
        t->resume();
        QCOMPARE(downloadFault(*t, body), QString());
        QVERIFY(t->refusedCertificate.isNull());
    }

    // A server that changes its certificate while a pinned download is paused: the pin holds for
    // the first certificate only, so the resumed parts are refused at once, not retried, and
    // nothing more is written.
    void certificateChangedUnderAPausedDownload()
    {
        const TlsIdentity first = certificates.selfSigned();
        QVERIFY(TrustedCertificates::shared().trust(
            "127.0.0.1", TrustedCertificates::digestOf(first.certificate)));
        serve(first);
        server->route("/f.bin").trickleBytes = 2048;
        auto t = start();
        QVERIFY(QTest::qWaitFor([&] { return t->downloadedSize > 32 * 1024; }, 10000));
        t->pause();
        const qint64 atPause = t->downloadedSize;
        const int requests = server->requests.size();
        const QByteArray onDisk = readFile(out());

        const TlsIdentity second = certificates.selfSigned();
        QVERIFY(server->useTls(second));
        t->resume();
        QVERIFY(waitForEnd(*t));
        expectRefused(*t, second, "self-signed", requests);
        QCOMPARE(t->downloadedSize, atPause);
        QVERIFY(readFile(out()) == onDisk);
    }
};

QTEST_GUILESS_MAIN(TstCertificates)
#include "tst_certificates.moc"
