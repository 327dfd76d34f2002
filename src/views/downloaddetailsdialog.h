#pragma once

#include <QDialog>

class DownloadTask;

class DownloadDetailsDialog : public QDialog {
    Q_OBJECT

public:
    DownloadDetailsDialog(DownloadTask *task, QWidget *parent);

private:
    DownloadTask *m_task;
};
