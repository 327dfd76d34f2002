#pragma once

#include <QObject>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QWidget;

// The window's icon in the system tray with its menu: Restore, Preferences and Quit. A click or
// double click on the icon asks for the window as Restore does. The quit entry also answers
// Ctrl+Q in the window, since without a tray the menu is out of reach. What the entries do is the
// window's: the tray only asks.
class WindowTray : public QObject {
    Q_OBJECT

public:
    // Puts the icon in the tray and gives `window` the same icon and the Ctrl+Q shortcut.
    explicit WindowTray(QWidget *window);

    QSystemTrayIcon *trayIcon() const { return icon; }
    QAction *quitAction() const { return quit; }
    // The menu's texts in the current language.
    void updateTexts();

    // Whether the desktop has a tray to hide the window in.
    static bool available();
    // Tests fake a desktop with or without a tray: 1 yes, 0 no, -1 ask the desktop.
    static int availableOverride;

signals:
    void restoreRequested();
    void preferencesRequested();
    void quitRequested();

private:
    QSystemTrayIcon *icon;
    QMenu *trayIconMenu;
    QAction *restoreAction;
    QAction *prefsAction;
    QAction *quit;
};
