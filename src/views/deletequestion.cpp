#include "views/deletequestion.h"

#include "language/translation.h"
#include "views/widgetstyles.h"

#include <QMessageBox>
#include <QPushButton>

DeleteChoice askDeleteOptions(QWidget *parent, const QString &question)
{
    QMessageBox box(parent);
    box.setWindowFlags(box.windowFlags() | Qt::WindowStaysOnTopHint);
    box.setWindowTitle(T(QStringLiteral("Delete Options")));
    box.setText(question);
    QPushButton *withFile =
        box.addButton(T(QStringLiteral("Delete List & File")), QMessageBox::DestructiveRole);
    QPushButton *listOnly =
        box.addButton(T(QStringLiteral("Delete from List Only")), QMessageBox::ActionRole);
    QPushButton *cancel = box.addButton(T(QStringLiteral("Cancel")), QMessageBox::RejectRole);
    for (QPushButton *button : {withFile, listOnly, cancel})
        button->setStyleSheet(QString::fromLatin1(MessageBoxButtonStyle));
    if (g_lang == QLatin1String("ar"))
        box.setLayoutDirection(Qt::RightToLeft);
    box.exec();
    if (box.clickedButton() == withFile)
        return DeleteChoice::ListAndFile;
    if (box.clickedButton() == listOnly)
        return DeleteChoice::ListOnly;
    return DeleteChoice::Cancel;
}
