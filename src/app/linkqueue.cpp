#include "app/linkqueue.h"

LinkQueue::LinkQueue(Opener opener, QObject *parent) : QObject(parent), m_open(std::move(opener)) {}

bool LinkQueue::add(const QString &url, const QString &name, qint64 size,
                    const BrowserSession &session)
{
    if (!hasRoom())
        return false;
    m_waiting.enqueue({url, name, size, session});
    // An opener already running further up the stack takes this link when its dialog is done.
    if (m_busy)
        return true;
    m_busy = true;
    while (!m_waiting.isEmpty()) {
        const Link link = m_waiting.dequeue();
        m_open(link.url, link.name, link.size, link.session);
    }
    m_busy = false;
    return true;
}
