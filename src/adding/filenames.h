#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>

class QUrl;

// File names taken from a link, a redirect, a Content-Disposition header or handed in by the
// browser extension are untrusted: they may try to climb out of the category folder or carry
// names that Windows refuses. safeFileName() reduces any of them to one plain name:
//   - only the last path component counts ("../../x.exe" -> "x.exe", "a/b\c.pdf" -> "c.pdf");
//     "." and ".." components are dropped;
//   - control characters, <>:"|?* and unpaired surrogates become "_"; bidirectional controls,
//     which can disguise an extension ("evil\u202Efdp.exe"), are removed;
//   - surrounding white space and trailing dots are trimmed ("name. " -> "name");
//   - a reserved device name, alone or with an extension, gets "_" after its stem
//     ("CON.txt" -> "CON_.txt", "nul" -> "nul_", "COM0" -> "COM0_");
//   - the name is shortened to 255 UTF-16 units, keeping its extension.
// Every rule holds for the result as a whole, also after shortening, so applying the function to
// its own result changes nothing. The result is empty when nothing usable is left (for "..",
// "///" or " . ").
QString safeFileName(const QString &name);

// The file name of a Content-Disposition value, or an empty string, read as browsers read it.
// An RFC 8187 `filename*` (charset'language'percent-encoded) wins over a plain `filename`
// wherever it stands; its value comes back decoded and *decoded is set. Any charset Qt can
// decode is taken, the ISO-8859-1 and ASCII labels as windows-1252; an unknown charset or bytes
// invalid in it leave the parameter out. Otherwise the first `filename` parameter: quoted (to
// the closing quote, spaces and ";" included, a backslash taking the next character literally),
// in apostrophes (to the next one), or bare (up to the next ";", quote or apostrophe). A value
// made of MIME encoded words ("=?UTF-8?B?...?=") comes back decoded, with *decoded set; any other
// comes back as sent. Parameter names match whole and in any letter case. *present tells whether
// the value names a file at all, even an empty one.
QString contentDispositionFileName(const QString &value, bool *decoded = nullptr,
                                   bool *present = nullptr);

// The name a link carries itself: the last segment of its decoded path, replaced by the name in
// a "response-content-disposition" or "filename" query item when there is one, then
// percent-decoded once more. Not yet made safe.
QString nameFromLink(const QUrl &url);

// What a probe of a link learned, as far as the file name goes.
struct ProbeNameInput {
    QString defaultName;  // suggested by the caller; empty when none
    QString linkName;     // nameFromLink() of the link
    QString redirectName; // last path segment of the final URL after a redirect, else empty
    bool hasContentDisposition = false;
    QString contentDisposition;
    bool hasContentType = false;
    QString contentType;
    bool isVid = false; // a media-site link
    qint64 nowMs = 0;   // milliseconds since the epoch, for generated names
};

// The file name for the target path, always safe and never empty. A usable suggested name wins;
// then a Content-Disposition name, else the redirect's name; then the link's own name; then a
// name made from the MIME type; then "download_<ms>.mp4" for media links, ".bin" otherwise.
// Every source is cut at "?" and made safe before it is weighed, so a hostile name falls through
// to the next source instead of escaping the folder.
QString probeFileName(const ProbeNameInput &in);

// The path with the extension of its file name replaced by ".mp3" for "audio", ".mp4" for any
// other format; appended when the file name has none. Dots in folder names are left alone.
QString withFormatExtension(const QString &path, const QString &format);

// The first of "name (1).ext", "name (2).ext", ... beside `path` that `taken` does not claim;
// `path` itself when it is free. Each candidate is built from the name as given, so brackets
// never pile up; the dot before the suffix is written also when the name has none.
QString numberedFreePath(const QString &path, const std::function<bool(const QString &)> &taken);

// True for the lower-cased suffixes that draw the executable warning.
bool isUnsafeSuffix(const QString &suffix);
