#include "adding/filenames.h"

#include <QMimeDatabase>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>
#include <QUrlQuery>

namespace {

// Windows refuses these as file names, with or without an extension.
bool isReservedDeviceName(const QString &stem)
{
    const QString s = stem.trimmed().toUpper();
    if (s == QLatin1String("CON") || s == QLatin1String("PRN") || s == QLatin1String("AUX") ||
        s == QLatin1String("NUL") || s == QLatin1String("CONIN$") || s == QLatin1String("CONOUT$"))
        return true;
    if (s.size() == 4 &&
        (s.startsWith(QLatin1String("COM")) || s.startsWith(QLatin1String("LPT")))) {
        const QChar d = s.at(3);
        // Windows also reserves the superscript digits 1, 2 and 3.
        return (d >= QLatin1Char('1') && d <= QLatin1Char('9')) || d == QChar(0x00B9) ||
               d == QChar(0x00B2) || d == QChar(0x00B3);
    }
    return false;
}

bool isBidiControl(QChar c)
{
    const ushort u = c.unicode();
    return (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069);
}

QString percentDecoded(const QString &text)
{
    return QUrl::fromPercentEncoding(text.toUtf8());
}

QString cutAtQuestionMark(const QString &name)
{
    const int q = name.indexOf(QLatin1Char('?'));
    return q < 0 ? name : name.left(q);
}

// A candidate name from any source, in the form in which it is weighed.
QString cleanCandidate(const QString &raw)
{
    return safeFileName(cutAtQuestionMark(raw));
}

bool usable(const QString &name)
{
    return !name.isEmpty() && name.contains(QLatin1Char('.'));
}

QString decodeExtValue(const QString &extValue)
{
    // charset'language'value; the value is percent-encoded bytes in that charset.
    const int first = extValue.indexOf(QLatin1Char('\''));
    const int second = first < 0 ? -1 : extValue.indexOf(QLatin1Char('\''), first + 1);
    if (second < 0)
        return QString();
    const QString charset = extValue.left(first).trimmed().toLower();
    const QByteArray bytes = QByteArray::fromPercentEncoding(extValue.mid(second + 1).toUtf8());
    if (charset == QLatin1String("iso-8859-1") || charset == QLatin1String("latin1"))
        return QString::fromLatin1(bytes);
    return QString::fromUtf8(bytes);
}

} // namespace

QString safeFileName(const QString &name)
{
    // Only the last real path component can name the file.
    const QStringList parts = name.split(QRegularExpression(QStringLiteral("[/\\\\]")));
    QString base;
    for (int i = parts.size() - 1; i >= 0; --i) {
        const QString p = parts.at(i).trimmed();
        if (!p.isEmpty() && p != QLatin1String(".") && p != QLatin1String("..")) {
            base = parts.at(i);
            break;
        }
    }

    QString out;
    out.reserve(base.size());
    for (const QChar c : base) {
        if (isBidiControl(c))
            continue;
        const ushort u = c.unicode();
        if (u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0) ||
            QStringLiteral("<>:\"|?*").contains(c))
            out += QLatin1Char('_');
        else
            out += c;
    }

    out = out.trimmed();
    while (out.endsWith(QLatin1Char('.')) || out.endsWith(QLatin1Char(' ')))
        out.chop(1);
    if (out.isEmpty())
        return QString();

    const int firstDot = out.indexOf(QLatin1Char('.'));
    const QString stem = firstDot < 0 ? out : out.left(firstDot);
    if (isReservedDeviceName(stem))
        out.insert(stem.size(), QLatin1Char('_'));

    const int maxLength = 255;
    if (out.size() > maxLength) {
        const int lastDot = out.lastIndexOf(QLatin1Char('.'));
        QString ext = lastDot > 0 ? out.mid(lastDot) : QString();
        if (ext.size() > 32)
            ext.clear(); // not an extension anyone would recognise
        QString keep = out.left(maxLength - ext.size());
        if (!keep.isEmpty() && keep.back().isHighSurrogate())
            keep.chop(1);
        while (keep.endsWith(QLatin1Char('.')) || keep.endsWith(QLatin1Char(' ')))
            keep.chop(1);
        out = keep + ext;
    }
    return out;
}

