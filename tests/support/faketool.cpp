// A stand-in for the media tool, as a real program so that it starts on Windows as on Linux.
// Tests copy it into place under the tool's name and write beside it a file named "script", one
// step a line:
//   print TEXT        TEXT on stdout at once, no newline added, then a pause of 0.6 s long enough
//                     for it to reach the reader as a read of its own also on a busy machine
//   write FILE TEXT   TEXT into FILE beside the tool ("out": the path given after -o)
//   exit CODE         ends with CODE (the end of the script ends with 0)
//   child             records the tool's pid in "tool", starts a copy of itself that records its
//                     own pid in "child" and sleeps 30 s, and waits for that copy
//   --                the steps above are the first run's, those below every later run's
// TEXT may hold \n, \\ and \xHH, and $cwd (the working folder), $enc (PYTHONIOENCODING), $out
// (what the -o file holds, or "absent") and $args (the arguments).

#include "testfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <cstdio>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#endif

// Written whole under a temporary name first, so that a reader never sees half a pid.
static void publish(const QString &path, const QByteArray &data)
{
    QFile f(path + QStringLiteral(".part"));
    if (f.open(QIODevice::WriteOnly) && f.write(data) == data.size() && f.flush()) {
        f.close();
        QFile::remove(path);
        f.rename(path);
    }
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString dir = QCoreApplication::applicationDirPath();
    const QByteArray pid = QByteArray::number(QCoreApplication::applicationPid());
    const QStringList args = app.arguments().mid(1);
    if (args.value(0) == QLatin1String("--sleeping-child")) {
        publish(dir + QStringLiteral("/child"), pid);
        QThread::sleep(30);
        return 0;
    }
#ifdef Q_OS_WIN
    _setmode(_fileno(stdout), _O_BINARY); // a "\n" stays one byte
#endif
    const QString out = args.value(args.indexOf(QStringLiteral("-o")) + 1);
    const QList<QByteArray> runs = readFile(dir + QStringLiteral("/script")).split('\n');
    const int separator = runs.indexOf("--");
    const bool again = QFile::exists(dir + QStringLiteral("/ran")) && separator >= 0;
    publish(dir + QStringLiteral("/ran"), "");
    const QList<QByteArray> steps = again ? runs.mid(separator + 1) : runs.mid(0, separator);
    for (const QByteArray &step : steps) {
        const int space = step.indexOf(' ');
        const QByteArray verb = space < 0 ? step : step.left(space);
        QByteArray text = space < 0 ? QByteArray() : step.mid(space + 1);
        text.replace("$cwd", QDir::currentPath().toUtf8())
            .replace("$enc", qgetenv("PYTHONIOENCODING"))
            .replace("$out", QFile::exists(out) ? readFile(out) : QByteArray("absent"))
            .replace("$args", args.join(QLatin1Char(' ')).toUtf8());
        QByteArray bytes;
        for (int i = 0; i < text.size(); ++i) {
            if (text[i] != '\\' || i + 1 == text.size())
                bytes += text[i];
            else if (text[++i] == 'n')
                bytes += '\n';
            else if (text[i] == 'x')
                bytes += char(text.mid(i + 1, 2).toInt(nullptr, 16)), i += 2;
            else
                bytes += text[i];
        }
        if (verb == "print") {
            std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
            std::fflush(stdout);
            QThread::msleep(600);
        } else if (verb == "write") {
            const int cut = bytes.indexOf(' ');
            const QByteArray name = bytes.left(cut);
            publish(name == "out" ? out : dir + '/' + QString::fromUtf8(name), bytes.mid(cut + 1));
        } else if (verb == "exit") {
            return bytes.toInt();
        } else if (verb == "child") {
            publish(dir + QStringLiteral("/tool"), pid);
            QProcess child;
            child.start(QCoreApplication::applicationFilePath(),
                        {QStringLiteral("--sleeping-child")});
            child.waitForFinished(-1);
        }
    }
    return 0;
}
