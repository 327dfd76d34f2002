#include "engine/mediacommand.h"
#include "engine/mediaprogress.h"

#include <QtTest>

class TestMediaProgress : public QObject {
    Q_OBJECT

private slots:
    void progressLines_data();
    void progressLines();
    void otherLines_data();
    void otherLines();
    void splitter();
    void arguments_data();
    void arguments();
};

void TestMediaProgress::progressLines_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<qint64>("done");
    QTest::addColumn<double>("speed"); // -1: no speed
    QTest::addColumn<QString>("eta");  // empty: no remaining time

    QTest::newRow("estimate") << "[download]  45.0% of ~ 10.00MiB at  2.00MiB/s ETA 00:05"
                              << qint64(10485760) << qint64(4718592) << 2097152.0 << "00:05";
    QTest::newRow("hls fragments")
        << "[download]  25.0% of ~  91.06KiB at  253.33KiB/s ETA 00:00 (frag 0/4)" << qint64(93245)
        << qint64(23311) << 253.33 * 1024 << "00:00";
    QTest::newRow("gib and hours")
        << "[download]  50.0% of 1.50GiB at 10.00KiB/s ETA 01:23:45" << qint64(1610612736)
        << qint64(805306368) << 10240.0 << "01:23:45";
    QTest::newRow("decimal units") << "[download] 100.0% of 2.00MB at 1.00kB/s ETA 00:00"
                                   << qint64(2097152) << qint64(2097152) << 1024.0 << "00:00";
    QTest::newRow("plain bytes") << "[download]  10.0% of 1000B at 10B/s ETA 01:40" << qint64(1000)
                                 << qint64(100) << 10.0 << "01:40";
    QTest::newRow("unknown speed and time")
        << "[download]  50.0% of 1.00KiB at Unknown B/s ETA Unknown" << qint64(1024) << qint64(512)
        << -1.0 << QString();
    QTest::newRow("finished summary")
        << "[download] 100% of   42.24KiB in 00:00:00 at 6.31MiB/s" << qint64(43253)
        << qint64(43253) << 6.31 * 1048576 << QString();
    // Tera-sized downloads must not collapse to a few bytes.
    QTest::newRow("tib") << "[download]   1.0% of 2.00TiB at 1.00GiB/s ETA 09:00:00"
                         << qint64(2199023255552) << qint64(21990232555) << 1073741824.0
                         << "09:00:00";
}

void TestMediaProgress::progressLines()
{
    QFETCH(QString, line);
    QFETCH(qint64, total);
    QFETCH(qint64, done);
    QFETCH(double, speed);
    QFETCH(QString, eta);

    const MediaLineInfo info = parseMediaLine(line);
    QCOMPARE(info.kind, MediaLineInfo::Progress);
    QVERIFY(info.hasSizes);
    QCOMPARE(info.totalSize, total);
    QCOMPARE(info.downloadedSize, done);
    QCOMPARE(info.hasSpeed, speed >= 0);
    if (speed >= 0)
        QCOMPARE(info.speed, speed);
    QCOMPARE(info.hasEta, !eta.isEmpty());
    QCOMPARE(info.eta, eta);
}

void TestMediaProgress::otherLines_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("isMessage");

    QTest::newRow("merger tag") << "[Merger] Merging formats into \"a.mp4\"" << true;
    QTest::newRow("generic tag") << "  [generic] Extracting URL: http://x/  " << true;
    QTest::newRow("destination") << "[download] Destination: /tmp/a.mp4" << false;
    QTest::newRow("warning") << "WARNING: ffprobe not found" << false;
    QTest::newRow("error") << "ERROR: Unable to download webpage" << true;
    QTest::newRow("lower-case error in download line")
        << "[download] Got error: connection reset" << true;
    QTest::newRow("plain text") << "Deleting original file a.mp4" << false;
    QTest::newRow("lower-case tag") << "[download]x" << false;
    QTest::newRow("blank") << "   " << false;
}

void TestMediaProgress::otherLines()
{
    QFETCH(QString, line);
    QFETCH(bool, isMessage);
    const MediaLineInfo info = parseMediaLine(line);
    QCOMPARE(info.kind, isMessage ? MediaLineInfo::Message : MediaLineInfo::Ignored);
    QCOMPARE(info.message, isMessage ? line.trimmed() : QString());
    QVERIFY(!info.hasSizes && !info.hasSpeed && !info.hasEta);
}

void TestMediaProgress::splitter()
{
    QByteArray pending;
    QCOMPARE(takeCompleteLines(pending, "[download]  45.0% of ~ 10"), QList<QByteArray>());
    QCOMPARE(pending, QByteArray("[download]  45.0% of ~ 10"));
    QCOMPARE(takeCompleteLines(pending, ".00MiB\r\n[info] a\n\n[in"),
             QList<QByteArray>({"[download]  45.0% of ~ 10.00MiB\r", "[info] a", ""}));
    QCOMPARE(pending, QByteArray("[in"));
    // A UTF-8 character cut between two reads comes out whole.
    const QByteArray arabic = QString::fromUtf8("[info] \u0641\u064a\u062f\u064a\u0648").toUtf8();
    QCOMPARE(takeCompleteLines(pending, "fo] x\n" + arabic.left(9)),
             QList<QByteArray>({"[info] x"}));
    const QList<QByteArray> lines = takeCompleteLines(pending, arabic.mid(9) + "\n");
    QCOMPARE(lines.size(), 1);
    QCOMPARE(QString::fromUtf8(lines.first()), QString::fromUtf8(arabic));
    QVERIFY(pending.isEmpty());
}

void TestMediaProgress::arguments_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QStringList>("middle");

    QTest::newRow("audio") << "audio" << QStringList{"-x", "--audio-format", "mp3"};
    QTest::newRow("best") << "best"
                          << QStringList{"-f", "bestvideo+bestaudio/best", "--merge-output-format",
                                         "mp4"};
    QTest::newRow("height") << "720"
                            << QStringList{"-S", "res:720", "--merge-output-format", "mp4"};
    QTest::newRow("empty") << "" << QStringList{"-S", "res:", "--merge-output-format", "mp4"};
}

void TestMediaProgress::arguments()
{
    QFETCH(QString, format);
    QFETCH(QStringList, middle);
    const QUrl url(QStringLiteral("https://www.youtube.com/watch?v=abc&t=1"));
    const QStringList expected = QStringList{"--newline", "--no-playlist", "--force-ipv4"} +
                                 middle +
                                 QStringList{"--ffmpeg-location", "C:/App/media_codec.bin", "-o",
                                             "D:/Down/a b.mp4", url.toString()};
    QCOMPARE(mediaToolArguments(format, "C:/App/media_codec.bin", "D:/Down/a b.mp4", url),
             expected);
}

QTEST_APPLESS_MAIN(TestMediaProgress)
#include "tst_mediaprogress.moc"
