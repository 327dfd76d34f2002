#include "app/mainwindow.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    // The application icon is a plain file in the working directory; the window itself carries
    // the compiled-in logo.
    app.setWindowIcon(QIcon(QStringLiteral("Halvorin_Logo.png")));
    MainWindow window;
    window.show();
    return app.exec();
}
