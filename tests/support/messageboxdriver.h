#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

// Answers the next question box by clicking the button with the given text once the box is open
// and modal. Returns at once; the click happens from the box's own event loop.
inline void answerNextMessageBox(const QString &buttonText, QString *seenText = nullptr)
{
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, buttonText, seenText] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        timer->stop();
        timer->deleteLater();
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
    timer->start();
}

// Hands the next modal dialog of type D to `answer` once it is open; returns at once.
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
