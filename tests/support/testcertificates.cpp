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

// Where no openssl runs (the Windows build under Wine), the certificates come from a folder made
// beforehand on the build machine (scripts/windows/make-test-certificates.sh): self1..self4 for
// 127.0.0.1, the authority "ca" and its leaf-<host> certificates.
bool usePool()
{
    return qEnvironmentVariableIsSet("TORVANE_TEST_CERTIFICATES");
}

} // namespace

bool TestCertificates::fromPool(const QString &pooled, const QString &name)
{
    const QString pool = qEnvironmentVariable("TORVANE_TEST_CERTIFICATES");
    for (const char *suffix : {".pem", ".key"})
        if (!QFile::copy(pool + '/' + pooled + suffix, dir.filePath(name + suffix)))
            return false;
    return true;
}

bool TestCertificates::openssl(const QStringList &arguments)
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

// A fresh RSA key in name.key, valid for a day, and in name.pem the certificate for `subject`
// with the extensions of `config`: self-signed, or with `issue` signed by the authority.
bool TestCertificates::make(const QString &name, const QString &subject, const QByteArray &config,
                            bool issue)
{
    // RSA, not EC: Qt's schannel back end (Windows) hands a server's key to the system only when
    // it is RSA or DSA; with an EC key its TLS server never answers a handshake.
    const QStringList request =
        words(
            QStringLiteral("req %1 -newkey rsa:2048 -nodes -days 1").arg(issue ? "-new" : "-x509"))
        << "-subj" << subject
        << words(QStringLiteral("-config %1.cnf -extensions ext -keyout %1.key -out %1%2")
                     .arg(name, issue ? ".csr" : ".pem"));
    const QString sign = QStringLiteral("x509 -req -in %1.csr -CA ca.pem -CAkey ca.key "
                                        "-set_serial %2 -days 1 -extfile %1.cnf -extensions ext "
                                        "-out %1.pem")
                             .arg(name)
                             .arg(serial);
    return writeFile(dir.filePath(name + ".cnf"), config) && openssl(request) &&
           (!issue || openssl(words(sign)));
}

TlsIdentity TestCertificates::load(const QString &name)
{
    return {QSslCertificate::fromPath(dir.filePath(name + ".pem")).value(0),
            QSslKey(readFile(dir.filePath(name + ".key")), QSsl::Rsa)};
}

TlsIdentity TestCertificates::selfSigned(const QString &host)
{
    const QString name = QStringLiteral("self%1").arg(++serial);
    const bool made = usePool() ? fromPool(QStringLiteral("self%1").arg((serial - 1) % 4 + 1), name)
                                : make(name, "/CN=" + host, config(host, false), false);
    return made ? load(name) : TlsIdentity();
}

TlsIdentity TestCertificates::issued(const QString &host)
{
    const QString name = QStringLiteral("leaf%1").arg(++serial);
    const bool made = !authorityFile().isEmpty() &&
                      (usePool() ? fromPool("leaf-" + host, name)
                                 : make(name, "/CN=" + host, config(host, false), true));
    return made ? load(name) : TlsIdentity();
}

QString TestCertificates::authorityFile()
{
    if (!haveAuthority)
        haveAuthority =
            usePool() ? fromPool("ca", "ca")
                      : make("ca", "/CN=Torvane test authority", config(QString(), true), false);
    return haveAuthority ? dir.filePath("ca.pem") : QString();
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
