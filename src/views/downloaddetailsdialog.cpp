#include "views/downloaddetailsdialog.h"

#include "engine/downloadtask.h"
#include "engine/http/retryschedule.h"
#include "engine/http/trustedcertificates.h"
#include "engine/ratetext.h"
#include "engine/storage/checksumtext.h"
#include "language/translation.h"
#include "views/checksumpanel.h"
#include "views/sizetext.h"
#include "views/updatelinkdialog.h"
#include "views/widgetstyles.h"

#include <QDesktopServices>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTabWidget>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace {

constexpr int kStatusHeight = 420;
constexpr int kCompletedHeight = 540;

// The refresh runs every 150 ms for every dialog of the list, shown or hidden: texts are set
// only when they differ, so an idle refresh costs no relayout or repaint.
template <typename W> void setTextIfChanged(W *widget, const QString &text)
{
    if (widget->text() != text)
        widget->setText(text);
}

QFrame *buttonFrame(QWidget *parent, const QList<QPushButton *> &buttons)
{
    auto *frame = new QFrame(parent);
    frame->setObjectName(QStringLiteral("ActionFrame"));
    auto *row = new QHBoxLayout(frame);
    row->setContentsMargins(10, 10, 10, 10);
    row->setSpacing(15);
    for (QPushButton *b : buttons)
        row->addWidget(b);
    return frame;
}

QLabel *named(QLabel *label, const char *name)
{
    label->setObjectName(QLatin1String(name));
    return label;
}

} // namespace

