#pragma once

#include "engine/http/proxysettings.h"

#include <QFrame>

class QComboBox;
class QLabel;
class QLineEdit;

// The proxy block of the preferences: the system's proxy (the default), none, or an HTTP or
// SOCKS5 proxy given by hand with an optional user name and password. A SOCKS5 proxy also
// resolves the host names, so that the local name server learns nothing of the downloads.
class ProxyBox : public QFrame {
    Q_OBJECT

public:
    ProxyBox(const ProxySettings &current, QWidget *parent);

    // The choice as shown; host and port are kept while another mode is chosen.
    ProxySettings values() const;
    // Why the choice cannot be saved, in the user's words; empty when it can.
    QString problem() const;

private:
    void updateFields();

    QComboBox *modeCombo;
    QLineEdit *hostEdit;
    QLineEdit *portEdit;
    QLineEdit *userEdit;
    QLineEdit *passwordEdit;
};
