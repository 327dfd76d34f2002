#include "language/translation.h"

#include <QTest>

class TstTranslation : public QObject {
    Q_OBJECT
private slots:
    void init() { g_lang = QStringLiteral("ar"); }
    void arabicIsTheDefault() { QCOMPARE(T("Pause"), QString::fromUtf8("إيقاف")); }
};

QTEST_GUILESS_MAIN(TstTranslation)
#include "tst_translation.moc"
