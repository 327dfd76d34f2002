#include "engine/networkwatch.h"

#include <QCoreApplication>
#include <QNetworkInformation>
#include <QPointer>

NetworkWatch *NetworkWatch::shared()
{
    // Owned by the application, like the request pacer: a new application gets a new one.
    static QPointer<NetworkWatch> watch;
    if (!watch)
        watch = new NetworkWatch(QCoreApplication::instance());
    return watch;
}

NetworkWatch::NetworkWatch(QObject *parent) : QObject(parent)
{
    using Info = QNetworkInformation;
    if (!Info::loadBackendByFeatures(Info::Feature::Reachability) || !Info::instance())
        return;
    Info *info = Info::instance();
    offline = info->reachability() == Info::Reachability::Disconnected;
    connect(info, &Info::reachabilityChanged, this, [this](Info::Reachability now) {
        // Only the way back counts; "local" or "site" reachability may be all a LAN download needs.
        const bool nowOffline = now == Info::Reachability::Disconnected;
        if (offline && !nowOffline && now != Info::Reachability::Unknown)
            emit regained();
        offline = nowOffline;
    });
}
