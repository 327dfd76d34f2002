#include "language/translation.h"

#include <utility>

QString g_lang = QStringLiteral("ar");

namespace {

// Lookup order matters only for readers: keys are unique, and two Arabic texts are shared.
const std::pair<const char *, const char *> kTable[] = {
    {"URL:", "الرابط:"},
    {"Save As:", "حفظ كـ:"},
    {"Browse...", "تصفح..."},
    {"Quality:", "الدقة:"},
    {"Best Available", "أفضل جودة متوفرة"},
    {"Audio Only", "صوت فقط"},
    {"Fetching...", "جاري الفحص..."},
    {"Download Later", "تحميل لاحقاً"},
    {"Start", "بدء التحميل"},
    {"Download status", "حالة التحميل"},
    {"Connecting...", "جاري الاتصال..."},
    {"Wait...", "انتظار..."},
    {"Status:", "الحالة:"},
    {"File size:", "حجم الملف:"},
    {"Downloaded:", "تم تحميل:"},
    {"Transfer rate:", "معدل النقل:"},
    {"Time left:", "الوقت المتبقي:"},
    {"Pause", "إيقاف"},
    {"Resume", "استكمال"},
    {"Cancel", "إلغاء"},
    {"Hide", "إخفاء"},
    {"Open File", "تشغيل"},
    {"Open Folder", "فتح المجلد"},
    {"Close", "إغلاق"},
    {"Downloading...", "جاري التحميل..."},
    {"Paused", "متوقف"},
    {"Queued", "في الانتظار"},
    {"Error", "خطأ"},
    {"Done", "اكتمل"},
    {"Failed", "فشل"},
    {"Retry", "إعادة"},
    {"Play", "تشغيل"},
    {"Delete", "حذف"},
    {"System Error: Missing yt-dlp.exe", "خطأ في النظام: ملف yt-dlp.exe مفقود"},
    {"Starting processing...", "جاري بدء التحميل..."},
    {"Delete Options", "خيارات الحذف"},
    {"Delete selected tasks?", "هل تود حذف المهام المحددة؟"},
    {"Delete the downloaded file from disk too?", "هل تود حذف الملف المحمل من القرص أيضاً؟"},
    {"Delete List & File", "حذف من القائمة والقرص"},
    {"Delete from List", "حذف من القائمة فقط"},
    {"Delete from List Only", "حذف من القائمة فقط"},
    {"File Exists", "الملف موجود"},
    {"File already exists. Download as a new file?",
     "الملف موجود مسبقاً، هل تود إعادة تحميله كملف جديد؟"},
    {"Canceled", "تم الإلغاء"},
    {" All", " الكل"},
    {" Processing", " جاري التحميل"},
    {" Queued", " في الانتظار"},
    {" Completed", " المكتملة"},
    {" Add URL", " إضافة رابط"},
    {" Delete", " حذف"},
    {" Pause", " إيقاف"},
    {" Resume", " استكمال"},
    {"Videos", "الفيديوهات"},
    {"Audio", "الصوتيات"},
    {"Programs", "البرامج"},
    {"Compressed", "الملفات المضغوطة"},
    {"Documents", "المستندات"},
    {"Other", "أخرى"},
    {"Size:", "الحجم:"},
    {"Unknown", "غير معروف"},
    {"Warning: Executable file. Might be unsafe.", "تنبيه: ملف تنفيذي، قد يكون غير آمن."},
    {"Safe file type.", "نوع الملف آمن."},
    {"Error: 'blob:' links are internal browser memory and cannot be downloaded externally.",
     "خطأ: روابط 'blob:' تابعة لذاكرة المتصفح الداخلية ولا يمكن تحميلها ببرنامج خارجي."},
    {"Error: Video links must begin with http:// or https://",
     "خطأ: يجب أن تبدأ روابط الفيديو بـ http:// أو https://"},
    // Why a download failed: the one line shown on its card and in its details.
    {"Server error: HTTP %1", "خطأ من الخادم: HTTP %1"},
    {"Connection failed: %1", "فشل الاتصال: %1"},
    {"The connection ended early", "انقطع الاتصال قبل اكتمال البيانات"},
    {"No data from the server", "لا توجد بيانات من الخادم"},
    // A download that waits out an outage, on its card and in its details.
    {"Waiting for the server — retrying in %1 s", "في انتظار الخادم — إعادة المحاولة خلال %1 ث"},
    {"When the server is unreachable, give up after:", "عند تعذر الوصول إلى الخادم، التوقف بعد:"},
    {"minutes", "دقيقة"},
    {"Never", "أبداً"},
    {"The file keeps changing on the server", "الملف يتغير باستمرار على الخادم"},
    {"Cannot open the file", "تعذر فتح الملف"},
    {"Cannot write the file", "تعذرت الكتابة في الملف"},
    {"Disk full", "القرص ممتلئ"},
    {"Disk quota exceeded", "تم تجاوز الحصة المسموحة على القرص"},
    {"No permission to write the file", "لا توجد صلاحية للكتابة في الملف"},
    {"The file was removed", "تم حذف الملف"},
    {"The file is too large for this disk", "الملف أكبر مما يسمح به هذا القرص"},
    // A finished download whose file was moved or deleted since.
    {"File missing", "الملف مفقود"},
    // The add dialog, when the probe's size does not fit on the destination's disk.
    {"Not enough free space: %1 MB free", "لا توجد مساحة كافية: المتاح %1 MB"},
    {"The server sent a web page, not the file — the link may need the browser's login",
     "أرسل الخادم صفحة ويب لا الملف — قد يلزم تسجيل الدخول في المتصفح"},
    {"The server sent something other than the file", "أرسل الخادم شيئاً غير الملف"},
    // A server certificate that failed verification, and trusting it from the details.
    {"Certificate not trusted: %1", "شهادة الأمان غير موثوقة: %1"},
    {"The proxy refused the user name or password", "رفض الوكيل اسم المستخدم أو كلمة المرور"},
    {"Cannot reach the proxy: %1", "تعذّر الوصول إلى الوكيل: %1"},
    {"Not a proxy this program can use: %1", "وكيل لا يستطيع البرنامج استخدامه: %1"},
    {"Proxy:", "الوكيل:"},
    {"System proxy", "وكيل النظام"},
    {"No proxy", "بدون وكيل"},
    {"HTTP proxy", "وكيل HTTP"},
    {"SOCKS5 proxy", "وكيل SOCKS5"},
    {"Host:", "الخادم:"},
    {"Port:", "المنفذ:"},
    {"User name:", "اسم المستخدم:"},
    {"Password:", "كلمة المرور:"},
    {"User name and password only if the proxy asks for them; the password is kept where only "
     "you can read it.",
     "اسم المستخدم وكلمة المرور فقط إن طلبهما الوكيل؛ تُحفظ كلمة المرور حيث لا يقرؤها غيرك."},
    {"Enter the proxy's host name and port.", "أدخل اسم خادم الوكيل ورقم المنفذ."},
    {"Login", "تسجيل الدخول"},
    {"The server %1 asks for a user name and password.", "يطلب الخادم %1 اسم مستخدم وكلمة مرور."},
    {"It says: %1", "رسالته: %1"},
    {"Remember for this host", "تذكّرها لهذا الخادم"},
    {"Log in", "دخول"},
    {"Login required", "يلزم تسجيل الدخول"},
    {"The user name or password was not accepted", "لم يُقبل اسم المستخدم أو كلمة المرور"},
    {"SHA-256 fingerprint:", "بصمة SHA-256:"},
    {"Trust this certificate for %1", "الوثوق بهذه الشهادة للموقع %1"},
    {"Certificate trusted", "تم الوثوق بالشهادة"},
    // The preferences dialog.
    {"Preferences", "الإعدادات"},
    {"Download folder:", "مجلد التحميل:"},
    {"Each download goes to Torvane, in a folder of its category.",
     "يُحفظ كل تحميل داخل Torvane في مجلد حسب نوعه."},
    {"Downloads at once:", "التحميلات في وقت واحد:"},
    {"Unlimited", "بلا حد"},
    {"Speed limit:", "حد السرعة:"},
    {"Limit to", "تحديد بـ"},
    {"None (500K, 2M...)", "بلا حد (500K، 2M...)"},
    {"Show a notice when a download ends", "إظهار تنبيه عند انتهاء التحميل"},
    {"Save", "حفظ"},
    {"The download folder cannot be made: %1", "تعذر إنشاء مجلد التحميل: %1"},
    {"Enter the speed limit as a whole number.", "أدخل حد السرعة كعدد صحيح."},
    // The tray's notice when a download ends while the window is away.
    {"Download complete", "اكتمل التحميل"},
    {"Download failed", "فشل التحميل"},
    // The checksums in the details of a completed download.
    {"Expected:", "المتوقع:"},
    {"Paste a SHA-256, SHA-1 or MD5 checksum", "الصق بصمة SHA-256 أو SHA-1 أو MD5"},
    {"Computing... %1%", "جاري الحساب... %1%"},
    {"Checking... %1%", "جاري التحقق... %1%"},
    {"Cannot read the file", "تعذرت قراءة الملف"},
    {"Not a SHA-256, SHA-1 or MD5 checksum", "ليست بصمة SHA-256 أو SHA-1 أو MD5"},
    {"Matches (%1)", "مطابقة (%1)"},
    {"Does not match (%1)", "غير مطابقة (%1)"},
    // Links handed over: only web links, and from other devices only when the user allows it.
    {"Error: Only http:// and https:// links can be downloaded.",
     "خطأ: لا يمكن تحميل إلا الروابط التي تبدأ بـ http:// أو https://."},
    {"Accept links from other devices on the network", "قبول الروابط من الأجهزة الأخرى على الشبكة"},
    {"When on, any device on your network can open the add-download dialog here and hand over "
     "links, with cookies of its choosing. Leave it off unless you send links from another "
     "computer.",
     "عند التفعيل يستطيع أي جهاز على شبكتك فتح نافذة إضافة التحميل هنا وتسليم روابط مع ملفات "
     "تعريف ارتباط يختارها هو. اتركه معطلاً ما لم ترسل روابط من حاسوب آخر."},
    // The check of a completed download against the digest its server gives.
    {"Verifying...", "جاري التحقق..."},
    {"Verified (%1)", "تم التحقق (%1)"},
    {"Digest from %1", "البصمة من %1"},
    {"Checksum mismatch", "البصمة غير مطابقة"},
    {"Actual:", "الفعلية:"},
    // Several links in one add dialog.
    {"Import links…", "استيراد روابط…"},
    {"Start all", "بدء الكل"},
    {"%1 links, %2 chosen", "%1 رابط، المختار %2"},
    {"Text files", "ملفات نصية"},
    {"All files", "كل الملفات"},
    {"File name", "اسم الملف"},
    {"Size", "الحجم"},
    {"Category", "الفئة"},
    {"Link", "الرابط"},
    {"No answer", "لا رد"},
    {"A web page", "صفحة ويب"},
    {"Download this link?", "تحميل هذا الرابط؟"},
    {"Click here to add it.", "انقر هنا لإضافته."},
    {"Offer links to files copied to the clipboard", "اقتراح روابط الملفات المنسوخة إلى الحافظة"},
    // The pages of the preferences, the schedule and the queue's end.
    {"General", "عام"},
    {"Connection", "الاتصال"},
    {"Schedule", "الجدولة"},
    {"Start the queue at", "بدء قائمة الانتظار عند"},
    {"Pause the queue at", "إيقاف قائمة الانتظار مؤقتاً عند"},
    {"On these days:", "في هذه الأيام:"},
    {"Mon", "الإثنين"},
    {"Tue", "الثلاثاء"},
    {"Wed", "الأربعاء"},
    {"Thu", "الخميس"},
    {"Fri", "الجمعة"},
    {"Sat", "السبت"},
    {"Sun", "الأحد"},
    {"A scheduled start resumes every paused download in its turn, as many at once as the queue "
     "allows; a start missed while Torvane was closed runs when it opens.",
     "البدء المجدول يستأنف كل تحميل متوقف في دوره، بقدر ما تسمح به قائمة الانتظار في آن واحد؛ "
     "والبدء الذي فات أثناء إغلاق Torvane يجري عند فتحه."},
    {"When the queue is done:", "عند انتهاء قائمة الانتظار:"},
    {"Do nothing", "لا شيء"},
    {"Quit Torvane", "إغلاق Torvane"},
    {"Run a command", "تشغيل أمر"},
    {"Command:", "الأمر:"},
    {"The command runs in the folder of the last finished file, after a 30-second notice that "
     "can cancel it.",
     "يعمل الأمر في مجلد آخر ملف اكتمل، بعد تنبيه مدته 30 ثانية يمكن إلغاؤه منه."},
    {"Choose at least one day for the schedule.", "اختر يوماً واحداً على الأقل للجدولة."},
    {"Enter the command to run when the queue is done.",
     "أدخل الأمر الذي يعمل عند انتهاء قائمة الانتظار."},
    {"All downloads are done. Torvane quits in %1 s.",
     "اكتملت كل التحميلات. سيُغلق Torvane بعد %1 ث."},
    {"All downloads are done. The command runs in %1 s.",
     "اكتملت كل التحميلات. سيعمل الأمر بعد %1 ث."},
    {"Quit now", "إغلاق الآن"},
    {"Run now", "تشغيل الآن"},
    {"The command could not be run: %1", "تعذر تشغيل الأمر: %1"},
    // A fresh link for a download whose link expired, checked to be the same file first.
    {"Update link…", "تحديث الرابط…"},
    {"Continue %1 with this new link?", "متابعة %1 بهذا الرابط الجديد؟"},
    {"Paste a new link to %1. It is checked to be the same file before the download continues "
     "from the bytes already on the disk.",
     "الصق رابطاً جديداً إلى %1. يُتحقَّق أولاً من أنه الملف نفسه، ثم يُستكمل التحميل من البايتات "
     "الموجودة على القرص."},
    {"Came from:", "المصدر:"},
    {"Open page", "فتح الصفحة"},
    {"New link:", "الرابط الجديد:"},
    {"Continue", "متابعة"},
    {"Start over", "البدء من جديد"},
    {"Not a web link (http or https)", "ليس رابط ويب (http أو https)"},
    {"Checking the new link...", "جاري فحص الرابط الجديد..."},
    {"Not the same file: %1", "ليس الملف نفسه: %1"},
    {"The new link does not work: %1", "الرابط الجديد لا يعمل: %1"},
    {"The new link leads to a web page", "الرابط الجديد يؤدي إلى صفحة ويب"},
    {"The new link does not tell the file's size", "الرابط الجديد لا يذكر حجم الملف"},
    {"Another size: %1 bytes instead of %2", "حجم آخر: %1 بايت بدلاً من %2"},
    {"Another version of the file (ETag or Last-Modified)",
     "نسخة أخرى من الملف (ETag أو Last-Modified)"},
    {"Its first bytes differ from those on the disk", "أول بايتاته تختلف عمّا على القرص"},
};

} // namespace

QString T(const QString &text)
{
    if (g_lang != QLatin1String("ar"))
        return text;
    for (const auto &[english, arabic] : kTable) {
        // Keys are UTF-8: a few hold punctuation beyond Latin-1, such as a dash.
        if (QAnyStringView::equal(text, QUtf8StringView(english)))
            return QString::fromUtf8(arabic);
    }
    return text;
}

bool languageIsRightToLeft()
{
    return g_lang == QLatin1String("ar");
}
