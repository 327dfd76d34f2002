#include "app/preferencesdialog.h"

#include "app/proxybox.h"
#include "app/schedulebox.h"
#include "language/translation.h"
#include "views/dialogbutton.h"
#include "views/widgetstyles.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTabWidget>
#include <QVBoxLayout>

namespace {

constexpr qint64 kKiB = 1024;
constexpr qint64 kMiB = 1024 * 1024;
constexpr int kLargestFigure = 999999;

QString systemDownloadFolder()
{
    return QDir::fromNativeSeparators(
        QStandardPaths::writableLocation(QStandardPaths::DownloadLocation));
}

} // namespace

PreferencesDialog::PreferencesDialog(const DownloadPreferences &current, QWidget *parent)
    : QDialog(parent)
{
    QVBoxLayout *mainLayout = openDialog(this, T(QStringLiteral("Preferences")), 620);

    // Three pages keep the dialog within a small screen: what and where, how to reach the
    // network, and when the queue runs.
    auto *tabs = new QTabWidget(this);
    tabs->setObjectName(QStringLiteral("prefsTabs"));
    auto *general = new QWidget(tabs);
    auto *generalLayout = new QVBoxLayout(general);
    auto *connection = new QWidget(tabs);
    auto *connectionLayout = new QVBoxLayout(connection);
    tabs->addTab(general, T(QStringLiteral("General")));
    tabs->addTab(connection, T(QStringLiteral("Connection")));
    mainLayout->addWidget(tabs);

    QFrame *form = nullptr;
    QGridLayout *grid = formBlock(general, &form);

    folderEdit =
        new QLineEdit(current.folder.isEmpty() ? systemDownloadFolder() : current.folder, form);
    folderEdit->setObjectName(QStringLiteral("folderEdit"));
    // Paths read left to right also in the Arabic interface.
    folderEdit->setLayoutDirection(Qt::LeftToRight);
    folderEdit->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    QPushButton *btnBrowse = dialogButton(T(QStringLiteral("Browse...")), "btnBrowse", form);
    auto *folderHint = new QLabel(
        T(QStringLiteral("Each download goes to Torvane, in a folder of its category.")), form);
    folderHint->setWordWrap(true);
    grid->addWidget(new QLabel(T(QStringLiteral("Download folder:")), form), 0, 0);
    grid->addWidget(folderEdit, 0, 1, 1, 3);
    grid->addWidget(btnBrowse, 0, 4);
    grid->addWidget(folderHint, 1, 1, 1, 4);

    atOnceCombo = new QComboBox(form);
    atOnceCombo->setObjectName(QStringLiteral("atOnceCombo"));
    atOnceCombo->addItem(T(QStringLiteral("Unlimited")), 0);
    for (int n = 1; n <= DownloadPreferences::kMaxRunning; ++n)
        atOnceCombo->addItem(QString::number(n), n);
    atOnceCombo->setCurrentIndex(qMax(0, atOnceCombo->findData(current.maxRunning)));
    grid->addWidget(new QLabel(T(QStringLiteral("Downloads at once:")), form), 2, 0);
    grid->addWidget(atOnceCombo, 2, 1);

    limitCheck = new QCheckBox(T(QStringLiteral("Limit to")), form);
    limitCheck->setObjectName(QStringLiteral("limitCheck"));
    limitEdit = new QLineEdit(form);
    limitEdit->setObjectName(QStringLiteral("limitEdit"));
    limitEdit->setValidator(new QIntValidator(1, kLargestFigure, limitEdit));
    limitEdit->setLayoutDirection(Qt::LeftToRight);
    limitUnit = new QComboBox(form);
    limitUnit->setObjectName(QStringLiteral("limitUnit"));
    limitUnit->addItem(QStringLiteral("KB/s"), kKiB);
    limitUnit->addItem(QStringLiteral("MB/s"), kMiB);
    const qint64 limit = current.speedLimit;
    const bool inMiB = limit == 0 || limit % kMiB == 0;
    limitCheck->setChecked(limit > 0);
    limitUnit->setCurrentIndex(inMiB ? 1 : 0);
    limitEdit->setText(QString::number(
        limit == 0 ? 2 : qMin<qint64>(kLargestFigure, limit / (inMiB ? kMiB : kKiB))));
    grid->addWidget(new QLabel(T(QStringLiteral("Speed limit:")), form), 3, 0);
    grid->addWidget(limitCheck, 3, 1);
    grid->addWidget(limitEdit, 3, 2);
    grid->addWidget(limitUnit, 3, 3);

    noticesCheck = new QCheckBox(T(QStringLiteral("Show a notice when a download ends")), form);
    noticesCheck->setObjectName(QStringLiteral("noticesCheck"));
    noticesCheck->setChecked(current.notices);
    grid->addWidget(noticesCheck, 4, 1, 1, 4);
    clipboardCheck =
        new QCheckBox(T(QStringLiteral("Offer links to files copied to the clipboard")), form);
    clipboardCheck->setObjectName(QStringLiteral("clipboardCheck"));
    clipboardCheck->setChecked(current.watchClipboard);
    grid->addWidget(clipboardCheck, 5, 1, 1, 4);
    grid->setColumnStretch(2, 1);
    generalLayout->addWidget(form);
    generalLayout->addStretch();
    addNetworkBlock(connectionLayout);
    addProxyBlock(connectionLayout, current.proxy);
    addOutageBlock(connectionLayout, current.giveUpMinutes);
    connectionLayout->addStretch();
    scheduleBox = new ScheduleBox(current, tabs);
    tabs->addTab(scheduleBox, T(QStringLiteral("Schedule")));

    errorLbl = new QLabel(form);
    errorLbl->setObjectName(QStringLiteral("errorLbl"));
    errorLbl->setStyleSheet(QLatin1String(ErrorTextStyle));
    errorLbl->hide();
    mainLayout->addWidget(errorLbl);
    mainLayout->addStretch();

    auto *actions = new QFrame(this);
    actions->setObjectName(QStringLiteral("ActionFrame"));
    auto *row = new QHBoxLayout(actions);
    row->setContentsMargins(10, 10, 10, 10);
    row->setSpacing(15);
    QPushButton *btnSave = dialogButton(T(QStringLiteral("Save")), "btnSave", actions);
    QPushButton *btnCancel = dialogButton(T(QStringLiteral("Cancel")), "btnCancel", actions);
    btnSave->setDefault(true);
    row->addStretch();
    row->addWidget(btnSave);
    row->addWidget(btnCancel);
    mainLayout->addWidget(actions);

    connect(btnBrowse, &QPushButton::clicked, this, &PreferencesDialog::browse);
    connect(limitCheck, &QCheckBox::toggled, this, &PreferencesDialog::updateLimitFields);
    connect(btnSave, &QPushButton::clicked, this, &PreferencesDialog::save);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    updateLimitFields();
}

