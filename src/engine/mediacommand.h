#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

// True for the only links the media tool is ever given: http or https, with a host. Anything else
// (a bare word, "--some-option", file: or other schemes) would be read by the tool as an option or
// a local path.
bool isMediaToolLink(const QUrl &url);

// Arguments of the media tool for one download: "audio" extracts an MP3, "best" merges the best
// video and audio into MP4, any other text is a picture height for the tool's format sorting. The
// options end with "--", so the link after it is never taken for an option. Callers check the link
// with isMediaToolLink() first.
QStringList mediaToolArguments(const QString &format, const QString &ffmpegPath,
                               const QString &savePath, const QUrl &url);

// Arguments that ask the media tool for the formats of a link, as JSON; "--" before the link.
QStringList mediaListingArguments(const QUrl &url);

// The line shown (in the add dialog, and as a task's message) for a link the media tool is not
// given, in the current language.
QString refusedMediaLinkText();
