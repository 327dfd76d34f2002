// torvane-host: the native messaging host through which the browser extension reaches Torvane
// when no port can be used (a VPN, a firewall, a sandboxed browser, another program on the port).
// The browser starts it and speaks over stdin and stdout: each message is its length (4 bytes, in
// the machine's byte order) and that many bytes of UTF-8 JSON, at most 1 MiB. A message is a
// ping ({"type": "ping"}) or the links of a LinkOffer as the extension sends them to the port;
// the host passes them to the running Torvane over its single-instance socket, starting Torvane
// when none runs, and answers {"ok": true} or {"ok": false, "error": ...}.
//
// Messages are answered one at a time, in order; stdin closing ends the host. A frame too long or
// cut short ends it too, as the rest of the stream can no longer be read as messages.

#include "app/linkoffer.h"
#include "app/singleinstance.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <cstdio>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#endif

namespace {

constexpr quint32 MaxMessageBytes = 1024 * 1024;
// A running copy answers at once; the first try is short, so that starting one is not delayed.
constexpr int RunningCopyMs = 1500;
// A copy just started loads its list before it listens.
constexpr int StartedCopyMs = 20000;

bool readExactly(void *into, size_t bytes)
{
    return std::fread(into, 1, bytes, stdin) == bytes;
}

void answer(const QJsonObject &reply)
{
    const QByteArray body = QJsonDocument(reply).toJson(QJsonDocument::Compact);
    const quint32 length = quint32(body.size());
    std::fwrite(&length, sizeof length, 1, stdout);
    std::fwrite(body.constData(), 1, size_t(body.size()), stdout);
    std::fflush(stdout);
}

QJsonObject failure(const char *error)
{
    return {{QStringLiteral("ok"), false}, {QStringLiteral("error"), QLatin1String(error)}};
}

// Torvane lives beside the host, in the package and in the build alike.
bool startTorvane()
{
    QProcess torvane;
#ifdef Q_OS_WIN
    torvane.setProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/torvane.exe"));
#else
    torvane.setProgram(QCoreApplication::applicationDirPath() + QStringLiteral("/torvane"));
#endif
    // Not a byte of it may land in the browser's pipe, nor keep that pipe open.
    torvane.setStandardInputFile(QProcess::nullDevice());
    torvane.setStandardOutputFile(QProcess::nullDevice());
    torvane.setStandardErrorFile(QProcess::nullDevice());
    torvane.setWorkingDirectory(QCoreApplication::applicationDirPath());
    return torvane.startDetached();
}

QJsonObject handle(const QByteArray &body, SingleInstance &torvane)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return failure("malformed");
    const QJsonObject message = document.object();
    if (message.value(QLatin1String("type")).toString() == QLatin1String("ping"))
        return {{QStringLiteral("ok"), true}};

    // Only http(s) links go on: nothing that the program could read as a path or an option.
    const LinkOffer offer = linkOfferFromJson(message);
    if (offer.isEmpty())
        return failure("not-web-link");
    SingleInstance::HandOver result = torvane.handOver(offer, RunningCopyMs);
    if (result == SingleInstance::HandOver::NoAnswer && startTorvane())
        result = torvane.handOver(offer, StartedCopyMs);
    switch (result) {
    case SingleInstance::HandOver::Taken: return {{QStringLiteral("ok"), true}};
    case SingleInstance::HandOver::Refused: return failure("busy");
    case SingleInstance::HandOver::NoAnswer: break;
    }
    return failure("not-running");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
#ifdef Q_OS_WIN
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    SingleInstance torvane;
    for (;;) {
        quint32 length = 0;
        if (!readExactly(&length, sizeof length))
            return 0;
        if (length > MaxMessageBytes) {
            answer(failure("too-large"));
            return 1;
        }
        QByteArray body(qsizetype(length), Qt::Uninitialized);
        if (!readExactly(body.data(), length))
            return 1;
        answer(handle(body, torvane));
    }
}
