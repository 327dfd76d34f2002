#pragma once

#include <QByteArray>
#include <QString>

// A server that wants a login, a Referer or a cookie it did not get often answers a file's link
// with a web page and status 200. Saved under the file's name, that page looks like a finished
// download. These tell such an answer apart from the file.

// The media type of a Content-Type value: lower case, without parameters ("text/html" for
// "Text/HTML; charset=utf-8"); empty when there is none.
QByteArray mediaTypeOf(const QByteArray &contentType);

// text/html and application/xhtml+xml.
bool isWebPageType(const QByteArray &mediaType);

// A file name that may well hold a web page: no suffix, or one of the suffixes pages are saved or
// served under (html, htm, php, asp, ...). Any other suffix (.zip, .exe, .mp4, ...) says the file
// is something else.
bool isWebPageName(const QString &fileName);

// Whether a Content-Type value names a web page. A server that sends the header twice gets both
// values joined with ", " by Qt; one of them a page makes the answer a page.
bool hasWebPageType(const QByteArray &contentType);

// A web page sent for a file whose name says otherwise.
bool isPageInsteadOfFile(const QByteArray &contentType, const QString &fileName);

// What the first bytes of the file say, whatever the headers claimed: a body that starts (after
// a UTF-8 byte-order mark and white space) with "<!DOCTYPE html", "<html", "<head" or "<body",
// in any letter case, is a web page, and refused unless the file's own name is a page's or the
// user took the page. Undecided while `start` holds only white space or the beginning of such a
// tag and more may come (`whole` is false and fewer than kPageSniffLength bytes are in).
enum class PageSniff { File, Page, Undecided };
constexpr int kPageSniffLength = 1445;
PageSniff sniffPageInsteadOfFile(const QByteArray &start, bool whole, const QString &fileName,
                                 bool pageAccepted);

// The one line that says so, in the current language.
QString pageInsteadOfFileText();

// Why a part's answer cannot be the file's bytes, given the Content-Type the probe got (empty when
// unknown, as after a restart) and the one the part got; empty when it can. Another kind of
// content than the probe's is refused, and so is a web page for a file whose name says otherwise,
// unless the user was told and took the page (`pageAccepted`).
QString partContentProblem(const QByteArray &probeType, const QByteArray &partType,
                           const QString &fileName, bool pageAccepted);
