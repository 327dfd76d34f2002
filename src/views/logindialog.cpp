#include "views/logindialog.h"

#include "language/translation.h"
#include "views/dialogbutton.h"
#include "views/widgetstyles.h"

#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// The server as the user knows it from the link: its host, and its port when not the usual one.
QString serverName(const QUrl &url)
{
    const bool https = url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0;
    const int port = url.port(https ? 443 : 80);
    const QString host = url.host(QUrl::FullyDecoded);
    return port == (https ? 443 : 80) ? host : host + QLatin1Char(':') + QString::number(port);
}

} // namespace

LoginDialog::LoginDialog(const LoginRequest &request, QWidget *parent) : QDialog(parent)
{
    QVBoxLayout *mainLayout = openDialog(this, T(QStringLiteral("Login")), 480);
    QFrame *form = nullptr;
    QGridLayout *grid = formBlock(this, &form);

    // The host is a name from the link: it keeps its own direction inside an Arabic sentence.
    auto *asks = new QLabel(T(QStringLiteral("The server %1 asks for a user name and password."))
                                .arg(QChar(0x2068) + serverName(request.url) + QChar(0x2069)),
                            form);
    asks->setObjectName(QStringLiteral("loginServer"));
    asks->setWordWrap(true);
    grid->addWidget(asks, 0, 0, 1, 2);
    int row = 1;
    if (!request.realm.isEmpty()) {
        auto *realm = new QLabel(
            T(QStringLiteral("It says: %1")).arg(QChar(0x2068) + request.realm + QChar(0x2069)),
            form);
        realm->setWordWrap(true);
        grid->addWidget(realm, row++, 0, 1, 2);
    }
    if (request.refused) {
        auto *reason = new QLabel(loginRequiredText(request), form);
        reason->setObjectName(QStringLiteral("loginReason"));
        reason->setStyleSheet(QLatin1String(ErrorTextStyle));
        grid->addWidget(reason, row++, 0, 1, 2);
    }

    const HostLogins &known = HostLogins::shared();
    userEdit = new QLineEdit(known.find(request.url).user, form);
    userEdit->setObjectName(QStringLiteral("loginUser"));
    passwordEdit = new QLineEdit(form);
    passwordEdit->setObjectName(QStringLiteral("loginPassword"));
    passwordEdit->setEchoMode(QLineEdit::Password);
    for (QLineEdit *edit : {userEdit, passwordEdit}) {
        edit->setLayoutDirection(Qt::LeftToRight);
        edit->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    }
    grid->addWidget(new QLabel(T(QStringLiteral("User name:")), form), row, 0);
    grid->addWidget(userEdit, row++, 1);
    grid->addWidget(new QLabel(T(QStringLiteral("Password:")), form), row, 0);
    grid->addWidget(passwordEdit, row++, 1);
    rememberCheck = new QCheckBox(T(QStringLiteral("Remember for this host")), form);
    rememberCheck->setObjectName(QStringLiteral("loginRemember"));
    rememberCheck->setChecked(known.isRemembered(request.url));
    grid->addWidget(rememberCheck, row, 1);
    grid->setColumnStretch(1, 1);
    mainLayout->addWidget(form);

    auto *actions = new QFrame(this);
    actions->setObjectName(QStringLiteral("ActionFrame"));
    auto *buttons = new QHBoxLayout(actions);
    buttons->setContentsMargins(10, 10, 10, 10);
    buttons->setSpacing(15);
    QPushButton *btnLogin = dialogButton(T(QStringLiteral("Log in")), "btnLogin", actions);
    QPushButton *btnCancel = dialogButton(T(QStringLiteral("Cancel")), "btnCancel", actions);
    btnLogin->setDefault(true);
    buttons->addStretch();
    buttons->addWidget(btnLogin);
    buttons->addWidget(btnCancel);
    mainLayout->addWidget(actions);
    connect(btnLogin, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    (userEdit->text().isEmpty() ? userEdit : passwordEdit)->setFocus();
}

Login LoginDialog::login() const
{
    return Login{userEdit->text(), passwordEdit->text()};
}

bool LoginDialog::remember() const
{
    return rememberCheck->isChecked();
}

bool LoginDialog::ask(const LoginRequest &request, QWidget *parent)
{
    LoginDialog dialog(request, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    HostLogins::shared().set(request.url, dialog.login(), dialog.remember());
    return true;
}