// A wrapped hint counts as a single line in the dialog's minimum size, so at that size the
// Connection page got less height than it needs and its layout squeezed the proxy fields below
// their own height, cutting off the bottom of their text. The height the tallest page needs at the
// narrowest width allowed is the floor instead; wider, the hints wrap less and need no more.
// Taken when shown, once the style sheet has given the fields and hints their sizes.
void PreferencesDialog::showEvent(QShowEvent *event)
{
    const int needed = heightForWidth(minimumWidth());
    if (needed > minimumHeight())
        setMinimumHeight(needed);
    QDialog::showEvent(event);
}

void PreferencesDialog::addProxyBlock(QBoxLayout *layout, const ProxySettings &current)
{
    proxyBox = new ProxyBox(current, this);
    layout->addWidget(proxyBox);
}

// A server or network that is away is waited out; this is how long before the download ends in
// error (and waits for Retry).
void PreferencesDialog::addOutageBlock(QBoxLayout *layout, int giveUpMinutes)
{
    auto *block = new QFrame(this);
    block->setObjectName(QStringLiteral("InfoFrame"));
    auto *row = new QHBoxLayout(block);
    row->setContentsMargins(15, 10, 15, 10);
    giveUpSpin = new QSpinBox(block);
    giveUpSpin->setObjectName(QStringLiteral("giveUpSpin"));
    giveUpSpin->setRange(0, DownloadPreferences::kMaxGiveUpMinutes);
    giveUpSpin->setValue(giveUpMinutes);
    giveUpSpin->setSpecialValueText(T(QStringLiteral("Never")));
    row->addWidget(
        new QLabel(T(QStringLiteral("When the server is unreachable, give up after:")), block));
    row->addWidget(giveUpSpin);
    row->addWidget(new QLabel(T(QStringLiteral("minutes")), block));
    row->addStretch();
    layout->addWidget(block);
}

