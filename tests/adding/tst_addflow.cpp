#include "adding/addurldialog.h"
#include "adding/categoryfolder.h"
#include "engine/downloadtask.h"
#include "language/translation.h"
#include "testhttpserver.h"
#include "views/downloaddetailsdialog.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

// From the dialog's answers to a file on disk: a link described in the dialog downloads
// byte-exact into its category folder, whatever name the server offers, and the details dialog
// ends in its completed view. The download location is a throw-away home folder.
class TestAddFlow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        g_lang = QStringLiteral("en");
        const QString downloads =
            QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
        QVERIFY2(downloads.startsWith(QDir::homePath()) &&
                     QDir::homePath().startsWith(QDir::tempPath()),
                 qPrintable(downloads));
        QVERIFY(server.start());
    }

    void addAndDownload_data()
    {
        QTest::addColumn<QByteArray>("disposition");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("category");
        QTest::newRow("plain") << QByteArray() << "data.zip"
                               << "Compressed";
        QTest::newRow("climbing name")
            << QByteArray("attachment; filename=\"../../../evil.pdf\"") << "evil.pdf"
            << "Documents";
        QTest::newRow("device name") << QByteArray("attachment; filename=\"aux.mp3\"") << "aux_.mp3"
                                     << "Audio";
    }

    void addAndDownload()
    {
        QFETCH(QByteArray, disposition);
        QFETCH(QString, fileName);
        QFETCH(QString, category);

        const QByteArray body = TestHttpServer::randomBody(3 * 1024 * 1024 + 17, 7);
        TestHttpServer::Route r;
        r.body = body;
        if (!disposition.isEmpty())
            r.headers = {{"Content-Disposition", disposition}};
        server.setRoute("/pkg/data.zip", r);

        AddUrlDialog dialog(QString(), QString(), 0, nullptr);
        auto *url = dialog.findChild<QLineEdit *>(QStringLiteral("urlInput"));
        auto *path = dialog.findChild<QLineEdit *>(QStringLiteral("pathInput"));
        url->setText(server.url("/pkg/data.zip").toString());
        QTRY_VERIFY(!path->text().isEmpty());
        auto *start = dialog.findChild<QPushButton *>(QStringLiteral("btnStart"));
        QTimer::singleShot(0, start, &QPushButton::click);
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        QVERIFY(!dialog.isQueued());

        const QString target = dialog.getSavePath();
        const QString folder = QDir::fromNativeSeparators(QStandardPaths::writableLocation(
                                   QStandardPaths::DownloadLocation)) +
                               "/Torvane/" + category;
        QCOMPARE(target, folder + "/" + fileName);

        DownloadTask task(QUrl(dialog.getUrl()), target, dialog.getQuality());
        QCOMPARE(task.category, category);
        task.start();
        DownloadDetailsDialog details(&task, nullptr);
        QTRY_COMPARE_WITH_TIMEOUT(task.status, 2, 30000);

        QFile file(target);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll() == body);
        // Nothing was written anywhere but the category folder.
        QDirIterator it(QDir::homePath(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString written = it.next();
            QVERIFY2(written.startsWith(folder + "/") || written.contains("/.qttest/"),
                     qPrintable(written));
        }

        QTRY_VERIFY(!details.findChild<QWidget *>(QStringLiteral("completedWidget"))->isHidden());
        QCOMPARE(details.findChild<QLabel *>(QStringLiteral("CompStatus"))->text(),
                 QStringLiteral("3.00 MB  |  \u2714 Done"));
        QCOMPARE(details.findChild<QLabel *>(QStringLiteral("CompName"))->text(), fileName);
        QVERIFY(QFile::remove(target));
    }

private:
    TestHttpServer server;
};

int main(int argc, char **argv)
{
    // The download location follows the home folder; point it at a throw-away one before Qt
    // reads it.
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
