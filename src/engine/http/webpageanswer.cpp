#include "engine/http/webpageanswer.h"

#include "language/translation.h"

#include <QFileInfo>

QByteArray mediaTypeOf(const QByteArray &contentType)
{
    const int semicolon = contentType.indexOf(';');
    return (semicolon < 0 ? contentType : contentType.left(semicolon)).trimmed().toLower();
}

bool isWebPageType(const QByteArray &mediaType)
{
    return mediaType == "text/html" || mediaType == "application/xhtml+xml";
}

bool hasWebPageType(const QByteArray &contentType)
{
    // Split at the commas outside quoted parameter values ("text/plain; x=\"a,b\"" is one).
    bool quoted = false;
    int start = 0;
    for (int i = 0; i <= contentType.size(); ++i) {
        const char c = i < contentType.size() ? contentType.at(i) : ',';
        if (c == '"')
            quoted = !quoted;
        else if (c == '\\' && quoted)
            ++i;
        else if (c == ',' && !quoted) {
            if (isWebPageType(mediaTypeOf(contentType.mid(start, i - start))))
                return true;
            start = i + 1;
        }
    }
    return false;
}

bool isWebPageName(const QString &fileName)
{
    static const QStringList pageSuffixes = {QStringLiteral("html"),  QStringLiteral("htm"),
                                             QStringLiteral("xhtml"), QStringLiteral("xht"),
                                             QStringLiteral("shtml"), QStringLiteral("php"),
                                             QStringLiteral("asp"),   QStringLiteral("aspx"),
                                             QStringLiteral("jsp"),   QStringLiteral("cgi")};
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    return suffix.isEmpty() || pageSuffixes.contains(suffix);
}

bool isPageInsteadOfFile(const QByteArray &contentType, const QString &fileName)
{
    return hasWebPageType(contentType) && !isWebPageName(fileName);
}

PageSniff sniffPageInsteadOfFile(const QByteArray &start, bool whole, const QString &fileName,
                                 bool pageAccepted)
{
    if (pageAccepted || isWebPageName(fileName))
        return PageSniff::File;
    // What a page starts with, after a byte-order mark and white space; each must be followed
    // by white space or ">" ("<header" or "<htmlfoo" is no page).
    static const QByteArray openings[] = {"<!doctype html", "<html", "<head", "<body"};
    const auto isSpace = [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
    };
    const bool more = !whole && start.size() < kPageSniffLength;
    if (more && QByteArray("\xEF\xBB\xBF").startsWith(start))
        return PageSniff::Undecided; // nothing yet, or a byte-order mark cut short
    int pos = start.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (pos < start.size() && isSpace(start.at(pos)))
        ++pos;
    const QByteArray rest = start.mid(pos).toLower();
    for (const QByteArray &opening : openings) {
        if (rest.size() <= opening.size()) {
            if (opening.startsWith(rest) && more)
                return PageSniff::Undecided;
            continue;
        }
        if (rest.startsWith(opening) &&
            (isSpace(rest.at(opening.size())) || rest.at(opening.size()) == '>'))
            return PageSniff::Page;
    }
    return PageSniff::File;
}

QString pageInsteadOfFileText()
{
    return T(QStringLiteral(
        "The server sent a web page, not the file \u2014 the link may need the browser's login"));
}

QString partContentProblem(const QByteArray &probeType, const QByteArray &partType,
                           const QString &fileName, bool pageAccepted)
{
    const QByteArray expected = mediaTypeOf(probeType);
    const QByteArray got = mediaTypeOf(partType);
    const bool changed = !expected.isEmpty() && !got.isEmpty() && got != expected;
    const bool page = expected.isEmpty() && !pageAccepted && isPageInsteadOfFile(got, fileName);
    if (!changed && !page)
        return QString();
    return hasWebPageType(partType)
               ? pageInsteadOfFileText()
               : T(QStringLiteral("The server sent something other than the file"));
}
