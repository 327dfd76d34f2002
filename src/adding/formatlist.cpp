#include "adding/formatlist.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <functional>

QList<int> listedVideoHeights(const QByteArray &json, bool *isObject)
{
    const QJsonDocument doc = QJsonDocument::fromJson(json);
    if (isObject)
        *isObject = doc.isObject();
    QList<int> heights;
    if (!doc.isObject())
        return heights;
    const QJsonArray formats = doc.object().value(QLatin1String("formats")).toArray();
    for (const QJsonValue &entry : formats) {
        const QJsonObject format = entry.toObject();
        if (format.value(QLatin1String("vcodec")).toString() == QLatin1String("none") ||
            !format.contains(QLatin1String("height")))
            continue;
        const int height = format.value(QLatin1String("height")).toInt();
        if (height > 0 && !heights.contains(height))
            heights.append(height);
    }
    std::sort(heights.begin(), heights.end(), std::greater<int>());
    return heights;
}
