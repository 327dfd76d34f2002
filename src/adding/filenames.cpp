#include "adding/filenames.h"

#include <QFileInfo>

#include <QMimeDatabase>
#include <QRegularExpression>
#include <QStringDecoder>
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

// The labels that the web's encoding rules give windows-1252, ISO-8859-1 and ASCII among them:
// browsers read all of them as windows-1252, whose 0x80-0x9F are printable characters ("\x80"
// is the euro sign). Decoded here, so that every system reads them alike whatever converters its
// Qt has.
bool isWindows1252Label(const QString &label)
{
    static const QStringList labels = {QStringLiteral("windows-1252"),
                                       QStringLiteral("x-cp1252"),
                                       QStringLiteral("cp1252"),
                                       QStringLiteral("iso-8859-1"),
                                       QStringLiteral("iso8859-1"),
                                       QStringLiteral("iso88591"),
                                       QStringLiteral("iso_8859-1"),
                                       QStringLiteral("iso_8859-1:1987"),
                                       QStringLiteral("iso-ir-100"),
                                       QStringLiteral("latin1"),
                                       QStringLiteral("l1"),
                                       QStringLiteral("csisolatin1"),
                                       QStringLiteral("cp819"),
                                       QStringLiteral("ibm819"),
                                       QStringLiteral("us-ascii"),
                                       QStringLiteral("ascii"),
                                       QStringLiteral("ansi_x3.4-1968")};
    return labels.contains(label);
}

QString fromWindows1252(const QByteArray &bytes)
{
    static const char16_t high[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    QString text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        text += b >= 0x80 && b < 0xA0 ? QChar(high[b - 0x80]) : QChar(b);
    }
    return text;
}

// Bytes in the named charset as text; a null string when the charset is unknown or the bytes
// are not valid in it (a wrong guess would name the file with replacement characters).
QString decodeCharset(const QString &charset, const QByteArray &bytes)
{
    const QString label = charset.trimmed().toLower();
    if (isWindows1252Label(label))
        return fromWindows1252(bytes);
    QStringDecoder decoder(label.toLatin1().constData(), QStringConverter::Flag::Stateless);
    if (!decoder.isValid())
        return QString();
    const QString text = decoder(bytes);
    return decoder.hasError() ? QString() : text;
}

QString decodeExtValue(const QString &extValue)
{
    // charset'language'value; the value is percent-encoded bytes in that charset.
    const int first = extValue.indexOf(QLatin1Char('\''));
    const int second = first < 0 ? -1 : extValue.indexOf(QLatin1Char('\''), first + 1);
    if (second < 0)
        return QString();
    return decodeCharset(extValue.left(first),
                         QByteArray::fromPercentEncoding(extValue.mid(second + 1).toUtf8()));
}

// A value made of MIME encoded words ("=?UTF-8?B?...?=", "=?ISO-8859-1?Q?...?="), as mail
// programs and some servers send non-ASCII names in a plain `filename`; browsers decode them.
// Null when the value is not such words alone, or one of them does not decode.
QString decodeEncodedWords(const QString &value)
{
    static const QRegularExpression word(
        QStringLiteral("=\\?([^?\\s]+)\\?([BbQq])\\?([^?\\s]*)\\?="));
    QString text;
    int pos = 0;
    const QString trimmed = value.trimmed();
    if (!trimmed.startsWith(QLatin1String("=?")))
        return QString();
    while (pos < trimmed.size()) {
        const QRegularExpressionMatch m = word.match(trimmed, pos, QRegularExpression::NormalMatch,
                                                     QRegularExpression::AnchorAtOffsetMatchOption);
        if (!m.hasMatch())
            return QString();
        QByteArray bytes = m.captured(3).toLatin1();
        if (m.captured(2).compare(QLatin1String("B"), Qt::CaseInsensitive) == 0) {
            const auto result =
                QByteArray::fromBase64Encoding(bytes, QByteArray::AbortOnBase64DecodingErrors);
            if (!result)
                return QString();
            bytes = *result;
        } else {
            bytes = QByteArray::fromPercentEncoding(bytes.replace('_', ' '), '=');
        }
        // The charset may carry a language after a "*" (RFC 2231).
        const QString decoded = decodeCharset(m.captured(1).section(QLatin1Char('*'), 0, 0), bytes);
        if (decoded.isNull())
            return QString();
        text += decoded;
        pos = int(m.capturedEnd());
        // White space between two encoded words is not part of the text.
        while (pos < trimmed.size() && trimmed.at(pos).isSpace())
            ++pos;
    }
    return text;
}

// The text of a quoted string that starts at `pos` (on its opening quote), with each backslash
// taking the next character literally; `pos` ends past the closing quote, or at `end` (the next
// ";" outside the quotes, or the end) when there is none.
QString unquote(const QString &value, int &pos)
{
    const int n = value.size();
    QString text;
    int i = pos + 1;
    for (; i < n && value.at(i) != QLatin1Char('"'); ++i) {
        if (value.at(i) == QLatin1Char('\\') && i + 1 < n)
            ++i;
        text += value.at(i);
    }
    if (i < n) {
        pos = i + 1;
        return text;
    }
    // No closing quote: the value ends at the next ";", as before any quote was seen.
    const int end = value.indexOf(QLatin1Char(';'), pos + 1);
    const QString rest = value.mid(pos + 1, (end < 0 ? n : end) - pos - 1);
    pos = end < 0 ? n : end;
    return rest;
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
        } else if (open == QLatin1Char('"')) {
            text = unquote(value, pos);
        } else if (open == QLatin1Char('\'')) {
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
    const QString words = decodeEncodedWords(plainName);
    if (!words.isNull()) {
        if (decoded)
            *decoded = true;
        return words;
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

QString numberedFreePath(const QString &path, const std::function<bool(const QString &)> &taken)
{
    const QFileInfo info(path);
    const QString dir = info.absolutePath();
    const QString base = info.completeBaseName();
    const QString ext = info.suffix();
    QString candidate = path;
    for (int counter = 1; taken(candidate); ++counter)
        candidate = dir + QLatin1Char('/') + base + QStringLiteral(" (") +
                    QString::number(counter) + QStringLiteral(").") + ext;
    return candidate;
}
