#include "engine/http/httpheaders.h"

#include "engine/bytecount.h"

#include <QList>

namespace {

bool readNumber(const QByteArray &text, qint64 *out)
{
    const QByteArray t = text.trimmed();
    if (t.isEmpty())
        return false;
    for (char c : t) {
        if (c < '0' || c > '9')
            return false;
    }
    bool ok = false;
    const qint64 v = t.toLongLong(&ok);
    if (!ok || !isByteCount(v))
        return false;
    *out = v;
    return true;
}

} // namespace

qint64 parseDecimalHeader(const QByteArray &value)
{
    qint64 v = 0;
    return readNumber(value, &v) ? v : 0;
}

qint64 contentRangeTotal(const QByteArray &value)
{
    const int slash = value.indexOf('/');
    if (slash < 0)
        return 0;
    return parseDecimalHeader(value.mid(slash + 1));
}

ContentRange parseContentRange(const QByteArray &value)
{
    ContentRange r;
    QByteArray v = value.trimmed();
    if (!v.toLower().startsWith("bytes "))
        return r;
    v = v.mid(6).trimmed();
    const int dash = v.indexOf('-');
    const int slash = v.indexOf('/');
    if (dash < 0 || slash < dash)
        return r;
    if (!readNumber(v.left(dash), &r.first) ||
        !readNumber(v.mid(dash + 1, slash - dash - 1), &r.last))
        return r;
    const QByteArray total = v.mid(slash + 1).trimmed();
    if (total == "*")
        r.total = -1;
    else if (!readNumber(total, &r.total))
        return r;
    r.valid = r.last >= r.first && (r.total < 0 || r.last < r.total);
    return r;
}

ExpectedChecksum parseDigestHeader(const QByteArray &value, const QString &source)
{
    ExpectedChecksum best;
    for (const QByteArray &member : value.split(',')) {
        const int equals = member.indexOf('=');
        if (equals < 0)
            continue;
        const QByteArray name = member.left(equals).trimmed().toLower();
        QByteArray encoded = member.mid(equals + 1).trimmed();
        // Structured fields wrap the bytes in colons and may add parameters after ";".
        encoded = encoded.left(encoded.indexOf(';') < 0 ? encoded.size() : encoded.indexOf(';'));
        if (encoded.size() >= 2 && encoded.startsWith(':') && encoded.endsWith(':'))
            encoded = encoded.mid(1, encoded.size() - 2);
        QCryptographicHash::Algorithm algorithm;
        if (name == "sha-512")
            algorithm = QCryptographicHash::Sha512;
        else if (name == "sha-256")
            algorithm = QCryptographicHash::Sha256;
        else
            continue;
        const auto decoded = QByteArray::fromBase64Encoding(
            encoded.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded || decoded.decoded.size() != QCryptographicHash::hashLength(algorithm))
            continue;
        if (best.valid && best.algorithm == QCryptographicHash::Sha512)
            continue;
        best.valid = true;
        best.algorithm = algorithm;
        best.digest = decoded.decoded;
        best.source = source;
    }
    return best;
}
