#include "engine/categories.h"

#include <QFileInfo>

namespace {

struct CategoryRow {
    const char *name;
    QStringList suffixes;
};

const QList<CategoryRow> &categoryRows()
{
    static const QList<CategoryRow> rows = {
        {"Programs",
         {"exe", "apk", "msi", "bin", "dat", "bat", "vbs", "cmd", "scr", "pif", "js", "ps1", "jar",
          "reg"}},
        {"Videos", {"mp4", "mkv", "avi", "webm", "flv", "mov", "wmv"}},
        {"Audio", {"mp3", "wav", "ogg", "m4a", "flac", "aac"}},
        {"Documents", {"pdf", "doc", "docx", "txt", "xls", "xlsx", "ppt", "pptx"}},
        {"Compressed", {"zip", "rar", "7z", "tar", "gz", "iso", "exfat"}},
    };
    return rows;
}

} // namespace

const QStringList &categoryNames()
{
    static const QStringList names = {QStringLiteral("Videos"),    QStringLiteral("Audio"),
                                      QStringLiteral("Programs"),  QStringLiteral("Compressed"),
                                      QStringLiteral("Documents"), QStringLiteral("Other")};
    return names;
}

QString categoryForSuffix(const QString &suffix)
{
    const QString lower = suffix.toLower();
    if (!lower.isEmpty()) {
        for (const CategoryRow &row : categoryRows()) {
            if (row.suffixes.contains(lower))
                return QString::fromLatin1(row.name);
        }
    }
    return QStringLiteral("Other");
}

QString categoryForFileName(const QString &fileName)
{
    return categoryForSuffix(QFileInfo(fileName).suffix());
}

const QStringList &mediaHosts()
{
    // YouTube, its short-link host, Facebook, Instagram, TikTok, Twitter and its current name.
    static const QStringList hosts = {
        QStringLiteral("youtube.com"),  QStringLiteral("youtu.be"),
        QStringLiteral("facebook.com"), QStringLiteral("instagram.com"),
        QStringLiteral("tiktok.com"),   QStringLiteral("twitter.com"),
        QStringLiteral("x.com")};
    return hosts;
}

bool containsMediaHost(const QString &text)
{
    for (const QString &host : mediaHosts()) {
        if (text.contains(host, Qt::CaseSensitive))
            return true;
    }
    return false;
}
