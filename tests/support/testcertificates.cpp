#include "testcertificates.h"

#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QSslConfiguration>

namespace {

const QStringList kEcKey = {
    QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
    QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

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

TestCertificates::TestCertificates() = default;

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
        QSslCertificate::fromData(readFile(dir.filePath(name + QStringLiteral(".pem"))));
    identity.key = QSslKey(readFile(dir.filePath(name + QStringLiteral(".key"))), QSsl::Ec);
    if (!certs.isEmpty())
        identity.certificate = certs.first();
    return identity;
}

TlsIdentity TestCertificates::selfSigned(const QString &host)
{
    const QString name = QStringLiteral("self%1").arg(++serial);
    if (!writeFile(dir.filePath(name + QStringLiteral(".cnf")), config(host, false)) ||
        !run(QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + kEcKey +
             QStringList{QStringLiteral("-days"), QStringLiteral("1"), QStringLiteral("-subj"),
                         QStringLiteral("/CN=") + host, QStringLiteral("-config"),
                         name + QStringLiteral(".cnf"), QStringLiteral("-extensions"),
                         QStringLiteral("ext"), QStringLiteral("-keyout"),
                         name + QStringLiteral(".key"), QStringLiteral("-out"),
                         name + QStringLiteral(".pem")}))
        return TlsIdentity();
    return load(name);
}

bool TestCertificates::makeAuthority()
{
    if (haveAuthority)
        return true;
    haveAuthority =
        writeFile(dir.filePath(QStringLiteral("ca.cnf")), config(QString(), true)) &&
        run(QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + kEcKey +
            QStringList{QStringLiteral("-days"), QStringLiteral("1"), QStringLiteral("-subj"),
                        QStringLiteral("/CN=Torvane test authority"), QStringLiteral("-config"),
                        QStringLiteral("ca.cnf"), QStringLiteral("-extensions"),
                        QStringLiteral("ext"), QStringLiteral("-keyout"), QStringLiteral("ca.key"),
                        QStringLiteral("-out"), QStringLiteral("ca.pem")});
    return haveAuthority;
}

TlsIdentity TestCertificates::issued(const QString &host)
{
    const QString name = QStringLiteral("leaf%1").arg(++serial);
    if (!makeAuthority() ||
        !writeFile(dir.filePath(name + QStringLiteral(".cnf")), config(host, false)) ||
        !run(QStringList{QStringLiteral("req"), QStringLiteral("-new")} + kEcKey +
             QStringList{QStringLiteral("-subj"), QStringLiteral("/CN=") + host,
                         QStringLiteral("-config"), name + QStringLiteral(".cnf"),
                         QStringLiteral("-keyout"), name + QStringLiteral(".key"),
                         QStringLiteral("-out"), name + QStringLiteral(".csr")}) ||
        !run({QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
              name + QStringLiteral(".csr"), QStringLiteral("-CA"), QStringLiteral("ca.pem"),
              QStringLiteral("-CAkey"), QStringLiteral("ca.key"), QStringLiteral("-set_serial"),
              QString::number(serial), QStringLiteral("-days"), QStringLiteral("1"),
              QStringLiteral("-extfile"), name + QStringLiteral(".cnf"),
              QStringLiteral("-extensions"), QStringLiteral("ext"), QStringLiteral("-out"),
              name + QStringLiteral(".pem")}))
        return TlsIdentity();
    return load(name);
}

QSslCertificate TestCertificates::authority()
{
    if (!makeAuthority())
        return QSslCertificate();
    const QList<QSslCertificate> certs =
        QSslCertificate::fromData(readFile(dir.filePath(QStringLiteral("ca.pem"))));
    return certs.value(0);
}

QString TestCertificates::authorityFile()
{
    return makeAuthority() ? dir.filePath(QStringLiteral("ca.pem")) : QString();
}

bool TestCertificates::trustAuthorityInProcess()
{
    const QSslCertificate ca = authority();
    if (ca.isNull())
        return false;
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificate(ca);
    QSslConfiguration::setDefaultConfiguration(configuration);
    return true;
}
