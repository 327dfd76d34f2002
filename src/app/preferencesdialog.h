#pragma once

#include "app/preferences.h"

#include <QDialog>

class QBoxLayout;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QShowEvent;
class QSpinBox;
class ProxyBox;
class ScheduleBox;

// The preferences the user sets by hand: the download folder, how many downloads run at once,
// a speed limit for all of them together, whether a tray notice tells of a download's end, the
// clipboard watch (General); links from other devices, the proxy and how long an outage is
// waited out (Connection); when the queue starts and stops and what follows its end (Schedule).
// Language and theme have their own toolbar buttons and are remembered from there.
class PreferencesDialog : public QDialog {
    Q_OBJECT

public:
    PreferencesDialog(const DownloadPreferences &current, QWidget *parent);

    // The choices as shown; valid once the dialog was accepted.
    DownloadPreferences values() const;
    // The switch for links from other devices on the network.
    void setAcceptRemoteLinks(bool accept);
    bool acceptRemoteLinks() const;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void addNetworkBlock(QBoxLayout *layout);
    void browse();
    void save();
    void updateLimitFields();
    void addProxyBlock(QBoxLayout *layout, const ProxySettings &current);
    void addOutageBlock(QBoxLayout *layout, int giveUpMinutes);

    QLineEdit *folderEdit;
    QComboBox *atOnceCombo;
    QCheckBox *limitCheck;
    QLineEdit *limitEdit;
    QComboBox *limitUnit;
    QCheckBox *noticesCheck;
    QCheckBox *clipboardCheck;
    ScheduleBox *scheduleBox = nullptr;
    ProxyBox *proxyBox = nullptr;
    QSpinBox *giveUpSpin = nullptr;
    QCheckBox *remoteCheck = nullptr;
    QLabel *errorLbl;
};
