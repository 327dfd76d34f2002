#include "engine/storage/checksumtext.h"

#include <QHash>
#include <QRegularExpression>

#include <cctype>

ExpectedChecksum parseExpectedChecksum(const QString &text)
{
    // A hex run of one of the three lengths, standing alone: part of a longer run is no digest.
    static const QRegularExpression hexRun(
        QStringLiteral("(?<![0-9A-Fa-f])([0-9A-Fa-f]{64}|[0-9A-Fa-f]{40}|[0-9A-Fa-f]{32})"
                       "(?![0-9A-Fa-f])"));
    ExpectedChecksum result;
    const QRegularExpressionMatch match = hexRun.match(text);
    if (!match.hasMatch())
        return result;
    const QString hex = match.captured(1);
    result.valid = true;
    result.algorithm = hex.size() == 64   ? QCryptographicHash::Sha256
                       : hex.size() == 40 ? QCryptographicHash::Sha1
                                          : QCryptographicHash::Md5;
    result.digest = QByteArray::fromHex(hex.toLatin1());
    return result;
}

QString checksumName(QCryptographicHash::Algorithm algorithm)
{
    switch (algorithm) {
    case QCryptographicHash::Sha1: return QStringLiteral("SHA-1");
    case QCryptographicHash::Md5: return QStringLiteral("MD5");
    case QCryptographicHash::Sha512: return QStringLiteral("SHA-512");
    default: return QStringLiteral("SHA-256");
    }
}

namespace {

bool isHexOfLength(const QByteArray &text, int length)
{
    if (text.size() != length)
        return false;
    for (const char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

} // namespace

ExpectedChecksum checksumFromListing(const QByteArray &text, const QString &fileName,
                                     QCryptographicHash::Algorithm algorithm, bool single)
{
    const int hexLength = QCryptographicHash::hashLength(algorithm) * 2;
    const QByteArray name = fileName.toUtf8();
    ExpectedChecksum found;
    int digests = 0;
    for (QByteArray line : text.split('\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        QByteArray hex;
        QByteArray named;
        const int open = line.indexOf(" (");
        const int equals = line.lastIndexOf(") = ");
        if (open > 0 && equals > open) { // SHA256 (name) = HEX
            named = line.mid(open + 2, equals - open - 2);
            hex = line.mid(equals + 4).trimmed();
        } else {
            const int space = line.indexOf(' ');
            hex = space < 0 ? line : line.left(space);
            named = space < 0 ? QByteArray() : line.mid(space + 1).trimmed();
            if (named.startsWith('*'))
                named.remove(0, 1); // read in binary mode: the same digest
            if (named.startsWith("./"))
                named.remove(0, 2);
        }
        if (!isHexOfLength(hex, hexLength))
            continue;
        ++digests;
        if (named == name || (single && !found.valid)) {
            found.valid = true;
            found.algorithm = algorithm;
            found.digest = QByteArray::fromHex(hex);
            if (named == name)
                return found;
        }
    }
    // A file made for this download but listing several others is not about this one.
    return digests == 1 ? found : ExpectedChecksum();
}

ExpectedChecksum parseNamedChecksum(const QString &text)
{
    static const QHash<QString, QCryptographicHash::Algorithm> names = {
        {QStringLiteral("sha256"), QCryptographicHash::Sha256},
        {QStringLiteral("sha512"), QCryptographicHash::Sha512},
        {QStringLiteral("sha1"), QCryptographicHash::Sha1},
        {QStringLiteral("md5"), QCryptographicHash::Md5}};
    const int colon = text.indexOf(QLatin1Char(':'));
    const QString name = text.left(colon).trimmed().toLower().remove(QLatin1Char('-'));
    const QByteArray hex = text.mid(colon + 1).trimmed().toLatin1();
    ExpectedChecksum result;
    if (colon < 0 || !names.contains(name))
        return result;
    result.algorithm = names.value(name);
    if (!isHexOfLength(hex, QCryptographicHash::hashLength(result.algorithm) * 2))
        return result;
    result.valid = true;
    result.digest = QByteArray::fromHex(hex);
    return result;
}
