#include "views/downloadcard.h"

#include "engine/categories.h"
#include "engine/downloadtask.h"
#include "language/translation.h"
#include "views/appicon.h"
#include "views/cardstate.h"
#include "views/deletequestion.h"
#include "views/downloaddetailsdialog.h"
#include "views/sizetext.h"
#include "views/updatelinkdialog.h"
#include "views/widgetstyles.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

namespace {

constexpr int kMessageLimit = 40;

// A message of the run in one short line; the details dialog shows it whole.
QString shortMessage(const QString &message)
{
    return message.size() > kMessageLimit ? message.left(kMessageLimit - 3) + QStringLiteral("...")
                                          : message;
}

// The file name keeps one line: a name wider than the card is shortened in the middle, with the
// whole name in the tooltip, instead of pushing the buttons out of the window.
class NameLabel : public QLabel {
public:
    explicit NameLabel(QWidget *parent) : QLabel(parent)
    {
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        setMinimumWidth(40);
    }

    void setFullName(const QString &name)
    {
        if (name == fullName && !text().isEmpty())
            return;
        fullName = name;
        setToolTip(fullName);
        elide();
    }

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QLabel::resizeEvent(event);
        elide();
    }
    void changeEvent(QEvent *event) override
    {
        QLabel::changeEvent(event);
        if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
            elide();
    }

private:
    void elide()
    {
        const QString shown = fontMetrics().elidedText(fullName, Qt::ElideMiddle, width());
        if (shown != text())
            QLabel::setText(shown);
    }

    QString fullName;
};

} // namespace

// Holds the card's row. A card has no layout of its own, so the size-hint changes of its labels
// (every refresh changes a text) end at the card: with a layout on the card itself, each refresh
// would also lay out the whole list again, which makes every tick cost grow with the list.
class CardBody : public QWidget {
    Q_OBJECT

public:
    using QWidget::QWidget;
};

namespace {

void setTextIfChanged(QLabel *label, const QString &text)
{
    if (label->text() != text)
        label->setText(text);
}

void setShown(QWidget *widget, bool shown)
{
    if (widget->isHidden() == shown)
        widget->setVisible(shown);
}

void setToolTipIfChanged(QWidget *widget, const QString &tip)
{
    if (widget->toolTip() != tip)
        widget->setToolTip(tip);
}

void setProgress(QProgressBar *bar, int minimum, int maximum, int value)
{
    if (bar->minimum() != minimum || bar->maximum() != maximum)
        bar->setRange(minimum, maximum);
    if (maximum > minimum && bar->value() != value) {
        // QProgressBar paints itself and flushes the window at once whenever its text would
        // change; with many downloads on screen that is dozens of flushes a second in the middle
        // of reading their data. Marked for the next paint instead, with the rest of the window.
        // Only a bar whose updates are on is switched: turning them off by hand while the card
        // holds them off would keep the bar from ever painting again.
        if (bar->updatesEnabled()) {
            bar->setUpdatesEnabled(false);
            bar->setValue(value);
            bar->setUpdatesEnabled(true); // schedules the paint
        } else {
            bar->setValue(value);
        }
    }
}

// File icons, by type where the name decides it. A look-up may read the file or decode images
// each time, and a list shows the same few types over and over. Programs (which may carry icons
// of their own) and types unknown by name are looked up for each file.
QPixmap fileIconPixmap(const QString &path, qreal dpr)
{
    static QHash<QString, QPixmap> byType;
    const QFileInfo info(path);
    const QString category = categoryForFileName(info.fileName());
    const bool byName = category != QLatin1String("Programs") && category != QLatin1String("Other");
    const QString key = info.suffix().toLower() + QLatin1Char('@') + QString::number(dpr);
    if (byName) {
        const auto found = byType.constFind(key);
        if (found != byType.cend())
            return *found;
    }
    const QPixmap pixmap = QFileIconProvider().icon(info).pixmap(QSize(40, 40), dpr);
    if (pixmap.isNull()) // no icon for a file not there (yet, or any more), on some desktops
        return QFileIconProvider().icon(QFileIconProvider::File).pixmap(QSize(40, 40), dpr);
    if (byName)
        byType.insert(key, pixmap);
    return pixmap;
}

QPushButton *makeIconButton(const QString &icon, QStyle::StandardPixmap fallback, QWidget *parent)
{
    auto *button = new QPushButton(parent);
    button->setIcon(getAppIcon(icon, fallback, parent));
    button->setIconSize(QSize(24, 24));
    button->setFixedSize(36, 36);
    return button;
}

} // namespace

void makePlaceholderFile(const QString &path)
{
    if (QFile::exists(path))
        return;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile placeholder(path);
    if (placeholder.open(QIODevice::WriteOnly))
        placeholder.close();
}

