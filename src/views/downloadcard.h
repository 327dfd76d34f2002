#pragma once

#include <QMetaObject>
#include <QString>
#include <QWidget>

class DownloadTask;
class DownloadDetailsDialog;
class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;

// One row of the download list: file icon, name, progress, speed, remaining time, sizes and the
// buttons cancel, pause/resume, play, folder and delete. The card never deletes its task and never
// removes itself; it asks the main window through requestDelete().
//
// A card shows one task at a time. A long list keeps cards only for the rows on screen and hands
// them other tasks as the user scrolls (see TaskList); the protected part is for that.
class DownloadCard : public QWidget {
    Q_OBJECT

public:
    DownloadCard(DownloadTask *task, QWidget *parent);

    DownloadTask *getTask() const;
    bool isSelected() const;
    void setSelected(bool sel);
    void showDetailsDialog();
    void updateTooltips();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void requestDelete(DownloadCard *card);
    void selectionChanged();

private slots:
    void updateCardUI();
    void openFolder();
    void openFile();
    void updateStyle();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

    // Shows `task` from now on: its name as given, its file icon, the selection state, and either
    // its current figures or, for a task that has not reported progress since it was listed, the
    // look of a new card. Null leaves the card showing nothing and following no task.
    void showTask(DownloadTask *task, const QString &name, bool selected, bool reported);
    // Looks the file icon up again: the file it stands for was made or has changed.
    void refreshFileIcon();
    // A plain click selects this card alone: by default every other card beside it is deselected.
    virtual void deselectOthers();
    // The details dialog of the task shown; by default the card's own.
    virtual DownloadDetailsDialog *detailsDialogForTask();

private:
    friend class TestViews;

    void askDelete();
    void followTask(DownloadTask *task);
    void showNewCardLook();
    void showTaskState(int status);
    void setFileIcon();
    void setToggleIcon(const QString &name);
    void setBarState(const QString &state);

    DownloadTask *m_task;
    QWidget *body;
    QLabel *nameLbl;
    QProgressBar *prog;
    QLabel *speedLbl;
    QLabel *etaLbl;
    QLabel *sizeLbl;
    QLabel *percentLbl;
    QLabel *iconLbl;
    QPushButton *btnToggle;
    QPushButton *btnCancel;
    QPushButton *btnFolder;
    QPushButton *btnPlay;
    QPushButton *btnDelete;
    QPushButton *btnLink; // "Update link…"
    QCheckBox *chkSelect;
    DownloadDetailsDialog *detailsDialog = nullptr;
    QMetaObject::Connection progressConnection;

    // What the last refresh showed, so a refresh touches only what changed.
    QString toggleIconName;
    // The file the icon was drawn for, and whether it was complete then.
    QString iconPath;
    bool iconDone = false;
};

// Leaves an empty file at `path` (and its folders) unless something is there already. The
// placeholder reserves the name, so that a second download to the same target is noticed.
void makePlaceholderFile(const QString &path);
