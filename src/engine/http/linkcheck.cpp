#include "engine/http/linkcheck.h"

#include "engine/http/httpheaders.h"
#include "engine/http/httpsession.h"
#include "engine/http/trustedcertificates.h"
#include "engine/http/webpageanswer.h"
#include "language/translation.h"

#include <QFile>
#include <QNetworkReply>

PartRange sampleRangeOf(const TransferProgress &progress)
{
    PartRange range;
    if (!progress.isValid())
        return range;
    for (int i = 0; i < progress.numParts; ++i) {
        const qint64 start = progress.rangeOf(i).first;
        const qint64 written = progress.partOffsets[i] - start;
        if (written > 0) {
            range.first = start;
            range.last = start + qMin(written, LinkFacts::SampleLength) - 1;
            return range;
        }
    }
    return range;
}

LinkFacts linkFactsOf(const QString &fileName, const QString &path,
                      const TransferProgress &progress)
{
    LinkFacts facts;
    facts.fileName = fileName;
    facts.totalSize = progress.totalSize;
    facts.etag = progress.etag;
    facts.lastModified = progress.lastModified;
    const PartRange range = sampleRangeOf(progress);
    QFile file(path);
    if (range.last >= range.first && file.open(QIODevice::ReadOnly) && file.seek(range.first)) {
        facts.sampleStart = range.first;
        facts.sample = file.read(range.last - range.first + 1);
    }
    return facts;
}

LinkVerdict judgeNewLink(const LinkFacts &facts, const LinkAnswer &answer)
{
    if (answer.status < 200 || answer.status >= 300 || !answer.error.isEmpty())
        return LinkVerdict::NoAnswer;
    if (isPageInsteadOfFile(answer.contentType, facts.fileName))
        return LinkVerdict::WebPage;
    if (facts.totalSize <= 0)
        return LinkVerdict::Same; // of unknown size: the download begins anew from any link
    if (answer.total != facts.totalSize)
        return LinkVerdict::SizeDiffers;
    const auto differ = [](const QByteArray &ours, const QByteArray &theirs) {
        return !ours.isEmpty() && !theirs.isEmpty() && ours != theirs;
    };
    if (differ(facts.etag, answer.etag) || differ(facts.lastModified, answer.lastModified))
        return LinkVerdict::ValidatorsDiffer;
    if (facts.sample.isEmpty())
        return LinkVerdict::Same; // nothing on the disk that the new bytes would continue
    const qint64 skip = facts.sampleStart - answer.bodyStart;
    if (answer.bodyStart < 0 || skip < 0 || answer.body.size() - skip < facts.sample.size() ||
        answer.body.mid(skip, facts.sample.size()) != facts.sample)
        return LinkVerdict::ContentDiffers;
    return LinkVerdict::Same;
}

QString linkVerdictText(LinkVerdict verdict, const LinkFacts &facts, const LinkAnswer &answer)
{
    switch (verdict) {
    case LinkVerdict::Same: return QString();
    case LinkVerdict::NoAnswer:
        return T(QStringLiteral("The new link does not work: %1"))
            .arg(!answer.error.isEmpty() ? answer.error
                                         : QStringLiteral("HTTP %1").arg(answer.status));
    case LinkVerdict::WebPage: return T(QStringLiteral("The new link leads to a web page"));
    case LinkVerdict::SizeDiffers:
        if (answer.total <= 0)
            return T(QStringLiteral("The new link does not tell the file's size"));
        return T(QStringLiteral("Another size: %1 bytes instead of %2"))
            .arg(answer.total)
            .arg(facts.totalSize);
    case LinkVerdict::ValidatorsDiffer:
        return T(QStringLiteral("Another version of the file (ETag or Last-Modified)"));
    case LinkVerdict::ContentDiffers:
        return T(QStringLiteral("Its first bytes differ from those on the disk"));
    }
    return QString();
}

LinkCheck::LinkCheck(QObject *parent) : QObject(parent), session(new HttpSession(this)) {}

void LinkCheck::start(const QUrl &link, const BrowserSession &browser, const LinkFacts &known,
                      int timeoutMs)
{
    cancel();
    facts = known;
    answer = LinkAnswer();
    timeout = timeoutMs;
    redirects = 0;
    // The sample's range, or the first byte when there is none: either way the answer tells the
    // size and the validators.
    const qint64 first = facts.sample.isEmpty() ? 0 : facts.sampleStart;
    const qint64 last = facts.sample.isEmpty() ? 0 : first + facts.sample.size() - 1;
    range = "bytes=" + QByteArray::number(first) + '-' + QByteArray::number(last);
    session->setBrowserSession(browser, link);
    ask(link);
}

void LinkCheck::ask(const QUrl &target)
{
    headersRead = false;
    answer.body.clear();
    reply = session->get(target, 0, range, timeout);
    connect(reply, &QNetworkReply::readyRead, this, &LinkCheck::onData);
    connect(reply, &QNetworkReply::finished, this, &LinkCheck::onFinished);
}

void LinkCheck::cancel()
{
    if (!reply)
        return;
    QNetworkReply *dropped = reply;
    reply = nullptr;
    HttpSession::drop(dropped, this);
}

// Headers are read once, from the first bytes or the end of an answer without a body.
void LinkCheck::onData()
{
    if (!reply)
        return;
    const int status = HttpSession::statusOf(reply);
    if (status >= 300 && status < 400)
        return; // a redirect; its end follows it
    if (!headersRead) {
        headersRead = true;
        answer.status = status;
        answer.contentType = reply->rawHeader("Content-Type");
        if (status == 206) {
            const ContentRange cr = parseContentRange(reply->rawHeader("Content-Range"));
            answer.bodyStart = cr.valid ? cr.first : -1;
            answer.total = cr.valid && cr.total > 0 ? cr.total : 0;
        } else if (reply->hasRawHeader("Content-Length")) {
            answer.total = parseDecimalHeader(reply->rawHeader("Content-Length"));
        }
        answer.etag = reply->rawHeader("ETag");
        answer.lastModified = reply->rawHeader("Last-Modified");
        // A whole file sent for a range is read from its start as far as the sample reaches, when
        // that is near; a sample further in is not compared (and the check fails).
        wanted = status == 206 ? facts.sample.size()
                 : facts.sampleStart <= 4 * LinkFacts::SampleLength
                     ? facts.sampleStart + facts.sample.size()
                     : 0;
    }
    if (status >= 400) {
        reply->readAll(); // an error page is no file; its end settles the check
        return;
    }
    answer.body += reply->read(qMax<qint64>(0, wanted - answer.body.size()));
    if (answer.body.size() >= wanted)
        settle();
}

void LinkCheck::onFinished()
{
    if (!reply)
        return;
    const QUrl next = HttpSession::redirectTarget(reply, redirects);
    if (next.isValid()) {
        cancel();
        ask(next);
        return;
    }
    onData();
    if (!reply)
        return; // settled by the data
    if (reply->error() != QNetworkReply::NoError && HttpSession::statusOf(reply) < 400) {
        const RefusedCertificate refused = HttpSession::refusalOf(reply);
        const QString proxy = HttpSession::proxyProblem(reply);
        answer.error = !refused.isNull()  ? refused.reason
                       : !proxy.isEmpty() ? proxy
                                          : reply->errorString();
    }
    settle();
}

void LinkCheck::settle()
{
    answer.finalUrl = reply->url();
    if (answer.status == 0)
        answer.status = HttpSession::statusOf(reply);
    cancel();
    const LinkVerdict verdict = judgeNewLink(facts, answer);
    emit finished(verdict, linkVerdictText(verdict, facts, answer), answer);
}
