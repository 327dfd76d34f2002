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
const QString kGiveUp = QStringLiteral("downloads/giveUpAfterMinutes");
const QString kProxyMode = QStringLiteral("proxy/mode");
const QString kProxyType = QStringLiteral("proxy/type");
const QString kProxyHost = QStringLiteral("proxy/host");
const QString kProxyPort = QStringLiteral("proxy/port");
const QString kProxyUser = QStringLiteral("proxy/user");
const QString kAcceptRemote = QStringLiteral("bridge/acceptRemote");
const QString kWatchClipboard = QStringLiteral("clipboard/watch");
const QString kStart = QStringLiteral("schedule/start");
const QString kStop = QStringLiteral("schedule/stop");
const QString kStartOn = QStringLiteral("schedule/startOn");
const QString kStopOn = QStringLiteral("schedule/stopOn");
const QString kDays = QStringLiteral("schedule/days");
const QString kChecked = QStringLiteral("schedule/checked");
const QString kAfterQueue = QStringLiteral("afterQueue/action");
const QString kAfterCommand = QStringLiteral("afterQueue/command");
const QString kTimeFormat = QStringLiteral("HH:mm");
const char *const kAfterNames[] = {"nothing", "quit", "command"};

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
    const int giveUp = settings.value(kGiveUp).toString().trimmed().toInt(&ok);
    if (ok && giveUp >= 0 && giveUp <= DownloadPreferences::kMaxGiveUpMinutes)
        prefs.giveUpMinutes = giveUp;
    prefs.proxy = proxy();
    prefs.watchClipboard = settings.value(kWatchClipboard).toString() == QLatin1String("true");
    prefs.schedule = schedule();
    const QString after = settings.value(kAfterQueue).toString();
    for (int i = 0; i < 3; ++i)
        if (after == QLatin1String(kAfterNames[i]))
            prefs.afterQueue = AfterQueue(i);
    prefs.afterCommand = settings.value(kAfterCommand).toString();
    // A command to run needs a command: without one the queue's end does nothing.
    if (prefs.afterQueue == AfterQueue::Command && prefs.afterCommand.trimmed().isEmpty())
        prefs.afterQueue = AfterQueue::Nothing;
    return prefs;
}

// A time is "HH:mm", kept while it is off for the next time; on needs a time that reads well.
// The days default to all of them.
Schedule Preferences::schedule() const
{
    Schedule schedule;
    schedule.start = QTime::fromString(settings.value(kStart).toString(), kTimeFormat);
    schedule.startOn =
        schedule.start.isValid() && settings.value(kStartOn).toString() == QLatin1String("true");
    schedule.stop = QTime::fromString(settings.value(kStop).toString(), kTimeFormat);
    schedule.stopOn =
        schedule.stop.isValid() && settings.value(kStopOn).toString() == QLatin1String("true");
    bool ok = false;
    const int days = settings.value(kDays).toString().toInt(&ok);
    if (ok && days > 0 && days <= Schedule::kEveryDay)
        schedule.days = days;
    return schedule;
}

void Preferences::setSchedule(const Schedule &schedule)
{
    settings.setValue(kStart, schedule.start.toString(kTimeFormat));
    settings.setValue(kStartOn, schedule.startOn);
    settings.setValue(kStop, schedule.stop.toString(kTimeFormat));
    settings.setValue(kStopOn, schedule.stopOn);
    settings.setValue(kDays, QString::number(schedule.days & Schedule::kEveryDay));
}

QDateTime Preferences::scheduleChecked() const
{
    return QDateTime::fromString(settings.value(kChecked).toString(), Qt::ISODate);
}

void Preferences::setScheduleChecked(const QDateTime &moment)
{
    write(kChecked, moment.toString(Qt::ISODate));
}

// A proxy given by hand needs its host and port; without them the system's settings hold. What
// was given by hand is read back also while another mode is chosen, for the next time.
ProxySettings Preferences::proxy() const
{
    ProxySettings proxy;
    const QString type = settings.value(kProxyType).toString();
    bool ok = false;
    const int port = settings.value(kProxyPort).toString().trimmed().toInt(&ok);
    const bool socks = type == QLatin1String("socks5");
    const bool known = socks || type == QLatin1String("http");
    if (known)
        proxy.kind = socks ? ProxySettings::Kind::Socks5 : ProxySettings::Kind::Http;
    if (ok && port >= 1 && port <= 65535)
        proxy.port = port;
    proxy.host = settings.value(kProxyHost).toString().trimmed();
    proxy.user = settings.value(kProxyUser).toString();
    const QString mode = settings.value(kProxyMode).toString();
    if (mode == QLatin1String("none"))
        proxy.mode = ProxySettings::Mode::None;
    else if (mode == QLatin1String("manual") && known && proxy.port > 0 && !proxy.host.isEmpty())
        proxy.mode = ProxySettings::Mode::Manual;
    return proxy;
}

void Preferences::setProxy(const ProxySettings &proxy)
{
    const bool manual = proxy.mode == ProxySettings::Mode::Manual;
    settings.setValue(kProxyMode, manual ? QStringLiteral("manual")
                                  : proxy.mode == ProxySettings::Mode::None
                                      ? QStringLiteral("none")
                                      : QStringLiteral("system"));
    settings.setValue(kProxyType, proxy.kind == ProxySettings::Kind::Socks5
                                      ? QStringLiteral("socks5")
                                      : QStringLiteral("http"));
    settings.setValue(kProxyHost, proxy.host);
    settings.setValue(kProxyPort, proxy.port > 0 ? QString::number(proxy.port) : QString());
    settings.setValue(kProxyUser, proxy.user);
}

void Preferences::setDownloads(const DownloadPreferences &prefs)
{
    settings.setValue(kFolder, prefs.folder);
    settings.setValue(kAtOnce, QString::number(prefs.maxRunning));
    settings.setValue(kSpeedLimit, rateText(qMax<qint64>(0, prefs.speedLimit)));
    settings.setValue(kGiveUp, QString::number(prefs.giveUpMinutes));
    setProxy(prefs.proxy);
    settings.setValue(kWatchClipboard, prefs.watchClipboard);
    setSchedule(prefs.schedule);
    settings.setValue(kAfterQueue, QLatin1String(kAfterNames[int(prefs.afterQueue)]));
    settings.setValue(kAfterCommand, prefs.afterCommand);
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
