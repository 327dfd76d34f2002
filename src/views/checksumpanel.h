#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QDateTime>
#include <QFrame>
#include <QHash>
#include <QPointer>

class FileHasher;
class QLabel;
class QLineEdit;

// The checksums of a completed download, in its details: the file's SHA-256, and a field that
// compares a pasted SHA-256, SHA-1 or MD5 with the file. Digests are computed in the background
// while the panel is on screen, and the computation stops when it is hidden (the dialog closed);
// the next showing starts it again. A digest once known is kept until the file changes.
class ChecksumPanel : public QFrame {
    Q_OBJECT

public:
    ChecksumPanel(QString path, QWidget *parent);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void retranslate();
    void compute(QCryptographicHash::Algorithm algorithm);
    void forgetIfFileChanged();
    void showSha256();
    void showComparison();

    QString m_path;
    QLabel *shaTitle;
    QLineEdit *shaValue;
    QLabel *expectedTitle;
    QLineEdit *expectedEdit;
    QLabel *resultLbl;

    // Digests known for the file as it was when they were computed (size and time of change).
    QHash<int, QByteArray> known;
    qint64 knownSize = -1;
    QDateTime knownModified;
    QHash<int, QPointer<FileHasher>> running;
    QHash<int, int> percent; // progress of the running computations
    QHash<int, bool> unreadable;
};
