// torvane-fetch [options] URL OUTPUT_PATH
//
// Downloads one link with one DownloadTask, prints progress to stderr at most twice a second and
// one summary line on stdout: "bytes=N seconds=S mib_per_s=R status=K". Exit code 0 when the
// task ended done (status 2), 1 otherwise; a failure's reason goes to stderr.
//
// Server certificates are verified against the system's trusted roots; --cacert names other roots
// and --insecure takes any certificate. The media tool keeps its own verification either way.
//
// --referer, --user-agent and --cookie send what a browser would send with the link (the cookie
// only to the link's host). A web page where the file's name promises something else (a login
// page for a .zip) is refused: exit code 1, the reason on stderr, nothing written as the file.
//
// While it runs, the engine keeps a checkpoint beside OUTPUT_PATH (OUTPUT_PATH.torvane, removed
// when the download completes). Run again with the same URL and OUTPUT_PATH after a crash, a kill
// or a failure, it continues from there instead of starting over.
//
// --limit-rate RATE keeps the download at or below RATE bytes per second, in curl's units.
//
// An outage (the server restarting, the network dropping, HTTP 503 and the like) is waited out:
// the progress line says that it waits, for how long and why, and the download continues from the
// bytes it has once the server answers. --retry-for SECONDS (600 unless given, 0 for ever) is how
// long an outage may last before the tool gives up with exit code 1.
//
// -u user:password answers a server that asks for a login (HTTP Basic or Digest): the link's own
// server only, never another host a redirect leads to.
//
// Like curl, the tool goes through the system's proxy (http_proxy, https_proxy, no_proxy) unless
// -x names one in curl's spelling or --noproxy lists hosts to reach directly ("*" for all).
//
// When the server gives the file's digest (Repr-Digest, Digest, a .sha256 file or SHA256SUMS
// beside it) or --checksum names one, the file is checked before the download counts as done:
// "verified sha-256 (Repr-Digest)" on stderr, or the mismatch with both digests and exit code 1.
#include "engine/bandwidthlimiter.h"
#include "engine/downloadtask.h"
#include "engine/http/hostlogins.h"
#include "engine/http/proxysettings.h"
#include "engine/http/retryschedule.h"
#include "engine/http/trustedcertificates.h"
#include "engine/ratetext.h"
#include "engine/storage/checksumtext.h"
#include "language/translation.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTextStream>
#include <QUrl>

#include <cstdio>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

// UTF-8 as on Linux: Windows' local 8-bit encoding would turn the dash of "Waiting for the
// server — retrying" and any file name outside its code page into '?'. A console is handed the
// text itself.
void printLine(const QString &text)
{
#ifdef Q_OS_WIN
    const HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(console, &mode)) {
        const QString line = text + QLatin1Char('\n');
        DWORD written = 0;
        WriteConsoleW(console, reinterpret_cast<const wchar_t *>(line.utf16()), DWORD(line.size()),
                      &written, nullptr);
        return;
    }
#endif
    std::fprintf(stderr, "%s\n", text.toUtf8().constData());
}