DownloadCard::DownloadCard(DownloadTask *task, QWidget *parent) : QWidget(parent), m_task(nullptr)
{
    setObjectName(QStringLiteral("TaskCard"));
    setFixedHeight(72);
    setAttribute(Qt::WA_StyledBackground, true);

    body = new CardBody(this);
    auto *layout = new QHBoxLayout(body);
    layout->setContentsMargins(10, 5, 10, 5);
    layout->setSpacing(10);

    chkSelect = new QCheckBox(body);
    chkSelect->hide();
    layout->addWidget(chkSelect);

    iconLbl = new QLabel(body);
    iconLbl->setFixedSize(40, 40);
    if (task && task->status != 2)
        makePlaceholderFile(task->savePath());
    layout->addWidget(iconLbl);

    auto *middle = new QVBoxLayout;
    middle->setSpacing(2);
    nameLbl = new NameLabel(body);
    nameLbl->setObjectName(QStringLiteral("CardName"));
    middle->addWidget(nameLbl);
    prog = new QProgressBar(body);
    prog->setFixedHeight(6);
    prog->setTextVisible(false);
    middle->addWidget(prog);
    auto *stats = new QHBoxLayout;
    stats->setSpacing(12);
    speedLbl = new QLabel(body);
    etaLbl = new QLabel(body);
    sizeLbl = new QLabel(body);
    stats->addWidget(speedLbl);
    stats->addWidget(etaLbl);
    stats->addStretch();
    stats->addWidget(sizeLbl);
    middle->addLayout(stats);
    layout->addLayout(middle, 1);

    percentLbl = new QLabel(body);
    percentLbl->setObjectName(QStringLiteral("CardPercent"));
    // Room for "100%" and for a few more digits, so the buttons do not shift while it counts. The
    // width is measured in the label's own font (bold, from the style sheet).
    percentLbl->ensurePolished();
    percentLbl->setMinimumWidth(
        percentLbl->fontMetrics().horizontalAdvance(QStringLiteral("100%")) + 8);
    percentLbl->setAlignment(Qt::AlignCenter);
    layout->addWidget(percentLbl);

    auto *controls = new QHBoxLayout;
    controls->setSpacing(4);
    btnCancel = makeIconButton(QStringLiteral("cancel.png"), QStyle::SP_DialogCancelButton, body);
    btnToggle = makeIconButton(QStringLiteral("pause.png"), QStyle::SP_MediaPause, body);
    toggleIconName = QStringLiteral("pause.png");
    btnPlay = makeIconButton(QStringLiteral("play.png"), QStyle::SP_MediaPlay, body);
    btnFolder = makeIconButton(QStringLiteral("folder.png"), QStyle::SP_DirIcon, body);
    btnDelete = makeIconButton(QStringLiteral("delete.png"), QStyle::SP_TrashIcon, body);
    btnLink = makeIconButton(QStringLiteral("link.png"), QStyle::SP_BrowserReload, body);
    btnLink->setObjectName(QStringLiteral("btnUpdateLink"));
    btnLink->hide();
    for (QPushButton *button : {btnLink, btnCancel, btnToggle, btnPlay, btnFolder, btnDelete})
        controls->addWidget(button);
    layout->addLayout(controls);

    connect(btnToggle, &QPushButton::clicked, this, [this] {
        if (m_task->isActive())
            m_task->pause();
        else if (m_task->status == 0)
            m_task->resume();
        else if (m_task->status == 2 && !QFileInfo::exists(m_task->savePath()))
            m_task->downloadAgain();
    });
    connect(btnCancel, &QPushButton::clicked, this, [this] { m_task->cancel(); });
    connect(btnFolder, &QPushButton::clicked, this, &DownloadCard::openFolder);
    connect(btnPlay, &QPushButton::clicked, this, &DownloadCard::openFile);
    connect(btnDelete, &QPushButton::clicked, this, &DownloadCard::askDelete);
    connect(btnLink, &QPushButton::clicked, this,
            [this] { UpdateLinkDialog::run(m_task, window()); });
    showTask(task, task ? task->fileName : QString(), false, false);
}

DownloadTask *DownloadCard::getTask() const
{
    return m_task;
}

void DownloadCard::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    body->setGeometry(rect());
}

QSize DownloadCard::sizeHint() const
{
    return QSize(body->sizeHint().width(), 72);
}

QSize DownloadCard::minimumSizeHint() const
{
    return QSize(body->minimumSizeHint().width(), 72);
}

bool DownloadCard::isSelected() const
{
    return chkSelect->isChecked();
}

void DownloadCard::setSelected(bool sel)
{
    chkSelect->setChecked(sel);
    updateStyle();
    emit selectionChanged();
}

