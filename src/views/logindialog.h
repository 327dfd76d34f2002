#pragma once

#include "engine/http/hostlogins.h"

#include <QDialog>

class QCheckBox;
class QLineEdit;

// Asks for the user name and password of a server that wants a login: which server asks, the
// realm it names, why a login it was given did not do, and whether to remember the login for
// that server.
class LoginDialog : public QDialog {
    Q_OBJECT

public:
    LoginDialog(const LoginRequest &request, QWidget *parent);

    Login login() const;
    bool remember() const;

    // Runs the dialog for `request`, filled with what is known of that server; an accepted
    // login is given to the server (HostLogins). False when the user cancelled.
    static bool ask(const LoginRequest &request, QWidget *parent);

private:
    QLineEdit *userEdit;
    QLineEdit *passwordEdit;
    QCheckBox *rememberCheck;
};