DownloadDetailsDialog::DownloadDetailsDialog(DownloadTask *task, QWidget *parent)
    : QDialog(parent), m_task(task)
{
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
    setFixedSize(550, kStatusHeight);
    auto *mainLayout = new QVBoxLayout(this);
    mainLayout->setContentsMargins(15, 15, 15, 15);

    // Download-status view.
    downloadingWidget = new QWidget(this);
    auto *downLayout = new QVBoxLayout(downloadingWidget);
    downLayout->setContentsMargins(0, 0, 0, 0);
    tabs = new QTabWidget(downloadingWidget);
    auto *page = new QWidget(tabs);
    auto *grid = new QGridLayout(page);
    lblStatusTitle = new QLabel(T(QStringLiteral("Status:")), page);
    lblSizeTitle = new QLabel(T(QStringLiteral("File size:")), page);
    lblDownTitle = new QLabel(T(QStringLiteral("Downloaded:")), page);
    lblSpeedTitle = new QLabel(T(QStringLiteral("Transfer rate:")), page);
    lblEtaTitle = new QLabel(T(QStringLiteral("Time left:")), page);
    statusLbl = named(new QLabel(T(QStringLiteral("Connecting...")), page), "statusLbl");
    statusLbl->setWordWrap(true); // a failure's reason can be longer than the row
    sizeLbl = named(new QLabel(T(QStringLiteral("Wait...")), page), "sizeLbl");
    downLbl = named(new QLabel(QStringLiteral("0 MB"), page), "downLbl");
    speedLbl = named(new QLabel(QStringLiteral("0 MB/sec"), page), "speedLbl");
    etaLbl = named(new QLabel(QStringLiteral("--:--"), page), "etaLbl");
    const QList<QPair<QLabel *, QLabel *>> rows = {{lblStatusTitle, statusLbl},
                                                   {lblSizeTitle, sizeLbl},
                                                   {lblDownTitle, downLbl},
                                                   {lblSpeedTitle, speedLbl},
                                                   {lblEtaTitle, etaLbl}};
    for (int i = 0; i < rows.size(); ++i) {
        grid->addWidget(rows[i].first, i, 0);
        grid->addWidget(rows[i].second, i, 1);
    }
    // A refused certificate: its fingerprint, to compare with what the site publishes, and the
    // way to trust it. Shown only for a task that failed on it.
    lblCertTitle = new QLabel(T(QStringLiteral("SHA-256 fingerprint:")), page);
    certLbl = named(new QLabel(page), "certLbl");
    certLbl->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    certLbl->setLayoutDirection(Qt::LeftToRight);
    certLbl->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    certLbl->setTextInteractionFlags(Qt::TextSelectableByMouse);
    btnTrust = new QPushButton(page);
    grid->addWidget(lblCertTitle, rows.size(), 0);
    grid->addWidget(certLbl, rows.size(), 1);
    grid->addWidget(btnTrust, rows.size() + 1, 0, 1, 2);
    // A file that did not match the digest its server gave: both digests. Only then shown.
    lblExpectedTitle = new QLabel(page);
    expectedLbl = named(new QLabel(page), "expectedLbl");
    lblActualTitle = new QLabel(page);
    actualLbl = named(new QLabel(page), "actualLbl");
    for (QLabel *digest : {expectedLbl, actualLbl}) {
        digest->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        digest->setLayoutDirection(Qt::LeftToRight);
        digest->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        digest->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    grid->addWidget(lblExpectedTitle, rows.size() + 2, 0);
    grid->addWidget(expectedLbl, rows.size() + 2, 1);
    grid->addWidget(lblActualTitle, rows.size() + 3, 0);
    grid->addWidget(actualLbl, rows.size() + 3, 1);
    // This download's own speed limit, in curl's spelling (500K, 2M); empty for none.
    lblLimitTitle = new QLabel(T(QStringLiteral("Speed limit:")), page);
    limitEdit = new QLineEdit(page);
    limitEdit->setObjectName(QStringLiteral("limitEdit"));
    limitEdit->setLayoutDirection(Qt::LeftToRight);
    limitEdit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("(\\d{1,15}[bBkKmMgG]?)?")), limitEdit));
    limitEdit->setText(m_task->speedLimit() > 0 ? rateText(m_task->speedLimit()) : QString());
    connect(limitEdit, &QLineEdit::editingFinished, this, &DownloadDetailsDialog::applySpeedLimit);
    grid->addWidget(lblLimitTitle, rows.size() + 4, 0);
    grid->addWidget(limitEdit, rows.size() + 4, 1);
    grid->setColumnStretch(1, 1);
    tabs->addTab(page, T(QStringLiteral("Download status")));
    downLayout->addWidget(tabs);

    mainProgBar = new QProgressBar(downloadingWidget);
    mainProgBar->setObjectName(QStringLiteral("mainProgBar"));
    mainProgBar->setFixedHeight(20);
    mainProgBar->setTextVisible(false);
    downLayout->addWidget(mainProgBar);
    downLayout->addStretch();

    btnPauseResume = new QPushButton(
        m_task->isActive() ? T(QStringLiteral("Pause")) : T(QStringLiteral("Resume")), this);
    btnCancel = new QPushButton(T(QStringLiteral("Cancel")), this);
    btnHide = new QPushButton(T(QStringLiteral("Hide")), this);
    btnUpdateLink = new QPushButton(T(QStringLiteral("Update link…")), this);
    downLayout->addWidget(
        buttonFrame(downloadingWidget, {btnPauseResume, btnUpdateLink, btnCancel, btnHide}));

    // Completed view.
    completedWidget = new QWidget(this);
    auto *compLayout = new QVBoxLayout(completedWidget);
    compLayout->setContentsMargins(0, 0, 0, 0);
    compLayout->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    compLayout->addSpacing(10);
    compIconLbl = new QLabel(completedWidget);
    compIconLbl->setFixedSize(64, 64);
    compIconLbl->setAlignment(Qt::AlignCenter);
    compLayout->addWidget(compIconLbl, 0, Qt::AlignHCenter);
    compNameLbl = named(new QLabel(m_task->fileName, completedWidget), "CompName");
    compNameLbl->setAlignment(Qt::AlignCenter);
    compLayout->addWidget(compNameLbl, 0, Qt::AlignHCenter);
    compSizeStatusLbl = named(new QLabel(completedWidget), "CompStatus");
    compSizeStatusLbl->setAlignment(Qt::AlignCenter);
    compLayout->addWidget(compSizeStatusLbl, 0, Qt::AlignHCenter);
    compLayout->addSpacing(15);

    auto *info = new QFrame(completedWidget);
    info->setObjectName(QStringLiteral("InfoFrame"));
    auto *infoGrid = new QGridLayout(info);
    infoGrid->setContentsMargins(15, 15, 15, 15);
    lblSrcTitle = new QLabel(QStringLiteral("URL:"), info);
    lblDstTitle = new QLabel(T(QStringLiteral("Save As:")), info);
    srcEdit = new QLineEdit(m_task->url().toString(), info);
    dstEdit = new QLineEdit(m_task->savePath(), info);
    srcEdit->setObjectName(QStringLiteral("srcEdit"));
    dstEdit->setObjectName(QStringLiteral("dstEdit"));
    for (QLineEdit *edit : {srcEdit, dstEdit}) {
        edit->setReadOnly(true);
        edit->setLayoutDirection(Qt::LeftToRight);
        edit->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        edit->setCursorPosition(0);
    }
    infoGrid->addWidget(lblSrcTitle, 0, 0);
    infoGrid->addWidget(srcEdit, 0, 1);
    infoGrid->addWidget(lblDstTitle, 1, 0);
    infoGrid->addWidget(dstEdit, 1, 1);
    compLayout->addWidget(info);
    compLayout->addWidget(new ChecksumPanel(m_task->savePath(), completedWidget));
    compLayout->addStretch();

    btnOpenFile = new QPushButton(T(QStringLiteral("Open File")), this);
    btnOpenFolder = new QPushButton(T(QStringLiteral("Open Folder")), this);
    btnCloseComp = new QPushButton(T(QStringLiteral("Close")), this);
    compLayout->addWidget(buttonFrame(completedWidget, {btnOpenFile, btnOpenFolder, btnCloseComp}));

    const QList<QPushButton *> buttons = {btnPauseResume, btnCancel,    btnHide,  btnOpenFile,
                                          btnOpenFolder,  btnCloseComp, btnTrust, btnUpdateLink};
    const char *buttonNames[] = {"btnPauseResume", "btnCancel",    "btnHide",  "btnOpenFile",
                                 "btnOpenFolder",  "btnCloseComp", "btnTrust", "btnUpdateLink"};
    for (int i = 0; i < buttons.size(); ++i) {
        buttons[i]->setObjectName(QLatin1String(buttonNames[i]));
        buttons[i]->setStyleSheet(QLatin1String(DialogButtonStyle));
        buttons[i]->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

    downloadingWidget->setObjectName(QStringLiteral("downloadingWidget"));
    completedWidget->setObjectName(QStringLiteral("completedWidget"));
    mainLayout->addWidget(downloadingWidget);
    mainLayout->addWidget(completedWidget);
    completedWidget->hide();

    connect(btnPauseResume, &QPushButton::clicked, this, &DownloadDetailsDialog::onPauseResume);
    connect(btnTrust, &QPushButton::clicked, this, &DownloadDetailsDialog::trustCertificate);
    connect(btnCancel, &QPushButton::clicked, this, [this] {
        m_task->cancel();
        accept();
    });
    connect(btnHide, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnUpdateLink, &QPushButton::clicked, this, [this] {
        UpdateLinkDialog::run(m_task, this);
        updateUI();
    });
    connect(btnOpenFile, &QPushButton::clicked, this,
            [this] { QDesktopServices::openUrl(QUrl::fromLocalFile(m_task->savePath())); });
    connect(btnOpenFolder, &QPushButton::clicked, this, [this] {
        QDesktopServices::openUrl(
            QUrl::fromLocalFile(QFileInfo(m_task->savePath()).absolutePath()));
    });
    connect(btnCloseComp, &QPushButton::clicked, this, &QDialog::accept);

    refreshTimer = new QTimer(this);
    refreshTimer->setInterval(150);
    connect(refreshTimer, &QTimer::timeout, this, &DownloadDetailsDialog::updateUI);
    // A restored download shows where its checkpoint says it stands (read once per task).
    m_task->showCheckpoint();
    updateUI();
}