void DownloadCard::showDetailsDialog()
{
    if (!m_task)
        return;
    DownloadDetailsDialog *dialog = detailsDialogForTask();
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

DownloadDetailsDialog *DownloadCard::detailsDialogForTask()
{
    if (!detailsDialog)
        detailsDialog = new DownloadDetailsDialog(m_task, this);
    return detailsDialog;
}

void DownloadCard::updateTooltips()
{
    setToolTipIfChanged(btnCancel, T(QStringLiteral("Cancel")));
    setToolTipIfChanged(btnFolder, T(QStringLiteral("Open Folder")));
    setToolTipIfChanged(btnDelete, T(QStringLiteral("Delete")));
    setToolTipIfChanged(btnPlay, T(QStringLiteral("Play")));
    setToolTipIfChanged(btnLink, T(QStringLiteral("Update link…")));
    setToolTipIfChanged(btnToggle, T(m_task && m_task->isActive() ? QStringLiteral("Pause")
                                                                  : QStringLiteral("Resume")));
}

void DownloadCard::showTask(DownloadTask *task, const QString &name, bool selected, bool reported)
{
    if (task != m_task)
        followTask(task);
    // A card put aside keeps its look; it is hidden, and whatever it shows next is set then.
    if (!m_task)
        return;
    // The progress bar repaints at once when its value changes; the card is painted once, after.
    const bool updates = updatesEnabled();
    setUpdatesEnabled(false);
    static_cast<NameLabel *>(nameLbl)->setFullName(name);
    if (isSelected() != selected) {
        chkSelect->setChecked(selected);
        updateStyle();
    }
    setFileIcon();
    updateTooltips();
    // A card may have shown another task: start from a new card's figures, which a refresh
    // leaves alone where a state has none (the sizes of a paused task of unknown size).
    showNewCardLook();
    if (reported)
        updateCardUI();
    else
        setBarState(QStringLiteral("pending"));
    setUpdatesEnabled(updates);
}

void DownloadCard::followTask(DownloadTask *task)
{
    disconnect(progressConnection);
    m_task = task;
    if (m_task)
        progressConnection =
            connect(m_task, &DownloadTask::progressUpdated, this, &DownloadCard::updateCardUI);
}

// The figures of a card that has not heard from its task yet: "Wait...", 0%, an empty bar and
// every button. Its bar state ("pending", no colour) is set by the caller.
void DownloadCard::showNewCardLook()
{
    setTextIfChanged(speedLbl, T(QStringLiteral("Wait...")));
    setTextIfChanged(etaLbl, QString());
    setTextIfChanged(sizeLbl, QString());
    setTextIfChanged(percentLbl, QStringLiteral("0%"));
    if (prog->minimum() != 0 || prog->maximum() != 100)
        prog->setRange(0, 100);
    prog->reset();
    setToggleIcon(QStringLiteral("pause.png"));
    for (QPushButton *button : {btnCancel, btnToggle, btnPlay, btnFolder, btnDelete})
        setShown(button, true);
    setShown(btnLink, false);
}

// The file icon is looked up for a new task and once more when its download completes, as the
// complete file may have another icon than the empty placeholder had.
void DownloadCard::setFileIcon()
{
    const QString path = m_task->savePath();
    const bool done = m_task->status == 2;
    if (path == iconPath && done == iconDone)
        return;
    iconPath = path;
    iconDone = done;
    iconLbl->setPixmap(fileIconPixmap(path, devicePixelRatioF()));
}

void DownloadCard::refreshFileIcon()
{
    if (!m_task)
        return;
    iconPath.clear();
    setFileIcon();
}

void DownloadCard::setToggleIcon(const QString &name)
{
    if (toggleIconName == name)
        return;
    toggleIconName = name;
    const QStyle::StandardPixmap fallback =
        name == QLatin1String("pause.png")   ? QStyle::SP_MediaPause
        : name == QLatin1String("retry.png") ? QStyle::SP_BrowserReload
                                             : QStyle::SP_MediaPlay;
    btnToggle->setIcon(getAppIcon(name, fallback, this));
}

// The progress-bar colour rules select on this property; a change only shows after a re-polish.
void DownloadCard::setBarState(const QString &state)
{
    if (prog->property("status").toString() == state)
        return;
    prog->setProperty("status", state);
    prog->style()->unpolish(prog);
    prog->style()->polish(prog);
}

// Runs on every progress signal, which can come thousands of times a second: every setter is
// guarded so that an unchanged value costs a comparison, not a relayout or a repaint.
void DownloadCard::updateCardUI()
{
    const DownloadTask &t = *m_task;
    const int status = t.status;

    if (status == 2) {
        setProgress(prog, 0, 100, 100);
        setTextIfChanged(percentLbl, QStringLiteral("100%"));
        setTextIfChanged(sizeLbl, mbText(t.totalSize) + QStringLiteral(" MB"));
        setTextIfChanged(etaLbl, QString());
    } else if (t.totalSize > 0) {
        const qint64 p = percentOf(t.downloadedSize, t.totalSize);
        // The bar ignores values outside its range, so a count past the total pins it full.
        setProgress(prog, 0, 100, int(std::clamp<qint64>(p, 0, 100)));
        setTextIfChanged(percentLbl, QString::number(p) + QLatin1Char('%'));
        setTextIfChanged(sizeLbl, mbText(t.downloadedSize) + QStringLiteral(" / ") +
                                      mbText(t.totalSize) + QStringLiteral(" MB"));
        setTextIfChanged(etaLbl,
                         etaText(t.totalSize, t.downloadedSize, t.currentSpeed, t.dlpEtaStr));
    } else if (status == 1) {
        setProgress(prog, 0, 0, 0);
        setTextIfChanged(percentLbl, QStringLiteral("..."));
        setTextIfChanged(etaLbl, QStringLiteral("--:--"));
        if (!t.lastDlpMessage.isEmpty() && t.retryInSeconds < 0) // a wait shows it once, below
            setTextIfChanged(sizeLbl, shortMessage(t.lastDlpMessage));
    }

    showTaskState(status);
    emit selectionChanged();
}

void DownloadCard::showTaskState(int status)
{
    // A finished download's file may have been moved or deleted since; only finished ones are
    // looked for, and only when the card shows or the task reports, never on a timer.
    const bool missing = status == 2 && !QFileInfo::exists(m_task->savePath());
    const CardState state = cardStateOf(*m_task, missing);
    if (state.known) {
        const QString word =
            state.wordArg.isEmpty() ? T(state.word) : T(state.word).arg(state.wordArg);
        setTextIfChanged(speedLbl, state.showsRate
                                       ? mbText(m_task->currentSpeed) + QStringLiteral(" MB/s")
                                       : word);
        if (state.eta == CardState::Eta::Dashes)
            setTextIfChanged(etaLbl, QStringLiteral("--:--"));
        else if (state.eta == CardState::Eta::Empty)
            setTextIfChanged(etaLbl, QString());
        else if (state.eta == CardState::Eta::Reason)
            setTextIfChanged(etaLbl, shortMessage(m_task->lastDlpMessage));
        if (!state.toggleIcon.isEmpty())
            setToggleIcon(state.toggleIcon);
        if (!state.toggleTip.isEmpty())
            setToolTipIfChanged(btnToggle, T(state.toggleTip));
        setShown(btnCancel, state.cancel);
        setShown(btnToggle, state.toggle);
        setShown(btnPlay, state.play);
        setShown(btnLink, state.updateLink);
        if (btnPlay->isEnabled() != state.playEnabled)
            btnPlay->setEnabled(state.playEnabled);
        setShown(btnFolder, true);
        setShown(btnDelete, true);
        if (status == 2)
            setFileIcon();
    }
    setBarState(state.bar);
}

void DownloadCard::openFolder()
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(m_task->savePath()).absolutePath()));
}

