#include "engine/storage/filehasher.h"

#include "engine/storage/streamhash.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

namespace {

constexpr qint64 kBlock = 1024 * 1024;
constexpr qint64 kReportEveryMs = 100;

StreamHash::Algorithm streamAlgorithm(QCryptographicHash::Algorithm algorithm)
{
    switch (algorithm) {
    case QCryptographicHash::Md5: return StreamHash::Md5;
    case QCryptographicHash::Sha1: return StreamHash::Sha1;
    case QCryptographicHash::Sha512: return StreamHash::Sha512;
    default: return StreamHash::Sha256;
    }
}

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
    StreamHash hash(streamAlgorithm(m_algorithm));
    if (!hash.isValid() || !file.open(QIODevice::ReadOnly)) {
        report([this] {
            ended = true;
            emit failed();
        });
        return;
    }
    const qint64 total = file.size();
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
        hash.add(block.constData(), size_t(n));
        done += n;
        if (sinceReport.elapsed() >= kReportEveryMs) {
            sinceReport.restart();
            report([this, done, total] { emit progress(done, total); });
        }
    }
    if (stopping)
        return;
    const std::string result = hash.result();
    const QByteArray digest(result.data(), qsizetype(result.size()));
    if (digest.isEmpty()) {
        report([this] {
            ended = true;
            emit failed();
        });
        return;
    }
    report([this, digest] {
        ended = true;
        emit finished(digest);
    });
}
