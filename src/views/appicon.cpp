#include "views/appicon.h"

#include <QApplication>
#include <QFile>
#include <QHash>
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
    // Cards ask again whenever they change state or show another download; one icon per image
    // spares decoding the same image over and over.
    static QHash<QString, QIcon> loaded;
    const auto found = loaded.constFind(fileName);
    if (found != loaded.cend())
        return *found;
    const QString path = QStringLiteral(":/icon/") + fileName;
    if (QFile::exists(path))
        return *loaded.insert(fileName, QIcon(path));
    QStyle *style = widget ? widget->style() : QApplication::style();
    return style->standardIcon(fallback, nullptr, widget);
}
