#pragma once

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

private:
    friend class TestDownloadCard;

    void askDelete();
    void setFileIcon();
    void setToggleIcon(const QString &name);

    DownloadTask *m_task;
    QWidget *body;
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
    QCheckBox *chkSelect;
    DownloadDetailsDialog *detailsDialog = nullptr;

    // What the last refresh showed, so a refresh touches only what changed.
    QString toggleIconName;
    int shownStatus = -1;
};
