#pragma once

#include <QDialog>
#include <QProcess>
#include <QUrl>

class QComboBox;
class QLabel;
class QLineEdit;
class HttpSession;
class QNetworkReply;
class QPushButton;

// Describes one new download: link, target path, quality for media links, start now or later.
// Every change of the link text probes the link (headers only) for its name and size and, for
// media-site links, asks the media tool for the available video heights. Only the analysis of
// the current link text may write the fields: a newer text aborts the older probe and listing.
class AddUrlDialog : public QDialog {
    Q_OBJECT

public:
    AddUrlDialog(QString clipboardUrl, QString defaultName, qint64 extSize, QWidget *parent);
    ~AddUrlDialog() override;

    QString getUrl() const;
    QString getSavePath() const;
    QString getQuality() const;
    bool isQueued() const;

private:
    QString getCategoryFolder(const QString &fileName);
    void fetchRealName(const QString &text);
    void onFormatChanged();
    void browse();

    void sendProbe(const QUrl &u, const QString &linkName, bool isVid);
    void onProbeAnswer(QNetworkReply *reply, const QUrl &u, const QString &linkName, bool isVid);
    void abortProbe();
    void showFileInfo();

    void startListing(const QUrl &link);
    void onListingFinished(QProcess *process, int exitCode, QProcess::ExitStatus exitStatus);
    void stopListing();

    QLineEdit *urlInput = nullptr;
    QLineEdit *pathInput = nullptr;
    QComboBox *qualityCombo = nullptr;
    QLabel *lblQual = nullptr;
    QLabel *lblFileInfo = nullptr;
    bool queued = false;
    HttpSession *netManager = nullptr; // the engine's: certificates are decided as for downloads
    QProcess *formatProcess = nullptr;
    QPushButton *btnStart = nullptr;
    QPushButton *btnLater = nullptr;
    QPushButton *btnBrowse = nullptr;

    QString m_defaultName;
    qint64 m_extSize = 0;
    QNetworkReply *probeReply = nullptr; // the probe of the current link text, or null
    // What the latest probe learned, for the information line.
    qint64 probedSize = 0;
    bool probedUnsafe = false;
    bool probedMedia = false; // the size is a media page's, not the video's
};
