#pragma once

#include <QString>
#include <QStringList>

// The six categories in sidebar order. These English names are stored, used in folder names and
// compared by the filters; they are translated only where they are shown.
const QStringList &categoryNames();

// Category of a lower- or mixed-case suffix ("MP4", "gz"); "Other" when no row lists it.
QString categoryForSuffix(const QString &suffix);

// Category of a file name by its last suffix: "archive.tar.gz" is "Compressed".
QString categoryForFileName(const QString &fileName);

// Host names of the video and social sites whose links go to the media tool, in a fixed order.
const QStringList &mediaHosts();

// Case-sensitive substring test of any text against the media host list.
bool containsMediaHost(const QString &text);
