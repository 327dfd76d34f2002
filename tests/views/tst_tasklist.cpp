#include "engine/downloadtask.h"
#include "language/translation.h"
#include "views/downloadcard.h"
#include "views/tasklist.h"

#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <memory>

namespace {

constexpr int kTasks = 240;
const char *const kSuffixes[] = {"zip", "pdf", "exe", "mp3", "iso", "txt"};
const int kStatuses[] = {2, 0, 3, 2, 4, 1, 0};

} // namespace

// The list with many more tasks than cards: what the user sees on screen after filtering,
// scrolling, selecting, adding and removing. Tasks are put into their states by hand.
class TestTaskList : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;
    TaskList *list = nullptr;
    QObject *owner = nullptr;
    QList<DownloadTask *> made;

    // Task i: name "t<i>.<ext>" with the extension and status cycling through the tables above.
    DownloadTask *addTask(int i)
    {
        const QString name = QStringLiteral("t%1.%2").arg(i).arg(kSuffixes[i % 6]);
        auto *task =
            new DownloadTask(QUrl("http://127.0.0.1:9/" + name), dir->filePath(name), {}, owner);
        task->status = kStatuses[i % 7];
        task->totalSize = 1000 * 1048576LL;
        task->downloadedSize = i * 1048576LL;
        list->addTask(task);
        emit task->progressUpdated();
        made.append(task);
        return task;
    }

    // The tasks of the cards on screen, top to bottom.
    QList<DownloadTask *> tasksOnScreen() const
    {
        QList<DownloadCard *> cards;
        const QRect view = list->viewport()->rect();
        for (DownloadCard *card : list->viewport()->findChildren<DownloadCard *>())
            if (card->isVisible() && view.intersects(card->geometry()))
                cards.append(card);
        std::sort(cards.begin(), cards.end(),
                  [](DownloadCard *a, DownloadCard *b) { return a->y() < b->y(); });
        QList<DownloadTask *> tasks;
        for (DownloadCard *card : cards)
            tasks.append(card->getTask());
        return tasks;
    }

    QString cardTexts(DownloadTask *task)
    {
        list->scrollToTask(task);
        DownloadCard *card = list->cardFor(task);
        if (!card)
            return QStringLiteral("<no card>");
        QStringList texts;
        for (QLabel *label : card->findChildren<QLabel *>())
            if (!label->text().isEmpty())
                texts.append(label->text());
        return texts.join(QLatin1Char('|'));
    }

    void scrollTo(int value)
    {
        list->verticalScrollBar()->setValue(value);
        QCoreApplication::processEvents();
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        g_lang = QStringLiteral("en");
    }

    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        owner = new QObject;
        list = new TaskList;
        list->resize(700, 400);
        list->show();
        QVERIFY(QTest::qWaitForWindowExposed(list));
        made.clear();
        for (int i = 0; i < kTasks; ++i)
            addTask(i);
        QCoreApplication::processEvents(); // the cards are laid out once, after the adds
    }

    void cleanup()
    {
        delete list;
        delete owner;
    }

    // Every filter shows exactly its tasks, newest first, at the top and at the bottom of the list.
    // Each filter undoes the one before it; no task is a video, and that filter shows no card.
    void filterShowsItsTasksNewestOnTop()
    {
        const QPair<int, QString> filters[] = {{2, QString()}, {0, QString()},  {1, QString()},
                                               {3, QString()}, {4, "Programs"}, {4, "Videos"}};
        for (const auto &[type, category] : filters) {
            list->applyFilter(type, category);
            QList<DownloadTask *> expected;
            for (int i = kTasks - 1; i >= 0; --i) {
                DownloadTask *t = made[i];
                const bool shown = type == 0 || (type == 1 && t->status == 1) ||
                                   (type == 2 && t->status == 0) || (type == 3 && t->status == 2) ||
                                   (type == 4 && t->category == category);
                if (shown)
                    expected.append(t);
            }
            QCOMPARE(list->shownTasks(), expected);

            for (int end : {0, 1}) {
                scrollTo(end ? list->verticalScrollBar()->maximum() : 0);
                const QList<DownloadTask *> onScreen = tasksOnScreen();
                QVERIFY(onScreen.size() >= qMin(4, int(expected.size())));
                const QList<DownloadTask *> want =
                    end ? expected.mid(expected.size() - onScreen.size())
                        : expected.mid(0, onScreen.size());
                QCOMPARE(onScreen, want);
            }
        }
    }

    // Selections live with the tasks: scrolling a selected card away and back, hiding it behind a
    // filter, Ctrl+A (which takes what the filter shows) and a plain click (which leaves only one).
    void selectionSurvivesScrollingAndFiltering()
    {
        const QList<DownloadTask *> top = tasksOnScreen();
        QTest::mouseClick(list->cardFor(top[0]), Qt::LeftButton);
        QTest::mouseClick(list->cardFor(top[2]), Qt::LeftButton, Qt::ControlModifier);
        QCOMPARE(list->selectedTasks(), QList<DownloadTask *>({top[2], top[0]})); // oldest first

        scrollTo(list->verticalScrollBar()->maximum());
        for (DownloadTask *t : tasksOnScreen())
            QVERIFY(!list->cardFor(t)->isSelected()); // the recycled cards do not carry it along
        scrollTo(0);
        QVERIFY(list->cardFor(top[0])->isSelected() && list->cardFor(top[2])->isSelected());

        // Hidden by a filter, still selected; Ctrl+A adds what the filter shows.
        list->applyFilter(3, QString());
        QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
        const QList<DownloadTask *> done = list->shownTasks();
        const int alsoSelected = int(top[0]->status != 2) + int(top[2]->status != 2);
        QCOMPARE(int(list->selectedTasks().size()), int(done.size()) + alsoSelected);
        for (DownloadTask *t : tasksOnScreen())
            QVERIFY(list->cardFor(t)->isSelected());

        // A plain click deselects every other task, also those out of view and filtered out.
        QTest::mouseClick(list->cardFor(done[1]), Qt::LeftButton);
        QCOMPARE(list->selectedTasks(), QList<DownloadTask *>{done[1]});
        list->applyFilter(0, QString());
        QVERIFY(!list->cardFor(top[0])->isSelected());
        QVERIFY(list->anySelectedWithStatus(2) && !list->anySelectedWithStatus(0));
    }

    // A card shows its task's figures of now: progress reported while it was out of view, and
    // nothing left over from the task the recycled card showed before; refreshing it lays out
    // nothing. New tasks come in on top, whatever the filter and scroll position; removing the
    // first, the last and a middle task keeps the others in order, on screen as in the saved order.
    void cardScrolledBackShowsCurrentFigures()
    {
        DownloadTask *top = made.last();
        // Placeholders are made for the rows in view, once the list holds still.
        QTRY_VERIFY(QFile::exists(top->savePath()));
        QVERIFY(!QFile::exists(made.first()->savePath()));
        scrollTo(list->verticalScrollBar()->maximum());
        QTRY_VERIFY(QFile::exists(made[1]->savePath()));
        QVERIFY(!list->cardFor(top));
        // A finished download is not given an empty file in place of the one it no longer finds.
        QVERIFY(!QFile::exists(made.first()->savePath()));

        top->status = 1;
        top->currentSpeed = 2 * 1048576.0;
        top->downloadedSize = 500 * 1048576LL;
        emit top->progressUpdated();
        // Out of view while it finishes: the next card to show it reads the figures of then.
        DownloadTask *other = made[kTasks - 3];
        other->status = 2;
        other->downloadedSize = other->totalSize;
        emit other->progressUpdated();
        // Never reported since listed: the look of a new card, not figures of another task.
        DownloadTask *fresh = new DownloadTask(QUrl("http://127.0.0.1:9/new.bin"),
                                               dir->filePath("new.bin"), {}, owner);
        list->addTask(fresh);

        QCOMPARE(cardTexts(top), top->fileName + "|2.00 MB/s|4m 10s|500.00 / 1000.00 MB|50%");
        // Its bar paints again once the card has shown the figures (updates held off meanwhile).
        QVERIFY(list->cardFor(top)->findChild<QProgressBar *>()->updatesEnabled());
        QCOMPARE(cardTexts(other), other->fileName + "|Done|1000.00 MB|100%");
        QCOMPARE(cardTexts(fresh), QStringLiteral("new.bin|Wait...|0%"));

        // A refresh must not reach the list's layout, or each tick would lay out all cards again.
        struct LayoutCounter : QObject {
            int requests = 0;
            bool eventFilter(QObject *, QEvent *event) override
            {
                requests += event->type() == QEvent::LayoutRequest;
                return false;
            }
        } counter;
        QTest::qWait(50);
        list->viewport()->installEventFilter(&counter);
        for (int i = 0; i < 200; ++i) {
            top->downloadedSize += 1048576;
            top->currentSpeed = 1000.0 * i;
            emit top->progressUpdated();
            QCoreApplication::processEvents();
        }
        QVERIFY(list->cardFor(top));
        QCOMPARE(counter.requests, 0);

        list->applyFilter(3, QString());
        scrollTo(300);
        DownloadTask *newest = addTask(kTasks);
        QCOMPARE(list->shownTasks().first(), newest);
        scrollTo(0);
        QCOMPARE(tasksOnScreen().first(), newest);
        list->applyFilter(0, QString());
        const QList<DownloadTask *> gone = {made.first(), made[kTasks / 2], fresh, newest};
        list->removeTasks(gone);
        QList<DownloadTask *> expected = made;
        for (DownloadTask *t : gone)
            expected.removeOne(t);
        QCOMPARE(list->tasks(), expected);
        std::reverse(expected.begin(), expected.end());
        QCOMPARE(list->shownTasks(), expected);
        scrollTo(list->verticalScrollBar()->maximum());
        QCOMPARE(tasksOnScreen().last(), made[1]);
        for (DownloadTask *t : gone)
            QVERIFY(!list->cardFor(t));
    }
};

QTEST_MAIN(TestTaskList)
#include "tst_tasklist.moc"
