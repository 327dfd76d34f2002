#pragma once

#include <QString>

// The folder a file of this name is saved to: the download location, "/Torvane/" and the
// category of the name's last suffix ("song.flac" -> ".../Torvane/Audio"). No trailing "/"; the
// folder is not created here.
QString categoryFolder(const QString &fileName);

// The download location: the folder the user chose, else the user's Download folder.
QString downloadLocation();
// The folder the user chose; empty for the user's Download folder.
void setDownloadLocation(const QString &folder);
