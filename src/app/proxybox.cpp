#include "app/proxybox.h"

#include "language/translation.h"

#include <QComboBox>
#include <QGridLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QUrl>

namespace {

// The choices of the mode list, in its order.
enum Choice { SystemProxy, NoProxy, HttpProxy, Socks5Proxy };

int choiceOf(const ProxySettings &proxy)
{
    switch (proxy.mode) {
    case ProxySettings::Mode::None: return NoProxy;
    case ProxySettings::Mode::Manual:
        return proxy.kind == ProxySettings::Kind::Socks5 ? Socks5Proxy : HttpProxy;
    default: return SystemProxy;
    }
}

QLineEdit *leftToRightEdit(const QString &text, const char *name, QWidget *parent)
{
    auto *edit = new QLineEdit(text, parent);
    edit->setObjectName(QLatin1String(name));
    // Host names and user names read left to right also in the Arabic interface.
    edit->setLayoutDirection(Qt::LeftToRight);
    edit->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return edit;
}

} // namespace

ProxyBox::ProxyBox(const ProxySettings &current, QWidget *parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("InfoFrame"));
    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(15, 15, 15, 15);
    grid->setVerticalSpacing(10);

    modeCombo = new QComboBox(this);
    modeCombo->setObjectName(QStringLiteral("proxyMode"));
    modeCombo->addItem(T(QStringLiteral("System proxy")), SystemProxy);
    modeCombo->addItem(T(QStringLiteral("No proxy")), NoProxy);
    modeCombo->addItem(T(QStringLiteral("HTTP proxy")), HttpProxy);
    modeCombo->addItem(T(QStringLiteral("SOCKS5 proxy")), Socks5Proxy);
    modeCombo->setCurrentIndex(modeCombo->findData(choiceOf(current)));

    hostEdit = leftToRightEdit(current.host, "proxyHost", this);
    hostEdit->setPlaceholderText(QStringLiteral("proxy.example.com"));
    portEdit = leftToRightEdit(current.port > 0 ? QString::number(current.port) : QString(),
                               "proxyPort", this);
    portEdit->setValidator(new QIntValidator(1, 65535, portEdit));
    portEdit->setMaximumWidth(90);
    userEdit = leftToRightEdit(current.user, "proxyUser", this);
    passwordEdit = leftToRightEdit(current.password, "proxyPassword", this);
    passwordEdit->setEchoMode(QLineEdit::Password);

    grid->addWidget(new QLabel(T(QStringLiteral("Proxy:")), this), 0, 0);
    grid->addWidget(modeCombo, 0, 1, 1, 3);
    grid->addWidget(new QLabel(T(QStringLiteral("Host:")), this), 1, 0);
    grid->addWidget(hostEdit, 1, 1);
    grid->addWidget(new QLabel(T(QStringLiteral("Port:")), this), 1, 2);
    grid->addWidget(portEdit, 1, 3);
    grid->addWidget(new QLabel(T(QStringLiteral("User name:")), this), 2, 0);
    grid->addWidget(userEdit, 2, 1, 1, 3);
    grid->addWidget(new QLabel(T(QStringLiteral("Password:")), this), 3, 0);
    grid->addWidget(passwordEdit, 3, 1, 1, 3);
    auto *hint = new QLabel(
        T(QStringLiteral("User name and password only if the proxy asks for them; the password "
                         "is kept where only you can read it.")),
        this);
    hint->setWordWrap(true);
    grid->addWidget(hint, 4, 1, 1, 3);
    grid->setColumnStretch(1, 1);

    connect(modeCombo, &QComboBox::currentIndexChanged, this, &ProxyBox::updateFields);
    updateFields();
}

void ProxyBox::updateFields()
{
    const int choice = modeCombo->currentData().toInt();
    const bool manual = choice == HttpProxy || choice == Socks5Proxy;
    for (QLineEdit *edit : {hostEdit, portEdit, userEdit, passwordEdit})
        edit->setEnabled(manual);
}

ProxySettings ProxyBox::values() const
{
    ProxySettings proxy;
    const int choice = modeCombo->currentData().toInt();
    proxy.mode = choice == NoProxy       ? ProxySettings::Mode::None
                 : choice == SystemProxy ? ProxySettings::Mode::System
                                         : ProxySettings::Mode::Manual;
    proxy.kind = choice == Socks5Proxy ? ProxySettings::Kind::Socks5 : ProxySettings::Kind::Http;
    proxy.host = hostEdit->text().trimmed();
    proxy.port = portEdit->text().toInt();
    proxy.user = userEdit->text();
    proxy.password = passwordEdit->text();
    return proxy;
}

QString ProxyBox::problem() const
{
    const ProxySettings proxy = values();
    if (proxy.mode != ProxySettings::Mode::Manual)
        return QString();
    QUrl check;
    check.setHost(proxy.host, QUrl::StrictMode);
    if (proxy.host.isEmpty() || !check.isValid() || proxy.port < 1 || proxy.port > 65535)
        return T(QStringLiteral("Enter the proxy's host name and port."));
    return QString();
}
