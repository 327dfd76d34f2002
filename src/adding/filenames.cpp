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
        // Windows also reserves the digit 0 and the superscript digits 1, 2 and 3.
        return (d >= QLatin1Char('0') && d <= QLatin1Char('9')) || d == QChar(0x00B9) ||
               d == QChar(0x00B2) || d == QChar(0x00B3);
    }
    return false;
}

// Marks that change the direction of the text around them, and so can make "exe.pdf" of
// "fdp.exe".
bool isBidiControl(QChar c)
{
    const ushort u = c.unicode();
    return (u >= 0x202A && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069) || u == 0x200E ||
           u == 0x200F || u == 0x061C;
}

bool isForbiddenCharacter(QChar c)
{
    const ushort u = c.unicode();
    return u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0) ||
           QStringLiteral("<>:\"|?*").contains(c);
}

// No leading white space, no trailing white space or dots: Windows drops the latter silently.
QString tidyEnds(QString name)
{
    name = name.trimmed();
    while (!name.isEmpty() && (name.back() == QLatin1Char('.') || name.back().isSpace()))
        name.chop(1);
    return name;
}

// At most 255 UTF-16 units, keeping a sensible extension and never a half surrogate pair.
QString shortened(const QString &name)
{
    const int maxLength = 255;
    if (name.size() <= maxLength)
        return name;
    const int lastDot = name.lastIndexOf(QLatin1Char('.'));
    QString ext = lastDot > 0 ? name.mid(lastDot) : QString();
    if (ext.size() > 32)
        ext.clear(); // not an extension anyone would recognise
    QString keep = name.left(maxLength - ext.size());
    if (!keep.isEmpty() && keep.back().isHighSurrogate())
        keep.chop(1);
    return tidyEnds(keep) + ext;
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
    // Only the last real path component can name the file. Split by hand: a regular expression
    // finds nothing in text that is no valid UTF-16 (a lone surrogate) and would let "../x" pass.
    const QStringList parts =
        QString(name).replace(QLatin1Char('\\'), QLatin1Char('/')).split(QLatin1Char('/'));
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
    for (int i = 0; i < base.size(); ++i) {
        const QChar c = base.at(i);
        if (isBidiControl(c))
            continue;
        // A surrogate without its partner is no character and cannot be written on every system.
        const bool pairStart =
            c.isHighSurrogate() && i + 1 < base.size() && base.at(i + 1).isLowSurrogate();
        if (pairStart) {
            out += c;
            out += base.at(++i);
        } else if (c.isSurrogate() || isForbiddenCharacter(c)) {
            out += QLatin1Char('_');
        } else {
            out += c;
        }
    }

    // Each rule can undo another (shortening can leave a trailing dot or bare a device name, the
    // device mark can push the length past the limit), so they are applied until none changes
    // anything; that also makes a second pass over the result a no-op. A few rounds settle any
    // name; the bound is only a guard.
    for (int round = 0; round < 8; ++round) {
        const QString before = out;
        out = tidyEnds(out);
        const int firstDot = out.indexOf(QLatin1Char('.'));
        const QString stem = firstDot < 0 ? out : out.left(firstDot);
        if (!out.isEmpty() && isReservedDeviceName(stem))
            out.insert(stem.size(), QLatin1Char('_'));
        out = shortened(out);
        if (out == before)
            break;
    }
    return out;
}

QString contentDispositionFileName(const QString &value, bool *decoded, bool *present)
{
    if (decoded)
        *decoded = false;
    if (present)
        *present = false;

    // Walks the ";"-separated parameters. Names count whole ("xfilename" is not "filename"), and
    // a quoted value is skipped as a whole, so a ";" or a "filename=" inside it starts nothing.
    QString plainName;
    bool plainSeen = false;
    const int n = value.size();
    int pos = 0;
    while (pos < n) {
        const int nameStart = pos;
        while (pos < n && value.at(pos) != QLatin1Char('=') && value.at(pos) != QLatin1Char(';'))
            ++pos;
        const QString name = value.mid(nameStart, pos - nameStart).trimmed().toLower();
        if (pos >= n)
            break;
        if (value.at(pos) == QLatin1Char(';')) {
            ++pos;
            continue;
        }
        ++pos; // the "="
        while (pos < n && value.at(pos).isSpace())
            ++pos;

        const QChar open = pos < n ? value.at(pos) : QChar();
        QString text;
        if (name == QLatin1String("filename*")) {
            // charset'language'percent-encoded, sometimes (wrongly) quoted.
            if (open == QLatin1Char('"'))
                ++pos;
            const int start = pos;
            while (pos < n && value.at(pos) != QLatin1Char('"') &&
                   value.at(pos) != QLatin1Char(';'))
                ++pos;
            text = value.mid(start, pos - start).trimmed();
        } else if (open == QLatin1Char('"') || open == QLatin1Char('\'')) {
            const int close = value.indexOf(open, pos + 1);
            const int end = close < 0 ? value.indexOf(QLatin1Char(';'), pos + 1) : close;
            text = value.mid(pos + 1, (end < 0 ? n : end) - pos - 1);
            pos = close < 0 ? (end < 0 ? n : end) : close + 1;
        } else {
            const int start = pos;
            while (pos < n && !QStringLiteral(";'\"").contains(value.at(pos)))
                ++pos;
            text = value.mid(start, pos - start);
        }
        // Whatever follows the value up to the next ";" belongs to no parameter.
        while (pos < n && value.at(pos) != QLatin1Char(';'))
            ++pos;

        if (name == QLatin1String("filename*")) {
            if (present)
                *present = true;
            const QString extended = decodeExtValue(text);
            if (!extended.isEmpty()) {
                if (decoded)
                    *decoded = true;
                return extended;
            }
        } else if (name == QLatin1String("filename") && !plainSeen) {
            plainSeen = true;
            plainName = text;
            if (present)
                *present = true;
        }
    }
    return plainName;
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
        bool decoded = false;
        bool present = false;
        const QString raw = contentDispositionFileName(in.contentDisposition, &decoded, &present);
        if (present)
            name = cleanCandidate(decoded ? raw : percentDecoded(raw));
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
