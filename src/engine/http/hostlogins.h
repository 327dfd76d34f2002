#pragma once

#include <QMap>
#include <QString>
#include <QUrl>

// A user name and password for a server that asks for a login (HTTP Basic or Digest).
struct Login {
    QString user;
    QString password;

    bool isNull() const { return user.isEmpty() && password.isEmpty(); }
    bool operator==(const Login &o) const { return user == o.user && password == o.password; }
    bool operator!=(const Login &o) const { return !(*this == o); }
};

// A server that asked for a login: what the user is asked for it.
struct LoginRequest {
    QUrl url;             // the link that asked, after any redirects; its server gets the login
    QString realm;        // how the server names what it protects; may be empty
    bool refused = false; // the server refused the login it was given

    bool isNull() const { return url.isEmpty(); }
};

// The one line for a download that stopped at `request`: "Login required", or that the login was
// not accepted; already translated.
QString loginRequiredText(const LoginRequest &request);

// The logins the user gave in this run, each for the one server that asked for it: the scheme,
// host and port of its link (originOf()). A login is sent only to that server, never to another
// host a redirect leads to, nor over plain HTTP when it was given for HTTPS.
//
// One table for the whole program, like TrustedCertificates: a login given in the add dialog
// holds for the download it adds and for every other download from that server. The ones the
// user asked to remember are kept by the window in the private sessions file (remembered()).
class HostLogins {
public:
    static HostLogins &shared();

    // "https://example.com:443": the server a login belongs to; empty for a link without a host.
    static QString originOf(const QUrl &url);

    // The login for the server of `url`; null when there is none.
    Login find(const QUrl &url) const;
    // Gives the server of `url` this login, replacing an earlier one; `remember` keeps it across
    // restarts.
    void set(const QUrl &url, const Login &login, bool remember);
    bool isRemembered(const QUrl &url) const;

    // The logins to keep, by origin; and the ones kept, read back at start.
    QMap<QString, Login> remembered() const;
    void restore(const QMap<QString, Login> &logins);

private:
    struct Entry {
        Login login;
        bool remember = false;
    };
    QMap<QString, Entry> entries; // by origin
};
