#pragma once

class QPushButton;
class QString;
class QWidget;

// A dialog's action button in the program's own look, named `name` for the tests that press it.
QPushButton *dialogButton(const QString &text, const char *name, QWidget *parent);
