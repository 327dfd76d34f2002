#pragma once

#include <QString>

class DownloadTask;

// What a download card shows for the state of its task, apart from the figures: the state word
// (or the transfer rate), the remaining-time rule, which buttons are offered, the pause/resume
// icon and the progress bar's colour. This is the one place that maps a task's state to its
// look; a new state (a failure reason, a missing file, a place in a queue) is a new case here.
struct CardState {
    enum class Eta { Figures, Dashes, Empty, Reason };

    bool known = false;     // a status the card knows; an unknown one changes nothing
    bool showsRate = false; // the transfer rate instead of a state word
    QString word;           // untranslated state word (a key of T)
    QString wordArg;        // what fills the word's %1, when it has one
    Eta eta = Eta::Figures; // Figures: as the size step left it; Reason: why it failed
    QString toggleIcon;     // "pause.png", "play.png", "retry.png", or empty to leave it as is
    QString toggleTip;      // untranslated tooltip of the pause/resume button, or empty
    bool cancel = false;    // buttons offered; folder and delete always are
    bool toggle = false;
    bool play = false;
    bool playEnabled = true; // false: offered, but there is no file to open
    bool updateLink = false; // "Update link…": a paused or failed download may take a fresh link
    QString bar;             // the progress bar's "status" property
};

// fileMissing: the task's file is not on the disk (only read for a finished download, whose
// card then offers to fetch it again).
CardState cardStateOf(const DownloadTask &task, bool fileMissing = false);
