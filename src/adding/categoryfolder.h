#pragma once

#include <QString>

// The folder a file of this name is saved to: the user's download location, "/Torvane/" and the
// category of the name's last suffix ("song.flac" -> ".../Torvane/Audio"). No trailing "/"; the
// folder is not created here.
QString categoryFolder(const QString &fileName);
