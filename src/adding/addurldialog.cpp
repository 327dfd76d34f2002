#include "adding/addurldialog.h"

#include "adding/categoryfolder.h"
#include "adding/filenames.h"
#include "adding/formatlist.h"
#include "adding/freespace.h"
#include "adding/linkbatch.h"
#include "engine/categories.h"
#include "engine/http/httpprobe.h"
#include "engine/http/httpsession.h"
#include "engine/http/trustedcertificates.h"
#include "engine/http/weblink.h"
#include "engine/http/webpageanswer.h"
#include "engine/media/mediacommand.h"
#include "engine/media/mediatool.h"
#include "engine/media/processtree.h"
#include "language/translation.h"
#include "views/logindialog.h"
#include "views/sizetext.h"
#include "views/widgetstyles.h"

#include <QComboBox>
#include <QDateTime>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableView>
#include <QTimer>

namespace {

QString sizeText(qint64 size)
{
    return T(QStringLiteral("Size:")) + QLatin1Char(' ') +
           (size < 1 ? T(QStringLiteral("Unknown")) : mbText(size) + QStringLiteral(" MB"));
}

QString safeNote()
{
    return QStringLiteral("  |  \u2705 ") + T(QStringLiteral("Safe file type."));
}

} // namespace

AddUrlDialog::AddUrlDialog(QString clipboardUrl, QString defaultName, qint64 extSize,
                           QWidget *parent, const BrowserSession &session)
    : QDialog(parent), m_defaultName(std::move(defaultName)), m_extSize(extSize),
      m_session(session),
      m_sessionLink(webLinksInText(clipboardUrl).value(0, clipboardUrl), QUrl::TolerantMode)
{
    setAcceptDrops(true);
    setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);

    netManager = new HttpSession(this);
    netManager->setBrowserSession(m_session, m_sessionLink);
    probe = new HttpProbe(netManager, this);
    connect(probe, &HttpProbe::answered, this, &AddUrlDialog::onProbeAnswer);
    setFixedSize(600, 260);
    auto *grid = new QGridLayout(this);

    btnStart = new QPushButton(T(QStringLiteral("Start")), this);
    btnLater = new QPushButton(T(QStringLiteral("Download Later")), this);
    btnBrowse = new QPushButton(T(QStringLiteral("Browse...")), this);
    btnImport = new QPushButton(T(QStringLiteral("Import links…")), this);
    for (QPushButton *b : {btnStart, btnLater, btnBrowse, btnImport})
        b->setStyleSheet(QLatin1String(DialogButtonStyle));

    urlInput = new QLineEdit(clipboardUrl, this);
    pathInput = new QLineEdit(this);
    qualityCombo = new QComboBox(this);
    lblQual = new QLabel(T(QStringLiteral("Quality:")), this);
    lblFileInfo = new QLabel(this);
    lblFileInfo->setAlignment(Qt::AlignCenter);
    lblFileInfo->setWordWrap(true); // a long line in a large font still shows whole
    // Tests and callers reach the fields by these names.
    urlInput->setObjectName(QStringLiteral("urlInput"));
    pathInput->setObjectName(QStringLiteral("pathInput"));
    qualityCombo->setObjectName(QStringLiteral("qualityCombo"));
    lblQual->setObjectName(QStringLiteral("lblQual"));
    lblFileInfo->setObjectName(QStringLiteral("lblFileInfo"));
    btnStart->setObjectName(QStringLiteral("btnStart"));
    btnLater->setObjectName(QStringLiteral("btnLater"));
    btnBrowse->setObjectName(QStringLiteral("btnBrowse"));
    btnImport->setObjectName(QStringLiteral("btnImport"));

    grid->addWidget(new QLabel(T(QStringLiteral("URL:")), this), 0, 0);
    grid->addWidget(urlInput, 0, 1, 1, 3);
    lblPath = new QLabel(T(QStringLiteral("Save As:")), this);
    grid->addWidget(lblPath, 1, 0);
    grid->addWidget(pathInput, 1, 1, 1, 2);
    grid->addWidget(btnBrowse, 1, 3);
    grid->addWidget(lblQual, 2, 0);
    grid->addWidget(qualityCombo, 2, 1, 1, 3);
    grid->addWidget(lblFileInfo, 3, 0, 1, 4);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(btnImport);
    buttons->addStretch();
    buttons->addWidget(btnLater);
    buttons->addWidget(btnStart);
    grid->addLayout(buttons, 4, 0, 1, 4);

    // Links and paths read left to right also in the Arabic interface.
    for (QLineEdit *edit : {urlInput, pathInput}) {
        edit->setLayoutDirection(Qt::LeftToRight);
        edit->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    }

    qualityCombo->addItem(T(QStringLiteral("Best Available")), QStringLiteral("best"));
    qualityCombo->addItem(QStringLiteral("1080p HD"), QStringLiteral("1080"));
    qualityCombo->addItem(QStringLiteral("720p HD"), QStringLiteral("720"));
    qualityCombo->addItem(QStringLiteral("480p SD"), QStringLiteral("480"));
    qualityCombo->addItem(QStringLiteral("360p SD"), QStringLiteral("360"));
    qualityCombo->addItem(T(QStringLiteral("Audio Only")), QStringLiteral("audio"));
    lblQual->hide();
    qualityCombo->hide();

    if (m_extSize > 0) {
        lblFileInfo->setText(sizeText(m_extSize) + safeNote());
        lblFileInfo->setStyleSheet(QLatin1String(SuccessTextStyle));
    }

    connect(qualityCombo, &QComboBox::currentIndexChanged, this, &AddUrlDialog::onFormatChanged);
    if (!clipboardUrl.isEmpty())
        fetchRealName(clipboardUrl);
    connect(urlInput, &QLineEdit::textChanged, this, &AddUrlDialog::fetchRealName);

    connect(btnStart, &QPushButton::clicked, this, [this] { finish(false); });
    connect(btnLater, &QPushButton::clicked, this, [this] { finish(true); });
    connect(btnBrowse, &QPushButton::clicked, this, &AddUrlDialog::browse);
    connect(btnImport, &QPushButton::clicked, this, &AddUrlDialog::chooseImportFile);
    // Another folder may be on another disk, with more or less room.
    connect(pathInput, &QLineEdit::textChanged, this, [this] {
        if (probedSize > 0)
            showFileInfo();
    });
}

