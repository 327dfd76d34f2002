#pragma once

#include "app/preferences.h"

#include <QDialog>
#include <QElapsedTimer>

class QLabel;
class QTimer;

// The notice before the queue's end action (quit, or the user's command): it counts down, and
// the action follows unless the user cancels. It does not block the window or the downloads.
class AfterQueueNotice : public QDialog {
    Q_OBJECT

public:
    AfterQueueNotice(AfterQueue action, QWidget *parent);

    // How long the notice waits; tests shorten it.
    static int delayMs;

signals:
    // The countdown ran out, or the user chose to go ahead at once.
    void confirmed();

private:
    void tick();

    AfterQueue m_action;
    QLabel *text;
    QTimer *clock;
    QElapsedTimer shown;
};
