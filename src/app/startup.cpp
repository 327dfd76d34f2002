#include "app/startup.h"

#include "app/mainwindow.h"
#include "app/singleinstance.h"

#include <QApplication>
#include <QIcon>
#include <QTextStream>
#include <QTimer>

void receiveHandOvers(SingleInstance &instance, MainWindow &window)
{
    instance.setLinkTaker([&window](const LinkOffer &offer) { return window.takeOffer(offer); });
    QObject::connect(&instance, &SingleInstance::argumentsReceived, &window,
                     [&window] { window.bringToFront(); });
}

int runTorvane(QApplication &app)
{
    const QStringList arguments = app.arguments().mid(1);
    SingleInstance instance;
    if (!instance.claim()) {
        switch (instance.handOver(arguments)) {
        case SingleInstance::HandOver::Taken: return 0;
        case SingleInstance::HandOver::Refused:
            QTextStream(stderr) << "torvane: the running copy has too many links waiting; "
                                   "try again once their dialogs are done\n";
            return 1;
        case SingleInstance::HandOver::NoAnswer: break;
        }
        QTextStream(stderr) << "torvane: another copy holds " << instance.lockPath()
                            << " but does not answer\n";
        return 1;
    }

    // The application icon is a plain file in the working directory; the window itself carries
    // the compiled-in logo. The desktop entry's name lets the desktop match windows to it.
    app.setWindowIcon(QIcon(QStringLiteral("Halvorin_Logo.png")));
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.torvane.Torvane"));

    MainWindow window;
    receiveHandOvers(instance, window);
    window.show();
    // The links of this start's own command line (http(s) ones only) wait their turn like any.
    window.takeOffer(linkOfferFromArguments(arguments));
    return app.exec();
}
