#pragma once

#include <QString>
#include <QStringList>

class QApplication;

// Runs the program in `app`: becomes the one running copy and shows the main window, or hands the
// command line to the copy that already runs and returns at once (0 once it has them).
int runTorvane(QApplication &app);

// The link to open in the add dialog when the command line (program name left out) is a single
// http or https link, as a desktop's "Open with" or a second start passes it; otherwise empty.
QString linkArgument(const QStringList &arguments);
