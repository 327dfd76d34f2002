#include "language/translation.h"

#include <QTest>

class TstTranslation : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { g_lang = QStringLiteral("ar"); }

    void exactKeysOnlyAndOnlyInArabic()
    {
        QCOMPARE(T("URL:"), QString::fromUtf8("الرابط:"));
        QCOMPARE(T(" Pause"), QString::fromUtf8(" إيقاف"));
        QCOMPARE(T("pause"), QString("pause"));
        QCOMPARE(T("Pause "), QString("Pause "));
        QCOMPARE(T(""), QString());
        QVERIFY(languageIsRightToLeft());
        g_lang = QStringLiteral("en");
        QCOMPARE(T("URL:"), QString("URL:"));
        QVERIFY(!languageIsRightToLeft());
    }
};

QTEST_GUILESS_MAIN(TstTranslation)
#include "tst_translation.moc"
