#include "views/checksumpanel.h"

#include "engine/storage/checksumtext.h"
#include "engine/storage/filehasher.h"
#include "language/translation.h"
#include "views/widgetstyles.h"

#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

ChecksumPanel::ChecksumPanel(QString path, QWidget *parent)
    : QFrame(parent), m_path(std::move(path))
{
    // The same frame as the addresses above it, in both themes.
    setObjectName(QStringLiteral("InfoFrame"));
    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(15, 10, 15, 10);
    shaTitle = new QLabel(QStringLiteral("SHA-256:"), this);
    shaValue = new QLineEdit(this);
    shaValue->setObjectName(QStringLiteral("sha256Edit"));
    shaValue->setReadOnly(true);
    expectedTitle = new QLabel(this);
    expectedEdit = new QLineEdit(this);
    expectedEdit->setObjectName(QStringLiteral("expectedEdit"));
    expectedEdit->setClearButtonEnabled(true);
    for (QLineEdit *edit : {shaValue, expectedEdit}) {
        edit->setLayoutDirection(Qt::LeftToRight);
        edit->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    }
    resultLbl = new QLabel(this);
    resultLbl->setObjectName(QStringLiteral("checksumResult"));
    resultLbl->setWordWrap(true);
    // The digest gets the panel's whole width, below its title: all 64 digits in view.
    grid->addWidget(shaTitle, 0, 0);
    grid->addWidget(shaValue, 1, 0, 1, 2);
    grid->addWidget(expectedTitle, 2, 0);
    grid->addWidget(expectedEdit, 2, 1);
    grid->addWidget(resultLbl, 3, 1);
    grid->setColumnStretch(1, 1);
    connect(expectedEdit, &QLineEdit::textChanged, this, &ChecksumPanel::showComparison);
    retranslate();
}

void ChecksumPanel::retranslate()
{
    expectedTitle->setText(T(QStringLiteral("Expected:")));
    expectedEdit->setPlaceholderText(T(QStringLiteral("Paste a SHA-256, SHA-1 or MD5 checksum")));
    showSha256();
    showComparison();
}

void ChecksumPanel::showEvent(QShowEvent *event)
{
    QFrame::showEvent(event);
    forgetIfFileChanged();
    retranslate();
    compute(QCryptographicHash::Sha256);
    const ExpectedChecksum expected = parseExpectedChecksum(expectedEdit->text());
    if (expected.valid)
        compute(expected.algorithm);
}

// The largest fixed-width font, up to the usual size, in which the 64 digits fit the field.
void ChecksumPanel::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    const QString digits(64, QLatin1Char('0'));
    const int room = shaValue->width() - 24; // the field's frame and padding
    for (int px = 13; px > 8; --px) {
        font.setPixelSize(px);
        if (QFontMetrics(font).horizontalAdvance(digits) <= room)
            break;
    }
    if (shaValue->font() != font)
        shaValue->setFont(font);
}

// Closing the dialog stops every computation; what was read so far is not kept.
void ChecksumPanel::hideEvent(QHideEvent *event)
{
    QFrame::hideEvent(event);
    for (const QPointer<FileHasher> &hasher : qAsConst(running)) {
        if (hasher) {
            hasher->cancel();
            hasher->deleteLater();
        }
    }
    running.clear();
    percent.clear();
}

void ChecksumPanel::forgetIfFileChanged()
{
    const QFileInfo info(m_path);
    if (info.size() == knownSize && info.lastModified() == knownModified)
        return;
    known.clear();
    unreadable.clear();
    knownSize = info.size();
    knownModified = info.lastModified();
}

void ChecksumPanel::compute(QCryptographicHash::Algorithm algorithm)
{
    const int key = int(algorithm);
    if (known.contains(key) || running.value(key) || !isVisible())
        return;
    unreadable.remove(key);
    auto *hasher = new FileHasher(m_path, algorithm, this);
    running.insert(key, hasher);
    percent.insert(key, 0);
    connect(hasher, &FileHasher::progress, this, [this, key](qint64 done, qint64 total) {
        percent.insert(key, total > 0 ? int(done * 100 / total) : 0);
        showSha256();
        showComparison();
    });
    const auto end = [this, key, hasher] {
        running.remove(key);
        percent.remove(key);
        hasher->deleteLater();
        showSha256();
        showComparison();
    };
    connect(hasher, &FileHasher::finished, this, [this, key, end](const QByteArray &digest) {
        known.insert(key, digest);
        end();
    });
    connect(hasher, &FileHasher::failed, this, [this, key, end] {
        unreadable.insert(key, true);
        end();
    });
    hasher->start();
    showSha256();
    showComparison();
}

void ChecksumPanel::showSha256()
{
    const int key = int(QCryptographicHash::Sha256);
    QString text;
    if (known.contains(key))
        text = QString::fromLatin1(known.value(key).toHex());
    else if (unreadable.value(key))
        text = T(QStringLiteral("Cannot read the file"));
    else if (running.value(key))
        text = T(QStringLiteral("Computing... %1%")).arg(percent.value(key));
    if (shaValue->text() != text) {
        shaValue->setText(text);
        shaValue->setCursorPosition(0);
    }
}

void ChecksumPanel::showComparison()
{
    const QString pasted = expectedEdit->text().trimmed();
    const ExpectedChecksum expected = parseExpectedChecksum(pasted);
    const int key = int(expected.algorithm);
    QString text;
    const char *style = "";
    if (pasted.isEmpty()) {
        text.clear();
    } else if (!expected.valid) {
        text = T(QStringLiteral("Not a SHA-256, SHA-1 or MD5 checksum"));
        style = ErrorTextStyle;
    } else if (known.contains(key)) {
        const bool same = known.value(key) == expected.digest;
        text = (same ? QStringLiteral("\u2714 ") + T(QStringLiteral("Matches (%1)"))
                     : QStringLiteral("\u2718 ") + T(QStringLiteral("Does not match (%1)")))
                   .arg(checksumName(expected.algorithm));
        style = same ? SuccessTextStyle : ErrorTextStyle;
    } else if (unreadable.value(key)) {
        text = T(QStringLiteral("Cannot read the file"));
        style = ErrorTextStyle;
    } else {
        compute(expected.algorithm);
        text = T(QStringLiteral("Checking... %1%")).arg(percent.value(key));
    }
    if (resultLbl->text() != text)
        resultLbl->setText(text);
    if (resultLbl->styleSheet() != QLatin1String(style))
        resultLbl->setStyleSheet(QLatin1String(style));
}
