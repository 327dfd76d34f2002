import assert from "node:assert/strict";
import { describe, it } from "node:test";

import {
    baseName,
    bridgeUrl,
    fileInfoFromHeaders,
    fileNameFromDisposition,
    probeLink,
    sendLink,
} from "../message.js";

// The program splits the query on "&" and "=", then percent-decodes each value as UTF-8 and keeps
// "+" as it is. Reading it back the same way shows what the program will get.
function asTheProgramReadsIt(address) {
    const query = address.slice(address.indexOf("?") + 1);
    assert.ok(!query.includes("#"), "a raw # would cut the query short");
    const values = {};
    for (const pair of query.split("&")) {
        const at = pair.indexOf("=");
        const key = pair.slice(0, at);
        if (!(key in values))
            values[key] = decodeURIComponent(pair.slice(at + 1));
    }
    return values;
}

describe("bridge address", () => {
    it("goes to the program's port on the loopback address", () => {
        assert.equal(bridgeUrl("http://h/f.zip", "f.zip", 1024),
            "http://127.0.0.1:9090/?url=http%3A%2F%2Fh%2Ff.zip&name=f.zip&size=1024");
        assert.ok(bridgeUrl("x", "", 0, { port: 4711 }).startsWith("http://127.0.0.1:4711/?"));
    });

    it("keeps delimiters inside values from splitting or cutting the query", () => {
        const link = "https://example.com/get?id=1&key=a=b+c#part 2%41";
        const name = "a&b=c+d#e %.zip";
        const address = bridgeUrl(link, name, 7);
        assert.equal(address.split("&").length, 3, "only the three keys split the query");
        assert.deepEqual(asTheProgramReadsIt(address), { url: link, name, size: "7" });
        assert.match(address, /%2B/);
        assert.ok(!address.includes("+"), "a plus sign must go as %2B, the program keeps + literally");
    });

    it("sends Arabic and other non-Latin names as UTF-8", () => {
        const name = "ملف التقرير ١.pdf";
        const address = bridgeUrl("https://مثال.example/ملف.pdf", name);
        assert.match(address, /name=%D9%85%D9%84%D9%81%20/);
        assert.ok(/^[\x21-\x7e]+$/.test(address), "only printable ASCII goes on the wire");
        assert.deepEqual(asTheProgramReadsIt(address), { url: "https://مثال.example/ملف.pdf", name });
    });

    it("leaves out a name or size that is not known", () => {
        for (const size of [0, -5, NaN, 1.5, "12ab", "", null, undefined, Infinity])
            assert.equal(bridgeUrl("u", "", size), "http://127.0.0.1:9090/?url=u", String(size));
        assert.equal(bridgeUrl("u", "", "8589934592"), "http://127.0.0.1:9090/?url=u&size=8589934592");
    });
});

describe("file name and size", () => {
    it("takes the file part of a browser's download path", () => {
        assert.equal(baseName("C:\\Users\\me\\Downloads\\r.pdf"), "r.pdf");
        assert.equal(baseName("/home/me/Downloads/r.pdf"), "r.pdf");
        assert.equal(baseName(""), "");
    });

    it("reads Content-Disposition, preferring the UTF-8 form", () => {
        assert.equal(fileNameFromDisposition('attachment; filename="a \\"b\\".zip"'), 'a "b".zip');
        assert.equal(fileNameFromDisposition("attachment; filename=plain.txt; size=3"), "plain.txt");
        assert.equal(fileNameFromDisposition(
            "attachment; filename=\"fallback.pdf\"; filename*=UTF-8''%D9%85%D9%84%D9%81.pdf"), "ملف.pdf");
        assert.equal(fileNameFromDisposition("attachment; filename*=UTF-8''%E0%A4%A.bin"), "%E0%A4%A.bin");
        assert.equal(fileNameFromDisposition("inline"), "");
        assert.equal(fileNameFromDisposition(null), "");
    });

    it("takes the size from Content-Range before Content-Length", () => {
        const headers = (h) => ({ get: (k) => h[k] ?? null });
        assert.deepEqual(fileInfoFromHeaders(headers({ "content-length": "2048" })), { name: "", size: 2048 });
        assert.deepEqual(fileInfoFromHeaders(headers({ "content-length": "1", "content-range": "bytes 0-0/99",
            "content-disposition": "attachment; filename=r.iso" })), { name: "r.iso", size: 99 });
        assert.equal(fileInfoFromHeaders(headers({ "content-range": "bytes 0-0/*" })).size, 0);
    });

    it("probes with HEAD and reports only what the server announced", async () => {
        const seen = [];
        const ok = async (url, init) => {
            seen.push(init.method);
            return { ok: true, headers: { get: (k) => ({ "content-length": "5",
                "content-disposition": "attachment; filename=\"real name.bin\"" })[k] ?? null } };
        };
        assert.deepEqual(await probeLink(ok, "http://h/get.php?id=1"), { name: "real name.bin", size: 5 });
        assert.deepEqual(seen, ["HEAD"]);
        const fails = async () => { throw new TypeError("blocked"); };
        assert.deepEqual(await probeLink(fails, "http://h/g.bin"), { name: "", size: 0 });
        const notFound = async () => ({ ok: false, headers: { get: () => "77" } });
        assert.deepEqual(await probeLink(notFound, "http://h/g.bin"), { name: "", size: 0 });
        const never = () => assert.fail("blob links are not fetched");
        assert.deepEqual(await probeLink(never, "blob:http://h/1"), { name: "", size: 0 });
    });
});

describe("sending", () => {
    const answering = (status, body, log = []) => async (url, init) => {
        log.push({ url, init });
        return { ok: status >= 200 && status < 300, text: async () => body };
    };

    it("counts only the program's own reply as success", async () => {
        const log = [];
        assert.equal(await sendLink(answering(200, "Success", log), "http://h/a&b", "n", 3), true);
        assert.equal(log[0].url, "http://127.0.0.1:9090/?url=http%3A%2F%2Fh%2Fa%26b&name=n&size=3");
        assert.equal(await sendLink(answering(200, "<html>other server</html>"), "u"), false);
        assert.equal(await sendLink(answering(500, "Success"), "u"), false);
        assert.equal(await sendLink(async () => { throw new TypeError("refused"); }, "u"), false);
    });

    it("gives up on a program that never answers", async () => {
        const hanging = (url, init) => new Promise((_, reject) => {
            init.signal.addEventListener("abort", () => reject(new DOMException("aborted", "AbortError")));
        });
        const started = Date.now();
        assert.equal(await sendLink(hanging, "u", "", 0, { timeoutMs: 50 }), false);
        assert.ok(Date.now() - started < 2000);
    });
});
