#include "engine/http/completioncheck.h"

#include "engine/http/httpsession.h"
#include "engine/http/webpageanswer.h"
#include "engine/storage/filehasher.h"

#include <QNetworkReply>
#include <QTimer>

namespace {

// Checksum files are a line per file: anything longer is not one.
constexpr qint64 kMaxSidecarBytes = 1024 * 1024;

} // namespace

CompletionCheck::CompletionCheck(HttpSession *session, QObject *parent)
    : QObject(parent), session(session)
{
}

CompletionCheck::~CompletionCheck()
{
    stop();
}

void CompletionCheck::start(const QString &file, const QUrl &link,
                            const QList<ExpectedChecksum> &known)
{
    stop();
    path = file;
    pending = known;
    if (pending.isEmpty())
        askForSidecars(link);
    else
        checkNext();
}

void CompletionCheck::stop()
{
    ++round;
    for (Sidecar &sidecar : sidecars) {
        if (sidecar.reply)
            HttpSession::drop(sidecar.reply, this);
    }
    sidecars.clear();
    pending.clear();
    if (hasher) {
        hasher->cancel();
        hasher->deleteLater();
        hasher = nullptr; // a check started next must not wait for it
    }
}

// ---- Checksum files beside the download ---------------------------------------------------------

void CompletionCheck::askForSidecars(const QUrl &link)
{
    const QString linkPath = link.path(QUrl::FullyEncoded);
    linkName = link.fileName(QUrl::FullyDecoded);
    // A link with a query names a script, not a file that has others beside it.
    if (linkName.isEmpty() || link.hasQuery() || !link.scheme().startsWith(QLatin1String("http"))) {
        emit finished(ChecksumResult());
        return;
    }
    const auto add = [this, &link](const QString &path, QCryptographicHash::Algorithm algorithm,
                                   bool single, const QString &source) {
        Sidecar sidecar;
        sidecar.url = link;
        sidecar.url.setFragment(QString());
        sidecar.url.setPath(path, QUrl::StrictMode);
        sidecar.algorithm = algorithm;
        sidecar.single = single;
        sidecar.source = source;
        sidecars.append(sidecar);
    };
    // In the order of preference when several answer.
    add(linkPath + QStringLiteral(".sha256"), QCryptographicHash::Sha256, true,
        linkName + QStringLiteral(".sha256"));
    add(linkPath + QStringLiteral(".sha512"), QCryptographicHash::Sha512, true,
        linkName + QStringLiteral(".sha512"));
    add(linkPath.left(linkPath.lastIndexOf(QLatin1Char('/')) + 1) + QStringLiteral("SHA256SUMS"),
        QCryptographicHash::Sha256, false, QStringLiteral("SHA256SUMS"));
    add(linkPath + QStringLiteral(".md5"), QCryptographicHash::Md5, true,
        linkName + QStringLiteral(".md5"));
    for (int i = 0; i < sidecars.size(); ++i)
        ask(i);
    // Whatever has not answered by then is not waited for.
    QTimer::singleShot(sidecarTimeoutMs, this, [this, asked = round] {
        if (asked != round)
            return;
        for (int i = 0; i < sidecars.size(); ++i) {
            if (!sidecars[i].answered) {
                if (sidecars[i].reply)
                    HttpSession::drop(sidecars[i].reply, this);
                sidecars[i].reply = nullptr;
                sidecars[i].answered = true;
            }
        }
        checkNext();
    });
}

void CompletionCheck::ask(int index)
{
    Sidecar &sidecar = sidecars[index];
    sidecar.body.clear();
    QNetworkReply *reply = session->get(sidecar.url, 0, QByteArray(), sidecarTimeoutMs);
    sidecar.reply = reply;
    connect(reply, &QNetworkReply::readyRead, this, [this, index] { onSidecarData(index); });
    connect(reply, &QNetworkReply::finished, this, [this, index] { onSidecarEnd(index); });
}

void CompletionCheck::onSidecarData(int index)
{
    Sidecar &sidecar = sidecars[index];
    sidecar.body += sidecar.reply->readAll();
    if (sidecar.body.size() > kMaxSidecarBytes) {
        HttpSession::drop(sidecar.reply, this);
        sidecar.reply = nullptr;
        sidecar.answered = true;
        checkNext();
    }
}

void CompletionCheck::onSidecarEnd(int index)
{
    Sidecar &sidecar = sidecars[index];
    QNetworkReply *reply = sidecar.reply;
    sidecar.body += reply->readAll();
    sidecar.reply = nullptr;
    const QUrl next = HttpSession::redirectTarget(reply, sidecar.redirects);
    // A missing file often comes as a web page with status 200.
    const bool usable = HttpSession::statusOf(reply) == 200 &&
                        !hasWebPageType(reply->rawHeader("Content-Type")) &&
                        sidecar.body.size() <= kMaxSidecarBytes;
    HttpSession::drop(reply, this);
    if (next.isValid()) {
        sidecar.url = next;
        ask(index);
        return;
    }
    sidecar.answered = true;
    if (usable) {
        sidecar.found =
            checksumFromListing(sidecar.body, linkName, sidecar.algorithm, sidecar.single);
        sidecar.found.source = sidecar.source;
    }
    checkNext();
}

// ---- The digests --------------------------------------------------------------------------------

// Runs once everything asked for has answered: takes the best checksum file found, then compares
// the file with each digest in turn.
void CompletionCheck::checkNext()
{
    if (hasher)
        return;
    if (!sidecars.isEmpty()) {
        for (const Sidecar &sidecar : qAsConst(sidecars)) {
            if (!sidecar.answered)
                return;
        }
        for (const Sidecar &sidecar : qAsConst(sidecars)) {
            if (sidecar.found.valid) {
                pending = {sidecar.found};
                break;
            }
        }
        sidecars.clear();
        ++round; // the time limit has nothing left to do
        if (pending.isEmpty()) {
            emit finished(ChecksumResult());
            return;
        }
    }
    if (pending.isEmpty())
        return;
    current = pending.takeFirst();
    hasher = new FileHasher(path, current.algorithm, this);
    connect(hasher, &FileHasher::finished, this, [this](const QByteArray &digest) {
        hasher->deleteLater();
        hasher = nullptr;
        ChecksumResult result;
        result.expected = current;
        result.actual = digest;
        if (digest != current.digest) {
            result.state = ChecksumResult::Mismatch;
            pending.clear();
            emit finished(result);
        } else if (pending.isEmpty()) {
            result.state = ChecksumResult::Verified;
            emit finished(result);
        } else {
            checkNext();
        }
    });
    connect(hasher, &FileHasher::failed, this, [this] {
        hasher->deleteLater();
        hasher = nullptr;
        pending.clear();
        ChecksumResult result;
        result.state = ChecksumResult::Unreadable;
        result.expected = current;
        emit finished(result);
    });
    hasher->start();
}
