#pragma once

#include <QString>

// The media tool and ffmpeg live beside the program as "core_engine.bin" and "media_codec.bin".
// Tests point the directory elsewhere (a fake tool, or none at all).
QString mediaToolDirectory();
void setMediaToolDirectory(const QString &directory); // empty: the application directory again
QString mediaToolPath();
QString ffmpegPath();
