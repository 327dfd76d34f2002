#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

// Hands the next modal dialog of type D to `answer` once it is open; returns at once, and the
// answer runs from the dialog's own event loop.
template <typename D, typename F> void answerNextDialog(F answer)
{
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, answer]() mutable {
        auto *dialog = qobject_cast<D *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        timer->stop();
        timer->deleteLater();
        answer(dialog);
    });
    timer->start();
}

// Answers the next question box by clicking the button with the given text (none such: the box
// is rejected), noting the question in `seenText`.
inline void answerNextMessageBox(const QString &buttonText, QString *seenText = nullptr)
{
    answerNextDialog<QMessageBox>([buttonText, seenText](QMessageBox *box) {
        if (seenText)
            *seenText = box->text();
        const auto buttons = box->buttons();
        for (QAbstractButton *button : buttons) {
            if (button->text() == buttonText) {
                button->click();
                return;
            }
        }
        box->reject();
    });
}