// Qt's TLS backend looks for roots only in the system's folders (/etc/ssl/certs and the like on
// Debian) and ignores OpenSSL's SSL_CERT_FILE and SSL_CERT_DIR, so other roots are named here.
bool useAuthorities(const QString &path)
{
    const QList<QSslCertificate> roots = QSslCertificate::fromPath(path);
    if (roots.isEmpty())
        return false;
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setCaCertificates(roots);
    QSslConfiguration::setDefaultConfiguration(configuration);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // A command-line tool speaks the language of scripts and logs.
    g_lang = QStringLiteral("en");
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Downloads one link with Torvane's engine into OUTPUT_PATH.\n"
        "Interrupted (a crash, a kill, a full disk), it continues when run again with the same\n"
        "URL and OUTPUT_PATH, from the checkpoint it keeps in OUTPUT_PATH.torvane."));
    parser.addHelpOption();
    const QCommandLineOption insecure(
        {QStringLiteral("k"), QStringLiteral("insecure")},
        QStringLiteral("Accept any server certificate, even a forged one (like curl -k)."));
    parser.addOption(insecure);
    const QCommandLineOption authorities(
        QStringLiteral("cacert"),
        QStringLiteral("Verify servers against the certificates in FILE (PEM) instead of the "
                       "system's trusted roots."),
        QStringLiteral("FILE"));
    parser.addOption(authorities);
    const QCommandLineOption referer(
        {QStringLiteral("e"), QStringLiteral("referer")},
        QStringLiteral("Send URL as the Referer, as the page that led to the link would."),
        QStringLiteral("URL"));
    const QCommandLineOption userAgent(
        {QStringLiteral("A"), QStringLiteral("user-agent")},
        QStringLiteral("Send NAME as the User-Agent instead of Torvane's own."),
        QStringLiteral("NAME"));
    const QCommandLineOption cookie(
        {QStringLiteral("b"), QStringLiteral("cookie")},
        QStringLiteral("Send the cookies 'a=b; c=d' to the link's host (never to another host a "
                       "redirect leads to)."),
        QStringLiteral("COOKIES"));
    parser.addOptions({referer, userAgent, cookie});
    const QCommandLineOption limitRate(
        QStringLiteral("limit-rate"),
        QStringLiteral("Keep the download at or below RATE bytes per second (like curl): a K, M "
                       "or G suffix counts 1024, 1024^2 or 1024^3 bytes; 0 means no limit."),
        QStringLiteral("RATE"));
    parser.addOption(limitRate);
    const QCommandLineOption retryFor(
        QStringLiteral("retry-for"),
        QStringLiteral("Wait out an outage of the server or the network for up to SECONDS before "
                       "giving up (600 unless given; 0 waits for ever)."),
        QStringLiteral("SECONDS"));
    parser.addOption(retryFor);
    const QCommandLineOption proxy(
        {QStringLiteral("x"), QStringLiteral("proxy")},
        QStringLiteral("Go through this proxy instead of the system's (like curl): "
                       "[http|socks5|socks5h://][user:password@]host[:port], port 1080 by "
                       "default; socks5h resolves host names through the proxy."),
        QStringLiteral("URL"));
    const QCommandLineOption noProxy(
        QStringLiteral("noproxy"),
        QStringLiteral("Reach these hosts directly, without a proxy: names separated by commas, "
                       "each with its subdomains; '*' for every host."),
        QStringLiteral("HOSTS"));
    parser.addOptions({proxy, noProxy});
    const QCommandLineOption user(
        {QStringLiteral("u"), QStringLiteral("user")},
        QStringLiteral("Log in to the link's server with this user name and password (HTTP Basic "
                       "or Digest, like curl); never sent to another host."),
        QStringLiteral("USER:PASSWORD"));
    parser.addOption(user);
    const QCommandLineOption checksum(
        QStringLiteral("checksum"),
        QStringLiteral("Check the file against DIGEST, given as sha256:HEX (or sha512, sha1, md5); "
                       "a mismatch fails the download."),
        QStringLiteral("DIGEST"));
    parser.addOption(checksum);
    parser.addPositionalArgument(QStringLiteral("URL"), QStringLiteral("The link to download."));
    parser.addPositionalArgument(QStringLiteral("OUTPUT_PATH"),
                                 QStringLiteral("Where the file is written."));
    const bool parsed = parser.parse(app.arguments());
    if (parsed && parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (!parsed || parser.positionalArguments().size() != 2) {
        if (!parser.errorText().isEmpty())
            printLine(QStringLiteral("torvane-fetch: ") + parser.errorText());
        std::fprintf(stderr, "usage: torvane-fetch [options] URL OUTPUT_PATH\n");
        return 1;
    }
    const QStringList positional = parser.positionalArguments();
    TrustedCertificates::shared().setInsecure(parser.isSet(insecure));
    if (parser.isSet(authorities) && !useAuthorities(parser.value(authorities))) {
        printLine(QStringLiteral("torvane-fetch: no certificates in ") + parser.value(authorities));
        return 1;
    }
    const qint64 limit = parser.isSet(limitRate) ? parseRateText(parser.value(limitRate)) : 0;
    if (limit < 0) {
        printLine(QStringLiteral("torvane-fetch: --limit-rate: not a rate: ") +
                  parser.value(limitRate));
        return 1;
    }

    if (parser.isSet(retryFor)) {
        bool number = false;
        const qint64 seconds = parser.value(retryFor).toLongLong(&number);
        if (!number || seconds < 0) {
            printLine(QStringLiteral("torvane-fetch: --retry-for: not a number of seconds: ") +
                      parser.value(retryFor));
            return 1;
        }
        setGiveUpAfterMs(seconds * 1000);
    }

    ProxySettings chosenProxy;
    if (parser.isSet(proxy)) {
        QString error;
        chosenProxy = ProxySettings::fromUrl(parser.value(proxy), &error);
        if (!error.isEmpty()) {
            printLine(QStringLiteral("torvane-fetch: ") + error);
            return 1;
        }
    }
    chosenProxy.bypass = ProxySettings::bypassList(parser.value(noProxy));
    ProxySettings::setCurrent(chosenProxy);

    if (parser.isSet(user)) {
        const QString given = parser.value(user);
        const qsizetype colon = given.indexOf(QLatin1Char(':'));
        HostLogins::shared().set(QUrl(positional.at(0)),
                                 Login{colon < 0 ? given : given.left(colon),
                                       colon < 0 ? QString() : given.mid(colon + 1)},
                                 false);
    }

    ExpectedChecksum expected;
    if (parser.isSet(checksum)) {
        expected = parseNamedChecksum(parser.value(checksum));
        if (!expected.valid) {
            printLine(QStringLiteral("torvane-fetch: --checksum: not sha256:HEX, sha512:HEX, "
                                     "sha1:HEX or md5:HEX: ") +
                      parser.value(checksum));
            return 1;
        }
        expected.source = QStringLiteral("--checksum");
    }

    BandwidthLimiter limiter;
    limiter.setLimit(limit);
    DownloadTask task(QUrl(positional.at(0)), QFileInfo(positional.at(1)).absoluteFilePath(),
                      QStringLiteral("best"));
    task.browserSession.referrer = parser.value(referer);
    task.browserSession.userAgent = parser.value(userAgent);
    task.browserSession.cookie = parser.value(cookie);
    task.setBandwidthLimiter(&limiter);
    task.expectedChecksum = expected;
    QElapsedTimer clock;
    QElapsedTimer lastReport;
    bool reported = false;

    QObject::connect(&task, &DownloadTask::progressUpdated, &app, [&] {
        if (task.status >= 2) {
            QCoreApplication::quit();
            return;
        }
        if (reported && lastReport.elapsed() < 500)
            return;
        reported = true;
        lastReport.start();
        if (task.retryInSeconds >= 0) {
            printLine(QStringLiteral("%1 / %2 bytes  %3: %4")
                          .arg(task.downloadedSize)
                          .arg(task.totalSize)
                          .arg(waitingText(task.retryInSeconds), task.lastDlpMessage));
            return;
        }
        printLine(QStringLiteral("%1 / %2 bytes  %3 MiB/s%4%5")
                      .arg(task.downloadedSize)
                      .arg(task.totalSize)
                      .arg(task.currentSpeed / 1048576.0, 0, 'f', 2)
                      .arg(task.lastDlpMessage.isEmpty() ? QString() : QStringLiteral("  "),
                           task.lastDlpMessage));
    });

    clock.start();
    const qint64 resumeFrom = task.adoptCheckpoint();
    if (resumeFrom >= 0) {
        printLine(QStringLiteral("torvane-fetch: resuming from %1 of %2 bytes")
                      .arg(resumeFrom)
                      .arg(task.totalSize));
        task.resume();
    } else {
        task.start();
    }
    if (task.status == 1)
        app.exec();

    if (task.status != 2 && !task.lastDlpMessage.isEmpty())
        printLine(QStringLiteral("torvane-fetch: ") + task.lastDlpMessage);
    const ChecksumResult &check = task.checksum;
    const QString digestName = checksumName(check.expected.algorithm).toLower();
    if (check.state == ChecksumResult::Verified)
        printLine(QStringLiteral("verified %1 (%2)").arg(digestName, check.expected.source));
    else if (check.state == ChecksumResult::Mismatch)
        printLine(QStringLiteral("torvane-fetch: expected %1 %2 (%3), the file has %4")
                      .arg(digestName, QString::fromLatin1(check.expected.digest.toHex()),
                           check.expected.source, QString::fromLatin1(check.actual.toHex())));
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    const qint64 bytes = task.downloadedSize;
    const double rate = seconds > 0 ? double(bytes) / 1048576.0 / seconds : 0.0;
    QTextStream(stdout) << "bytes=" << bytes << " seconds=" << QString::number(seconds, 'f', 3)
                        << " mib_per_s=" << QString::number(rate, 'f', 2)
                        << " status=" << task.status << Qt::endl;
    return task.status == 2 ? 0 : 1;
}
