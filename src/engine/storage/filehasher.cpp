#include "engine/storage/filehasher.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

namespace {

constexpr qint64 kBlock = 1024 * 1024;
constexpr qint64 kReportEveryMs = 100;

} // namespace

FileHasher::FileHasher(QString path, QCryptographicHash::Algorithm algorithm, QObject *parent)
    : QObject(parent), m_path(std::move(path)), m_algorithm(algorithm)
{
}

FileHasher::~FileHasher()
{
    cancel();
    if (thread) {
        thread->wait();
        delete thread;
    }
}

void FileHasher::start()
{
    if (thread)
        return;
    thread = QThread::create([this] { run(); });
    thread->start(QThread::LowPriority);
}

void FileHasher::cancel()
{
    stopping = true;
    ended = true;
}

bool FileHasher::isRunning() const
{
    return thread && !ended;
}

// Runs on the hasher's thread. Results travel to the object's thread as queued calls, which the
// destructor's wait keeps from outliving the object; a call that arrives after cancel() is
// dropped there.
void FileHasher::run()
{
    const auto report = [this](auto &&deliver) {
        QMetaObject::invokeMethod(
            this,
            [this, deliver] {
                if (!ended)
                    deliver();
            },
            Qt::QueuedConnection);
    };

    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly)) {
        report([this] {
            ended = true;
            emit failed();
        });
        return;
    }
    const qint64 total = file.size();
    QCryptographicHash hash(m_algorithm);
    QByteArray block(kBlock, Qt::Uninitialized);
    qint64 done = 0;
    QElapsedTimer sinceReport;
    sinceReport.start();
    while (!stopping) {
        const qint64 n = file.read(block.data(), kBlock);
        if (n < 0) {
            report([this] {
                ended = true;
                emit failed();
            });
            return;
        }
        if (n == 0)
            break;
        hash.addData(QByteArrayView(block.constData(), n));
        done += n;
        if (sinceReport.elapsed() >= kReportEveryMs) {
            sinceReport.restart();
            report([this, done, total] { emit progress(done, total); });
        }
    }
    if (stopping)
        return;
    const QByteArray digest = hash.result();
    report([this, digest] {
        ended = true;
        emit finished(digest);
    });
}
