#pragma once

class QApplication;
class MainWindow;
class SingleInstance;

// Runs the program in `app`: becomes the one running copy and shows the main window, or hands the
// command line to the copy that already runs and returns at once (0 once it has them).
int runTorvane(QApplication &app);

// Makes `window` the receiver of what later starts and torvane-host hand over to `instance`: their
// links go through the window's queue of offers, and a later start brings the window forward.
void receiveHandOvers(SingleInstance &instance, MainWindow &window);
