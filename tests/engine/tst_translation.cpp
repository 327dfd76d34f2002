#include "language/translation.h"

#include <QTest>

class TstTranslation : public QObject {
    Q_OBJECT
private slots:
    void init() { g_lang = QStringLiteral("ar"); }
    void cleanupTestCase() { g_lang = QStringLiteral("ar"); }

    void arabicTexts_data()
    {
        QTest::addColumn<QString>("english");
        QTest::addColumn<QString>("arabic");
        QTest::newRow("first row") << "URL:" << QString::fromUtf8("الرابط:");
        QTest::newRow("leading space key") << " Pause" << QString::fromUtf8(" إيقاف");
        QTest::newRow("shared text 1") << "Open File" << QString::fromUtf8("تشغيل");
        QTest::newRow("shared text 2") << "Play" << QString::fromUtf8("تشغيل");
        QTest::newRow("ampersand")
            << "Delete List & File" << QString::fromUtf8("حذف من القائمة والقرص");
        QTest::newRow("missing tool") << "System Error: Missing yt-dlp.exe"
                                      << QString::fromUtf8("خطأ في النظام: ملف yt-dlp.exe مفقود");
        QTest::newRow("last row") << "Error: 'blob:' links are internal browser memory and cannot "
                                     "be downloaded externally."
                                  << QString::fromUtf8("خطأ: روابط 'blob:' تابعة لذاكرة المتصفح "
                                                       "الداخلية ولا يمكن تحميلها ببرنامج خارجي.");
        QTest::newRow("category") << "Compressed" << QString::fromUtf8("الملفات المضغوطة");
    }
    void arabicTexts()
    {
        QFETCH(QString, english);
        QFETCH(QString, arabic);
        QCOMPARE(T(english), arabic);
        g_lang = QStringLiteral("en");
        QCOMPARE(T(english), english);
    }

    void onlyExactKeysTranslate()
    {
        QVERIFY(T("Pause") != T(" Pause"));
        QCOMPARE(T("pause"), QString("pause"));
        QCOMPARE(T("Pause "), QString("Pause "));
        QCOMPARE(T(""), QString());
        QCOMPARE(T("report.pdf"), QString("report.pdf"));
        QVERIFY(isRightToLeft());
        g_lang = QStringLiteral("en");
        QVERIFY(!isRightToLeft());
    }
};

QTEST_GUILESS_MAIN(TstTranslation)
#include "tst_translation.moc"
