#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// When a download that meets an outage asks again, and when it stops asking. Pure rules, so that
// the schedule can be checked without a server.
//
// A transient failure (the server or the network is away for a while: refused, reset or timed-out
// connections, a host name that does not resolve, a cut TLS handshake, HTTP 408, 429, 500, 502,
// 503 and 504, a connection that stays silent) keeps the download alive. It asks again after a
// growing wait, or after the wait the server named with Retry-After, until the outage has lasted
// as long as the user allows (giveUpAfterMs()).

// The longest wait between two tries, and the longest Retry-After that is honoured.
constexpr int kRetryCapMs = 60 * 1000;
constexpr qint64 kRetryAfterCapMs = 10 * 60 * 1000;

// The wait before try `attempt` (0 for the first try again) of an outage: `baseMs` doubling on
// every try up to kRetryCapMs, moved by up to a fifth either way by `jitter` (0 to 1), so that
// the parts of many downloads do not all knock at the same instant.
int backoffDelayMs(int attempt, int baseMs, double jitter);

// The wait a Retry-After header asks for at `now`: delay-seconds or an HTTP date, at most
// kRetryAfterCapMs; 0 for a date that has passed, -1 when the header is absent or unreadable.
qint64 retryAfterMs(const QByteArray &value, const QDateTime &now);

// Whether a request that ended with `networkError` (a QNetworkReply::NetworkError) and the HTTP
// status `httpStatus` (0 without an answer) met an outage worth waiting out.
bool isTransientFailure(int networkError, int httpStatus);

// How long an outage may last before a download ends in error with the last reason; 0 or less
// waits for ever. Program-wide, as the preference sets it; read at every failure, so a change
// holds for downloads that are already waiting. Ten minutes unless set.
qint64 giveUpAfterMs();
void setGiveUpAfterMs(qint64 ms);

// "Waiting for the server — retrying in N s", in the user's language.
QString waitingText(int seconds);
