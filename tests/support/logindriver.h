#pragma once

#include "messageboxdriver.h"
#include "views/logindialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

// Answers the login questions to come with alice and each password in turn (an empty one
// cancels), ticking "Remember for this host" as `remember` says, and notes the reason each
// question showed (empty when none). Returns at once.
inline void answerLogins(QStringList passwords, QStringList *reasons, bool remember = false)
{
    answerNextDialog<LoginDialog>([passwords, reasons, remember](LoginDialog *login) mutable {
        const auto *reason = login->findChild<QLabel *>("loginReason");
        reasons->append(reason ? reason->text() : QString());
        const QString password = passwords.takeFirst();
        if (!passwords.isEmpty())
            answerLogins(passwords, reasons, remember);
        login->findChild<QLineEdit *>("loginUser")->setText("alice");
        login->findChild<QLineEdit *>("loginPassword")->setText(password);
        login->findChild<QCheckBox *>("loginRemember")->setChecked(remember);
        login->findChild<QPushButton *>(password.isEmpty() ? "btnCancel" : "btnLogin")->click();
    });
}
