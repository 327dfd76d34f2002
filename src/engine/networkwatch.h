#pragma once

#include <QObject>

// Tells the downloads when the computer is back on the network, so that those waiting out an
// outage ask again at once instead of at the end of their wait. Only where the platform reports
// reachability (QNetworkInformation has a backend); elsewhere the waits run their course.
class NetworkWatch : public QObject {
    Q_OBJECT

public:
    // The watch of the program's main thread, made on first use.
    static NetworkWatch *shared();

signals:
    // The network is reachable again after it was not.
    void regained();

private:
    explicit NetworkWatch(QObject *parent);
    bool offline = false;
};