AddUrlDialog::~AddUrlDialog()
{
    // The list's probes go before the session they ask through.
    if (batch) {
        batchView->setModel(nullptr);
        delete batch;
        batch = nullptr;
    }
    // Children die after the widgets they would write to: cut them off first.
    abortProbe();
    QProcess *listing = formatProcess;
    stopListing();
    if (listing)
        listing->waitForFinished(3000); // killed: reaped at once, before the dialog is gone
}

// A link still typed in the field of a list joins the list as it is.
void AddUrlDialog::finish(bool later)
{
    if (batch)
        addLinks(webLinksInText(urlInput->text()));
    queued = later;
    accept();
}

QString AddUrlDialog::getUrl() const
{
    return urlInput->text();
}

QString AddUrlDialog::getSavePath() const
{
    return pathInput->text();
}

QString AddUrlDialog::getQuality() const
{
    return qualityCombo->currentIndex() < 0 ? QString() : qualityCombo->currentData().toString();
}

bool AddUrlDialog::isQueued() const
{
    return queued;
}

BrowserSession AddUrlDialog::getSession() const
{
    return sessionFor(getUrl());
}

BrowserSession AddUrlDialog::sessionFor(const QString &url) const
{
    if (sameCookieHost(QUrl(url, QUrl::TolerantMode), m_sessionLink))
        return m_session;
    return m_session.withoutCookie();
}

bool AddUrlDialog::warnedOfWebPage() const
{
    return pageWarning;
}

QString AddUrlDialog::getCategoryFolder(const QString &fileName)
{
    return categoryFolder(fileName);
}

void AddUrlDialog::onFormatChanged()
{
    if (pathInput->text().isEmpty())
        return;
    pathInput->setText(withFormatExtension(pathInput->text(), getQuality()));
}

void AddUrlDialog::browse()
{
    const QString chosen =
        QFileDialog::getSaveFileName(this, T(QStringLiteral("Save As:")), pathInput->text());
    if (!chosen.isEmpty())
        pathInput->setText(chosen);
}

