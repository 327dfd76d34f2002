#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSslError>

struct RefusedCertificate;
class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;
class QUrl;

// The requests of one HTTP transfer: how every request is built, which connection pool carries
// it, what a TLS complaint about the server means, and how a request is dropped. Each part gets a
// TCP connection of its own, and bodies arrive byte for byte as stored, so that ranges and offsets
// agree.
//
// Every server certificate is verified against the system's trusted roots and the host name. One
// that fails is taken only when the user trusted exactly that certificate for that host
// (TrustedCertificates); otherwise the request ends before any byte of the answer, with
// refusalOf() telling why.
class HttpSession : public QObject {
    Q_OBJECT

public:
    explicit HttpSession(QObject *parent);

    // A GET of `url` for part `part` (the probe counts as part 0). `range` is the Range header's
    // value, none when empty; a `timeoutMs` above 0 ends a transfer that stays silent that long.
    QNetworkReply *get(const QUrl &url, int part, const QByteArray &range, int timeoutMs = 0);
    // Sends a request built elsewhere; its certificate is decided as for every other request.
    QNetworkReply *send(QNetworkRequest request, int part = 0);

    // The certificate that ended `reply`, if one did; null otherwise.
    static RefusedCertificate refusalOf(const QNetworkReply *reply);

    // The HTTP status of a reply; 0 before any answer.
    static int statusOf(const QNetworkReply *reply);
    // Ends a request that is no longer wanted; nothing it still reports reaches `receiver`.
    static void drop(QNetworkReply *reply, QObject *receiver);

private:
    QNetworkRequest createRequest(const QUrl &url) const;
    QNetworkAccessManager *managerForPart(int part) const;
    void handleSslErrors(QNetworkReply *reply, const QList<QSslError> &errors);

    QNetworkAccessManager *manager = nullptr;
    // A second connection pool: Qt 6.4 opens at most six HTTP/1.1 connections per host and
    // manager, so the parts are spread over two managers to get one connection each.
    QNetworkAccessManager *manager2 = nullptr;
};
