#include "app/linkqueue.h"

#include <QTimer>

LinkQueue::LinkQueue(Opener opener, QObject *parent) : QObject(parent), m_open(std::move(opener)) {}

bool LinkQueue::add(LinkOffer offer)
{
    // The last gate of every pipe: whatever a caller let through, only web links reach a dialog.
    offer.urls = webLinksAmong(offer.urls);
    if (offer.isEmpty() || !hasRoom())
        return false;
    m_waiting.enqueue(offer);
    // An opener already running further up the stack takes this offer when its dialog is done.
    if (!m_busy && !m_scheduled) {
        m_scheduled = true;
        QTimer::singleShot(0, this, &LinkQueue::openWaiting);
    }
    return true;
}

void LinkQueue::openWaiting()
{
    m_scheduled = false;
    if (m_busy)
        return;
    m_busy = true;
    while (!m_waiting.isEmpty())
        m_open(m_waiting.dequeue());
    m_busy = false;
}
