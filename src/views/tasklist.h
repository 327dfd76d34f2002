#pragma once

#include <QAbstractScrollArea>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

class DownloadCard;
class DownloadDetailsDialog;
class DownloadTask;
class ListCard;
class QTimer;

// The download list of the main window: one card per task, newest on top, filtered by the
// sidebar, selected by click, Ctrl-click and Ctrl+A.
//
// The list costs what is on screen, not what it holds. Cards exist only for the rows in view and
// are handed other tasks as the list scrolls; a task out of view has no widget, no file icon, no
// placeholder file and no checkpoint read yet, and the list does nothing for it while it is idle.
// What belongs to a task rather than to a card (its selection, its details dialog) is kept here,
// per task.
class TaskList : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit TaskList(QWidget *parent = nullptr);
    ~TaskList() override;

    // Lists a task at the top, visible whatever filter is active. The list does not own it.
    // `reported`: the task's fields already hold what a card should show (a task restored from
    // the saved list); otherwise its card shows a new card's look until the task reports.
    void addTask(DownloadTask *task, bool reported = false);
    // Takes tasks off the list, and deletes their details dialogs later.
    void removeTasks(const QList<DownloadTask *> &tasks);
    // Every task, oldest first: the order in which they were added.
    const QList<DownloadTask *> &tasks() const { return m_tasks; }
    // The tasks the filter shows, top to bottom.
    const QList<DownloadTask *> &shownTasks() const { return rows; }

    bool isSelected(DownloadTask *task) const { return selection.contains(task); }
    void setSelected(DownloadTask *task, bool selected);
    // The selected tasks, oldest first.
    QList<DownloadTask *> selectedTasks() const;
    bool anySelectedWithStatus(int status) const;
    // Whether a selected task runs or waits in the queue: what the toolbar's Pause would stop.
    bool anySelectedActive() const;
    // Selects every task the filter shows.
    void selectAllShown();

    // Filter types: 0 all, 1 running, 2 paused, 3 done, 4 of `category` (its English name). Any
    // other type leaves the list as it is. The filter is applied now; tasks that change state
    // later keep their place until the next call.
    void applyFilter(int filterType, const QString &category);

    // Opens the details dialog of a task (one per task, kept until the task leaves the list).
    void showDetails(DownloadTask *task);
    // Re-sets the tooltips of the cards in the current language.
    void updateTooltips();

    // The card showing `task` while its row is in view; null when it is not.
    DownloadCard *cardFor(DownloadTask *task);
    // Scrolls just enough to bring the row of `task` into view.
    void scrollToTask(DownloadTask *task);

signals:
    // The card of `task` asked to be removed (after its own question).
    void deleteRequested(DownloadTask *task);
    // The selection changed, or a selected task changed its status or its place in the queue.
    void selectionChanged();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    friend class ListCard;

    struct Entry {
        QString name; // file name when listed; the card keeps it
        DownloadDetailsDialog *dialog = nullptr;
        int seenState = -1;    // status and queued flag at the last progress report
        bool reported = false; // has reported progress since it was listed
        bool watched = false;  // the list hears its progress
        bool placed = false;   // its placeholder file was made (or found there)
    };

    void taskReported(DownloadTask *task);
    void watch(DownloadTask *task);
    void unwatchIfDone(DownloadTask *task);
    void select(DownloadTask *task);
    void deselect(DownloadTask *task);
    void watchSome();
    void cardSelectionChanged(ListCard *card);
    void selectAlone(DownloadTask *task);
    DownloadDetailsDialog *dialogFor(DownloadTask *task);
    void applySelectionToCards(const QList<DownloadTask *> &changed);

    void scheduleLayout();
    void layoutCards();
    int contentHeight() const;
    ListCard *takeSpareCard();
    void makeDuePlaceholders();

    QList<DownloadTask *> m_tasks;
    QList<DownloadTask *> rows;
    QHash<DownloadTask *, Entry> entries;
    QSet<DownloadTask *> selection;
    QList<DownloadTask *> toWatch; // selected, not yet heard (see selectAllShown)

    QHash<DownloadTask *, ListCard *> onScreen;
    QList<ListCard *> spare;
    QTimer *placeholderTimer = nullptr;
    bool layoutPending = false;
    bool inLayout = false;
    bool scrolling = false;
};
