#pragma once

class QWidget;

// The question asked when a download's target file is taken: true to download it under a new,
// numbered name; false (No, Escape or the close control) to add nothing.
bool askDownloadAsNewFile(QWidget *parent);
