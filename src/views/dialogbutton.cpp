#include "views/dialogbutton.h"

#include "views/widgetstyles.h"

#include <QPushButton>

QPushButton *dialogButton(const QString &text, const char *name, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    button->setStyleSheet(QLatin1String(DialogButtonStyle));
    return button;
}
