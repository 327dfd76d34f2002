#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

class QSslCertificate;

// A server certificate that failed verification: what the views show and what trusting it pins.
struct RefusedCertificate {
    QString host;      // the host the request went to, lower case
    QByteArray sha256; // SHA-256 digest of the server's own certificate; empty if it sent none
    QString reason;    // the one line for the user, already translated

    bool isNull() const { return reason.isEmpty(); }
    bool canBeTrusted() const { return !host.isEmpty() && !sha256.isEmpty(); }
};

// The certificates the user chose to trust although they fail verification, one per host, pinned
// to the certificate's SHA-256 digest: a different certificate on that host is refused again.
//
// Kept in "certificates.json" (an array of {"host", "sha256" in hex}) in the folder the program
// keeps its task list in. There is one store for the whole program, because a pin made in one
// task's details must hold at once for every other task and for the add dialog's probe, and a
// task is made from its link alone.
class TrustedCertificates {
public:
    static TrustedCertificates &shared();

    // Reads the pins kept in `directory` and keeps later ones there; an empty directory keeps
    // them in memory only. Pins made before are dropped either way.
    void useDirectory(const QString &directory);
    QString filePath() const;

    bool isTrusted(const QString &host, const QByteArray &sha256) const;
    // Pins the certificate for the host, replacing an earlier pin there. False when the pin could
    // not be written to disk; it holds for this run all the same.
    bool trust(const QString &host, const QByteArray &sha256);

    // Every certificate is taken, as curl's --insecure does; for the command-line tool only.
    void setInsecure(bool insecure) { acceptAny = insecure; }
    bool insecure() const { return acceptAny; }

    static QByteArray digestOf(const QSslCertificate &certificate);
    // The digest as the user compares it: upper-case hex pairs separated by colons.
    static QString fingerprintText(const QByteArray &sha256);

private:
    bool save() const;

    QString directory;
    QMap<QString, QByteArray> pins; // host -> digest
    bool acceptAny = false;
};
