// The bridge's request reader on any bytes: it never reads past the header block, never yields a
// negative size, and turns away only requests that carry a browser's page headers.
#include "app/bridgerequest.h"
#include "engine/bytecount.h"
#include "fuzzcheck.h"

void fuzzOneInput(const QByteArray &bytes)
{
    const BridgeRequest r = parseBridgeRequest(bytes);
    const int end = bytes.indexOf("\r\n\r\n");
    FUZZ_CHECK((r.state == BridgeRequest::Incomplete) == (end < 0));
    FUZZ_CHECK(r.state == BridgeRequest::Incomplete || r.headerLength == end + 4);
    FUZZ_CHECK(isByteCount(r.size));
    if (r.state != BridgeRequest::Get)
        FUZZ_CHECK(r.url.isEmpty() && r.name.isEmpty() && r.size == 0);
    if (r.state == BridgeRequest::FromWebPage) {
        const QByteArray head = bytes.left(end).toLower();
        FUZZ_CHECK(head.contains("origin") || head.contains("sec-fetch-site"));
    }
}
