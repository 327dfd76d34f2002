// Downloads against the in-process server: every test that finishes compares the file on disk
// with the served bytes.
#include "engine/downloadtask.h"
#include "engine/http/linkcheck.h"
#include "engine/http/partconnections.h"
#include "engine/http/retryschedule.h"
#include "engine/http/webpageanswer.h"
#include "engine/networkwatch.h"
#include "engine/storage/checkpoint.h"
#include "language/translation.h"
#include "smalldisk.h"
#include "testdownloads.h"
#include "testhttpserver.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

class TstHttpTransfer : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    std::unique_ptr<TestHttpServer> server;

    QString out() const { return dir.filePath("out.bin"); }
    std::unique_ptr<DownloadTask> task(const QByteArray &path, const QString &file = QString())
    {
        auto t = std::make_unique<DownloadTask>(server->url(path), file.isEmpty() ? out() : file,
                                                "best");
        t->setRetryBaseDelayMs(20);
        return t;
    }
    // A checkpoint's record of `p` for a download of `url`, as a hand could write it.
    static QByteArray recordOf(const QUrl &url, const TransferProgress &p)
    {
        return QJsonDocument(QJsonObject{{"url", url.toString()}, {"progress", p.toJson()}})
            .toJson();
    }

private slots:
    void init()
    {
        QFile::remove(out());
        server = std::make_unique<TestHttpServer>();
        QVERIFY(server->start());
    }
    void cleanup() { setGiveUpAfterMs(10 * 60 * 1000); }

    // From servers that keep the rules and from those that bend them, every download ends with
    // exactly the served bytes, reported done once.
    void downloadsEndByteExact_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("eight parts on eight connections") << 10;
        QTest::newRow("idle connections take over the slowest part") << 11;
        QTest::newRow("range ignored: 200 with the whole body") << 0;
        QTest::newRow("star total: one connection") << 1;
        QTest::newRow("chunked without a length") << 2;
        QTest::newRow("short answers to every range") << 3;
        QTest::newRow("content-range that does not match") << 4;
        QTest::newRow("body until close, no length") << 5;
        QTest::newRow("dropped connections") << 6;
        QTest::newRow("5xx answers with a body and Retry-After") << 7;
        QTest::newRow("a stalled part") << 8;
        QTest::newRow("redirect chain") << 9;
    }
    void downloadsEndByteExact()
    {
        QFETCH(int, kind);
        const qint64 size = kind == 11 ? 24 * 1024 * 1024 : 300 * 1024 + 17;
        auto r = TestHttpServer::randomRoute(size, kind);
        QByteArray path = "/bend.bin";
        switch (kind) {
        case 0: r.honourRange = false; break;
        case 1: r.starTotal = true; break;
        case 2:
            r.honourRange = false;
            r.chunked = true;
            break;
        case 3: r.maxRangeLength = 10000; break;
        case 4: r.shiftRangeStart = 100; break;
        case 5:
            r.honourRange = false;
            r.noLength = true;
            break;
        case 6:
            r.dropAtByte = 100000;
            r.dropTimes = 2;
            break;
        case 7:
            r.failRequests = {3, 5, 6};
            r.failBody = QByteArray(4000, 'E');
            r.failRetryAfter = "1";
            break;
        case 8:
            r.stallAtByte = 70000;
            r.stallTimes = 1;
            break;
        case 9: {
            TestHttpServer::Route a, b;
            a.redirectTo = "/b";
            b.redirectTo = server->url("/bend.bin").toEncoded();
            server->setRoute("/a", a);
            server->setRoute("/b", b);
            path = "/a";
            break;
        }
        case 10: r.trickleBytes = 16 * 1024; break; // so that all parts are in flight together
        case 11:
            r.trickleBytes = 32 * 1024;
            r.trickleOnlyAt = 0; // part 0 crawls, the others are fast
            break;
        }
        server->setRoute("/bend.bin", r);
        auto t = task(path);
        QSignalSpy finished(t.get(), &DownloadTask::finished);
        t->setStallTimeoutMs(600);
        QElapsedTimer clock;
        clock.start();
        t->start();
        QCOMPARE(downloadFault(*t, r.body), QString());
        QCOMPARE(finished.count(), 1);
        QCOMPARE(t->downloadedSize, size);
        const auto requests = server->requestsFor("/bend.bin");
        if (kind == 6) // the broken part came back for the rest of its range only
            QVERIFY(std::any_of(requests.cbegin(), requests.cend(), [](const auto &request) {
                return request.headers.value("range").startsWith("bytes=100000-");
            }));
        if (kind == 7) // the second the server asked for, not our own backoff of 20 ms
            QVERIFY(clock.elapsed() >= 1000);
        if (kind == 9) // the parts go straight to where the probe ended
            QCOMPARE(server->requestsFor("/a").size(), 1);
        if (kind == 10) { // the probe and eight parts at once; compression would shift offsets
            QCOMPARE(requests.size(), 9);
            QVERIFY(server->maxOpenConnections >= 8);
            QCOMPARE(requests.last().headers.value("accept-encoding"), QByteArray("identity"));
        }
        if (kind == 11) // nothing failed: a request past the eight parts took over a piece of one
            QVERIFY(requests.size() > 9);
    }

    // A missing file, a part that keeps failing and a link no request can serve end the task in
    // error, never done; a pause or a cancel outside the transfer stops it. Nothing runs after.
    void failuresAndStopsOutsideTheTransfer()
    {
        // The error page is never content, nor does it wipe what was at the path; a missing file
        // is no outage: not asked again.
        TestHttpServer::Route gone;
        gone.status = 404;
        gone.body = "<html>not here</html>";
        server->setRoute("/gone.bin", gone);
        QVERIFY(writeFile(out(), "the user's own file"));
        auto t = task("/gone.bin");
        t->start();
        QVERIFY(waitForEnd(*t));
        QCOMPARE(t->status, 3);
        QCOMPARE(readFile(out()), QByteArray("the user's own file"));
        QVERIFY(server->requests.size() <= 2);

        // Parts that keep failing: canceled while they wait out an outage (503), no retry is ever
        // sent; when the failure is no outage (501), the task gives up after a few tries.
        auto broken = TestHttpServer::randomRoute(64 * 1024, 13);
        for (int i = 4; i < 100; ++i)
            broken.failRequests.insert(i);
        server->setRoute("/c.bin", broken);
        broken.failStatus = 501;
        server->setRoute("/broken.bin", broken);
        t = task("/c.bin");
        t->setRetryBaseDelayMs(300);
        t->start();
        QVERIFY(QTest::qWaitFor([&] { return server->requestsFor("/c.bin").size() >= 9; }, 5000));
        QTest::qWait(50);
        t->cancel();
        int requests = server->requests.size();
        QTest::qWait(800);
        QCOMPARE(t->status, 4);
        QCOMPARE(server->requests.size(), requests);
        t = task("/broken.bin");
        t->setRetryBaseDelayMs(5);
        QSignalSpy finished(t.get(), &DownloadTask::finished);
        t->start();
        QVERIFY(waitForEnd(*t));
        QCOMPARE(t->status, 3);
        QCOMPARE(finished.count(), 0);
        requests = server->requests.size();
        QTest::qWait(200);
        QCOMPARE(server->requests.size(), requests);

        DownloadTask unusable(QUrl("ftp-x://127.0.0.1/f.bin"), out(), "best");
        unusable.start();
        QVERIFY(waitForEnd(unusable, 3000));
        QCOMPARE(unusable.status, 3);

        // Paused while the probe has no answer yet: a resume starts over and completes.
        auto r = TestHttpServer::randomRoute(64 * 1024, 18);
        r.silentRequests = {1};
        server->setRoute("/p.bin", r);
        t = task("/p.bin");
        t->start();
        QTest::qWait(150);
        t->pause();
        QTest::qWait(150);
        QCOMPARE(t->status, 0);
        t->resume();
        QCOMPARE(downloadFault(*t, r.body), QString());

        // Many downloads started in one pass of the event loop: their requests wait their turn,
        // each still gets its eight parts, and one paused or canceled before its turn never asks.
        std::vector<std::unique_ptr<DownloadTask>> tasks;
        QByteArrayList paths;
        for (int i = 0; i < 12; ++i) {
            paths.append("/many" + QByteArray::number(i) + ".bin");
            server->setRoute(paths[i], TestHttpServer::randomRoute(8 * 16 * 1024 + i, 50 + i));
            tasks.push_back(task(paths[i], dir.filePath(QString::number(i))));
        }
        for (auto &many : tasks)
            many->start();
        tasks[0]->pause();
        tasks[1]->cancel();
        for (int i = 2; i < 12; ++i) {
            QCOMPARE(downloadFault(*tasks[i], server->route(paths[i]).body), QString());
            QCOMPARE(server->requestsFor(paths[i]).size(), 9); // the probe and eight parts
        }
        // By now any request of the two would have come.
        QVERIFY(server->requestsFor(paths[0]).isEmpty() && server->requestsFor(paths[1]).isEmpty());
        tasks[0]->resume();
        QCOMPARE(downloadFault(*tasks[0], server->route(paths[0]).body), QString());
    }

    void retryAfter_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<qint64>("ms");
        QTest::newRow("seconds") << QByteArray(" 120 ") << qint64(120000);
        QTest::newRow("seconds past the cap") << QByteArray("86400") << kRetryAfterCapMs;
        QTest::newRow("negative") << QByteArray("-3") << qint64(-1);
        QTest::newRow("words") << QByteArray("soon") << qint64(-1);
        QTest::newRow("IMF date") << QByteArray("Mon, 07 Dec 2026 12:00:30 GMT") << qint64(30000);
        QTest::newRow("RFC 850 date")
            << QByteArray("Monday, 07-Dec-26 12:01:00 GMT") << qint64(60000);
        QTest::newRow("asctime date") << QByteArray("Mon Dec  7 12:00:10 2026") << qint64(10000);
        QTest::newRow("date gone by") << QByteArray("Sun, 06 Dec 2026 12:00:00 GMT") << qint64(0);
        QTest::newRow("date past the cap")
            << QByteArray("Tue, 08 Dec 2026 12:00:00 GMT") << kRetryAfterCapMs;
    }
    void retryAfter()
    {
        QFETCH(QByteArray, value);
        QFETCH(qint64, ms);
        const QDateTime now(QDate(2026, 12, 7), QTime(12, 0), Qt::UTC);
        QCOMPARE(retryAfterMs(value, now), ms);
    }

    // Outages are waited out, the wait shown: a server away when the download starts, and the
    // download completes byte-exact with no retry by hand. An outage longer than the user allows
    // ends in error with its reason, resumable from the bytes on the disk. (503 answers: a row of
    // downloadsEndByteExact; a server restarting mid-download: a row of tst_fetchtool.)
    void outagesAreWaitedOut_data()
    {
        QTest::addColumn<QString>("outage");
        QTest::newRow("server away at the start") << "start";
        QTest::newRow("network back: no wait to the end") << "network";
        QTest::newRow("longer than allowed: fails, and a resume continues") << "too long";
    }
    void outagesAreWaitedOut()
    {
        QFETCH(QString, outage);
        // A request's failure reported twice (an abort on top of its own error).
        QTest::failOnWarning(QRegularExpression("must only be called once"));
        auto r = TestHttpServer::randomRoute(1024 * 1024 + 5, 3);
        r.trickleBytes = 8192; // every part is still running when the server goes
        r.headers = {{"ETag", "\"v1\""}};
        server->setRoute("/f.bin", r);
        bool sawWaiting = false;
        auto t = task("/f.bin"); // its link names the server, which is not there for long
        // Only the news of the network ends a wait this long in time.
        t->setRetryBaseDelayMs(outage == "network" ? 60000 : 50);
        connect(t.get(), &DownloadTask::progressUpdated, this, [&sawWaiting, raw = t.get()] {
            sawWaiting = sawWaiting || (raw->retryInSeconds >= 0 && !raw->lastDlpMessage.isEmpty());
        });
        if (outage == "too long") {
            server->goAwayAfterBytes(r.body.size() / 3, 2500);
            setGiveUpAfterMs(500);
        } else {
            server->goAway(outage == "start" ? 1200 : 300);
        }
        t->start();
        int requestsBefore = 0;
        if (outage == "network") {
            QVERIFY(QTest::qWaitFor([&] { return server->isListening() && sawWaiting; }, 5000));
            emit NetworkWatch::shared()->regained();
        } else if (outage == "too long") {
            QVERIFY(waitForEnd(*t));
            QCOMPARE(t->status, 3);
            QCOMPARE(t->retryInSeconds, -1);
            QCOMPARE(t->lastDlpMessage,
                     T(QStringLiteral("Connection failed: %1")).arg("Connection refused"));
            QVERIFY(QTest::qWaitFor([&] { return server->isListening(); }, 5000));
            requestsBefore = int(server->requests.size());
            t->resume();
        }
        QCOMPARE(downloadFault(*t, r.body), QString());
        QVERIFY(sawWaiting);
        QCOMPARE(t->retryInSeconds, -1);
        QVERIFY(t->lastDlpMessage.isEmpty());
        if (outage == "too long") // from the bytes on the disk
            QVERIFY(TestHttpServer::bytesAskedFor(server->requests.mid(requestsBefore)) <
                    r.body.size());
        else // the probe was asked again, and the file still came in eight parts
            QVERIFY(server->requestsFor("/f.bin").size() >= 9);
    }

    // A file behind a login, redirected to another host: the browser's session opens it and its
    // cookie never leaves the link's host, also when resumed parts follow the redirect again. (A
    // login page where a part expected bytes is crashImage's "login page" row.)
    void browserSessionStaysOnItsHost()
    {
        TestHttpServer elsewhere;
        QVERIFY(elsewhere.start(QHostAddress(QStringLiteral("127.0.0.2"))));
        auto file = TestHttpServer::randomRoute(200 * 1024 + 5, 40);
        file.trickleBytes = 2048;
        elsewhere.setRoute("/cdn.zip", file);
        TestHttpServer::Route hop;
        hop.needCookie = "sid=s3cret";
        hop.needReferer = "http://page.test/list?x=1";
        hop.redirectTo = elsewhere.url("/cdn.zip").toEncoded();
        server->setRoute("/go", hop);
        auto t = task("/go");
        t->browserSession = {"http://page.test/list?x=1#top", "TestBrowser/1.0",
                             "theme=dark; sid=s3cret"};
        t->start();
        QVERIFY(QTest::qWaitFor([&] { return t->downloadedSize > 30 * 1024; }, 10000));
        t->pause();
        t->resume();
        QCOMPARE(downloadFault(*t, file.body), QString());
        QVERIFY(t->browserSession.isEmpty()); // nothing to keep once done
        QVERIFY(server->requestsFor("/go").size() > 2);
        for (const auto &request : elsewhere.requestsFor("/cdn.zip")) {
            QVERIFY(!request.headers.contains("cookie"));
            QCOMPARE(request.headers.value("referer"), QByteArray("http://page.test/list?x=1"));
            QCOMPARE(request.headers.value("user-agent"), QByteArray("TestBrowser/1.0"));
        }
    }

    // A web page is never saved as the file, whatever its headers claim; under a page's own name,
    // or when the user chose to take the page, it is the file. The answers trickle in, so that
    // the first bytes come a few at a time.
    void pagesWhateverTheHeaders_data()
    {
        QTest::addColumn<QByteArray>("types"); // Content-Type headers, "|" between two
        QTest::addColumn<QByteArray>("start"); // the body's first bytes; random bytes follow
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("outcome"); // "saved", "refused", or "taken" by the user's choice
        const QByteArray page = "\xEF\xBB\xBF \r\n\t<!DOCTYPE HTML>\n<title>Sign in</title>";
        const QString zip = "f.zip", saved = "saved", refused = "refused";
        QTest::newRow("two types, one a page")
            << QByteArray("application/zip|text/html") << QByteArray("PK") << zip << refused;
        QTest::newRow("a page said to be a zip")
            << QByteArray("application/zip") << page << zip << refused;
        QTest::newRow("a page under a page's name")
            << QByteArray("application/zip") << page << "f.html" << saved;
        QTest::newRow("a page the user chose to take")
            << QByteArray("text/html") << page << zip << "taken";
        QTest::newRow("a page whose first part is all blank lines") // known only at the end
            << QByteArray("application/zip") << QByteArray(60, '\n') + "<html>" << zip << refused;
        QTest::newRow("a tag that only begins like a page's")
            << QByteArray("application/zip") << QByteArray("  <header>") << zip << saved;
    }
    void pagesWhateverTheHeaders()
    {
        QFETCH(QByteArray, types);
        QFETCH(QByteArray, start);
        QFETCH(QString, name);
        QFETCH(QString, outcome);
        auto r = TestHttpServer::randomRoute(400, 41);
        r.body.replace(0, start.size(), start);
        for (const QByteArray &type : types.split('|'))
            r.headers.append({"Content-Type", type});
        r.trickleBytes = 6;
        r.trickleOnlyAt = 0;
        server->setRoute("/f", r);
        auto t = task("/f", dir.filePath(name));
        t->webPageAccepted = outcome == "taken";
        t->start();
        if (outcome != "refused") {
            QCOMPARE(downloadFault(*t, r.body), QString());
            return;
        }
        QVERIFY(waitForEnd(*t));
        QCOMPARE(t->status, 3);
        QCOMPARE(t->lastDlpMessage, pageInsteadOfFileText());
        // Refused before its first bytes are written; one known only at the end stays on the
        // disk, as a file that fails its digest does, but never counts as done.
        QVERIFY(!readFile(t->savePath()).contains(start) || start.startsWith('\n'));
    }

    // A file is compared with the digest its server gives, in a header or a checksum file beside
    // it, before it counts as done. A mismatch fails and keeps the file; Retry fetches it anew.
    // A digest of the wrong length or for another file is no digest of this one.
    void verifiedAtCompletion_data()
    {
        // A header "Name: value", or "PATH|BODY" for a checksum file ("!PATH" served as a web
        // page); RIGHT, RIGHT512 and WRONG stand for the digests.
        QTest::addColumn<QByteArray>("given");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("source");
        const int verified = ChecksumResult::Verified, none = ChecksumResult::None,
                  mismatch = ChecksumResult::Mismatch;
        QTest::newRow("Repr-Digest among others, SHA-512 preferred, with a parameter")
            << QByteArray("Repr-Digest: md5=:AAAA:, sha-256=:WRONG:, SHA-512=:RIGHT512:;p=1")
            << verified << "Repr-Digest";
        QTest::newRow("digests too short or not base64")
            << QByteArray("Repr-Digest: sha-256=:AAAA:, sha-512=:not*base64:") << none << "";
        QTest::newRow("Content-Digest of a ranged answer, not of the file")
            << QByteArray("Content-Digest: sha-256=:WRONG:") << none << "";
        QTest::newRow("Digest") << QByteArray("Digest: SHA-256=RIGHT") << verified << "Digest";
        QTest::newRow(".sha256 beside it, made for it under another name")
            << QByteArray("/pub/v.iso.sha256|RIGHT  renamed.iso\n") << verified << "v.iso.sha256";
        QTest::newRow(".sha512 beside it, the digest alone")
            << QByteArray("/pub/v.iso.sha512|RIGHT512\n") << verified << "v.iso.sha512";
        QTest::newRow(".sha256 beside it, for two files")
            << QByteArray("/pub/v.iso.sha256|WRONG  a\nRIGHT  b\n") << none << "";
        QTest::newRow("SHA256SUMS that does not match")
            << QByteArray("/pub/SHA256SUMS|RIGHT  other.iso\nWRONG *v.iso\n") << mismatch
            << "SHA256SUMS";
        QTest::newRow("SHA256SUMS with comments, markup, BSD style")
            << QByteArray("/pub/SHA256SUMS|# sums\n<b>RIGHT</b>  v.iso\nWRONG  other.iso\n"
                          "SHA256 (v.iso) = RIGHT\n")
            << verified << "SHA256SUMS";
        QTest::newRow("SHA256SUMS without this file")
            << QByteArray("/pub/SHA256SUMS|RIGHT  other.iso\n") << none << "";
        QTest::newRow("a web page where the file would be")
            << QByteArray("!/pub/v.iso.sha256|RIGHT  v.iso\n") << none << "";
    }
    void verifiedAtCompletion()
    {
        QFETCH(QByteArray, given);
        QFETCH(int, state);
        QFETCH(QString, source);
        auto r = TestHttpServer::randomRoute(300 * 1024 + 9, 42);
        const QByteArray right = QCryptographicHash::hash(r.body, QCryptographicHash::Sha256);
        const QByteArray wrong = QCryptographicHash::hash("other", QCryptographicHash::Sha256);
        const bool header = !given.contains('|');
        const QByteArray right512 = QCryptographicHash::hash(r.body, QCryptographicHash::Sha512);
        given.replace("RIGHT512", header ? right512.toBase64() : right512.toHex());
        given.replace("RIGHT", header ? right.toBase64() : right.toHex());
        given.replace("WRONG", header ? wrong.toBase64() : wrong.toHex());
        const int split = given.indexOf(header ? ':' : '|');
        const QByteArray sidecarPath = given.left(split).mid(given.startsWith('!'));
        if (header) {
            r.headers.append({given.left(split), given.mid(split + 1).trimmed()});
        } else {
            TestHttpServer::Route sums;
            sums.body = given.mid(split + 1);
            if (given.startsWith('!'))
                sums.headers = {{"Content-Type", "text/html"}};
            server->setRoute(sidecarPath, sums);
        }
        server->setRoute("/pub/v.iso", r);
        auto t = task("/pub/v.iso");
        t->start();
        QVERIFY(waitForEnd(*t));
        QCOMPARE(int(t->checksum.state), state);
        QCOMPARE(t->checksum.expected.source, source);
        QVERIFY(readFile(out()) == r.body); // kept under its name, whatever the check says
        // Servers that send digests only on request are asked for them by the probe.
        QCOMPARE(server->requestsFor("/pub/v.iso").first().headers.value("want-repr-digest"),
                 QByteArray("sha-256=10, sha-512=5"));
        QCOMPARE(t->status, state == ChecksumResult::Mismatch ? 3 : 2);
        if (state != ChecksumResult::Mismatch)
            return;
        QCOMPARE(t->lastDlpMessage, T(QStringLiteral("Checksum mismatch")));
        QCOMPARE(t->checksum.actual, right);
        // The server mends its digest, slow to come: Retry downloads the whole file again (a file
        // as long as the download proves nothing). Paused while the file is checked, the check
        // stops; a resume checks it again, and it passes.
        TestHttpServer::Route &sums = server->route(sidecarPath);
        sums.body = right.toHex() + "  v.iso\n";
        sums.silentRequests = {int(server->requestsFor(sidecarPath).size()) + 1};
        const int requests = server->requestsFor("/pub/v.iso").size();
        t->resume();
        QVERIFY(QTest::qWaitFor([&] { return t->checking; }, 5000));
        t->pause();
        QVERIFY(!t->checking && t->status == 0);
        t->resume();
        QCOMPARE(downloadFault(*t, r.body), QString());
        QCOMPARE(t->checksum.state, ChecksumResult::Verified);
        QVERIFY(server->requestsFor("/pub/v.iso").size() > requests + 1);
    }

    // A download from the saved list with no record of its parts to read. A file shorter than the
    // download is a prefix written in order, continued from its length with a look back; one as
    // long may be pre-sized with zeros where parts never wrote: it proves nothing, and is fetched
    // anew. What someone else put where the record goes (a folder shared with other users) is
    // never read unless a small regular file, never written through, never waited on.
    void restoredWithoutARecord_data()
    {
        QTest::addColumn<bool>("presized");
        QTest::addColumn<QString>("plant"); // at the record's name, or at its fixed temporary one
        QTest::newRow("shorter file: continued from its length") << false << "";
        QTest::newRow("pre-sized file: fetched anew") << true << "";
#ifndef Q_OS_WIN // links and pipes in a folder are Unix things
        QTest::newRow("record: link to another record") << true << "link";
        QTest::newRow("record: pipe") << true << "pipe";
        QTest::newRow("fixed temporary name: link") << true << "temporary link";
#endif
    }
    void restoredWithoutARecord()
    {
        QFETCH(bool, presized);
        QFETCH(QString, plant);
        auto r = TestHttpServer::randomRoute(64 * 1024, 23);
        r.trickleBytes = 2048; // still running when paused
        server->setRoute("/n.bin", r);
        const QByteArray onDisk = r.body.left(40000);
        const QByteArray zeros(r.body.size() - onDisk.size(), '\0');
        QVERIFY(writeFile(out(), presized ? onDisk + zeros : onDisk));
        TransferProgress all; // the other record claims every byte of the file
        all.totalSize = r.body.size();
        all.numParts = 1;
        all.partOffsets = {all.totalSize};
        const QString other = dir.filePath("other.torvane");
        const QByteArray claim = recordOf(server->url("/n.bin"), all);
        QVERIFY(writeFile(other, claim));
        const QString at =
            Checkpoint::pathFor(out()) + (plant.startsWith("temporary") ? ".new" : "");
        QFile::remove(at);
#ifndef Q_OS_WIN
        if (plant == "pipe")
            QCOMPARE(::mkfifo(QFile::encodeName(at).constData(), 0600), 0);
        else if (!plant.isEmpty())
            QVERIFY(QFile::link(other, at));
#endif
        {
            auto t = task("/n.bin");
            QCOMPARE(t->adoptCheckpoint(), -1);
            t->totalSize = r.body.size();
            t->downloadedSize = 400;
            t->resume();
            if (!plant.isEmpty()) {
                QVERIFY(QTest::qWaitFor([&] { return t->downloadedSize > 1024; }, 5000));
                t->pause(); // records where the parts stand
                QTRY_VERIFY(Checkpoint::read(out(), server->url("/n.bin")).isValid());
                t->resume();
            }
            QCOMPARE(downloadFault(*t, r.body), QString());
            if (!presized) // and no probe
                QCOMPARE(TestHttpServer::bytesAskedFor(server->requestsFor("/n.bin")),
                         r.body.size() - 40000 + PartConnections::ResumeOverlap);
        } // waits for its records
        QVERIFY(readFile(other) == claim);
        QCOMPARE(QDir(dir.path()).entryList({"out.bin*"}, QDir::AllEntries | QDir::System),
                 QStringList{"out.bin"});
    }

    // A process killed mid-transfer leaves the file and its checkpoint as they were; the copy of
    // both taken here is that image. A new task, which does not even know the size (the list was
    // saved before the probe answered), continues every part from the checkpoint. A file changed
    // on the server, even without a word (the same size, no validators), or a record that claims
    // bytes the file lacks, is fetched anew; an answer that cannot be the file leaves the bytes on
    // the disk as they are.
    void crashImageContinuesFromTheCheckpoint_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("refusal"); // why the resume fails; empty: it completes
        // 244 bytes in UTF-8: no room beside it for the record's usual name.
        const QString longName = QString(120, QChar(0x0645)) + ".bin";
        const QString plain = "o.bin", done;
        const QString other = T("The server sent something other than the file");
        QTest::newRow("same file, long name: each part continues") << "none" << longName << done;
        QTest::newRow("new version: fetched anew") << "version" << plain << done;
        QTest::newRow("same size, no validators: fetched anew") << "silent" << plain << done;
        QTest::newRow("record claims missing bytes: fetched anew") << "claim" << plain << done;
        QTest::newRow("record claims a part whole: fetched anew") << "whole part" << plain << done;
        QTest::newRow("login page, name without suffix: refused")
            << "page" << QString("o") << pageInsteadOfFileText();
        QTest::newRow("whole body of another size: refused") << "whole" << plain << other;
    }
    void crashImageContinuesFromTheCheckpoint()
    {
        QFETCH(QString, change);
        QFETCH(QString, name);
        QFETCH(QString, refusal);
        auto r = TestHttpServer::randomRoute(8 * 384 * 1024, 27);
        r.trickleBytes = 2048; // 800 KB/s on eight connections: checkpoints come before the end
        r.headers = {{"ETag", "\"v1\""}, {"Content-Type", "application/octet-stream"}};
        server->setRoute("/c.bin", r);
        const QUrl url = server->url("/c.bin");
        const QString path = dir.filePath(name);
        const QString image = dir.filePath("i" + name);
        QFile::remove(image);
        TransferProgress claimed;
        {
            DownloadTask first(url, path, "best");
            first.start();
            QVERIFY(QTest::qWaitFor(
                [&] { return Checkpoint::read(path, url).downloadedBytes() > r.body.size() / 4; },
                10000));
            // The record first: every byte it claims was written before it, so also before the
            // copy of the data. On Windows a copy that meets the record being replaced fails, and
            // is made again.
            QVERIFY(QTest::qWaitFor([&] {
                QFile::remove(Checkpoint::pathFor(image));
                return QFile::copy(Checkpoint::pathFor(path), Checkpoint::pathFor(image));
            }));
            QVERIFY(QFile::copy(path, image));
            claimed = Checkpoint::read(image, url);
        } // destroyed while running, like a program that quits: its requests stop with it
        QTRY_COMPARE(server->openConnections, 0);
        const QByteArray before = readFile(image); // holds every byte the record claims
        for (int i = 0; i < claimed.numParts; ++i) {
            const qint64 first = claimed.rangeOf(i).first;
            const qint64 length = claimed.partOffsets[i] - first;
            QVERIFY(before.mid(first, length) == r.body.mid(first, length));
        }

        TestHttpServer::Route &now = server->route("/c.bin");
        now.trickleBytes = 0;
        if (change == "version" || change == "silent" || change == "whole") {
            now.body = TestHttpServer::randomBody(r.body.size() + (change == "silent" ? 0 : 9), 28);
            now.headers = {{"Content-Type", "application/octet-stream"}};
            if (change == "version")
                now.headers.append(qMakePair(QByteArray("ETag"), QByteArray("\"v2\"")));
            now.honourRange = change != "whole";
        } else if (change == "page") {
            now.needCookie = "session=1";
            now.loginPage = true;
        } else if (change == "claim" || change == "whole part") { // bytes part 0 never wrote
            TransferProgress edited = claimed;
            edited.partOffsets[0] = change == "claim" ? claimed.partOffsets[0] + 64 * 1024
                                                      : claimed.rangeOf(0).last + 1;
            QVERIFY(writeFile(Checkpoint::pathFor(image), recordOf(url, edited)));
            QFile f(image);
            QVERIFY(f.open(QIODevice::ReadWrite) && f.seek(claimed.partOffsets[0]));
            f.write(QByteArray(edited.partOffsets[0] - claimed.partOffsets[0], '\0'));
        }
        const int requestsBefore = server->requests.size();
        auto second = task("/c.bin", image);
        QVERIFY(second->adoptCheckpoint() > 0);
        second->resume();
        QVERIFY(waitForEnd(*second));
        if (!refusal.isEmpty()) {
            QCOMPARE(second->status, 3);
            QCOMPARE(second->lastDlpMessage, refusal);
            QVERIFY(readFile(image) == before);
            QCOMPARE(Checkpoint::read(image, url).downloadedBytes(), claimed.downloadedBytes());
            return;
        }
        QCOMPARE(downloadFault(*second, now.body), QString());
        if (change == "none") // continued from the record: what it lacks, and each look back
            QVERIFY(TestHttpServer::bytesAskedFor(server->requests.mid(requestsBefore)) <=
                    r.body.size() - claimed.downloadedBytes() + 8 * PartConnections::ResumeOverlap);
    }

    // A pause, or a write that fails, stops every part: nothing writes or asks afterwards. A
    // failed write stops the task with the reason; the bytes that did reach the file are kept, so
    // that a resume after the user put it right ends byte-exact. A file removed while written (the
    // writes go on, into nothing) is noticed on the way or at the end. A resume continues each
    // part where it stopped, with a look back at the bytes it has.
    void writeProblemStopsTheTaskAndResumeCompletes_data()
    {
        QTest::addColumn<QString>("stop");
        QTest::addColumn<bool>("fastEnd"); // over before the first timed checkpoint
        QTest::newRow("paused") << "pause" << false;
        QTest::newRow("disk full") << "disk full" << false;
        QTest::newRow("file removed, noticed on the way") << "removed" << false;
        QTest::newRow("file removed, noticed at the end") << "removed" << true;
    }
    void writeProblemStopsTheTaskAndResumeCompletes()
    {
        QFETCH(QString, stop);
        QFETCH(bool, fastEnd);
        const bool diskFull = stop == "disk full";
        std::unique_ptr<SmallDisk> disk;
        QString path = out();
        if (diskFull) {
            disk = std::make_unique<SmallDisk>(1024 * 1024);
            if (!disk->isMounted())
                QSKIP(qPrintable("needs a small tmpfs, which needs root: " + disk->error()));
            path = disk->filePath("big.bin");
        }
        auto r = TestHttpServer::randomRoute(3 * 1024 * 1024, 29);
        r.trickleBytes = 2048; // still running when the first timed checkpoint looks at the file
        if (fastEnd) { // only the last part crawls, and is over before a tick looks at the file
            r.trickleBytes = 16 * 1024;
            r.trickleOnlyAt = 7 * r.body.size() / 8;
        }
        server->setRoute("/w.bin", r);
        DownloadTask t(server->url("/w.bin"), path, "best");
        t.start();
        if (!diskFull)
            QVERIFY(QTest::qWaitFor([&] { return t.downloadedSize > 256 * 1024; }, 10000));
        if (stop == "pause") {
            t.pause();
        } else if (stop == "removed") {
#ifdef Q_OS_WIN
            // Windows removes no file that is open: the download goes on and completes.
            QVERIFY(!QFile::remove(path));
            server->route("/w.bin").trickleBytes = 0;
            QCOMPARE(downloadFault(t, r.body), QString());
            return;
#endif
            QVERIFY(QFile::remove(path));
        }
        QVERIFY(QTest::qWaitFor([&] { return t.status != 1; }, 10000));
        QCOMPARE(t.status, stop == "pause" ? 0 : 3);
        QCOMPARE(t.lastDlpMessage, stop == "pause" ? QString()
                                   : diskFull      ? T("Disk full")
                                                   : T("The file was removed"));
        // Every part stopped with it.
        if (!fastEnd)
            QTRY_COMPARE(server->openConnectionsNow(), 0);
        const int requests = server->requests.size();
        const qint64 kept = t.downloadedSize;
        QTest::qWait(300);
        QCOMPARE(server->requests.size(), requests);
        QCOMPARE(t.downloadedSize, kept);
        // A checkpoint of a file that is gone is no use to anyone.
        QCOMPARE(QFile::exists(Checkpoint::pathFor(path)), stop != "removed");

        if (diskFull)
            QVERIFY(disk->resize(8 * 1024 * 1024));
        server->route("/w.bin").trickleBytes = 0;
        server->route("/w.bin").trickleOnlyAt = -1;
        if (stop == "pause") // the figure shown is what the parts hold
            QTRY_COMPARE(t.transferProgress().downloadedBytes(), kept);
        t.resume();
        QCOMPARE(downloadFault(t, r.body), QString());
        const qint64 asked = TestHttpServer::bytesAskedFor(server->requests.mid(requests));
        if (stop != "removed") // each part from where its last write ended, with a look back
            QVERIFY(asked >= r.body.size() - kept &&
                    asked <= r.body.size() - kept + 8 * PartConnections::ResumeOverlap);
    }

    // A signed link expires mid-download (its token is spent: 403). A new link is checked before
    // the download takes it: only the same file continues, from the bytes on the disk; any other
    // is refused with the check that failed, and the download and its file stay as they were.
    void expiredLinkContinuesOnlyWithTheSameFile()
    {
        auto file = TestHttpServer::randomRoute(512 * 1024, 31);
        file.headers = {{"ETag", "\"v1\""}, {"Last-Modified", "Mon, 07 Dec 2026 10:00:00 GMT"}};
        file.tokens = {{"old", 9}, {"new", -1}}; // the probe and the eight parts
        file.dropAtByte = 300 * 1024; // the part asked again after this finds its link expired
        file.dropTimes = 1;
        server->setRoute("/file.bin", file);
        TestHttpServer::Route other = file;
        other.tokens.clear();
        other.dropTimes = 0;
        other.headers = {{"ETag", "\"v2\""}};
        server->setRoute("/etag.bin", other);
        other.headers = {{"ETag", "\"v1\""}, {"Last-Modified", "Tue, 08 Dec 2026 10:00:00 GMT"}};
        server->setRoute("/date.bin", other);
        other.headers = {{"Content-Type", "text/html"}};
        server->setRoute("/page.bin", other);
        other.headers.clear();
        other.body += 'x';
        server->setRoute("/bigger.bin", other);
        server->setRoute("/other.bin", TestHttpServer::randomRoute(file.body.size(), 32));

        auto t = std::make_unique<DownloadTask>(server->url("/file.bin?token=old"), out(), "");
        t->start();
        QVERIFY(waitForEnd(*t));
        QCOMPARE(t->status, 3);
        QVERIFY(t->waitsForNewLink());
        // The sample of the disk in its facts tells the fresh token's link from other bytes.
        const LinkFacts facts = t->linkFacts();
        const QByteArray before = readFile(out());

        const QList<QPair<QByteArray, LinkVerdict>> links = {
            {"/file.bin?token=old", LinkVerdict::NoAnswer},
            {"/page.bin", LinkVerdict::WebPage},
            {"/bigger.bin", LinkVerdict::SizeDiffers},
            {"/etag.bin", LinkVerdict::ValidatorsDiffer},
            {"/date.bin", LinkVerdict::ValidatorsDiffer},
            {"/other.bin", LinkVerdict::ContentDiffers},
            {"/file.bin?token=new", LinkVerdict::Same}};
        LinkAnswer answer; // the last link's, the only one that may be taken
        for (const auto &[link, verdict] : links) {
            LinkCheck check;
            QSignalSpy checked(&check, &LinkCheck::finished);
            check.start(server->url(link), BrowserSession(), facts);
            QVERIFY(checked.wait(10000));
            QVERIFY2(checked.at(0).at(0).value<LinkVerdict>() == verdict, link.constData());
            QCOMPARE(checked.at(0).at(1).toString().isEmpty(), verdict == LinkVerdict::Same);
            answer = checked.at(0).at(2).value<LinkAnswer>();
        }
        QVERIFY(readFile(out()) == before);
        const int asked = server->requests.size();
        t->continueWithLink(server->url("/file.bin?token=new"), BrowserSession(), answer);
        QCOMPARE(t->sourcePage(), server->url("/file.bin?token=old").toString());
        QCOMPARE(downloadFault(*t, file.body), QString());
        QCOMPARE(t->url(), server->url("/file.bin?token=new"));
        // Only what the disk lacked (and each part's look back) was fetched again.
        QVERIFY(TestHttpServer::bytesAskedFor(server->requests.mid(asked)) < file.body.size());
    }
};

QTEST_GUILESS_MAIN(TstHttpTransfer)
#include "tst_httptransfer.moc"
