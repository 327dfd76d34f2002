#include "app/linkoffer.h"

#include "engine/bytecount.h"
#include "engine/http/weblink.h"

#include <QJsonArray>

QStringList webLinksAmong(const QStringList &links)
{
    QStringList web;
    for (const QString &link : links) {
        if (isWebLink(link))
            web.append(link.trimmed());
    }
    return web;
}

LinkOffer linkOfferFromArguments(const QStringList &arguments)
{
    LinkOffer offer;
    offer.urls = webLinksAmong(arguments);
    return offer;
}

LinkOffer linkOfferFromJson(const QJsonObject &message)
{
    LinkOffer offer;
    QStringList links;
    const QJsonValue many = message.value(QLatin1String("urls"));
    if (many.isArray()) {
        for (const QJsonValue &link : many.toArray())
            links.append(link.toString());
    } else {
        links.append(message.value(QLatin1String("url")).toString());
    }
    offer.urls = webLinksAmong(links);
    offer.name = message.value(QLatin1String("name")).toString();

    // A whole number of bytes, as a JSON number or as text; anything else is not known.
    const QJsonValue size = message.value(QLatin1String("size"));
    qint64 bytes = 0;
    bool ok = false;
    if (size.isDouble())
        ok = byteCountFromDouble(size.toDouble(), &bytes) && double(bytes) == size.toDouble();
    else
        bytes = size.toString().toLongLong(&ok, 10);
    offer.size = ok ? byteCountOrZero(bytes) : 0;

    offer.session.referrer = message.value(QLatin1String("referrer")).toString();
    offer.session.userAgent = message.value(QLatin1String("ua")).toString();
    offer.session.cookie = message.value(QLatin1String("cookie")).toString();
    return offer;
}

QJsonObject linkOfferToJson(const LinkOffer &offer)
{
    QJsonObject message{{QStringLiteral("urls"), QJsonArray::fromStringList(offer.urls)}};
    if (!offer.name.isEmpty())
        message.insert(QStringLiteral("name"), offer.name);
    if (offer.size > 0)
        message.insert(QStringLiteral("size"), QString::number(offer.size));
    const std::pair<const char *, QString> session[] = {{"referrer", offer.session.referrer},
                                                        {"ua", offer.session.userAgent},
                                                        {"cookie", offer.session.cookie}};
    for (const auto &[key, value] : session) {
        if (!value.isEmpty())
            message.insert(QLatin1String(key), value);
    }
    return message;
}