void PreferencesDialog::updateLimitFields()
{
    limitEdit->setEnabled(limitCheck->isChecked());
    limitUnit->setEnabled(limitCheck->isChecked());
}

void PreferencesDialog::browse()
{
    const QString chosen = QFileDialog::getExistingDirectory(
        this, T(QStringLiteral("Download folder:")), folderEdit->text());
    if (!chosen.isEmpty())
        folderEdit->setText(QDir::fromNativeSeparators(chosen));
}

// A folder typed by hand is made when it is missing; one that cannot be made keeps the dialog
// open with the reason, as does a limit without a figure.
void PreferencesDialog::save()
{
    const QString folder = QDir::fromNativeSeparators(folderEdit->text().trimmed());
    QString error;
    if (!QDir::isAbsolutePath(folder) || !QDir().mkpath(folder))
        error = T(QStringLiteral("The download folder cannot be made: %1")).arg(folder);
    else if (limitCheck->isChecked() && limitEdit->text().toInt() < 1)
        error = T(QStringLiteral("Enter the speed limit as a whole number."));
    else
        error = proxyBox->problem();
    if (error.isEmpty())
        error = scheduleBox->problem();
    errorLbl->setText(error);
    errorLbl->setVisible(!error.isEmpty());
    if (error.isEmpty())
        accept();
}

DownloadPreferences PreferencesDialog::values() const
{
    DownloadPreferences prefs;
    const QString folder =
        QDir::cleanPath(QDir::fromNativeSeparators(folderEdit->text().trimmed()));
    // The Download folder itself is kept as "no choice", so that it follows the system's.
    if (folder != QDir::cleanPath(systemDownloadFolder()))
        prefs.folder = folder;
    prefs.maxRunning = atOnceCombo->currentData().toInt();
    if (limitCheck->isChecked())
        prefs.speedLimit = limitEdit->text().toLongLong() * limitUnit->currentData().toLongLong();
    prefs.notices = noticesCheck->isChecked();
    prefs.proxy = proxyBox->values();
    prefs.watchClipboard = clipboardCheck->isChecked();
    scheduleBox->fill(prefs);
    prefs.giveUpMinutes = giveUpSpin->value();
    return prefs;
}

// Links from other devices: off by default, and the dialog says what turning it on allows.
void PreferencesDialog::addNetworkBlock(QBoxLayout *layout)
{
    auto *block = new QFrame(layout->parentWidget());
    block->setObjectName(QStringLiteral("InfoFrame"));
    auto *column = new QVBoxLayout(block);
    column->setContentsMargins(15, 15, 15, 15);
    remoteCheck =
        new QCheckBox(T(QStringLiteral("Accept links from other devices on the network")), block);
    remoteCheck->setObjectName(QStringLiteral("remoteCheck"));
    auto *hint = new QLabel(
        T(QStringLiteral("When on, any device on your network can open the add-download dialog "
                         "here and hand over links, with cookies of its choosing. Leave it off "
                         "unless you send links from another computer.")),
        block);
    hint->setWordWrap(true);
    column->addWidget(remoteCheck);
    column->addWidget(hint);
    layout->addWidget(block);
}

void PreferencesDialog::setAcceptRemoteLinks(bool accept)
{
    remoteCheck->setChecked(accept);
}

bool PreferencesDialog::acceptRemoteLinks() const
{
    return remoteCheck->isChecked();
}
