#pragma once

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QString>

// A home of its own for a test and the copies of the program it starts: settings, lists,
// downloads and the runtime folder (lock, socket) apart from the user's and from other runs at the
// same time. The runtime folder is private, or the program would not use it.
inline QProcessEnvironment privateHome(const QString &root)
{
    QDir().mkpath(root + "/run");
    QFile::setPermissions(root + "/run",
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", root);
    env.insert("XDG_RUNTIME_DIR", root + "/run");
    for (const char *name : {"TEMP", "TMP"}) // where the lock lives on Windows
        env.insert(name, root + "/run");
    for (const char *name : {"DATA", "CONFIG", "CACHE"})
        env.insert(QStringLiteral("XDG_%1_HOME").arg(name), root + '/' + QString(name).toLower());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.remove("XDG_DOWNLOAD_DIR");
    return env;
}
