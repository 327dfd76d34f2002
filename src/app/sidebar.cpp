#include "app/sidebar.h"

#include "app/stylesheets.h"
#include "language/translation.h"

#include <QFont>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace {

const QStringList &categoryList()
{
    static const QStringList cats = {QStringLiteral("Videos"),    QStringLiteral("Audio"),
                                     QStringLiteral("Programs"),  QStringLiteral("Compressed"),
                                     QStringLiteral("Documents"), QStringLiteral("Other")};
    return cats;
}

QString categoryPrefix(int index, int count)
{
    return index == count - 1 ? QStringLiteral("   └─  ") : QStringLiteral("   ├─  ");
}

void repolish(QWidget *widget)
{
    widget->style()->unpolish(widget);
    widget->style()->polish(widget);
}

// A resource image scaled into a box, drawn at the screen's pixel density so that it stays sharp
// on high-DPI screens.
QPixmap scaledImage(const QString &path, QSize box, qreal dpr)
{
    QPixmap source(path);
    if (source.isNull())
        return source;
    QPixmap scaled = source.scaled(box * dpr, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    scaled.setDevicePixelRatio(dpr);
    return scaled;
}

} // namespace

Sidebar::Sidebar(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Sidebar"));
    // A QWidget subclass paints the style sheet's background only when asked to.
    setAttribute(Qt::WA_StyledBackground, true);
    setFixedWidth(240);
    auto *sideLayout = new QVBoxLayout(this);

    const qreal dpr = devicePixelRatioF();
    auto *logoLbl = new QLabel(this);
    logoLbl->setObjectName(QStringLiteral("Logo"));
    const QPixmap logo = scaledImage(QStringLiteral(":/Halvorin_Logo.png"), QSize(140, 60), dpr);
    if (logo.isNull())
        logoLbl->setText(QStringLiteral("Halvorin"));
    else
        logoLbl->setPixmap(logo);
    logoLbl->setAlignment(Qt::AlignCenter);
    sideLayout->addWidget(logoLbl);

    title = new QLabel(this);
    title->setObjectName(QStringLiteral("AppTitle"));
    title->setAlignment(Qt::AlignCenter);
    const QPixmap titleImage = scaledImage(QStringLiteral(":/AppTitle.png"), QSize(150, 40), dpr);
    if (titleImage.isNull()) {
        title->setText(QStringLiteral("Torvane"));
        title->setFont(QFont(QStringLiteral("SultanRuqahLongo-Bold"), 20, 700, false));
    } else {
        title->setPixmap(titleImage);
    }
    sideLayout->addWidget(title);
    sideLayout->addSpacing(15);

    btnAll = new QPushButton(this);
    btnProc = new QPushButton(this);
    btnQueued = new QPushButton(this);
    btnComp = new QPushButton(this);
    const QList<QPushButton *> stateButtons = {btnAll, btnProc, btnQueued, btnComp};
    for (int i = 0; i < stateButtons.size(); ++i) {
        QPushButton *button = stateButtons[i];
        sideLayout->addWidget(button);
        connect(button, &QPushButton::clicked, this, [this, button, i] { choose(button, i); });
    }
    btnAll->setProperty("active", true);
    sideLayout->addSpacing(5);

    auto *catContainer = new QWidget(this);
    catContainer->setObjectName(QStringLiteral("CatContainer"));
    auto *catLayout = new QVBoxLayout(catContainer);
    catLayout->setContentsMargins(0, 0, 0, 0);
    catLayout->setSpacing(0);
    const QStringList &cats = categoryList();
    for (int i = 0; i < cats.size(); ++i) {
        auto *b = new QPushButton(categoryPrefix(i, int(cats.size())) + T(cats[i]), catContainer);
        b->setObjectName(QStringLiteral("CatBtn"));
        const QString category = cats[i];
        connect(b, &QPushButton::clicked, this, [this, b, category] { choose(b, 4, category); });
        catLayout->addWidget(b);
        filterBtns.append(b);
    }
    sideLayout->addWidget(catContainer);
    sideLayout->addStretch();

    auto *madeBy = new QLabel(this);
    madeBy->setTextFormat(Qt::RichText);
    madeBy->setText(QStringLiteral(
        "<a href=\"https://github.com/torvane/torvane\" style=\"color: #38bdf8; "
        "text-decoration: none; font-weight: bold; font-size: 13px;\">Made By Halvorin</a>"));
    madeBy->setOpenExternalLinks(true);
    madeBy->setAlignment(Qt::AlignCenter);
    sideLayout->addWidget(madeBy);
    sideLayout->addSpacing(15);
}

void Sidebar::choose(QPushButton *clicked, int filterType, const QString &category)
{
    QList<QPushButton *> all = {btnAll, btnProc, btnQueued, btnComp};
    all += filterBtns;
    for (QPushButton *button : all) {
        button->setProperty("active", false);
        repolish(button);
    }
    clicked->setProperty("active", true);
    repolish(clicked);
    emit filterChosen(filterType, category);
}

void Sidebar::updateTexts(bool darkTheme)
{
    const bool arabic = g_lang == QLatin1String("ar");
    const QString mirror = arabic ? sidebarMirrorSheet(darkTheme) : QString();
    if (styleSheet() != mirror)
        setStyleSheet(mirror);

    btnAll->setText(T(QStringLiteral(" All")));
    btnProc->setText(T(QStringLiteral(" Processing")));
    btnQueued->setText(T(QStringLiteral(" Queued")));
    btnComp->setText(T(QStringLiteral(" Completed")));

    const QStringList &cats = categoryList();
    for (int i = 0; i < cats.size() && i < filterBtns.size(); ++i)
        filterBtns[i]->setText(categoryPrefix(i, int(cats.size())) + T(cats[i]));
}