QString contentDispositionFileName(const QString &value, bool *decoded)
{
    if (decoded)
        *decoded = false;

    static const QRegularExpression extParam(
        QStringLiteral("(?:^|;)\\s*filename\\*\\s*=\\s*(\"?)([^\";]*)\\1"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch ext = extParam.match(value);
    if (ext.hasMatch()) {
        const QString name = decodeExtValue(ext.captured(2).trimmed());
        if (!name.isEmpty()) {
            if (decoded)
                *decoded = true;
            return name;
        }
    }

    // The classic expression; its key part would also match "filename*", which is skipped here
    // so that a malformed extended value does not yield its charset as the name. Parameter names
    // are case-insensitive, and servers do send "FileName=".
    static const QRegularExpression plain(
        QStringLiteral("filename[^;=\n]*=(?:([\"'])(.*?)\\1|([^;'\"]+))"),
        QRegularExpression::CaseInsensitiveOption);
    QRegularExpressionMatchIterator it = plain.globalMatch(value);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const int eq = m.captured(0).indexOf(QLatin1Char('='));
        if (m.captured(0).left(eq).contains(QLatin1Char('*')))
            continue;
        return m.captured(2).isEmpty() ? m.captured(3) : m.captured(2);
    }
    return QString();
}

QString nameFromLink(const QUrl &url)
{
    const QString path = url.path(QUrl::FullyDecoded);
    QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);

    const QUrlQuery query(url);
    if (query.hasQueryItem(QStringLiteral("response-content-disposition"))) {
        static const QRegularExpression re(QStringLiteral("filename=[\"']?([^\"';&]+)[\"']?"));
        const QRegularExpressionMatch m = re.match(query.queryItemValue(
            QStringLiteral("response-content-disposition"), QUrl::FullyDecoded));
        if (m.hasMatch())
            name = m.captured(1);
    } else if (query.hasQueryItem(QStringLiteral("filename"))) {
        name = query.queryItemValue(QStringLiteral("filename"), QUrl::FullyDecoded);
    }
    return percentDecoded(name);
}

QString probeFileName(const ProbeNameInput &in)
{
    if (in.defaultName != QLatin1String("download") &&
        in.defaultName != QLatin1String("Video.mp4")) {
        const QString suggested = cleanCandidate(in.defaultName);
        if (usable(suggested))
            return suggested;
    }

    QString name;
    const QString redirected = cleanCandidate(percentDecoded(in.redirectName));
    if (usable(redirected))
        name = redirected;
    if (in.hasContentDisposition) {
        static const QRegularExpression anyName(QStringLiteral("filename[^;=\n]*="),
                                                QRegularExpression::CaseInsensitiveOption);
        if (anyName.match(in.contentDisposition).hasMatch()) {
            bool decoded = false;
            const QString raw = contentDispositionFileName(in.contentDisposition, &decoded);
            name = cleanCandidate(decoded ? raw : percentDecoded(raw));
        }
    }

    if (!usable(name)) {
        const QString fromLink = cleanCandidate(in.linkName);
        if (usable(fromLink))
            name = fromLink;
    }

    const QString stamp = QString::number(in.nowMs);
    if (name.isEmpty() && in.hasContentType) {
        const QString type = in.contentType.section(QLatin1Char(';'), 0, 0).trimmed();
        const QMimeType mime = QMimeDatabase().mimeTypeForName(type);
        if (mime.isValid() && !mime.preferredSuffix().isEmpty())
            name = QStringLiteral("download_") + stamp + QLatin1Char('.') + mime.preferredSuffix();
    }

    if (!usable(name))
        name = QStringLiteral("download_") + stamp +
               (in.isVid ? QStringLiteral(".mp4") : QStringLiteral(".bin"));
    return name;
}

QString withFormatExtension(const QString &path, const QString &format)
{
    const int slash = qMax(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    const QString base = dot > slash ? path.left(dot) : path;
    return base +
           (format == QLatin1String("audio") ? QStringLiteral(".mp3") : QStringLiteral(".mp4"));
}

bool isUnsafeSuffix(const QString &suffix)
{
    static const QStringList unsafe = {
        QStringLiteral("exe"), QStringLiteral("bat"), QStringLiteral("vbs"), QStringLiteral("cmd"),
        QStringLiteral("scr"), QStringLiteral("pif"), QStringLiteral("js"),  QStringLiteral("ps1"),
        QStringLiteral("jar"), QStringLiteral("reg")};
    return unsafe.contains(suffix.toLower());
}
