#include "app/startup.h"

#include <QApplication>
#include <cstring>
#include <vector>

int main(int argc, char **argv)
{
#ifdef Q_OS_WIN
    // Windows: Qt's DirectWrite font engine instead of its GDI one by default. GDI crashes on the
    // colour-emoji fallback font that the toolbar's texts reach, and DirectWrite draws those and
    // Arabic better. A platform named on the command line or in QT_QPA_PLATFORM still wins.
    std::vector<char *> args(argv, argv + argc);
    bool platformGiven = qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
    for (int i = 1; i < argc; ++i)
        platformGiven = platformGiven || std::strcmp(argv[i], "-platform") == 0;
    static char platformOption[] = "-platform";
    static char platformValue[] = "windows:fontengine=directwrite";
    if (!platformGiven) {
        args.insert(args.begin() + 1, {platformOption, platformValue});
        argc += 2;
    }
    args.push_back(nullptr);
    argv = args.data();
#endif
    QApplication app(argc, argv);
    return runTorvane(app);
}
