#include "adding/addurldialog.h"
#include "engine/downloadtask.h"
#include "language/translation.h"
#include "testhttpserver.h"
#include "views/downloaddetailsdialog.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

// From the dialog's answers to a file on disk: a link whose server offers a hostile name lands
// byte-exact in its category folder, and the details dialog ends in its completed view.
class TestAddFlow : public QObject {
    Q_OBJECT

private slots:
    void addAndDownload()
    {
        QStandardPaths::setTestModeEnabled(true);
        g_lang = QStringLiteral("en");
        const QString folder =
            QStandardPaths::writableLocation(QStandardPaths::DownloadLocation) + "/Torvane/Audio";
        QVERIFY2(folder.startsWith(QDir::homePath() + "/") &&
                     QDir::homePath().startsWith(QDir::tempPath()),
                 qPrintable(folder));
        TestHttpServer server;
        QVERIFY(server.start());
        const QByteArray body = TestHttpServer::randomBody(3 * 1024 * 1024 + 17, 7);
        TestHttpServer::Route r;
        r.body = body;
        r.headers = {{"Content-Disposition", "attachment; filename=\"../../../aux.mp3\""}};
        server.setRoute("/pkg/data.zip", r);

        AddUrlDialog dialog(QString(), QString(), 0, nullptr);
        dialog.findChild<QLineEdit *>("urlInput")->setText(server.url("/pkg/data.zip").toString());
        QTRY_VERIFY(!dialog.getSavePath().isEmpty());
        QTimer::singleShot(0, dialog.findChild<QPushButton *>("btnStart"), &QPushButton::click);
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        QVERIFY(!dialog.isQueued());
        QCOMPARE(dialog.getSavePath(), folder + "/aux_.mp3");

        DownloadTask task(QUrl(dialog.getUrl()), dialog.getSavePath(), dialog.getQuality());
        task.start();
        DownloadDetailsDialog details(&task, nullptr);
        details.show(); // a dialog refreshes while it is on screen
        QTRY_COMPARE_WITH_TIMEOUT(task.status, 2, 30000);
        QFile file(dialog.getSavePath());
        QVERIFY(file.open(QIODevice::ReadOnly) && file.readAll() == body);
        // Nothing was written anywhere but the category folder.
        QDirIterator it(QDir::homePath(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString written = it.next();
            QVERIFY2(written.startsWith(folder + "/") || written.contains("/.qttest/"),
                     qPrintable(written));
        }
        QTRY_VERIFY(!details.findChild<QWidget *>("completedWidget")->isHidden());
        QCOMPARE(details.findChild<QLabel *>("CompStatus")->text(), "3.00 MB  |  \u2714 Done");
        QCOMPARE(details.findChild<QLabel *>("CompName")->text(), QStringLiteral("aux_.mp3"));
    }
};

int main(int argc, char **argv)
{
    // The download location follows the home folder: a throw-away one, set before Qt reads it.
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    qputenv("HOME", home.path().toLocal8Bit());
    qunsetenv("XDG_DOWNLOAD_DIR");
    QApplication app(argc, argv);
    TestAddFlow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_addflow.moc"
