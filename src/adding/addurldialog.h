#pragma once

#include "engine/http/browsersession.h"

#include <QDialog>
#include <QProcess>
#include <QUrl>

class QComboBox;
class QLabel;
class QLineEdit;
class HttpProbe;
class HttpSession;
class QPushButton;
struct LoginRequest;
struct ProbeAnswer;

// Describes one new download: link, target path, quality for media links, start now or later.
// Every change of the link text probes the link (headers only) for its name and size and, for
// media-site links, asks the media tool for the available video heights. Only the analysis of
// the current link text may write the fields: a newer text aborts the older probe and listing.
class AddUrlDialog : public QDialog {
    Q_OBJECT

public:
    AddUrlDialog(QString clipboardUrl, QString defaultName, qint64 extSize, QWidget *parent,
                 const BrowserSession &session = BrowserSession());
    ~AddUrlDialog() override;

    QString getUrl() const;
    QString getSavePath() const;
    QString getQuality() const;
    bool isQueued() const;
    // The browser's session for the link as it now reads; without the cookie when the link was
    // changed to another host than the one handed over.
    BrowserSession getSession() const;
    // The information line told that the server sends a web page for the link as it now reads.
    bool warnedOfWebPage() const;
    // The file's size as the browser announced it or the probe learned it; 0 when unknown.
    qint64 fileSize() const { return probedSize > 0 ? probedSize : m_extSize; }

private:
    QString getCategoryFolder(const QString &fileName);
    void fetchRealName(const QString &text);
    void onFormatChanged();
    void browse();

    void sendProbe(const QUrl &u, const QString &linkName, bool isVid);
    void onProbeAnswer(const ProbeAnswer &answer);
    void abortProbe();
    void askLogin(const LoginRequest &request);
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
    BrowserSession m_session;
    QUrl m_sessionLink; // the link the session was handed over with
    HttpProbe *probe = nullptr;
    // What the probe in flight was sent for; only its own answer fills the fields.
    QUrl probeUrl;
    QString probeLinkName;
    bool probeIsVid = false;
    bool pageWarning = false;
    // What the latest probe learned, for the information line.
    qint64 probedSize = 0;
    bool probedUnsafe = false;
    bool probedMedia = false; // the size is a media page's, not the video's
};
