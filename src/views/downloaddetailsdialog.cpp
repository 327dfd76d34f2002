#include "views/downloaddetailsdialog.h"

DownloadDetailsDialog::DownloadDetailsDialog(DownloadTask *task, QWidget *parent)
    : QDialog(parent), m_task(task)
{
}
