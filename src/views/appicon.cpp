#include "views/appicon.h"

#include <QApplication>
#include <QFile>
#include <QWidget>

static void registerTorvaneResources()
{
    Q_INIT_RESOURCE(torvane);
}

void initAppResources()
{
    static const bool done = (registerTorvaneResources(), true);
    Q_UNUSED(done);
}

QIcon getAppIcon(const QString &fileName, QStyle::StandardPixmap fallback, QWidget *widget)
{
    initAppResources();
    const QString path = QStringLiteral(":/icon/") + fileName;
    if (QFile::exists(path))
        return QIcon(path);
    QStyle *style = widget ? widget->style() : QApplication::style();
    return style->standardIcon(fallback, nullptr, widget);
}