void DownloadCard::openFile()
{
    if (!QFileInfo::exists(m_task->savePath())) { // gone since the card looked
        updateCardUI();
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(m_task->savePath()));
}

void DownloadCard::updateStyle()
{
    setStyleSheet(isSelected() ? QString::fromLatin1(SelectedCardStyle) : QString());
    style()->unpolish(this);
    style()->polish(this);
}

void DownloadCard::mousePressEvent(QMouseEvent *event)
{
    if (event->modifiers() & Qt::ControlModifier) {
        setSelected(!isSelected());
    } else {
        deselectOthers();
        setSelected(true);
    }
    QWidget::mousePressEvent(event);
}

void DownloadCard::deselectOthers()
{
    if (QWidget *list = parentWidget()) {
        const auto siblings = list->findChildren<DownloadCard *>(Qt::FindChildrenRecursively);
        for (DownloadCard *card : siblings) {
            if (card != this)
                card->setSelected(false);
        }
    }
}

void DownloadCard::mouseDoubleClickEvent(QMouseEvent *event)
{
    showDetailsDialog();
    QWidget::mouseDoubleClickEvent(event);
}

void DownloadCard::askDelete()
{
    const DeleteChoice choice =
        askDeleteOptions(this, T(QStringLiteral("Delete the downloaded file from disk too?")));
    if (choice == DeleteChoice::ListAndFile) {
        // The task keeps its file open while it runs, and an open file cannot be removed on
        // Windows, so the transfer is stopped first.
        m_task->cancel();
        QFile::remove(m_task->savePath());
        emit requestDelete(this);
    } else if (choice == DeleteChoice::ListOnly) {
        emit requestDelete(this);
    }
}

#include "downloadcard.moc"
