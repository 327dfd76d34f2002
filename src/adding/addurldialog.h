#pragma once

#include <QDialog>

class AddUrlDialog : public QDialog {
    Q_OBJECT

public:
    AddUrlDialog(QString clipboardUrl, QString defaultName, qint64 extSize, QWidget *parent);

    QString getUrl() const;
    QString getSavePath() const;
    QString getQuality() const;
    bool isQueued() const;

private:
    QString m_url;
    bool queued = false;
};
