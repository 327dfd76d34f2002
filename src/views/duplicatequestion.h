#pragma once

class QString;
class QWidget;

// The question asked when a download's target file is taken: true to download it under a new,
// numbered name; false (No, Escape or the close control) to add nothing.
bool askDownloadAsNewFile(QWidget *parent);

// A question with Yes and No in the interface's language, on top of the window; true for Yes,
// false for No, Escape or the close control.
bool askYesNo(QWidget *parent, const QString &title, const QString &text);
