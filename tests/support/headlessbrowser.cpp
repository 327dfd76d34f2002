#include "headlessbrowser.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

QString HeadlessBrowser::chromiumPath()
{
    const QString chosen = qEnvironmentVariable("TORVANE_CHROMIUM");
    if (!chosen.isEmpty()) {
        const QString found = QStandardPaths::findExecutable(chosen);
        return found.isEmpty() ? chosen : found;
    }
    for (const char *name : {"chromium", "chromium-browser"}) {
        const QString path = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!path.isEmpty())
            return path;
    }
    return {};
}

QStringList HeadlessBrowser::arguments(const QString &profile)
{
    return {QStringLiteral("--headless"),
            QStringLiteral("--no-sandbox"),
            QStringLiteral("--disable-gpu"),
            QStringLiteral("--no-first-run"),
            QStringLiteral("--disable-sync"),
            QStringLiteral("--disable-background-networking"),
            QStringLiteral("--disable-component-update"),
            QStringLiteral("--user-data-dir=") + profile};
}

HeadlessBrowser::Run HeadlessBrowser::open(const QUrl &page, const std::function<bool()> &done,
                                           int timeoutMs)
{
    Run run;
    QTemporaryDir profile;
    // Chromium's helper processes may still write into the profile for a moment after the browser
    // has ended, so the folder is removed by hand once they are done.
    profile.setAutoRemove(false);
    const QString program = chromiumPath();
    if (program.isEmpty() || !profile.isValid()) {
        run.output = QStringLiteral("no Chromium, or no temporary profile folder");
        return run;
    }
    QProcess browser;
    browser.setProcessChannelMode(QProcess::MergedChannels);
    browser.start(program, arguments(profile.path()) << page.toString(QUrl::FullyEncoded));
    run.started = browser.waitForStarted(10000);
    if (run.started) {
        QElapsedTimer clock;
        clock.start();
        while (!(run.done = done()) && clock.elapsed() < timeoutMs &&
               browser.state() != QProcess::NotRunning)
            QTest::qWait(20);
        // A browser that quit early may still have delivered what the test waits for.
        if (!run.done) {
            QTest::qWait(200);
            run.done = done();
        }
        browser.terminate();
        if (!browser.waitForFinished(5000)) {
            browser.kill();
            browser.waitForFinished(5000);
        }
    }
    run.output = browser.errorString() + '\n' + QString::fromLocal8Bit(browser.readAll());
    QDir folder(profile.path());
    for (int attempt = 0; attempt < 30 && folder.exists(); ++attempt) {
        folder.removeRecursively();
        QTest::qWait(100);
    }
    return run;
}
