#include "engine/storage/checksumtext.h"

#include <QRegularExpression>

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
    default: return QStringLiteral("SHA-256");
    }
}