// Empty or "0" lifts the limit; the field then shows the limit as the task keeps it ("1024K"
// reads "1M").
void DownloadDetailsDialog::applySpeedLimit()
{
    const QString text = limitEdit->text().trimmed();
    const qint64 rate = text.isEmpty() ? 0 : parseRateText(text);
    if (rate >= 0)
        m_task->setSpeedLimit(rate);
    limitEdit->setText(m_task->speedLimit() > 0 ? rateText(m_task->speedLimit()) : QString());
}

// Only a dialog on screen refreshes: a list keeps one dialog for every download the user opened
// or added, and hidden ones must not tick for as long as the program runs.
void DownloadDetailsDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    updateUI();
    if (completedWidget->isHidden())
        refreshTimer->start();
}

void DownloadDetailsDialog::hideEvent(QHideEvent *event)
{
    QDialog::hideEvent(event);
    refreshTimer->stop();
}

void DownloadDetailsDialog::onPauseResume()
{
    switch (m_task->status) {
    case 1:
        m_task->pause();
        btnPauseResume->setText(T(QStringLiteral("Resume")));
        break;
    case 0:
        if (m_task->queued)
            m_task->pause(); // out of the line
        else
            m_task->resume();
        btnPauseResume->setText(
            T(m_task->isActive() ? QStringLiteral("Pause") : QStringLiteral("Resume")));
        break;
    case 3:
        // Retry: resume() continues the parts where the file allows it and starts afresh
        // otherwise (unknown size, media downloads).
        m_task->resume();
        updateUI();
        break;
    default: break;
    }
}

