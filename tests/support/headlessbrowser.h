#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

// The machine's Chromium, run headless, for tests that need a real browser (CORS, fetch() from a
// page). Each run gets a fresh profile; tests serve their pages from loopback servers.
namespace HeadlessBrowser {

// The Chromium program, or an empty string when the machine has none. TORVANE_CHROMIUM overrides.
QString chromiumPath();

// The switches every headless run here needs: no sandbox, GPU, first-run, sync or background
// traffic (the machine has no network), and the given fresh profile folder.
QStringList arguments(const QString &profile);

struct Run {
    bool started = false; // the program could be started at all
    bool done = false;    // the condition held before the time ran out
    QString output;       // what the browser printed, for failure messages
};

// Opens the page and keeps the browser (and this thread's event loop) running until done()
// returns true or timeoutMs have passed, then ends the browser.
Run open(const QUrl &page, const std::function<bool()> &done, int timeoutMs = 60000);

} // namespace HeadlessBrowser
