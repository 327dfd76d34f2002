#pragma once

#include <QByteArray>
#include <QList>

// The video heights in the media tool's JSON answer ("-J"): from the "formats" array, formats
// whose "vcodec" is not "none" and whose "height" is above 0, without repeats, highest first.
// *isObject is false when the answer is not a JSON object at all.
QList<int> listedVideoHeights(const QByteArray &json, bool *isObject = nullptr);
