#pragma once

class QDialog;
class QFrame;
class QGridLayout;
class QPushButton;
class QString;
class QVBoxLayout;
class QWidget;

// A dialog's action button in the program's own look, named `name` for the tests that press it.
QPushButton *dialogButton(const QString &text, const char *name, QWidget *parent);

// How the program's own dialogs open: above the window, titled, in the language's direction, at
// least `minimumWidth` wide. Returns the dialog's main layout.
QVBoxLayout *openDialog(QDialog *dialog, const QString &title, int minimumWidth);

// A framed block of fields in the program's look ("InfoFrame"), with the grid that lays them out.
QGridLayout *formBlock(QWidget *parent, QFrame **frame);
