#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

// Arguments of the media tool for one download: "audio" extracts an MP3, "best" merges the best
// video and audio into MP4, any other text is a picture height for the tool's format sorting.
QStringList mediaToolArguments(const QString &format, const QString &ffmpegPath,
                               const QString &savePath, const QUrl &url);
