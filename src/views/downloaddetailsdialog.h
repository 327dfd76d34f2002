#pragma once

#include <QDialog>

class DownloadTask;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTimer;

// One download in detail: a status view with the live figures while it runs, switched for good
// to a completed view (icon, name, size, source and destination) once the task is done. While
// shown it refreshes itself from the task every 150 ms; it is hidden, not deleted, by its
// buttons, and a hidden dialog costs nothing until it is shown again. A task that failed on the
// server's certificate shows that certificate's fingerprint and lets the user trust it for the
// site; Retry then continues. One whose file did not match the server's digest shows both
// digests; Retry downloads it again. A speed limit of the download's own is set here too.
class DownloadDetailsDialog : public QDialog {
    Q_OBJECT

public:
    DownloadDetailsDialog(DownloadTask *task, QWidget *parent);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private slots:
    void updateUI();

private:
    void onPauseResume();
    void applySpeedLimit();
    void trustCertificate();
    void updateCertificateRows();
    void updateChecksumRows();

    DownloadTask *m_task;
    QWidget *downloadingWidget = nullptr;
    QProgressBar *mainProgBar = nullptr;
    QTabWidget *tabs = nullptr;
    QLabel *statusLbl = nullptr;
    QLabel *sizeLbl = nullptr;
    QLabel *downLbl = nullptr;
    QLabel *speedLbl = nullptr;
    QLabel *etaLbl = nullptr;
    QLabel *lblStatusTitle = nullptr;
    QLabel *lblSizeTitle = nullptr;
    QLabel *lblDownTitle = nullptr;
    QLabel *lblSpeedTitle = nullptr;
    QLabel *lblEtaTitle = nullptr;
    QLabel *lblCertTitle = nullptr;
    QLabel *certLbl = nullptr;
    QPushButton *btnTrust = nullptr;
    QLabel *lblExpectedTitle = nullptr;
    QLabel *expectedLbl = nullptr;
    QLabel *lblActualTitle = nullptr;
    QLabel *actualLbl = nullptr;
    QLabel *lblLimitTitle = nullptr;
    QLineEdit *limitEdit = nullptr;
    QLabel *lblSrcTitle = nullptr;
    QLabel *lblDstTitle = nullptr;
    QPushButton *btnPauseResume = nullptr;
    QPushButton *btnCancel = nullptr;
    QPushButton *btnHide = nullptr;
    QPushButton *btnUpdateLink = nullptr; // a paused or failed download may take a fresh link
    QWidget *completedWidget = nullptr;
    QLabel *compIconLbl = nullptr;
    QLabel *compNameLbl = nullptr;
    QLabel *compSizeStatusLbl = nullptr;
    QLineEdit *srcEdit = nullptr;
    QLineEdit *dstEdit = nullptr;
    QPushButton *btnOpenFile = nullptr;
    QPushButton *btnOpenFolder = nullptr;
    QPushButton *btnCloseComp = nullptr;
    QTimer *refreshTimer = nullptr;
};
