// The lines the media tool prints, read one at a time ("Unknown" figures, TiB sizes, errors and
// warnings are read through a task in tst_mediatask).
#include "engine/media/mediaprogress.h"

#include <QtTest>

class TestMediaProgress : public QObject {
    Q_OBJECT

private slots:
    void lines_data();
    void lines();
};

void TestMediaProgress::lines_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("kind");
    QTest::addColumn<qint64>("total");
    QTest::addColumn<qint64>("done");
    QTest::addColumn<double>("speed"); // -1: no speed
    QTest::addColumn<QString>("eta");

    const int P = MediaLineInfo::Progress, M = MediaLineInfo::Message, I = MediaLineInfo::Ignored;
    QTest::newRow("estimate, fragments")
        << "[download]  25.0% of ~  91.06KiB at  253.33KiB/s ETA 00:00 (frag 0/4)" << P
        << qint64(93245) << qint64(23311) << 253.33 * 1024 << "00:00";
    QTest::newRow("gib and hours")
        << "[download]  50.0% of 1.50GiB at 10.00KiB/s ETA 01:23:45" << P << qint64(1610612736)
        << qint64(805306368) << 10240.0 << "01:23:45";
    QTest::newRow("decimal units") << "[download] 100.0% of 2.00MB at 1.00kB/s ETA 00:00" << P
                                   << qint64(2097152) << qint64(2097152) << 1024.0 << "00:00";
    QTest::newRow("plain bytes") << "[download]  10.0% of 1000B at 10B/s ETA 01:40" << P
                                 << qint64(1000) << qint64(100) << 10.0 << "01:40";
    QTest::newRow("summary") << "[download] 100% of   42.24KiB in 00:00:00 at 6.31MiB/s" << P
                             << qint64(43253) << qint64(43253) << 6.31 * 1048576 << QString();
    // Figures no file has: sizes left out rather than turned into garbage, percentages held.
    QTest::newRow("size past any file") << "[download]  42.5% of ~1099999999999999999999.00MiB at "
                                           "99999999999999999999GiB/s ETA 00:01"
                                        << P << 0ll << 0ll << -1.0 << "00:01";
    QTest::newRow("percent past all") << "[download] 150.0% of 1000B at 1.5.5KiB/s" << P
                                      << qint64(1000) << qint64(1000) << -1.0 << QString();
    const auto other = [](const char *name, const QString &line, int kind) {
        QTest::newRow(name) << line << kind << 0ll << 0ll << -1.0 << QString();
    };
    other("tag", "  [Merger] Merging formats into \"a.mp4\"  ", M);
    other("error in download line", "[download] Got error: reset", M);
    other("destination", "[download] Destination: /tmp/a.mp4", I);
}

void TestMediaProgress::lines()
{
    QFETCH(QString, line);
    QFETCH(int, kind);
    QFETCH(qint64, total);
    QFETCH(qint64, done);
    QFETCH(double, speed);
    QFETCH(QString, eta);

    const MediaLineInfo info = parseMediaLine(line);
    QCOMPARE(int(info.kind), kind);
    QCOMPARE(info.message, kind == MediaLineInfo::Message ? line.trimmed() : QString());
    QCOMPARE(info.totalSize, total);
    QCOMPARE(info.downloadedSize, done);
    QCOMPARE(info.hasSpeed, speed >= 0);
    if (speed >= 0)
        QCOMPARE(info.speed, speed);
    QCOMPARE(info.eta, eta);
}

QTEST_APPLESS_MAIN(TestMediaProgress)
#include "tst_mediaprogress.moc"
