#include "views/tasklist.h"

#include "engine/downloadtask.h"
#include "views/downloadcard.h"
#include "views/downloaddetailsdialog.h"

#include <QKeyEvent>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <algorithm>

namespace {

// The rows as a vertical box layout would place them: fixed-height cards, 4 px apart, inside
// the style's layout margins.
constexpr int kCardHeight = 72;
constexpr int kSpacing = 4;
constexpr int kPitch = kCardHeight + kSpacing;
// One wheel notch scrolls three steps, as in any scroll area.
constexpr int kSingleStep = 20;
// Selected tasks the list starts to hear per pass of the event loop after a select-all.
constexpr int kWatchesPerPass = 500;
// How long the list must hold still before rows in view get their placeholder files.
constexpr int kPlaceholderDelayMs = 150;

// What the toolbar follows of a task: its status, and whether it waits in the queue.
int toolbarState(const DownloadTask *task)
{
    return task->status * 2 + (task->queued ? 1 : 0);
}

// Reserves a download's name on the disk; a finished download has its file, or had it: one the
// user has moved or deleted since is not brought back as an empty file, which would look like a
// broken download.
void placeFileOf(const DownloadTask &task)
{
    if (task.status != 2)
        makePlaceholderFile(task.savePath());
}

} // namespace

// A card of the list: selection and details dialog belong to the task it shows, which the list
// keeps; the card only shows them.
class ListCard : public DownloadCard {
public:
    ListCard(TaskList *list, QWidget *parent) : DownloadCard(nullptr, parent), list(list) {}

    using DownloadCard::showTask;
    void placeholderMade() { refreshFileIcon(); }

protected:
    void deselectOthers() override { list->selectAlone(getTask()); }
    DownloadDetailsDialog *detailsDialogForTask() override { return list->dialogFor(getTask()); }

private:
    TaskList *list;
};

TaskList::TaskList(QWidget *parent) : QAbstractScrollArea(parent)
{
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    verticalScrollBar()->setSingleStep(kSingleStep);
    placeholderTimer = new QTimer(this);
    placeholderTimer->setSingleShot(true);
    placeholderTimer->setInterval(kPlaceholderDelayMs);
    connect(placeholderTimer, &QTimer::timeout, this, &TaskList::makeDuePlaceholders);
}

TaskList::~TaskList() = default;

void TaskList::addTask(DownloadTask *task, bool reported)
{
    Entry entry;
    entry.name = task->fileName;
    entry.reported = reported;
    entries.insert(task, entry);
    m_tasks.append(task);
    rows.prepend(task);
    if (!reported)
        watch(task);
    scheduleLayout();
}

// The list hears a task's progress only while it needs to: until its first report (a card shows
// a new card's look till then), and while it is selected (the toolbar follows its status). The
// cards on screen hear their own tasks.
void TaskList::watch(DownloadTask *task)
{
    Entry &entry = entries[task];
    if (entry.watched)
        return;
    entry.watched = true;
    entry.seenState = toolbarState(task);
    connect(task, &DownloadTask::progressUpdated, this, [this, task] { taskReported(task); });
}

void TaskList::unwatchIfDone(DownloadTask *task)
{
    const auto entry = entries.find(task);
    if (entry == entries.end() || !entry->watched || !entry->reported || selection.contains(task))
        return;
    entry->watched = false;
    disconnect(task, nullptr, this, nullptr);
}

void TaskList::select(DownloadTask *task)
{
    selection.insert(task);
    watch(task);
}

void TaskList::deselect(DownloadTask *task)
{
    selection.remove(task);
    unwatchIfDone(task);
}

void TaskList::removeTasks(const QList<DownloadTask *> &tasks)
{
    const QSet<DownloadTask *> gone(tasks.cbegin(), tasks.cend());
    for (DownloadTask *task : tasks) {
        const auto entry = entries.constFind(task);
        if (entry == entries.cend())
            continue;
        if (entry->dialog)
            entry->dialog->deleteLater();
        disconnect(task, nullptr, this, nullptr);
        if (ListCard *card = onScreen.take(task)) {
            card->hide();
            card->showTask(nullptr, QString(), false, false);
            spare.append(card);
        }
        selection.remove(task);
        entries.erase(entry);
    }
    const auto isGone = [&gone](DownloadTask *task) {
        return gone.contains(task);
    };
    m_tasks.removeIf(isGone);
    rows.removeIf(isGone);
    toWatch.removeIf(isGone);
    layoutCards();
}

QList<DownloadTask *> TaskList::selectedTasks() const
{
    QList<DownloadTask *> selected;
    if (selection.isEmpty())
        return selected;
    for (DownloadTask *task : m_tasks)
        if (selection.contains(task))
            selected.append(task);
    return selected;
}

bool TaskList::anySelectedWithStatus(int status) const
{
    return std::any_of(selection.cbegin(), selection.cend(),
                       [status](const DownloadTask *task) { return task->status == status; });
}

