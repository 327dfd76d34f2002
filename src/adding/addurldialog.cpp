#include "adding/addurldialog.h"

AddUrlDialog::AddUrlDialog(QString clipboardUrl, QString defaultName, qint64 extSize,
                           QWidget *parent)
    : QDialog(parent), m_url(clipboardUrl)
{
    Q_UNUSED(defaultName);
    Q_UNUSED(extSize);
}

QString AddUrlDialog::getUrl() const { return m_url; }
QString AddUrlDialog::getSavePath() const { return QString(); }
QString AddUrlDialog::getQuality() const { return QStringLiteral("best"); }
bool AddUrlDialog::isQueued() const { return queued; }
