#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QString>

// A checksum as a user pastes it: the hex digits of a SHA-256, SHA-1 or MD5 digest, in either
// case, alone or in a line such as sha256sum prints ("<hex>  file.iso"); the length of the hex
// run tells the algorithm.
struct ExpectedChecksum {
    bool valid = false;
    QCryptographicHash::Algorithm algorithm = QCryptographicHash::Sha256;
    QByteArray digest; // raw bytes
    // Where it came from, as the details show it: a header's name ("Repr-Digest"), a checksum
    // file's name ("SHA256SUMS"); empty for one the user gave.
    QString source;
};

ExpectedChecksum parseExpectedChecksum(const QString &text);

// How a completed download's file compared with the digests known for it.
struct ChecksumResult {
    enum State { None, Verified, Mismatch, Unreadable };
    State state = None;        // None: there was nothing to compare it with
    ExpectedChecksum expected; // the digest it was compared with (the last, when several)
    QByteArray actual;         // the file's digest in the same algorithm, raw
};

// "SHA-256", "SHA-512", "SHA-1" or "MD5".
QString checksumName(QCryptographicHash::Algorithm algorithm);

// The digest for the file `fileName` in a checksum file as servers publish them beside a
// download: a lone hex digest (file.iso.sha256), lines of "HEX  name" or "HEX *name" as
// sha256sum writes them (SHA256SUMS), or "SHA256 (name) = HEX" as BSD tools do. Only digests of
// `algorithm`'s length count, and only the line that names the file, unless `single`: a file made
// for this one download (file.iso.sha256) whose one digest is taken whatever name it gives.
ExpectedChecksum checksumFromListing(const QByteArray &text, const QString &fileName,
                                     QCryptographicHash::Algorithm algorithm, bool single);

// A digest the user gives on a command line: "sha256:HEX" (or sha512, sha1, md5).
ExpectedChecksum parseNamedChecksum(const QString &text);
