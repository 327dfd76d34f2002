#pragma once

#include "engine/http/browsersession.h"

#include <QObject>
#include <QQueue>
#include <QString>

#include <functional>

// Links handed over by the browser, opened one at a time: while the opener runs (an add dialog
// on screen, with its nested event loop), further links wait in order, up to capacity(), and are
// opened one after another once it returns. A flood of links thus shows one dialog, not a pile.
class LinkQueue : public QObject {
    Q_OBJECT

public:
    static constexpr int DefaultCapacity = 32;
    using Opener = std::function<void(const QString &url, const QString &name, qint64 size,
                                      const BrowserSession &session)>;

    explicit LinkQueue(Opener opener, QObject *parent = nullptr);

    // Opens the link now, or queues it while another is open. Returns false (and drops the link)
    // when the queue is full.
    bool add(const QString &url, const QString &name, qint64 size,
             const BrowserSession &session = BrowserSession());
    // True while another link can be taken.
    bool hasRoom() const { return m_waiting.size() < m_capacity; }
    int waiting() const { return int(m_waiting.size()); }
    void setCapacity(int capacity) { m_capacity = capacity; }

private:
    struct Link {
        QString url;
        QString name;
        qint64 size = 0;
        BrowserSession session;
    };

    Opener m_open;
    QQueue<Link> m_waiting;
    int m_capacity = DefaultCapacity;
    bool m_busy = false;
};