void AddUrlDialog::fetchRealName(const QString &text)
{
    // Whatever the new text is, an answer about the previous one would only overwrite the
    // fields with a stale name, size or quality list.
    abortProbe();
    stopListing();
    probedSize = 0;
    pageWarning = false;

    // In the list, a link typed by hand is taken with Enter; pasted lines are taken at once.
    const QStringList links = webLinksInText(text);
    if (batch) {
        if (text.contains(QLatin1Char('\n')))
            addLinks(links);
        return;
    }
    if (links.size() > 1) {
        addLinks(links);
        return;
    }

    if (text.startsWith(QLatin1String("blob:"), Qt::CaseInsensitive)) {
        lblFileInfo->setText(T(QStringLiteral("Error: 'blob:' links are internal browser memory "
                                              "and cannot be downloaded externally.")));
        lblFileInfo->setStyleSheet(QLatin1String(ErrorTextStyle));
        btnStart->setEnabled(false);
        return;
    }

    // Other schemes would be read from the disk (file:), from the program itself (qrc:) or not
    // at all, and leave a file of zeros behind; an empty field is simply not filled in yet.
    if (!text.trimmed().isEmpty() && !isWebLink(text) && !containsMediaHost(text)) {
        lblQual->hide();
        qualityCombo->hide();
        lblFileInfo->setText(T(QStringLiteral("Error: Only http:// and https:// links can be "
                                              "downloaded.")));
        lblFileInfo->setStyleSheet(QLatin1String(ErrorTextStyle));
        btnStart->setEnabled(false);
        btnLater->setEnabled(false);
        return;
    }
    btnLater->setEnabled(true);

    const bool isVid = containsMediaHost(text);
    const QUrl u(text, QUrl::TolerantMode);
    // The media tool reads anything but a web link as an option or a local path.
    if (isVid && !isMediaToolLink(u)) {
        lblQual->hide();
        qualityCombo->hide();
        lblFileInfo->setText(refusedMediaLinkText());
        lblFileInfo->setStyleSheet(QLatin1String(ErrorTextStyle));
        btnStart->setEnabled(false);
        return;
    }
    if (isVid) {
        lblQual->show();
        qualityCombo->show();
        qualityCombo->setEnabled(false);
        qualityCombo->clear();
        qualityCombo->addItem(T(QStringLiteral("Fetching...")), QStringLiteral("best"));
        btnStart->setEnabled(false);
        lblFileInfo->setText(QString());
        startListing(u);
    } else {
        lblQual->hide();
        qualityCombo->hide();
        btnStart->setEnabled(true);
    }

    if (!u.isValid())
        return;
    sendProbe(u, nameFromLink(u), isVid);
}

void AddUrlDialog::addLinks(const QStringList &links)
{
    if (!batch) {
        // The link that was in the field alone becomes the first row.
        QStringList all = webLinksInText(urlInput->text());
        all.append(links);
        all = webLinksInText(all.join(QLatin1Char('\n')));
        if (all.size() < 2) {
            if (!all.isEmpty() && urlInput->text().trimmed() != all.first())
                urlInput->setText(all.first());
            return;
        }
        enterBatch();
        batch->addLinks(all, m_defaultName, m_extSize);
    } else {
        batch->addLinks(links);
    }
    // The field is for further links from now on.
    const QSignalBlocker quiet(urlInput);
    urlInput->clear();
}

