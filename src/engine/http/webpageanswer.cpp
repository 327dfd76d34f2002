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
    return isWebPageType(mediaTypeOf(contentType)) && !isWebPageName(fileName);
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
    return isWebPageType(got) ? pageInsteadOfFileText()
                              : T(QStringLiteral("The server sent something other than the file"));
}