bool TaskList::anySelectedActive() const
{
    return std::any_of(selection.cbegin(), selection.cend(),
                       [](const DownloadTask *task) { return task->isActive(); });
}

void TaskList::setSelected(DownloadTask *task, bool selected)
{
    if (!entries.contains(task) || selection.contains(task) == selected)
        return;
    if (selected)
        select(task);
    else
        deselect(task);
    applySelectionToCards({task});
    emit selectionChanged();
}

void TaskList::selectAllShown()
{
    QList<DownloadTask *> changed;
    for (DownloadTask *task : qAsConst(rows)) {
        if (!selection.contains(task)) {
            selection.insert(task);
            changed.append(task);
        }
    }
    // Thousands of tasks are watched a share per pass of the event loop, so that selecting all
    // does not hold input up; the toolbar is told again once all are.
    toWatch += changed;
    if (!toWatch.isEmpty())
        QTimer::singleShot(0, this, &TaskList::watchSome);
    applySelectionToCards(changed);
    emit selectionChanged();
}

void TaskList::watchSome()
{
    const int count = qMin(int(toWatch.size()), kWatchesPerPass);
    for (int i = 0; i < count; ++i) {
        DownloadTask *task = toWatch[i];
        if (selection.contains(task))
            watch(task);
    }
    toWatch.remove(0, count);
    if (!toWatch.isEmpty())
        QTimer::singleShot(0, this, &TaskList::watchSome);
    else
        emit selectionChanged();
}

// A plain click on a card: every other task is deselected, shown or not.
void TaskList::selectAlone(DownloadTask *task)
{
    QList<DownloadTask *> changed;
    for (DownloadTask *other : qAsConst(selection))
        if (other != task)
            changed.append(other);
    for (DownloadTask *other : qAsConst(changed))
        deselect(other);
    applySelectionToCards(changed);
    if (!changed.isEmpty())
        emit selectionChanged();
}

void TaskList::applySelectionToCards(const QList<DownloadTask *> &changed)
{
    // Only the cards on screen have a look to change; most of a long selection has none.
    if (changed.size() > onScreen.size()) {
        for (auto it = onScreen.cbegin(); it != onScreen.cend(); ++it)
            if (it.value()->isSelected() != selection.contains(it.key()))
                it.value()->setSelected(selection.contains(it.key()));
        return;
    }
    for (DownloadTask *task : changed)
        if (ListCard *card = onScreen.value(task))
            card->setSelected(selection.contains(task));
}

// A card's own click or refresh: a click changes the selection of the task it shows.
void TaskList::cardSelectionChanged(ListCard *card)
{
    DownloadTask *task = card->getTask();
    if (!task || onScreen.value(task) != card || card->isSelected() == selection.contains(task))
        return;
    if (card->isSelected())
        select(task);
    else
        deselect(task);
    emit selectionChanged();
}

// Runs on every progress signal of every listed task, so it does no more than note the report:
// the toolbar only needs to hear when a selected task changes its status.
void TaskList::taskReported(DownloadTask *task)
{
    const auto entry = entries.find(task);
    if (entry == entries.end())
        return;
    entry->reported = true;
    if (entry->seenState != toolbarState(task)) {
        entry->seenState = toolbarState(task);
        if (selection.contains(task))
            emit selectionChanged();
    }
    unwatchIfDone(task);
}

void TaskList::applyFilter(int filterType, const QString &category)
{
    if (filterType < 0 || filterType > 4)
        return;
    rows.clear();
    for (auto it = m_tasks.crbegin(); it != m_tasks.crend(); ++it) {
        DownloadTask *task = *it;
        bool shown = true;
        switch (filterType) {
        case 1: shown = task->status == 1; break;
        case 2: shown = task->status == 0; break;
        case 3: shown = task->status == 2; break;
        case 4: shown = task->category == category; break;
        default: break;
        }
        if (shown)
            rows.append(task);
    }
    layoutCards();
}

DownloadDetailsDialog *TaskList::dialogFor(DownloadTask *task)
{
    Entry &entry = entries[task];
    if (!entry.dialog)
        entry.dialog = new DownloadDetailsDialog(task, this);
    return entry.dialog;
}

void TaskList::showDetails(DownloadTask *task)
{
    if (!entries.contains(task))
        return;
    DownloadDetailsDialog *dialog = dialogFor(task);
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

void TaskList::updateTooltips()
{
    for (ListCard *card : qAsConst(onScreen))
        card->updateTooltips();
}

DownloadCard *TaskList::cardFor(DownloadTask *task)
{
    if (layoutPending)
        layoutCards();
    return onScreen.value(task);
}

void TaskList::scrollToTask(DownloadTask *task)
{
    if (layoutPending)
        layoutCards();
    const int row = int(rows.indexOf(task));
    if (row < 0)
        return;
    const int top = style()->pixelMetric(QStyle::PM_LayoutTopMargin, nullptr, viewport());
    const int y = top + row * kPitch;
    QScrollBar *bar = verticalScrollBar();
    if (y < bar->value())
        bar->setValue(y);
    else if (y + kCardHeight > bar->value() + viewport()->height())
        bar->setValue(y + kCardHeight - viewport()->height());
}

void TaskList::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    layoutCards();
}

