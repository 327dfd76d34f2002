#include "testcertificates.h"

#include "testfiles.h"

#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QSslConfiguration>

namespace {

// An OpenSSL configuration whose section "ext" holds the extensions of one certificate.
QByteArray config(const QString &host, bool authority)
{
    QByteArray text = "[req]\ndistinguished_name = dn\n[dn]\n[ext]\n";
    if (authority)
        return text + "basicConstraints = critical,CA:TRUE\n"
                      "keyUsage = critical,keyCertSign,cRLSign\n"
                      "subjectKeyIdentifier = hash\n";
    const bool ip = !QHostAddress(host).isNull();
    return text +
           "basicConstraints = CA:FALSE\nextendedKeyUsage = serverAuth\n"
           "subjectAltName = " +
           (ip ? "IP:" : "DNS:") + host.toLatin1() + '\n';
}

} // namespace

// Where no openssl runs (the Windows build under Wine), the certificates come from a folder made
// beforehand on the build machine (scripts/windows/make-test-certificates.sh): self1..self4 for
// 127.0.0.1, the authority "ca" and its leaf-<host> certificates.
bool TestCertificates::fromPool(const QString &pooled, const QString &name)
{
    const QString pool = qEnvironmentVariable("TORVANE_TEST_CERTIFICATES");
    for (const char *suffix : {".pem", ".key"})
        if (!QFile::copy(pool + '/' + pooled + suffix, dir.filePath(name + suffix)))
            return false;
    return true;
}

bool TestCertificates::usePool()
{
    return qEnvironmentVariableIsSet("TORVANE_TEST_CERTIFICATES");
}

bool TestCertificates::run(const QStringList &arguments)
{
    QProcess openssl;
    openssl.setWorkingDirectory(dir.path());
    openssl.start(QStringLiteral("openssl"), arguments);
    if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0) {
        qWarning("openssl %s: %s", qPrintable(arguments.join(' ')),
                 openssl.readAllStandardError().constData());
        return false;
    }
    return true;
}

TlsIdentity TestCertificates::load(const QString &name)
{
    TlsIdentity identity;
    const QList<QSslCertificate> certs =
        QSslCertificate::fromData(readFile(dir.filePath(name + ".pem")));
    identity.key = QSslKey(readFile(dir.filePath(name + ".key")), QSsl::Rsa);
    if (!certs.isEmpty())
        identity.certificate = certs.first();
    return identity;
}

// A fresh RSA key in name.key, valid for a day, and with the extensions of name.cnf a
// certificate (-x509) or a request (-new) for the subject in name + suffix.
QStringList TestCertificates::request(const QString &kind, const QString &subject,
                                      const QString &name, const QString &suffix)
{
    // RSA, not EC: Qt's schannel back end (Windows) hands a server's key to the system only when
    // it is RSA or DSA; with an EC key its TLS server never answers a handshake.
    return words("req " + kind + " -newkey rsa:2048 -nodes -days 1")
           << "-subj" << subject
           << words(QStringLiteral("-config %1.cnf -extensions ext -keyout %1.key -out %1%2")
                        .arg(name, suffix));
}

TlsIdentity TestCertificates::selfSigned(const QString &host)
{
    const QString name = QStringLiteral("self%1").arg(++serial);
    const bool made = usePool() ? fromPool(QStringLiteral("self%1").arg((serial - 1) % 4 + 1), name)
                                : writeFile(dir.filePath(name + ".cnf"), config(host, false)) &&
                                      run(request("-x509", "/CN=" + host, name, ".pem"));
    return made ? load(name) : TlsIdentity();
}

bool TestCertificates::makeAuthority()
{
    if (!haveAuthority && usePool())
        haveAuthority = fromPool(QStringLiteral("ca"), QStringLiteral("ca"));
    if (!haveAuthority)
        haveAuthority = writeFile(dir.filePath("ca.cnf"), config(QString(), true)) &&
                        run(request("-x509", "/CN=Torvane test authority", "ca", ".pem"));
    return haveAuthority;
}

TlsIdentity TestCertificates::issued(const QString &host)
{
    const QString name = QStringLiteral("leaf%1").arg(++serial);
    if (usePool())
        return makeAuthority() && fromPool("leaf-" + host, name) ? load(name) : TlsIdentity();
    if (!makeAuthority() || !writeFile(dir.filePath(name + ".cnf"), config(host, false)) ||
        !run(request("-new", "/CN=" + host, name, ".csr")) ||
        !run(words(QStringLiteral("x509 -req -in %1.csr -CA ca.pem -CAkey ca.key -set_serial %2 "
                                  "-days 1 -extfile %1.cnf -extensions ext -out %1.pem")
                       .arg(name)
                       .arg(serial))))
        return TlsIdentity();
    return load(name);
}

QString TestCertificates::authorityFile()
{
    return makeAuthority() ? dir.filePath("ca.pem") : QString();
}

bool TestCertificates::trustAuthorityInProcess()
{
    const QList<QSslCertificate> ca = QSslCertificate::fromPath(authorityFile());
    if (ca.isEmpty())
        return false;
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificate(ca.first());
    QSslConfiguration::setDefaultConfiguration(configuration);
    return true;
}
