#include "views/updatelinkdialog.h"

#include "engine/downloadtask.h"
#include "engine/http/weblink.h"
#include "language/translation.h"
#include "views/dialogbutton.h"
#include "views/duplicatequestion.h"
#include "views/widgetstyles.h"

#include <QDesktopServices>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// Links and names keep their own direction inside an Arabic sentence.
QString isolated(const QString &text)
{
    return QChar(0x2068) + text + QChar(0x2069);
}

} // namespace

UpdateLinkDialog::UpdateLinkDialog(DownloadTask *download, QWidget *parent, const QString &link,
                                   const BrowserSession &session)
    : QDialog(parent), task(download), handedLink(link.trimmed()), handedSession(session),
      linkCheck(new LinkCheck(this))
{
    QVBoxLayout *mainLayout = openDialog(this, T(QStringLiteral("Update link…")), 560);
    QFrame *form = nullptr;
    QGridLayout *grid = formBlock(this, &form);
    auto *about = new QLabel(
        T(QStringLiteral("Paste a new link to %1. It is checked to be the same file before the "
                         "download continues from the bytes already on the disk."))
            .arg(isolated(task->fileName)),
        form);
    about->setWordWrap(true);
    grid->addWidget(about, 0, 0, 1, 3);

    // Where the user finds a fresh link: the page the download came from.
    const QString page = task->sourcePage();
    auto *pageLbl = new QLabel(page, form);
    pageLbl->setObjectName(QStringLiteral("sourcePage"));
    pageLbl->setLayoutDirection(Qt::LeftToRight);
    pageLbl->setTextInteractionFlags(Qt::TextSelectableByMouse);
    pageLbl->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    pageLbl->setToolTip(page);
    QPushButton *btnPage = dialogButton(T(QStringLiteral("Open page")), "btnOpenPage", form);
    btnPage->setEnabled(isWebLink(QUrl(page)));
    connect(btnPage, &QPushButton::clicked, this,
            [page] { QDesktopServices::openUrl(QUrl(page)); });
    grid->addWidget(new QLabel(T(QStringLiteral("Came from:")), form), 1, 0);
    grid->addWidget(pageLbl, 1, 1);
    grid->addWidget(btnPage, 1, 2);

    linkEdit = new QLineEdit(link, form);
    linkEdit->setObjectName(QStringLiteral("newLink"));
    linkEdit->setLayoutDirection(Qt::LeftToRight);
    linkEdit->setPlaceholderText(QStringLiteral("https://"));
    grid->addWidget(new QLabel(T(QStringLiteral("New link:")), form), 2, 0);
    grid->addWidget(linkEdit, 2, 1, 1, 2);
    infoLbl = new QLabel(form);
    infoLbl->setObjectName(QStringLiteral("linkCheckLine"));
    infoLbl->setWordWrap(true);
    grid->addWidget(infoLbl, 3, 0, 1, 3);
    grid->setColumnStretch(1, 1);
    mainLayout->addWidget(form);

    auto *actions = new QFrame(this);
    actions->setObjectName(QStringLiteral("ActionFrame"));
    auto *buttons = new QHBoxLayout(actions);
    buttons->setContentsMargins(10, 10, 10, 10);
    buttons->setSpacing(15);
    btnContinue = dialogButton(T(QStringLiteral("Continue")), "btnContinue", actions);
    btnStartOver = dialogButton(T(QStringLiteral("Start over")), "btnStartOver", actions);
    QPushButton *btnCancel = dialogButton(T(QStringLiteral("Cancel")), "btnCancel", actions);
    btnContinue->setDefault(true);
    btnStartOver->hide(); // offered once a check has failed
    buttons->addStretch();
    for (QPushButton *button : {btnContinue, btnStartOver, btnCancel})
        buttons->addWidget(button);
    mainLayout->addWidget(actions);

    connect(btnContinue, &QPushButton::clicked, this, &UpdateLinkDialog::check);
    connect(btnStartOver, &QPushButton::clicked, this, &UpdateLinkDialog::startOver);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(linkEdit, &QLineEdit::textEdited, this, [this] {
        linkCheck->cancel();
        btnContinue->setEnabled(true);
        btnStartOver->hide();
        infoLbl->clear();
    });
    connect(linkCheck, &LinkCheck::finished, this, &UpdateLinkDialog::checked);
    if (!handedLink.isEmpty())
        check();
}

QUrl UpdateLinkDialog::newLink() const
{
    return QUrl(linkEdit->text().trimmed());
}

// A link handed over comes with the browser's session for it. One typed in keeps the download's
// session, and its cookie only where it belongs: on the same host.
BrowserSession UpdateLinkDialog::sessionFor(const QUrl &link) const
{
    if (!handedLink.isEmpty() && linkEdit->text().trimmed() == handedLink)
        return handedSession;
    return sameCookieHost(link, task->url()) ? task->browserSession
                                             : task->browserSession.withoutCookie();
}

void UpdateLinkDialog::showLine(const QString &text, const char *style)
{
    infoLbl->setStyleSheet(style ? QLatin1String(style) : QString());
    infoLbl->setText(text);
}

void UpdateLinkDialog::check()
{
    if (!task || !task->mayChangeLink()) {
        reject();
        return;
    }
    const QUrl link = newLink();
    if (!isWebLink(linkEdit->text())) {
        showLine(T(QStringLiteral("Not a web link (http or https)")), ErrorTextStyle);
        return;
    }
    btnContinue->setEnabled(false);
    btnStartOver->hide();
    showLine(T(QStringLiteral("Checking the new link...")), nullptr);
    linkCheck->start(link, sessionFor(link), task->linkFacts());
}

void UpdateLinkDialog::checked(LinkVerdict verdict, const QString &reason, const LinkAnswer &answer)
{
    btnContinue->setEnabled(true);
    // The download may have been resumed, deleted or canceled from the list meanwhile.
    if (!task || !task->mayChangeLink()) {
        reject();
        return;
    }
    if (verdict == LinkVerdict::NoAnswer) {
        showLine(reason, ErrorTextStyle);
        return;
    }
    if (verdict != LinkVerdict::Same) {
        // Another file: never continued, but the download may start over from it.
        showLine(T(QStringLiteral("Not the same file: %1")).arg(reason), ErrorTextStyle);
        btnStartOver->show();
        return;
    }
    const QUrl link = newLink();
    task->continueWithLink(link, sessionFor(link), answer);
    accept();
}

void UpdateLinkDialog::startOver()
{
    if (task && task->mayChangeLink()) {
        const QUrl link = newLink();
        task->startOverWithLink(link, sessionFor(link));
    }
    accept();
}

bool UpdateLinkDialog::run(DownloadTask *task, QWidget *parent, const QString &link,
                           const BrowserSession &session)
{
    if (!task || !task->mayChangeLink())
        return false;
    UpdateLinkDialog dialog(task, parent, link, session);
    return dialog.exec() == QDialog::Accepted;
}

bool UpdateLinkDialog::askContinue(const QString &name, QWidget *parent)
{
    return askYesNo(parent, T(QStringLiteral("Update link…")),
                    T(QStringLiteral("Continue %1 with this new link?")).arg(isolated(name)));
}
