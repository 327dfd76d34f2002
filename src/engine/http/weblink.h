#pragma once

#include <QString>
#include <QUrl>

// True for the only links Torvane takes from outside or hands on: http or https, with a host.
// Anything else (file:, javascript:, data:, ftp:, qrc:, a bare word, "--some-option") would be read
// from the local disk or the program's own resources, run, or taken by a tool as an option.
bool isWebLink(const QUrl &url);
// The same for a link as text, as a user, a browser or a command line hands it over; spaces
// around it do not count.
bool isWebLink(const QString &text);
