#include "engine/downloadtask.h"
#include "language/translation.h"
#include "views/downloaddetailsdialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

template <typename W> W *child(QObject *parent, const char *name)
{
    W *w = parent->findChild<W *>(QLatin1String(name));
    if (!w)
        qFatal("no child %s", name);
    return w;
}

QString text(QObject *dialog, const char *name)
{
    return child<QLabel>(dialog, name)->text();
}

} // namespace

// The details dialog against tasks put into each state by hand: the engine is not exercised.
class TestDownloadDetailsDialog : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(dir.isValid());
    }

    void init() { g_lang = QStringLiteral("en"); }

    // A running transfer shows its figures and switches to the completed view when it ends.
    void runningThenDone()
    {
        DownloadTask task(QUrl(QStringLiteral("http://127.0.0.1:1/a.pdf")),
                          dir.filePath(QStringLiteral("a.pdf")), QStringLiteral("best"));
        task.status = 1;
        task.totalSize = 1048576000;
        task.downloadedSize = 13107200;
        task.currentSpeed = 1048576.0;
        DownloadDetailsDialog d(&task, nullptr);
        QCOMPARE(text(&d, "statusLbl"), QStringLiteral("Downloading..."));
        QCOMPARE(text(&d, "sizeLbl"), QStringLiteral("1000.00 MB"));
        QCOMPARE(text(&d, "downLbl"), QStringLiteral("12.50 MB (1%)"));
        QCOMPARE(text(&d, "speedLbl"), QStringLiteral("1.00 MB/s"));
        QCOMPARE(text(&d, "etaLbl"), QStringLiteral("16m 27s"));
        QCOMPARE(child<QProgressBar>(&d, "mainProgBar")->value(), 1);
        QCOMPARE(child<QPushButton>(&d, "btnPauseResume")->text(), QStringLiteral("Pause"));
        QCOMPARE(d.windowTitle(), QStringLiteral("a.pdf - Download status"));

        task.downloadedSize = task.totalSize;
        task.status = 2;
        QTRY_VERIFY(!child<QWidget>(&d, "completedWidget")->isHidden());
        QVERIFY(child<QWidget>(&d, "downloadingWidget")->isHidden());
        QCOMPARE(text(&d, "CompStatus"), QStringLiteral("1000.00 MB  |  \u2714 Done"));
        QCOMPARE(child<QLineEdit>(&d, "dstEdit")->text(), task.savePath());
        QVERIFY(!d.findChild<QTimer *>()->isActive());

        // The completed view is final, and a dialog opened on a done task starts in it.
        task.status = 0;
        QTest::qWait(200);
        QVERIFY(child<QWidget>(&d, "downloadingWidget")->isHidden());
        task.status = 2;
        DownloadDetailsDialog reopened(&task, nullptr);
        QVERIFY(!child<QWidget>(&reopened, "completedWidget")->isHidden());
    }

    // The error state, and "Retry" putting the task back to work.
    void errorStateAndRetry()
    {
        DownloadTask task(QUrl(QStringLiteral("http://127.0.0.1:1/b.zip")),
                          dir.filePath(QStringLiteral("b.zip")), QStringLiteral("best"));
        task.status = 3;
        task.lastDlpMessage = QStringLiteral("ERROR: HTTP Error 404");
        DownloadDetailsDialog d(&task, nullptr);
        QCOMPARE(text(&d, "statusLbl"), QStringLiteral("ERROR: HTTP Error 404"));
        QCOMPARE(text(&d, "speedLbl"), QStringLiteral("0 MB/s"));
        QCOMPARE(text(&d, "etaLbl"), QStringLiteral("Failed"));
        QPushButton *retry = child<QPushButton>(&d, "btnPauseResume");
        QCOMPARE(retry->text(), QStringLiteral("Retry"));

        task.lastDlpMessage.clear();
        QTRY_COMPARE(text(&d, "statusLbl"), QStringLiteral("Error"));

        retry->click();
        QCOMPARE(task.status, 1);
        QCOMPARE(text(&d, "statusLbl"), QStringLiteral("Downloading..."));
        QCOMPARE(retry->text(), QStringLiteral("Pause"));
        task.cancel();
    }

    void pauseResumeAndCancel()
    {
        DownloadTask task(QUrl(QStringLiteral("http://127.0.0.1:1/c.zip")),
                          dir.filePath(QStringLiteral("c.zip")), QStringLiteral("best"));
        task.status = 1;
        task.totalSize = 100;
        DownloadDetailsDialog d(&task, nullptr);
        d.show();
        QPushButton *toggle = child<QPushButton>(&d, "btnPauseResume");
        toggle->click();
        QCOMPARE(task.status, 0);
        QCOMPARE(toggle->text(), QStringLiteral("Resume"));
        QTRY_COMPARE(text(&d, "statusLbl"), QStringLiteral("Paused"));

        child<QPushButton>(&d, "btnCancel")->click();
        QCOMPARE(task.status, 4);
        QVERIFY(d.isHidden());
        // Canceled leaves the last state texts and the button alone.
        QTest::qWait(200);
        QCOMPARE(text(&d, "statusLbl"), QStringLiteral("Paused"));
        QCOMPARE(toggle->text(), QStringLiteral("Resume"));
        toggle->click();
        QCOMPARE(task.status, 4);
    }

    void arabicLayout()
    {
        g_lang = QStringLiteral("ar");
        DownloadTask task(QUrl(QStringLiteral("http://127.0.0.1:1/d.pdf")),
                          dir.filePath(QStringLiteral("d.pdf")), QStringLiteral("best"));
        DownloadDetailsDialog d(&task, nullptr);
        QCOMPARE(d.layoutDirection(), Qt::RightToLeft);
        QCOMPARE(child<QLineEdit>(&d, "srcEdit")->layoutDirection(), Qt::LeftToRight);
        QCOMPARE(child<QLineEdit>(&d, "dstEdit")->layoutDirection(), Qt::LeftToRight);
        QCOMPARE(child<QPushButton>(&d, "btnHide")->text(), T(QStringLiteral("Hide")));
        QVERIFY(child<QPushButton>(&d, "btnHide")->text() != QLatin1String("Hide"));

        g_lang = QStringLiteral("en");
        QTRY_COMPARE(d.layoutDirection(), Qt::LeftToRight);
        QTRY_COMPARE(child<QPushButton>(&d, "btnHide")->text(), QStringLiteral("Hide"));
    }

private:
    QTemporaryDir dir;
};

QTEST_MAIN(TestDownloadDetailsDialog)
#include "tst_downloaddetailsdialog.moc"
