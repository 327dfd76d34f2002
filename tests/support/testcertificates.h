#pragma once

#include <QSslCertificate>
#include <QSslKey>
#include <QString>
#include <QTemporaryDir>

// A certificate with its private key, as a TLS server presents it.
struct TlsIdentity {
    QSslCertificate certificate;
    QSslKey key;

    bool isNull() const { return certificate.isNull() || key.isNull(); }
};

// Throw-away certificates made with openssl (RSA keys, valid for a day): self-signed ones, and
// ones issued by a test authority that a test may add to the trusted roots. A host that is an IP
// address goes into the subjectAltName as an IP entry, anything else as a DNS name.
class TestCertificates {
public:
    TlsIdentity selfSigned(const QString &host = QStringLiteral("127.0.0.1"));
    // Signed by this object's authority (authorityFile()), made on first use.
    TlsIdentity issued(const QString &host = QStringLiteral("127.0.0.1"));
    // The authority as a PEM file, for a child process's own option (Qt's TLS backend reads
    // neither SSL_CERT_FILE nor SSL_CERT_DIR).
    QString authorityFile();

    // Adds the authority to this process's default TLS configuration, which every request built
    // afterwards verifies against.
    bool trustAuthorityInProcess();

private:
    bool make(const QString &name, const QString &subject, const QByteArray &config, bool issue);
    bool fromPool(const QString &pooled, const QString &name);
    bool openssl(const QStringList &arguments);
    TlsIdentity load(const QString &name);

    QTemporaryDir dir;
    int serial = 0;
    bool haveAuthority = false;
};
