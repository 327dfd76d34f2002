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
};

ExpectedChecksum parseExpectedChecksum(const QString &text);

// "SHA-256", "SHA-1" or "MD5".
QString checksumName(QCryptographicHash::Algorithm algorithm);
