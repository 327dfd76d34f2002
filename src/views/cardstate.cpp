#include "views/cardstate.h"

#include "engine/downloadtask.h"

CardState cardStateOf(const DownloadTask &task, bool fileMissing)
{
    CardState s;
    s.known = true;
    switch (task.status) {
    case 1:
        if (task.checking)
            s.word = QStringLiteral("Verifying...");
        s.showsRate = !task.checking;
        s.toggleIcon = QStringLiteral("pause.png");
        s.toggleTip = QStringLiteral("Pause");
        s.cancel = s.toggle = true;
        s.bar = QStringLiteral("downloading");
        if (task.retryInSeconds >= 0) {
            // Still running: the outage is waited out, with a countdown. The reason would not fit
            // beside it and the sizes; the details show it.
            s.word = QStringLiteral("Waiting for the server — retrying in %1 s");
            s.wordArg = QString::number(task.retryInSeconds);
            s.showsRate = false;
            s.eta = CardState::Eta::Empty;
            s.bar = QStringLiteral("paused");
        }
        break;
    case 0:
        // Waiting in the queue for a free slot, Pause takes it out of the line.
        s.word = task.queued ? QStringLiteral("Queued") : QStringLiteral("Paused");
        s.eta = CardState::Eta::Dashes;
        s.toggleIcon = task.queued ? QStringLiteral("pause.png") : QStringLiteral("play.png");
        s.toggleTip = task.queued ? QStringLiteral("Pause") : QStringLiteral("Resume");
        s.cancel = s.toggle = true;
        s.bar = QStringLiteral("paused");
        break;
    case 2:
        if (fileMissing) {
            s.word = QStringLiteral("File missing");
            s.eta = CardState::Eta::Empty;
            s.toggleIcon = QStringLiteral("retry.png");
            s.toggleTip = QStringLiteral("Retry");
            s.toggle = s.play = true;
            s.playEnabled = false;
            s.bar = QStringLiteral("error");
            break;
        }
        if (task.checksum.state == ChecksumResult::Verified) {
            s.word = QStringLiteral("Verified (%1)");
            s.wordArg = checksumName(task.checksum.expected.algorithm);
        } else {
            s.word = QStringLiteral("Done");
        }
        s.play = true;
        s.bar = QStringLiteral("done");
        break;
    case 3:
        s.word = QStringLiteral("Error");
        s.eta = CardState::Eta::Reason;
        s.cancel = true;
        s.bar = QStringLiteral("error");
        break;
    case 4:
        s.word = QStringLiteral("Canceled");
        s.eta = CardState::Eta::Empty;
        s.cancel = true;
        s.bar = QStringLiteral("error");
        break;
    default: s.known = false; break;
    }
    s.updateLink = task.mayChangeLink();
    return s;
}
