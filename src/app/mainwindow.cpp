#include "app/mainwindow.h"

#include <QGuiApplication>

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    QGuiApplication::setQuitOnLastWindowClosed(false);
    resize(1150, 700);
}