// One link's fields give way to the list; a probe or listing of the single link is dropped.
void AddUrlDialog::enterBatch()
{
    abortProbe();
    stopListing();
    batch = new LinkBatch(netManager, this);
    batchView = new QTableView(this);
    batchView->setObjectName(QStringLiteral("batchView"));
    batchView->setModel(batch);
    batchView->setSelectionBehavior(QAbstractItemView::SelectRows);
    batchView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    batchView->verticalHeader()->hide();
    batchView->verticalHeader()->setDefaultSectionSize(24); // uniform rows: hundreds stay light
    batchView->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    batchView->setColumnWidth(LinkBatch::NameColumn, 260);
    batchView->setColumnWidth(LinkBatch::SizeColumn, 110);
    batchView->setColumnWidth(LinkBatch::CategoryColumn, 140);
    batchView->horizontalHeader()->setStretchLastSection(true);
    for (QWidget *w :
         std::initializer_list<QWidget *>{lblPath, pathInput, btnBrowse, lblQual, qualityCombo})
        w->hide();
    pathInput->clear();
    auto *grid = static_cast<QGridLayout *>(layout());
    grid->addWidget(batchView, 1, 0, 2, 4);
    grid->setRowStretch(1, 1);
    setFixedSize(820, 520);
    // Enter adds the typed link to the list rather than starting everything.
    for (QPushButton *b : {btnStart, btnLater, btnBrowse, btnImport}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    connect(urlInput, &QLineEdit::returnPressed, this,
            [this] { addLinks(webLinksInText(urlInput->text())); });
    btnStart->setText(T(QStringLiteral("Start all")));
    btnStart->setEnabled(true);
    btnLater->setEnabled(true);
    lblFileInfo->setStyleSheet(QString());
    connect(batch, &LinkBatch::countsChanged, this, &AddUrlDialog::showBatchCounts);
    connect(batch, &LinkBatch::dataChanged, this, &AddUrlDialog::showBatchCounts);
}

void AddUrlDialog::showBatchCounts()
{
    const int checked = batch->checkedCount();
    lblFileInfo->setText(
        T(QStringLiteral("%1 links, %2 chosen")).arg(batch->rowCount()).arg(checked));
    btnStart->setEnabled(checked > 0);
    btnLater->setEnabled(checked > 0);
}

QList<LinkBatch::Row> AddUrlDialog::chosenLinks() const
{
    return batch ? batch->checkedRows() : QList<LinkBatch::Row>();
}

void AddUrlDialog::chooseImportFile()
{
    const QString file = QFileDialog::getOpenFileName(
        this, T(QStringLiteral("Import links…")), QString(),
        T(QStringLiteral("Text files")) + QStringLiteral(" (*.txt *.lst *.csv);;") +
            T(QStringLiteral("All files")) + QStringLiteral(" (*)"));
    if (!file.isEmpty())
        importLinks(file);
}

void AddUrlDialog::importLinks(const QString &fileName)
{
    // A list of links is small; a large file is not one, and is not read whole.
    constexpr qint64 kMostBytes = 8 * 1024 * 1024;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return;
    addLinks(webLinksInText(QString::fromUtf8(file.read(kMostBytes))));
}

void AddUrlDialog::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls() || event->mimeData()->hasText())
        event->acceptProposedAction();
}

void AddUrlDialog::dropEvent(QDropEvent *event)
{
    QStringList links;
    for (const QUrl &url : event->mimeData()->urls())
        links.append(url.toString());
    links.append(webLinksInText(event->mimeData()->text()));
    addLinks(webLinksInText(links.join(QLatin1Char('\n'))));
    event->acceptProposedAction();
}

void AddUrlDialog::sendProbe(const QUrl &u, const QString &linkName, bool isVid)
{
    probeUrl = u;
    probeLinkName = linkName;
    probeIsVid = isVid;
    // Name and size come from the headers alone: the answer is taken as soon as they are in, and
    // the rest (a whole file, from a server that ignores the range) is never received.
    probe->send(u, 0);
}

void AddUrlDialog::abortProbe()
{
    probe->cancel();
}

void AddUrlDialog::onProbeAnswer(const ProbeAnswer &answer)
{
    const QUrl &u = probeUrl;
    const bool isVid = probeIsVid;
    const QString name = probedFileName(answer, u, m_defaultName, isVid);
    QString path = getCategoryFolder(name) + QLatin1Char('/') + name;
    // A listing that finished before this answer has already chosen the format; the extension
    // follows it whichever of the two came first.
    if (isVid && !formatProcess && qualityCombo->isEnabled())
        path = withFormatExtension(path, getQuality());

    // The length of an error page is not the size of the file.
    const qint64 size = m_extSize >= 1 ? m_extSize : answer.status < 400 ? answer.total : 0;

    // A media link's page is a web page by nature; the media tool reads it.
    pageWarning = !isVid && answer.refused.isNull() && answer.status < 400 &&
                  isPageInsteadOfFile(answer.contentType, name);
    // Nothing a refused server said can be believed, the size included; the line of a refusal
    // or a page stays put whatever the path.
    probedSize = answer.refused.isNull() && !pageWarning ? size : 0;
    probedUnsafe = isUnsafeSuffix(QFileInfo(name).suffix());
    probedMedia = isVid;
    pathInput->setText(path);
    if (!answer.refused.isNull()) {
        lblFileInfo->setText(answer.refused.reason);
        lblFileInfo->setStyleSheet(QLatin1String(ErrorTextStyle));
    } else if (!answer.login.isNull()) {
        lblFileInfo->setText(loginRequiredText(answer.login));
        lblFileInfo->setStyleSheet(QLatin1String(ErrorTextStyle));
        askLogin(answer.login);
    } else if (pageWarning) {
        lblFileInfo->setText(QStringLiteral("\u26A0\uFE0F ") + pageInsteadOfFileText());
        lblFileInfo->setStyleSheet(QLatin1String(ErrorTextStyle));
    } else {
        showFileInfo();
    }
}

