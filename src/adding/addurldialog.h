#pragma once

#include "adding/linkbatch.h"
#include "engine/http/browsersession.h"

#include <QDialog>

class QDragEnterEvent;
class QDropEvent;
#include <QProcess>
#include <QUrl>

class QComboBox;
class QLabel;
class QLineEdit;
class HttpProbe;
class HttpSession;
class QPushButton;
class QTableView;
struct LoginRequest;
struct ProbeAnswer;

// Describes one new download: link, target path, quality for media links, start now or later.
// Every change of the link text probes the link (headers only) for its name and size and, for
// media-site links, asks the media tool for the available video heights. Only the analysis of
// the current link text may write the fields: a newer text aborts the older probe and listing.
//
// Several links (pasted one per line, dropped, or read from a text file with "Import links…")
// turn the dialog into a list: one row per link with its probed name, size and category and a
// check box; "Start all" and "Download Later" then take the checked rows. The link field stays
// to add more links.
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

    // Whether the dialog lists several links; then chosenLinks() holds what to add, and getUrl()
    // and getSavePath() are empty.
    bool isBatch() const { return batch != nullptr; }
    QList<LinkBatch::Row> chosenLinks() const;
    // The browser's session for one of the links: the cookie only for the host it came with.
    BrowserSession sessionFor(const QString &url) const;
    // Adds links as rows; the dialog becomes a list when there is more than one.
    void addLinks(const QStringList &links);
    // Reads the links of a text file (up to a few megabytes), as "Import links…" does.
    void importLinks(const QString &fileName);

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

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

    void finish(bool later);
    void enterBatch();
    void showBatchCounts();
    void chooseImportFile();

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
    QPushButton *btnImport = nullptr;
    QLabel *lblPath = nullptr;
    LinkBatch *batch = nullptr; // made when a second link comes
    QTableView *batchView = nullptr;

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
