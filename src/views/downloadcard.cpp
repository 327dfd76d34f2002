#include "views/downloadcard.h"

#include "views/deletequestion.h"

#include "engine/downloadtask.h"
#include "language/translation.h"
#include "views/appicon.h"
#include "views/downloaddetailsdialog.h"
#include "views/sizetext.h"
#include "views/widgetstyles.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHBoxLayout>
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

// The file name keeps one line: a name wider than the card is shortened in the middle, with the
// whole name in the tooltip, instead of pushing the buttons out of the window.
class NameLabel : public QLabel {
public:
    NameLabel(const QString &name, QWidget *parent) : QLabel(parent), fullName(name)
    {
        setToolTip(fullName);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        setMinimumWidth(40);
        QLabel::setText(fullName);
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
    if (maximum > minimum && bar->value() != value)
        bar->setValue(value);
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

DownloadCard::DownloadCard(DownloadTask *task, QWidget *parent) : QWidget(parent), m_task(task)
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
    const QString path = m_task->savePath();
    if (!QFile::exists(path)) {
        // The placeholder reserves the name, so a second download to the same target is noticed.
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile placeholder(path);
        if (placeholder.open(QIODevice::WriteOnly))
            placeholder.close();
    }
    setFileIcon();
    layout->addWidget(iconLbl);

    auto *middle = new QVBoxLayout;
    middle->setSpacing(2);
    auto *nameLbl = new NameLabel(m_task->fileName, body);
    nameLbl->setObjectName(QStringLiteral("CardName"));
    middle->addWidget(nameLbl);
    prog = new QProgressBar(body);
    prog->setFixedHeight(6);
    prog->setTextVisible(false);
    prog->setProperty("status", QStringLiteral("pending"));
    middle->addWidget(prog);
    auto *stats = new QHBoxLayout;
    stats->setSpacing(12);
    speedLbl = new QLabel(T(QStringLiteral("Wait...")), body);
    etaLbl = new QLabel(body);
    sizeLbl = new QLabel(body);
    stats->addWidget(speedLbl);
    stats->addWidget(etaLbl);
    stats->addStretch();
    stats->addWidget(sizeLbl);
    middle->addLayout(stats);
    layout->addLayout(middle, 1);

    percentLbl = new QLabel(QStringLiteral("0%"), body);
    percentLbl->setObjectName(QStringLiteral("CardPercent"));
    // Room for "100%" and for a few more digits, so the buttons do not shift while it counts.
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
    for (QPushButton *button : {btnCancel, btnToggle, btnPlay, btnFolder, btnDelete})
        controls->addWidget(button);
    layout->addLayout(controls);

    connect(m_task, &DownloadTask::progressUpdated, this, &DownloadCard::updateCardUI);
    connect(btnToggle, &QPushButton::clicked, this, [this] {
        if (m_task->status == 1)
            m_task->pause();
        else if (m_task->status == 0)
            m_task->resume();
    });
    connect(btnCancel, &QPushButton::clicked, this, [this] { m_task->cancel(); });
    connect(btnFolder, &QPushButton::clicked, this, &DownloadCard::openFolder);
    connect(btnPlay, &QPushButton::clicked, this, &DownloadCard::openFile);
    connect(btnDelete, &QPushButton::clicked, this, &DownloadCard::askDelete);
    updateTooltips();
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
    if (!detailsDialog)
        detailsDialog = new DownloadDetailsDialog(m_task, this);
    detailsDialog->show();
    detailsDialog->raise();
    detailsDialog->activateWindow();
}

void DownloadCard::updateTooltips()
{
    btnCancel->setToolTip(T(QStringLiteral("Cancel")));
    btnFolder->setToolTip(T(QStringLiteral("Open Folder")));
    btnDelete->setToolTip(T(QStringLiteral("Delete")));
    btnPlay->setToolTip(T(QStringLiteral("Play")));
    btnToggle->setToolTip(
        T(m_task->status == 1 ? QStringLiteral("Pause") : QStringLiteral("Resume")));
}

void DownloadCard::setFileIcon()
{
    const QIcon icon = QFileIconProvider().icon(QFileInfo(m_task->savePath()));
    iconLbl->setPixmap(icon.pixmap(QSize(40, 40), devicePixelRatioF()));
}

void DownloadCard::setToggleIcon(const QString &name)
{
    if (toggleIconName == name)
        return;
    toggleIconName = name;
    btnToggle->setIcon(getAppIcon(
        name, name == QLatin1String("pause.png") ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay,
        this));
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
        if (!t.lastDlpMessage.isEmpty()) {
            QString message = t.lastDlpMessage;
            if (message.size() > kMessageLimit)
                message = message.left(kMessageLimit - 3) + QStringLiteral("...");
            setTextIfChanged(sizeLbl, message);
        }
    }

    QString state;
    switch (status) {
    case 1:
        setTextIfChanged(speedLbl, mbText(t.currentSpeed) + QStringLiteral(" MB/s"));
        setToggleIcon(QStringLiteral("pause.png"));
        setToolTipIfChanged(btnToggle, T(QStringLiteral("Pause")));
        state = QStringLiteral("downloading");
        break;
    case 0:
        setTextIfChanged(speedLbl, T(QStringLiteral("Paused")));
        setTextIfChanged(etaLbl, QStringLiteral("--:--"));
        setToggleIcon(QStringLiteral("play.png"));
        setToolTipIfChanged(btnToggle, T(QStringLiteral("Resume")));
        state = QStringLiteral("paused");
        break;
    case 2:
        setTextIfChanged(speedLbl, T(QStringLiteral("Done")));
        state = QStringLiteral("done");
        break;
    case 3:
        setTextIfChanged(speedLbl, T(QStringLiteral("Error")));
        // Why, cut like the tool's line; the details show it whole.
        setTextIfChanged(etaLbl,
                         t.lastDlpMessage.size() > kMessageLimit
                             ? t.lastDlpMessage.left(kMessageLimit - 3) + QStringLiteral("...")
                             : t.lastDlpMessage);
        state = QStringLiteral("error");
        break;
    case 4:
        setTextIfChanged(speedLbl, T(QStringLiteral("Canceled")));
        setTextIfChanged(etaLbl, QString());
        state = QStringLiteral("error");
        break;
    default:
        break;
    }
    if (status >= 0 && status <= 4) {
        setShown(btnCancel, status != 2);
        setShown(btnToggle, status == 0 || status == 1);
        setShown(btnPlay, status == 2);
        setShown(btnFolder, true);
        setShown(btnDelete, true);
    }
    // The complete file may have another icon than the empty placeholder had.
    if (status == 2 && shownStatus != 2)
        setFileIcon();
    shownStatus = status;

    if (prog->property("status").toString() != state) {
        prog->setProperty("status", state);
        prog->style()->unpolish(prog);
        prog->style()->polish(prog);
    }

    emit selectionChanged();
}

void DownloadCard::openFolder()
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(m_task->savePath()).absolutePath()));
}

void DownloadCard::openFile()
{
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
        if (QWidget *list = parentWidget()) {
            const auto siblings = list->findChildren<DownloadCard *>(Qt::FindChildrenRecursively);
            for (DownloadCard *card : siblings) {
                if (card != this)
                    card->setSelected(false);
            }
        }
        setSelected(true);
    }
    QWidget::mousePressEvent(event);
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
