#pragma once

#include "engine/storage/checksumtext.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

class FileHasher;
class HttpSession;
class QNetworkReply;

// The check of a download whose bytes are all in, before it is reported done. The file's digest
// is compared with every digest known for it (the user's, the server's headers'); without any,
// the server is asked for a checksum file beside the download (<link>.sha256, .sha512, .md5,
// and SHA256SUMS in the link's folder), all at once with small requests that give up after a few
// seconds. A missing file, an error or a web page means there is none. The digests are computed
// on a thread of their own (FileHasher).
class CompletionCheck : public QObject {
    Q_OBJECT

public:
    CompletionCheck(HttpSession *session, QObject *parent);
    ~CompletionCheck() override;

    // Checks the file at `path`, downloaded from `link`, against `known` (which may be empty).
    // A check in progress is dropped first.
    void start(const QString &path, const QUrl &link, const QList<ExpectedChecksum> &known);
    // Drops the check; it reports nothing.
    void stop();

    int sidecarTimeoutMs = 5000;

signals:
    // The file matched every digest (Verified), did not match one (Mismatch), or there was
    // nothing to check it against (None). Unreadable: the file could not be read.
    void finished(const ChecksumResult &result);

private:
    struct Sidecar {
        QUrl url;
        QCryptographicHash::Algorithm algorithm = QCryptographicHash::Sha256;
        bool single = false; // made for this one file
        QString source;
        QNetworkReply *reply = nullptr;
        QByteArray body;
        int redirects = 0;
        bool answered = false;
        ExpectedChecksum found;
    };

    void askForSidecars(const QUrl &link);
    void ask(int index);
    void onSidecarData(int index);
    void onSidecarEnd(int index);
    void checkNext();

    HttpSession *session;
    QString path;
    QString linkName; // the file's name on the server, as a checksum file names it
    QList<ExpectedChecksum> pending;
    ExpectedChecksum current;
    QList<Sidecar> sidecars;
    QPointer<FileHasher> hasher;
    int round = 0; // counts stop(): what an earlier check sends is dropped
};
