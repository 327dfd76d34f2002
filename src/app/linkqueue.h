#pragma once

#include "app/linkoffer.h"

#include <QObject>
#include <QQueue>

#include <functional>

// Every hand-over (the browser bridge, torvane-host, a later start's command line) goes through
// one queue, and offers are opened one at a time: while the opener runs (an add dialog on screen,
// with its nested event loop), further offers wait in order, up to capacity(), and are opened one
// after another once it returns. A flood of links thus shows one dialog, not a pile.
class LinkQueue : public QObject {
    Q_OBJECT

public:
    static constexpr int DefaultCapacity = 32;
    using Opener = std::function<void(const LinkOffer &offer)>;

    explicit LinkQueue(Opener opener, QObject *parent = nullptr);

    // Takes the offer's web links; false (and nothing taken) when it has none or the queue is
    // full. Never opens anything itself: the opener runs from the event loop, after the caller
    // has answered whoever handed the offer over.
    bool add(LinkOffer offer);
    // True while another offer can be taken.
    bool hasRoom() const { return m_waiting.size() < m_capacity; }
    int waiting() const { return int(m_waiting.size()); }
    void setCapacity(int capacity) { m_capacity = capacity; }

private:
    void openWaiting();

    Opener m_open;
    QQueue<LinkOffer> m_waiting;
    int m_capacity = DefaultCapacity;
    bool m_busy = false;
    bool m_scheduled = false;
};