void TaskList::scrollContentsBy(int dx, int dy)
{
    // Moves the cards with the pixels they have drawn, so that a small step paints only the
    // strip that comes into view; the rows that came in get their cards next.
    viewport()->scroll(dx, dy);
    if (!inLayout) {
        scrolling = true;
        layoutCards();
        scrolling = false;
    }
}

void TaskList::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::SelectAll)) {
        selectAllShown();
        event->accept();
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

// Adding many tasks in a row (loading the saved list) lays the cards out once, afterwards.
void TaskList::scheduleLayout()
{
    if (layoutPending)
        return;
    layoutPending = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (layoutPending)
                layoutCards();
        },
        Qt::QueuedConnection);
}

int TaskList::contentHeight() const
{
    QStyle *s = style();
    const int margins = s->pixelMetric(QStyle::PM_LayoutTopMargin, nullptr, viewport()) +
                        s->pixelMetric(QStyle::PM_LayoutBottomMargin, nullptr, viewport());
    const int count = int(rows.size());
    return margins + (count > 0 ? count * kPitch - kSpacing : 0);
}

ListCard *TaskList::takeSpareCard()
{
    if (!spare.isEmpty())
        return spare.takeLast();
    auto *card = new ListCard(this, viewport());
    connect(card, &DownloadCard::requestDelete, this, [this](DownloadCard *c) {
        if (DownloadTask *task = c->getTask())
            emit deleteRequested(task);
    });
    connect(card, &DownloadCard::selectionChanged, this,
            [this, card] { cardSelectionChanged(card); });
    return card;
}

// The placeholder files of rows scrolled into view, made once the list holds still: creating
// files is slow on some disks, and scrolling past a row should not pay for it. A few per pass of
// the event loop, so that input is never kept waiting long.
void TaskList::makeDuePlaceholders()
{
    int made = 0;
    for (auto it = onScreen.cbegin(); it != onScreen.cend() && made < 3; ++it) {
        Entry &entry = entries[it.key()];
        if (entry.placed)
            continue;
        placeFileOf(*it.key());
        entry.placed = true;
        it.value()->placeholderMade();
        ++made;
    }
    if (made == 3)
        QTimer::singleShot(0, this, &TaskList::makeDuePlaceholders);
}

// Puts a card on every row in view, keeping the cards whose task is still in view and handing
// the others the tasks that came into view.
void TaskList::layoutCards()
{
    layoutPending = false;
    inLayout = true;
    QStyle *s = style();
    const int left = s->pixelMetric(QStyle::PM_LayoutLeftMargin, nullptr, viewport());
    const int top = s->pixelMetric(QStyle::PM_LayoutTopMargin, nullptr, viewport());
    const int right = s->pixelMetric(QStyle::PM_LayoutRightMargin, nullptr, viewport());
    const int height = viewport()->height();
    QScrollBar *bar = verticalScrollBar();
    bar->setPageStep(height);
    bar->setRange(0, qMax(0, contentHeight() - height));
    const int offset = bar->value();

    const int first = qMax(0, (offset - top) / kPitch);
    const int last = qMin(int(rows.size()) - 1, (offset + height - top) / kPitch);

    // Cards whose row left the view take the rows that came in, without being hidden and shown
    // again in between; only the ones left over are put aside.
    QHash<DownloadTask *, ListCard *> kept;
    for (int row = first; row <= last; ++row)
        if (ListCard *card = onScreen.take(rows[row]))
            kept.insert(rows[row], card);
    QList<ListCard *> released = onScreen.values();
    onScreen = kept;

    const int width = qMax(0, viewport()->width() - left - right);
    bool unplaced = false;
    for (int row = first; row <= last; ++row) {
        DownloadTask *task = rows[row];
        ListCard *card = onScreen.value(task);
        if (!card) {
            card = released.isEmpty() ? takeSpareCard() : released.takeLast();
            // A restored download shows where its checkpoint says it stands, read once, when it
            // first comes into view; rows never seen cost no read.
            task->showCheckpoint();
            Entry &entry = entries[task];
            if (!entry.placed && !scrolling) {
                placeFileOf(*task);
                entry.placed = true;
            }
            unplaced = unplaced || !entry.placed;
            card->showTask(task, entry.name, selection.contains(task), entry.reported);
            onScreen.insert(task, card);
        }
        card->setGeometry(left, top + row * kPitch - offset, width, kCardHeight);
        if (card->isHidden())
            card->show();
    }
    for (ListCard *card : qAsConst(released)) {
        card->hide();
        card->showTask(nullptr, QString(), false, false);
        spare.append(card);
    }
    if (unplaced)
        placeholderTimer->start();
    inLayout = false;
}
