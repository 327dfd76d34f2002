#include "app/startup.h"

#include "app/mainwindow.h"
#include "app/singleinstance.h"

#include <QApplication>
#include <QIcon>
#include <QTextStream>
#include <QTimer>
#include <QUrl>

namespace {

void openLink(MainWindow &window, const QStringList &arguments)
{
    const QString link = linkArgument(arguments);
    if (!link.isEmpty())
        window.openAddDialog(link, QString(), 0);
}

} // namespace

QString linkArgument(const QStringList &arguments)
{
    if (arguments.size() != 1)
        return QString();
    const QString text = arguments.first().trimmed();
    const QUrl url(text);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return QString();
    return text;
}

int runTorvane(QApplication &app)
{
    const QStringList arguments = app.arguments().mid(1);
    SingleInstance instance;
    if (!instance.claim()) {
        if (instance.handOver(arguments))
            return 0;
        QTextStream(stderr) << "torvane: another copy holds " << instance.lockPath()
                            << " but does not answer\n";
        return 1;
    }

    // The application icon is a plain file in the working directory; the window itself carries
    // the compiled-in logo. The desktop entry's name lets the desktop match windows to it.
    app.setWindowIcon(QIcon(QStringLiteral("Halvorin_Logo.png")));
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.torvane.Torvane"));

    MainWindow window;
    QObject::connect(&instance, &SingleInstance::argumentsReceived, &window,
                     [&window](const QStringList &received) {
                         window.bringToFront();
                         openLink(window, received);
                     });
    window.show();
    QTimer::singleShot(0, &window, [&window, arguments] { openLink(window, arguments); });
    return app.exec();
}
