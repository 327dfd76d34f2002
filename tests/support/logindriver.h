#pragma once

#include "messageboxdriver.h"
#include "views/logindialog.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <functional>

// Answers the login questions to come with alice and each password in turn (an empty one
// cancels), ticking "Remember for this host" as `remember` says, and notes the reason each
// question showed (empty when none). The first answer waits until `ready` holds, so that every
// download meant to share the question has stopped at it. Returns at once.
inline void answerLogins(QStringList passwords, QStringList *reasons, bool remember = false,
                         std::function<bool()> ready = {})
{
    answerNextDialog<LoginDialog>(
        [passwords, reasons, remember, ready](LoginDialog *login) mutable {
            if (ready)
                (void)QTest::qWaitFor(ready, 10000); // the question is answered either way
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
