#include "views/dialogbutton.h"

#include "language/translation.h"
#include "views/widgetstyles.h"

#include <QDialog>
#include <QFrame>
#include <QGridLayout>
#include <QPushButton>
#include <QVBoxLayout>

QPushButton *dialogButton(const QString &text, const char *name, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    button->setStyleSheet(QLatin1String(DialogButtonStyle));
    return button;
}

QVBoxLayout *openDialog(QDialog *dialog, const QString &title, int minimumWidth)
{
    dialog->setWindowFlags(dialog->windowFlags() | Qt::WindowStaysOnTopHint);
    dialog->setWindowTitle(title);
    dialog->setLayoutDirection(languageIsRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight);
    dialog->setMinimumWidth(minimumWidth);
    auto *layout = new QVBoxLayout(dialog);
    layout->setContentsMargins(15, 15, 15, 15);
    return layout;
}

QGridLayout *formBlock(QWidget *parent, QFrame **frame)
{
    *frame = new QFrame(parent);
    (*frame)->setObjectName(QStringLiteral("InfoFrame"));
    auto *grid = new QGridLayout(*frame);
    grid->setContentsMargins(15, 15, 15, 15);
    grid->setVerticalSpacing(10);
    return grid;
}