void DownloadDetailsDialog::trustCertificate()
{
    const RefusedCertificate &refused = m_task->refusedCertificate;
    if (m_task->status == 3 && refused.canBeTrusted())
        TrustedCertificates::shared().trust(refused.host, refused.sha256);
    updateCertificateRows();
    updateChecksumRows();
}

void DownloadDetailsDialog::updateCertificateRows()
{
    const RefusedCertificate &refused = m_task->refusedCertificate;
    const bool shown = m_task->status == 3 && refused.canBeTrusted();
    const QList<QWidget *> rows = {lblCertTitle, certLbl, btnTrust};
    for (QWidget *w : rows) {
        if (w->isVisibleTo(this) != shown)
            w->setVisible(shown);
    }
    if (!shown)
        return;
    setTextIfChanged(lblCertTitle, T(QStringLiteral("SHA-256 fingerprint:")));
    // Two rows of sixteen byte pairs, as certificate viewers print it.
    const QString fingerprint = TrustedCertificates::fingerprintText(refused.sha256);
    setTextIfChanged(certLbl, fingerprint.left(47) + QLatin1Char('\n') + fingerprint.mid(48));
    const bool trusted = TrustedCertificates::shared().isTrusted(refused.host, refused.sha256);
    // The host is isolated so that an Arabic sentence does not reorder its parts.
    setTextIfChanged(btnTrust, trusted ? T(QStringLiteral("Certificate trusted"))
                                       : T(QStringLiteral("Trust this certificate for %1"))
                                             .arg(QChar(0x2066) + refused.host + QChar(0x2069)));
    if (btnTrust->isEnabled() == trusted)
        btnTrust->setEnabled(!trusted);
}

