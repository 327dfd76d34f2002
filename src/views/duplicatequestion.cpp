#include "views/duplicatequestion.h"

#include "language/translation.h"
#include "views/widgetstyles.h"

#include <QMessageBox>
#include <QPushButton>

bool askDownloadAsNewFile(QWidget *parent)
{
    return askYesNo(parent, T(QStringLiteral("File Exists")),
                    T(QStringLiteral("File already exists. Download as a new file?")));
}

bool askYesNo(QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox box(parent);
    box.setWindowFlags(box.windowFlags() | Qt::WindowStaysOnTopHint);
    box.setWindowTitle(title);
    box.setText(text);
    const bool arabic = g_lang == QLatin1String("ar");
    QPushButton *yes =
        box.addButton(arabic ? QStringLiteral("نعم") : QStringLiteral("Yes"), QMessageBox::YesRole);
    QPushButton *no =
        box.addButton(arabic ? QStringLiteral("لا") : QStringLiteral("No"), QMessageBox::NoRole);
    for (QPushButton *button : {yes, no})
        button->setStyleSheet(QString::fromLatin1(MessageBoxButtonStyle));
    box.setEscapeButton(no);
    if (arabic)
        box.setLayoutDirection(Qt::RightToLeft);
    box.exec();
    return box.clickedButton() == yes;
}
