#include "app/schedulebox.h"

#include "language/translation.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTimeEdit>
#include <QVBoxLayout>

namespace {

QTimeEdit *timeEdit(QTime at, const char *name, QWidget *parent)
{
    auto *edit = new QTimeEdit(at.isValid() ? at : QTime(2, 0), parent);
    edit->setObjectName(QLatin1String(name));
    // A time reads the same in both languages. The edit lays out its sections by its direction
    // when it is given its format (right to left it would read "30:01" for 01:30): first the
    // direction, then the format.
    edit->setLayoutDirection(Qt::LeftToRight);
    edit->setDisplayFormat(QStringLiteral("HH:mm"));
    return edit;
}

} // namespace

ScheduleBox::ScheduleBox(const DownloadPreferences &current, QWidget *parent) : QWidget(parent)
{
    auto *column = new QVBoxLayout(this);

    auto *when = new QFrame(this);
    when->setObjectName(QStringLiteral("InfoFrame"));
    auto *grid = new QGridLayout(when);
    grid->setContentsMargins(15, 15, 15, 15);
    const Schedule &schedule = current.schedule;
    startCheck = new QCheckBox(T(QStringLiteral("Start the queue at")), when);
    startCheck->setObjectName(QStringLiteral("startCheck"));
    startCheck->setChecked(schedule.startOn);
    startTime = timeEdit(schedule.start, "startTime", when);
    stopCheck = new QCheckBox(T(QStringLiteral("Pause the queue at")), when);
    stopCheck->setObjectName(QStringLiteral("stopCheck"));
    stopCheck->setChecked(schedule.stopOn);
    stopTime = timeEdit(schedule.stop, "stopTime", when);
    grid->addWidget(startCheck, 0, 0);
    grid->addWidget(startTime, 0, 1);
    grid->addWidget(stopCheck, 1, 0);
    grid->addWidget(stopTime, 1, 1);
    grid->setColumnStretch(2, 1);

    grid->addWidget(new QLabel(T(QStringLiteral("On these days:")), when), 2, 0);
    auto *days = new QHBoxLayout;
    const char *const names[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    for (int day = 0; day < 7; ++day) {
        auto *check = new QCheckBox(T(QLatin1String(names[day])), when);
        check->setObjectName(QStringLiteral("day%1").arg(day + 1));
        check->setChecked((schedule.days >> day) & 1);
        dayChecks.append(check);
        days->addWidget(check);
    }
    days->addStretch();
    grid->addLayout(days, 3, 0, 1, 3);
    auto *hint = new QLabel(T(QStringLiteral("A scheduled start resumes every paused download "
                                             "in its turn, as many at once as the queue allows; "
                                             "a start missed while Torvane was closed runs when "
                                             "it opens.")),
                            when);
    hint->setWordWrap(true);
    hint->setMinimumHeight(3 * hint->fontMetrics().lineSpacing()); // wrapped, never clipped
    grid->addWidget(hint, 4, 0, 1, 3);
    column->addWidget(when);

    auto *after = new QFrame(this);
    after->setObjectName(QStringLiteral("InfoFrame"));
    auto *afterGrid = new QGridLayout(after);
    afterGrid->setContentsMargins(15, 15, 15, 15);
    afterCombo = new QComboBox(after);
    afterCombo->setObjectName(QStringLiteral("afterCombo"));
    afterCombo->addItem(T(QStringLiteral("Do nothing")), int(AfterQueue::Nothing));
    afterCombo->addItem(T(QStringLiteral("Quit Torvane")), int(AfterQueue::Quit));
    afterCombo->addItem(T(QStringLiteral("Run a command")), int(AfterQueue::Command));
    afterCombo->setCurrentIndex(qMax(0, afterCombo->findData(int(current.afterQueue))));
    commandEdit = new QLineEdit(current.afterCommand, after);
    commandEdit->setObjectName(QStringLiteral("commandEdit"));
    commandEdit->setLayoutDirection(Qt::LeftToRight);
    commandEdit->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    auto *commandHint = new QLabel(T(QStringLiteral("The command runs in the folder of the last "
                                                    "finished file, after a 30-second notice "
                                                    "that can cancel it.")),
                                   after);
    commandHint->setWordWrap(true);
    afterGrid->addWidget(new QLabel(T(QStringLiteral("When the queue is done:")), after), 0, 0);
    afterGrid->addWidget(afterCombo, 0, 1);
    afterGrid->addWidget(new QLabel(T(QStringLiteral("Command:")), after), 1, 0);
    afterGrid->addWidget(commandEdit, 1, 1, 1, 2);
    afterGrid->addWidget(commandHint, 2, 0, 1, 3);
    afterGrid->setColumnStretch(2, 1);
    column->addWidget(after);
    column->addStretch();

    for (QCheckBox *check : {startCheck, stopCheck})
        connect(check, &QCheckBox::toggled, this, &ScheduleBox::updateFields);
    connect(afterCombo, &QComboBox::currentIndexChanged, this, &ScheduleBox::updateFields);
    updateFields();
}

void ScheduleBox::updateFields()
{
    startTime->setEnabled(startCheck->isChecked());
    stopTime->setEnabled(stopCheck->isChecked());
    commandEdit->setEnabled(afterCombo->currentData().toInt() == int(AfterQueue::Command));
}

void ScheduleBox::fill(DownloadPreferences &prefs) const
{
    Schedule &schedule = prefs.schedule;
    schedule.startOn = startCheck->isChecked();
    schedule.start = startTime->time();
    schedule.stopOn = stopCheck->isChecked();
    schedule.stop = stopTime->time();
    schedule.days = 0;
    for (int day = 0; day < 7; ++day)
        schedule.days |= dayChecks.at(day)->isChecked() ? 1 << day : 0;
    prefs.afterQueue = AfterQueue(afterCombo->currentData().toInt());
    prefs.afterCommand = commandEdit->text().trimmed();
}

QString ScheduleBox::problem() const
{
    const bool anyDay = std::any_of(dayChecks.cbegin(), dayChecks.cend(),
                                    [](const QCheckBox *check) { return check->isChecked(); });
    if ((startCheck->isChecked() || stopCheck->isChecked()) && !anyDay)
        return T(QStringLiteral("Choose at least one day for the schedule."));
    if (afterCombo->currentData().toInt() == int(AfterQueue::Command) &&
        commandEdit->text().trimmed().isEmpty())
        return T(QStringLiteral("Enter the command to run when the queue is done."));
    return {};
}