void DownloadDetailsDialog::updateChecksumRows()
{
    const ChecksumResult &check = m_task->checksum;
    const bool shown = m_task->status == 3 && check.state == ChecksumResult::Mismatch;
    for (QWidget *w : {lblExpectedTitle, expectedLbl, lblActualTitle, actualLbl}) {
        if (w->isVisibleTo(this) != shown)
            w->setVisible(shown);
    }
    if (!shown) {
        if (height() != kStatusHeight)
            setFixedSize(550, kStatusHeight);
        return;
    }
    // Rows of 32 digits: a SHA-512 takes four.
    const auto lines = [](const QByteArray &digest) {
        const QString hex = QString::fromLatin1(digest.toHex());
        QStringList out;
        for (int i = 0; i < hex.size(); i += 32)
            out.append(hex.mid(i, 32));
        return out.join(QLatin1Char('\n'));
    };
    setTextIfChanged(lblExpectedTitle, T(QStringLiteral("Expected:")));
    setTextIfChanged(lblActualTitle, T(QStringLiteral("Actual:")));
    const QString name = checksumName(check.expected.algorithm);
    setTextIfChanged(expectedLbl, name + QStringLiteral(" (") + check.expected.source +
                                      QStringLiteral(")\n") + lines(check.expected.digest));
    setTextIfChanged(actualLbl, lines(check.actual));
    // The dialog's size is fixed: it grows for the digests (a SHA-512 takes four rows of each),
    // which would otherwise be squeezed into rows too low to read them whole.
    const int needed = qMax(kStatusHeight, layout()->sizeHint().height());
    if (height() != needed)
        setFixedSize(550, needed);
}

