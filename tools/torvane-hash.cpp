// torvane-hash [--algorithm sha256|sha512|sha1|md5] FILE
//
// Prints the digest of FILE as sha256sum does ("HEX  FILE"), computed by FileHasher on its own
// thread exactly as the details of a completed download compute it. bench/hashbench.sh times it
// against sha256sum. Exit code 1 when the file cannot be read.
#include "engine/storage/filehasher.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Prints the digest of FILE, as sha256sum does."));
    parser.addHelpOption();
    const QCommandLineOption algorithmOption(
        {QStringLiteral("a"), QStringLiteral("algorithm")},
        QStringLiteral("sha256 (the default), sha512, sha1 or md5."), QStringLiteral("NAME"),
        QStringLiteral("sha256"));
    parser.addOption(algorithmOption);
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The file to read."));
    parser.process(app);
    const QHash<QString, QCryptographicHash::Algorithm> algorithms = {
        {QStringLiteral("sha256"), QCryptographicHash::Sha256},
        {QStringLiteral("sha512"), QCryptographicHash::Sha512},
        {QStringLiteral("sha1"), QCryptographicHash::Sha1},
        {QStringLiteral("md5"), QCryptographicHash::Md5}};
    const QString name = parser.value(algorithmOption).toLower();
    if (parser.positionalArguments().size() != 1 || !algorithms.contains(name)) {
        std::fprintf(stderr, "usage: torvane-hash [--algorithm sha256|sha512|sha1|md5] FILE\n");
        return 1;
    }
    const QString path = parser.positionalArguments().constFirst();
    FileHasher hasher(path, algorithms.value(name));
    int code = 1;
    QObject::connect(&hasher, &FileHasher::finished, &app, [&](const QByteArray &digest) {
        std::printf("%s  %s\n", digest.toHex().constData(), path.toLocal8Bit().constData());
        code = 0;
        app.quit();
    });
    QObject::connect(&hasher, &FileHasher::failed, &app, [&] {
        std::fprintf(stderr, "torvane-hash: cannot read %s\n", path.toLocal8Bit().constData());
        app.quit();
    });
    hasher.start();
    app.exec();
    return code;
}
