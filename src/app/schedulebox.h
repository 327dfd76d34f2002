#pragma once

#include "app/preferences.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QTimeEdit;

// The Schedule page of the preferences: start the queue at a time, stop (pause) it at a time, on
// the chosen days; and what happens once the queue is done (nothing, quit, or run a command).
class ScheduleBox : public QWidget {
    Q_OBJECT

public:
    ScheduleBox(const DownloadPreferences &current, QWidget *parent);

    // Writes the choices as shown into `prefs`.
    void fill(DownloadPreferences &prefs) const;
    // Why the choice cannot be saved, in the user's words; empty when it can.
    QString problem() const;

private:
    void updateFields();

    QCheckBox *startCheck;
    QTimeEdit *startTime;
    QCheckBox *stopCheck;
    QTimeEdit *stopTime;
    QList<QCheckBox *> dayChecks; // Monday first
    QComboBox *afterCombo;
    QLineEdit *commandEdit;
};
