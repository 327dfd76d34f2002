#pragma once

#include <QIcon>
#include <QStyle>

class QWidget;

// The button image ":/icon/" + fileName when the program carries it, otherwise the widget style's
// standard icon `fallback`.
QIcon getAppIcon(const QString &fileName, QStyle::StandardPixmap fallback, QWidget *widget);

// Registers the compiled-in images (icons, logo, title). The images live in a static library, so
// they are registered explicitly; repeated calls do nothing.
void initAppResources();