// The server wants a login: asked once the probe's answer is handled (the dialog runs an event
// loop of its own), then the same link is probed again with it. Cancel leaves the line saying
// that a login is needed; the download may still be added, and asks again when it runs.
void AddUrlDialog::askLogin(const LoginRequest &request)
{
    QTimer::singleShot(0, this, [this, request, asked = probeUrl] {
        if (asked != probeUrl || !isVisible())
            return; // the link was changed meanwhile
        if (LoginDialog::ask(request, this) && asked == probeUrl)
            sendProbe(probeUrl, probeLinkName, probeIsVid);
    });
}

// The information line: the size, then what the user should know before starting (the file does
// not fit on the destination's disk, the file type may be unsafe), or that all is well.
void AddUrlDialog::showFileInfo()
{
    QString text = sizeText(probedSize);
    bool warned = false;
    const qint64 free = probedSize > 0 && !probedMedia ? freeSpaceFor(pathInput->text()) : -1;
    if (free >= 0 && free < probedSize) {
        text += QStringLiteral("  |  \u26A0\uFE0F ") +
                T(QStringLiteral("Not enough free space: %1 MB free")).arg(mbText(free));
        warned = true;
    }
    if (probedUnsafe) {
        text += QStringLiteral("  |  \u26A0\uFE0F ") +
                T(QStringLiteral("Warning: Executable file. Might be unsafe."));
        warned = true;
    } else if (!warned) {
        text += safeNote();
    }
    lblFileInfo->setText(text);
    lblFileInfo->setStyleSheet(QLatin1String(warned ? ErrorTextStyle : SuccessTextStyle));
}

void AddUrlDialog::startListing(const QUrl &link)
{
    auto *process = new QProcess(this);
    formatProcess = process;
    process->setWorkingDirectory(mediaToolDirectory());
    process->setStandardErrorFile(QProcess::nullDevice());
    connect(process, &QProcess::finished, this,
            [this, process](int exitCode, QProcess::ExitStatus exitStatus) {
                onListingFinished(process, exitCode, exitStatus);
            });
    // A tool that cannot be started sends no completion; without this the list would wait
    // for it forever with "Start" disabled.
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            onListingFinished(process, -1, QProcess::CrashExit);
    });
    auto *tree = new ProcessTree(process); // the tool may start helpers of its own
    QStringList args = mediaListingArguments(link);
    const ProxySettings proxy = ProxySettings::current();
    addMediaProxyArguments(args, proxy, link);
    process->start(mediaToolPath(), args);
    process->write(mediaProxyInput(proxy, link));
    process->closeWriteChannel();
    tree->started();
}

void AddUrlDialog::stopListing()
{
    if (!formatProcess)
        return;
    QProcess *process = formatProcess;
    formatProcess = nullptr;
    disconnect(process, nullptr, this, nullptr);
    if (process->state() == QProcess::NotRunning) {
        process->deleteLater();
        return;
    }
    connect(process, &QProcess::finished, process, &QObject::deleteLater);
    if (auto *tree = process->findChild<ProcessTree *>())
        tree->kill();
    else
        process->kill();
}

void AddUrlDialog::onListingFinished(QProcess *process, int exitCode,
                                     QProcess::ExitStatus exitStatus)
{
    if (process != formatProcess)
        return;

    qualityCombo->clear();
    QList<int> heights;
    if (exitCode == 0 && exitStatus == QProcess::NormalExit)
        heights = listedVideoHeights(process->readAllStandardOutput());
    if (heights.isEmpty())
        qualityCombo->addItem(T(QStringLiteral("Best Available")), QStringLiteral("best"));
    for (int height : std::as_const(heights))
        qualityCombo->addItem(QString::number(height) + QStringLiteral("p HD"),
                              QString::number(height));
    qualityCombo->addItem(T(QStringLiteral("Audio Only")), QStringLiteral("audio"));
    qualityCombo->setEnabled(true);
    btnStart->setEnabled(true);
    onFormatChanged();

    formatProcess = nullptr;
    disconnect(process, nullptr, this, nullptr);
    process->deleteLater();
}
