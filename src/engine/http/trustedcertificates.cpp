#include "engine/http/trustedcertificates.h"

#include "engine/storage/atomicwrite.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSslCertificate>

namespace {

constexpr int kDigestSize = 32;

QString hostKey(const QString &host)
{
    return host.toLower();
}

} // namespace

TrustedCertificates &TrustedCertificates::shared()
{
    static TrustedCertificates store;
    return store;
}

void TrustedCertificates::useDirectory(const QString &dir)
{
    directory = dir;
    pins.clear();
    if (directory.isEmpty())
        return;
    QFile file(filePath());
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QJsonArray entries = QJsonDocument::fromJson(file.readAll()).array();
    for (const QJsonValue &value : entries) {
        const QJsonObject entry = value.toObject();
        const QString host = entry.value(QLatin1String("host")).toString();
        const QByteArray digest =
            QByteArray::fromHex(entry.value(QLatin1String("sha256")).toString().toLatin1());
        // A damaged entry pins nothing rather than something unintended.
        if (!host.isEmpty() && digest.size() == kDigestSize)
            pins.insert(hostKey(host), digest);
    }
}

QString TrustedCertificates::filePath() const
{
    return directory.isEmpty() ? QString() : directory + QStringLiteral("/certificates.json");
}

bool TrustedCertificates::isTrusted(const QString &host, const QByteArray &sha256) const
{
    if (sha256.size() != kDigestSize)
        return false;
    const auto pin = pins.constFind(hostKey(host));
    return pin != pins.constEnd() && *pin == sha256;
}

bool TrustedCertificates::trust(const QString &host, const QByteArray &sha256)
{
    if (host.isEmpty() || sha256.size() != kDigestSize)
        return false;
    pins.insert(hostKey(host), sha256);
    return save();
}

bool TrustedCertificates::save() const
{
    if (directory.isEmpty())
        return true;
    QJsonArray entries;
    for (auto pin = pins.constBegin(); pin != pins.constEnd(); ++pin)
        entries.append(QJsonObject{{QStringLiteral("host"), pin.key()},
                                   {QStringLiteral("sha256"), QString::fromLatin1(pin->toHex())}});
    if (!QDir().mkpath(directory))
        return false;
    return writeFileAtomically(filePath(), QJsonDocument(entries).toJson());
}

QByteArray TrustedCertificates::digestOf(const QSslCertificate &certificate)
{
    return certificate.isNull() ? QByteArray() : certificate.digest(QCryptographicHash::Sha256);
}

QString TrustedCertificates::fingerprintText(const QByteArray &sha256)
{
    return QString::fromLatin1(sha256.toHex(':').toUpper());
}
