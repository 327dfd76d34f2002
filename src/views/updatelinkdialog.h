#pragma once

#include "engine/http/browsersession.h"
#include "engine/http/linkcheck.h"

#include <QDialog>
#include <QPointer>

class DownloadTask;
class QLabel;
class QLineEdit;
class QPushButton;

// "Update link…" of a paused or failed download: the user pastes a fresh link to the same file
// (an expired signed link, a token that ran out), or the browser handed one over. Continue first
// checks the new link (LinkCheck: the same size, the same validators, the same first bytes as on
// the disk); only then does the download take it and continue every part from the bytes on the
// disk. A link that fails a check is refused with the check's reason, and the user may start the
// download over from it instead: two files are never spliced.
class UpdateLinkDialog : public QDialog {
    Q_OBJECT

public:
    // `link` and `session` come with a link handed over; a link typed in keeps the download's
    // session (its cookie only for the same host). A given link is checked at once.
    UpdateLinkDialog(DownloadTask *task, QWidget *parent, const QString &link = QString(),
                     const BrowserSession &session = BrowserSession());

    // Runs the dialog; true when the download took the new link (continued or started over).
    static bool run(DownloadTask *task, QWidget *parent, const QString &link = QString(),
                    const BrowserSession &session = BrowserSession());
    // "Continue <name> with this new link?", asked when a link handed over looks like the file
    // of a download that waits for one; true for Yes.
    static bool askContinue(const QString &name, QWidget *parent);

private:
    void check();
    void checked(LinkVerdict verdict, const QString &reason, const LinkAnswer &answer);
    void startOver();
    QUrl newLink() const;
    BrowserSession sessionFor(const QUrl &link) const;
    void showLine(const QString &text, const char *style);

    QPointer<DownloadTask> task;
    QString handedLink; // the link handed over, which came with handedSession
    BrowserSession handedSession;
    LinkCheck *linkCheck;
    QLineEdit *linkEdit;
    QLabel *infoLbl;
    QPushButton *btnContinue;
    QPushButton *btnStartOver;
};
