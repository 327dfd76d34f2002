#pragma once

#include <QList>
#include <QWidget>

class QLabel;
class QPushButton;

// The column beside the list: the logo and title, the four state filters, the six category
// filters and the credit link. A click on a filter marks it as the active one and asks for it
// with filterChosen(); filter type 0 to 3 are the states, 4 a category (by its English name,
// whatever the language).
class Sidebar : public QWidget {
    Q_OBJECT

public:
    explicit Sidebar(QWidget *parent);

    // The texts in the current language; right to left, the sheet draws the edges mirrored.
    void updateTexts(bool darkTheme);

    QLabel *title = nullptr;
    QPushButton *btnAll = nullptr;
    QPushButton *btnProc = nullptr;
    QPushButton *btnQueued = nullptr;
    QPushButton *btnComp = nullptr;
    QList<QPushButton *> filterBtns; // the categories, in the order of the sidebar

signals:
    void filterChosen(int filterType, const QString &category);

private:
    void choose(QPushButton *clicked, int filterType, const QString &category = QString());
};
