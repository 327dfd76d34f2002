#include "app/preferences.h"

#include "engine/ratetext.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString kLanguage = QStringLiteral("language");
const QString kTheme = QStringLiteral("theme");
const QString kGeometry = QStringLiteral("window/geometry");
const QString kFolder = QStringLiteral("downloads/folder");
const QString kAtOnce = QStringLiteral("downloads/atOnce");
const QString kSpeedLimit = QStringLiteral("downloads/speedLimit");
const QString kNotices = QStringLiteral("downloads/notices");
const QString kAcceptRemote = QStringLiteral("bridge/acceptRemote");

// A rate as the file keeps it, in the spelling parseRateText reads: "2M", "512K", "1000".
QString rateText(qint64 bytesPerSecond)
{
    const std::pair<qint64, char> units[] = {{1LL << 30, 'G'}, {1LL << 20, 'M'}, {1LL << 10, 'K'}};
    for (const auto &[size, letter] : units)
        if (bytesPerSecond >= size && bytesPerSecond % size == 0)
            return QString::number(bytesPerSecond / size) + QLatin1Char(letter);
    return QString::number(bytesPerSecond);
}

} // namespace

Preferences::Preferences(const QString &path) : settings(path, QSettings::IniFormat) {}

void Preferences::write(const QString &key, const QVariant &value)
{
    settings.setValue(key, value);
    settings.sync();
}

QString Preferences::language() const
{
    const QString value = settings.value(kLanguage).toString();
    return value == QLatin1String("ar") || value == QLatin1String("en") ? value : QString();
}

void Preferences::setLanguage(const QString &language)
{
    write(kLanguage, language);
}

bool Preferences::darkTheme() const
{
    return settings.value(kTheme).toString() == QLatin1String("dark");
}

void Preferences::setDarkTheme(bool dark)
{
    write(kTheme, dark ? QStringLiteral("dark") : QStringLiteral("light"));
}

QByteArray Preferences::windowGeometry() const
{
    const QVariant value = settings.value(kGeometry);
    return value.typeId() == QMetaType::QByteArray ? value.toByteArray() : QByteArray();
}

void Preferences::setWindowGeometry(const QByteArray &geometry)
{
    write(kGeometry, geometry);
}

DownloadPreferences Preferences::downloads() const
{
    DownloadPreferences prefs;

    const QString folder = settings.value(kFolder).toString();
    if (QDir::isAbsolutePath(folder) && QFileInfo(folder).isDir())
        prefs.folder = QDir::fromNativeSeparators(folder);

    bool ok = false;
    const int atOnce = settings.value(kAtOnce).toString().trimmed().toInt(&ok);
    if (ok && atOnce >= 0 && atOnce <= DownloadPreferences::kMaxRunning)
        prefs.maxRunning = atOnce;

    const qint64 limit = parseRateText(settings.value(kSpeedLimit).toString().trimmed());
    if (limit > 0)
        prefs.speedLimit = limit;

    const QString notices = settings.value(kNotices).toString();
    if (notices == QLatin1String("false"))
        prefs.notices = false;
    return prefs;
}

void Preferences::setDownloads(const DownloadPreferences &prefs)
{
    settings.setValue(kFolder, prefs.folder);
    settings.setValue(kAtOnce, QString::number(prefs.maxRunning));
    settings.setValue(kSpeedLimit, rateText(qMax<qint64>(0, prefs.speedLimit)));
    write(kNotices, prefs.notices);
}

bool Preferences::acceptRemoteLinks() const
{
    return settings.value(kAcceptRemote).toString() == QLatin1String("true");
}

void Preferences::setAcceptRemoteLinks(bool accept)
{
    write(kAcceptRemote, accept);
}
