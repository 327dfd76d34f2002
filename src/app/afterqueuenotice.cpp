#include "app/afterqueuenotice.h"

#include "language/translation.h"
#include "views/widgetstyles.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

int AfterQueueNotice::delayMs = 30000;

AfterQueueNotice::AfterQueueNotice(AfterQueue action, QWidget *parent)
    : QDialog(parent), m_action(action), text(new QLabel(this)), clock(new QTimer(this))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
    setWindowTitle(QStringLiteral("Torvane"));
    setLayoutDirection(languageIsRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight);
    text->setObjectName(QStringLiteral("afterLbl"));
    text->setWordWrap(true);
    auto *now = new QPushButton(
        T(action == AfterQueue::Quit ? QStringLiteral("Quit now") : QStringLiteral("Run now")),
        this);
    now->setObjectName(QStringLiteral("btnNow"));
    auto *cancel = new QPushButton(T(QStringLiteral("Cancel")), this);
    cancel->setObjectName(QStringLiteral("btnCancel"));
    cancel->setDefault(true); // Enter, like Escape, keeps the program as it is
    for (QPushButton *b : {now, cancel})
        b->setStyleSheet(QLatin1String(DialogButtonStyle));
    auto *column = new QVBoxLayout(this);
    column->addWidget(text);
    auto *row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(now);
    row->addWidget(cancel);
    column->addLayout(row);
    setMinimumWidth(380);

    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(now, &QPushButton::clicked, this, [this] {
        clock->stop();
        accept();
        emit confirmed();
    });
    clock->setInterval(qMin(1000, qMax(1, delayMs / 4)));
    connect(clock, &QTimer::timeout, this, &AfterQueueNotice::tick);
    shown.start();
    clock->start();
    tick();
}

void AfterQueueNotice::tick()
{
    const qint64 left = delayMs - shown.elapsed();
    if (left <= 0) {
        clock->stop();
        accept();
        emit confirmed();
        return;
    }
    const QString seconds = QString::number((left + 999) / 1000);
    text->setText(
        m_action == AfterQueue::Quit
            ? T(QStringLiteral("All downloads are done. Torvane quits in %1 s.")).arg(seconds)
            : T(QStringLiteral("All downloads are done. The command runs in %1 s.")).arg(seconds));
}
