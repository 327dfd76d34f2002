#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>

class QThread;

// The digest of one file (MD5, SHA-1, SHA-256 or SHA-512, through StreamHash), read on a thread
// of its own so that a file of many gigabytes never holds the event loop up. Progress comes at most
// ten times a second; cancel() (or deleting the hasher) stops the reading after the block in hand,
// and nothing is reported after it. One computation per object.
class FileHasher : public QObject {
    Q_OBJECT

public:
    FileHasher(QString path, QCryptographicHash::Algorithm algorithm, QObject *parent = nullptr);
    // Waits for the thread, which stops within one block.
    ~FileHasher() override;

    QCryptographicHash::Algorithm algorithm() const { return m_algorithm; }
    void start();
    void cancel();
    bool isRunning() const;

signals:
    void progress(qint64 done, qint64 total);
    void finished(const QByteArray &digest);
    // The file could not be opened or read to its end, or the system has no such digest.
    void failed();

private:
    void run();

    QString m_path;
    QCryptographicHash::Algorithm m_algorithm;
    QThread *thread = nullptr;
    std::atomic<bool> stopping{false};
    bool ended = false; // reported, failed or canceled: no signal comes any more
};
