#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

#include <deque>
#include <functional>

class QTimer;

// Sends the requests of all transfers a few at a time. Starting a request costs the main thread a
// millisecond or more (Qt builds it, hands it to its network thread and, for the first request of
// a connection pool, starts that thread); fifty downloads resumed at once ask for 50 probes and
// then 400 parts, and sent in one go they would hold the event loop for the better part of a
// second, with the window frozen and every running transfer waiting. Here each pass of the event
// loop sends requests for a few milliseconds and leaves the rest to the next pass, in the order
// they were asked for. A lone download gets all its requests within a pass or two.
class RequestPacer : public QObject {
    Q_OBJECT

public:
    // The pacer of the program's main thread, made on first use.
    static RequestPacer *shared();

    // Runs `send` in a later pass of the event loop, unless `owner` is gone by then. The owner
    // also decides, when its turn comes, whether the request is still wanted.
    void post(QObject *owner, std::function<void()> send);

private:
    explicit RequestPacer(QObject *parent);
    void sendSome();

    struct Job {
        QPointer<QObject> owner;
        std::function<void()> send;
    };
    std::deque<Job> jobs;
    QTimer *timer;
    QElapsedTimer clock;
};
