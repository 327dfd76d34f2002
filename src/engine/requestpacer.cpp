#include "engine/requestpacer.h"

#include <QCoreApplication>
#include <QTimer>

namespace {

// What one pass of the event loop spends on sending requests. Well below the 50 ms at which a
// window feels stuck, even when the machine is so busy that each request takes several times
// its usual millisecond.
constexpr qint64 kPassBudgetNs = 5 * 1000 * 1000;

} // namespace

RequestPacer *RequestPacer::shared()
{
    // Owned by the application, so that it goes with the event loop it works in (and a test that
    // makes a new application gets a new one).
    static QPointer<RequestPacer> pacer;
    if (!pacer)
        pacer = new RequestPacer(QCoreApplication::instance());
    return pacer;
}

RequestPacer::RequestPacer(QObject *parent) : QObject(parent), timer(new QTimer(this))
{
    timer->setSingleShot(true);
    timer->setInterval(0);
    connect(timer, &QTimer::timeout, this, &RequestPacer::sendSome);
}

void RequestPacer::post(QObject *owner, std::function<void()> send)
{
    jobs.push_back(Job{owner, std::move(send)});
    if (!timer->isActive())
        timer->start();
}

void RequestPacer::sendSome()
{
    clock.start();
    // At least one per pass, however slow the machine.
    do {
        Job job = std::move(jobs.front());
        jobs.pop_front();
        if (job.owner)
            job.send();
    } while (!jobs.empty() && clock.nsecsElapsed() < kPassBudgetNs);
    if (!jobs.empty())
        timer->start();
}
