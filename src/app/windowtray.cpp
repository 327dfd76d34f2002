#include "app/windowtray.h"

#include "language/translation.h"

#include <QAction>
#include <QMenu>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QWidget>

int WindowTray::availableOverride = -1;

WindowTray::WindowTray(QWidget *window)
    : QObject(window), icon(new QSystemTrayIcon(this)), trayIconMenu(new QMenu(window)),
      restoreAction(new QAction(window)), prefsAction(new QAction(window)),
      quit(new QAction(window))
{
    connect(restoreAction, &QAction::triggered, this, &WindowTray::restoreRequested);
    connect(prefsAction, &QAction::triggered, this, &WindowTray::preferencesRequested);
    connect(quit, &QAction::triggered, this, &WindowTray::quitRequested);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setShortcutContext(Qt::WindowShortcut);
    window->addAction(quit);
    trayIconMenu->addAction(restoreAction);
    trayIconMenu->addAction(prefsAction);
    trayIconMenu->addSeparator();
    trayIconMenu->addAction(quit);

    icon->setContextMenu(trayIconMenu);
    QIcon logo(QStringLiteral(":/Halvorin_Logo.png"));
    if (logo.isNull())
        logo = window->style()->standardIcon(QStyle::SP_ComputerIcon);
    icon->setIcon(logo);
    window->setWindowIcon(logo);
    connect(icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger)
                    emit restoreRequested();
            });
    icon->show();
}

void WindowTray::updateTexts()
{
    const bool arabic = g_lang == QLatin1String("ar");
    restoreAction->setText(arabic ? QStringLiteral("إظهار البرنامج") : QStringLiteral("Restore"));
    quit->setText(arabic ? QStringLiteral("خروج نهائي") : QStringLiteral("Quit"));
    prefsAction->setText(T(QStringLiteral("Preferences")));
}

bool WindowTray::available()
{
    if (availableOverride >= 0)
        return availableOverride == 1;
    return QSystemTrayIcon::isSystemTrayAvailable();
}