void DownloadDetailsDialog::updateUI()
{
    const QString statusTitle = T(QStringLiteral("Download status"));
    if (windowTitle() != m_task->fileName + QStringLiteral(" - ") + statusTitle)
        setWindowTitle(m_task->fileName + QStringLiteral(" - ") + statusTitle);
    if (tabs->tabText(0) != statusTitle)
        tabs->setTabText(0, statusTitle);
    setTextIfChanged(lblStatusTitle, T(QStringLiteral("Status:")));
    setTextIfChanged(lblSizeTitle, T(QStringLiteral("File size:")));
    setTextIfChanged(lblDownTitle, T(QStringLiteral("Downloaded:")));
    setTextIfChanged(lblSpeedTitle, T(QStringLiteral("Transfer rate:")));
    setTextIfChanged(lblEtaTitle, T(QStringLiteral("Time left:")));
    setTextIfChanged(lblLimitTitle, T(QStringLiteral("Speed limit:")));
    if (limitEdit->placeholderText() != T(QStringLiteral("None (500K, 2M...)")))
        limitEdit->setPlaceholderText(T(QStringLiteral("None (500K, 2M...)")));
    setTextIfChanged(btnCancel, T(QStringLiteral("Cancel")));
    setTextIfChanged(btnHide, T(QStringLiteral("Hide")));
    setTextIfChanged(btnUpdateLink, T(QStringLiteral("Update link…")));
    if (btnUpdateLink->isHidden() == m_task->mayChangeLink())
        btnUpdateLink->setVisible(m_task->mayChangeLink());
    setTextIfChanged(btnOpenFile, T(QStringLiteral("Open File")));
    setTextIfChanged(btnOpenFolder, T(QStringLiteral("Open Folder")));
    setTextIfChanged(btnCloseComp, T(QStringLiteral("Close")));
    setTextIfChanged(lblSrcTitle, QStringLiteral("URL:"));
    const QString link = m_task->url().toString(); // replaced by "Update link…"
    if (srcEdit->text() != link) {
        srcEdit->setText(link);
        srcEdit->setCursorPosition(0);
    }
    setTextIfChanged(lblDstTitle, T(QStringLiteral("Save As:")));

    // ::isRightToLeft, not QWidget::isRightToLeft (the widget's own current direction).
    const Qt::LayoutDirection direction =
        languageIsRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight;
    if (layoutDirection() != direction)
        setLayoutDirection(direction);

    if (m_task->status == 2) {
        // Taller than the status view: the checksums sit below the addresses.
        setFixedSize(550, kCompletedHeight);
        downloadingWidget->hide();
        completedWidget->show();
        const QIcon icon = QFileIconProvider().icon(QFileInfo(m_task->savePath()));
        compIconLbl->setPixmap(icon.pixmap(64, 64));
        const bool missing = !QFileInfo::exists(m_task->savePath());
        const ChecksumResult &check = m_task->checksum;
        // The line starts with the size, which makes it left to right: each sentence is isolated
        // in the direction of its own language, and the source in its own, so that an Arabic
        // sentence keeps its order around a header's name.
        const auto isolated = [](const QString &text) {
            return QChar(0x2068) + text + QChar(0x2069);
        };
        const QString done =
            check.state == ChecksumResult::Verified
                ? isolated(T(QStringLiteral("Verified (%1)"))
                               .arg(checksumName(check.expected.algorithm))) +
                      QLatin1Char('\n') +
                      isolated(T(QStringLiteral("Digest from %1"))
                                   .arg(QChar(0x2066) + check.expected.source + QChar(0x2069)))
                : T(QStringLiteral("Done"));
        compSizeStatusLbl->setText(
            mbText(m_task->totalSize) +
            (missing ? QStringLiteral(" MB  |  ") + T(QStringLiteral("File missing"))
                     : QStringLiteral(" MB  |  \u2714 ") + done));
        btnOpenFile->setEnabled(!missing);
        refreshTimer->stop();
        return;
    }

    if (downloadingWidget->isHidden())
        downloadingWidget->show();
    if (!completedWidget->isHidden())
        completedWidget->hide();
    updateCertificateRows();
    updateChecksumRows();

    if (m_task->totalSize < 1) {
        setTextIfChanged(sizeLbl, T(QStringLiteral("Wait...")));
        if (!m_task->lastDlpMessage.isEmpty())
            setTextIfChanged(downLbl, m_task->lastDlpMessage);
        if (m_task->status == 1 && mainProgBar->maximum() != 0)
            mainProgBar->setRange(0, 0);
        setTextIfChanged(etaLbl, QStringLiteral("--:--"));
    } else {
        const qint64 p = percentOf(m_task->downloadedSize, m_task->totalSize);
        setTextIfChanged(sizeLbl, mbText(m_task->totalSize) + QStringLiteral(" MB"));
        setTextIfChanged(downLbl, mbText(m_task->downloadedSize) + QStringLiteral(" MB (") +
                                      QString::number(p) + QStringLiteral("%)"));
        if (mainProgBar->maximum() != 100)
            mainProgBar->setRange(0, 100);
        if (mainProgBar->value() != int(p))
            mainProgBar->setValue(int(p));
        setTextIfChanged(speedLbl, mbText(m_task->currentSpeed) + QStringLiteral(" MB/s"));
        setTextIfChanged(etaLbl, etaText(m_task->totalSize, m_task->downloadedSize,
                                         m_task->currentSpeed, m_task->dlpEtaStr));
    }

    switch (m_task->status) {
    case 1:
        if (m_task->retryInSeconds >= 0)
            setTextIfChanged(statusLbl, waitingText(m_task->retryInSeconds) + QStringLiteral("\n") +
                                            m_task->lastDlpMessage);
        else
            setTextIfChanged(statusLbl, T(m_task->checking ? QStringLiteral("Verifying...")
                                                           : QStringLiteral("Downloading...")));
        setTextIfChanged(btnPauseResume, T(QStringLiteral("Pause")));
        break;
    case 0:
        setTextIfChanged(statusLbl,
                         T(m_task->queued ? QStringLiteral("Queued") : QStringLiteral("Paused")));
        setTextIfChanged(btnPauseResume,
                         T(m_task->queued ? QStringLiteral("Pause") : QStringLiteral("Resume")));
        break;
    case 3:
        setTextIfChanged(statusLbl, m_task->lastDlpMessage.isEmpty() ? T(QStringLiteral("Error"))
                                                                     : m_task->lastDlpMessage);
        setTextIfChanged(btnPauseResume, T(QStringLiteral("Retry")));
        setTextIfChanged(speedLbl, QStringLiteral("0 MB/s"));
        setTextIfChanged(etaLbl, T(QStringLiteral("Failed")));
        break;
    default: break;
    }
}
