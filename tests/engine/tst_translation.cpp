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
        QCOMPARE(T("Open File"), T("Play")); // two keys share one text
        QCOMPARE(T("Delete List & File"), QString::fromUtf8("حذف من القائمة والقرص"));
        QCOMPARE(T("Error: 'blob:' links are internal browser memory and cannot be downloaded "
                   "externally."),
                 QString::fromUtf8("خطأ: روابط 'blob:' تابعة لذاكرة المتصفح الداخلية ولا يمكن "
                                   "تحميلها ببرنامج خارجي."));
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
