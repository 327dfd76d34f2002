import assert from "node:assert/strict";
import { describe, it } from "node:test";

import { baseName, bridgeUrl, cookieHeader, fileInfoFromHeaders, fileNameFromDisposition, isKeptSite,
    nativeMessage, probeLink, sendLink, sendNative, siteList } from "../message.js";

// The program splits the query on "&" and "=", then percent-decodes each value as UTF-8 and keeps
// "+" as it is. Reading it back the same way shows what the program will get.
function asTheProgramReadsIt(address) {
    const query = address.slice(address.indexOf("?") + 1);
    assert.ok(!query.includes("#") && !query.includes("+"), "a raw # cuts the query, a raw + is kept");
    return Object.fromEntries(query.split("&").map((pair) => {
        const at = pair.indexOf("=");
        return [pair.slice(0, at), decodeURIComponent(pair.slice(at + 1))];
    }));
}

describe("bridge address", () => {
    it("carries &, =, #, + and Arabic names intact to the program's port", () => {
        const link = "https://مثال.example/get?id=1&key=a=b+c#part 2%41";
        const name = "ملف a&b=c+d#e %.zip";
        const address = bridgeUrl(link, name, 7);
        assert.ok(address.startsWith("http://127.0.0.1:9090/?url="));
        assert.ok(/^[\x21-\x7e]+$/.test(address), "only printable ASCII goes on the wire");
        assert.deepEqual(asTheProgramReadsIt(address), { url: link, name, size: "7" });
    });

    it("carries the browser's session, and nothing of it that is not known", () => {
        const session = { referrer: "https://h/page?a=1&b=2#top", ua: "Mozilla/5.0 (X11) Chrome/120",
            cookie: "sid=a+b=c; theme=dark" };
        const address = bridgeUrl("https://h/f.zip", "f.zip", 0, { session });
        assert.deepEqual(asTheProgramReadsIt(address), { url: "https://h/f.zip", name: "f.zip", ...session });
        assert.equal(bridgeUrl("u", "", 0, { session: { referrer: "", ua: "", cookie: "" } }),
            "http://127.0.0.1:9090/?url=u");
    });

    it("writes cookies as the browser's Cookie header, longer paths first", () => {
        assert.equal(cookieHeader([{ name: "a", value: "1", path: "/" }, { name: "b", value: "x=y", path: "/dl/" },
            { name: "", value: "bare", path: "/" }]), "b=x=y; a=1; bare");
        assert.equal(cookieHeader(undefined), "");
    });

    it("carries several links as urls, one per line, the first also as url", () => {
        const links = ["https://h/a?x=1&y=2", "http://h/b c"];
        assert.deepEqual(asTheProgramReadsIt(bridgeUrl(links)), { url: links[0], urls: links.join("\n") });
        assert.deepEqual(nativeMessage("https://h/a", "a.zip", "12", { cookie: "s=1", ua: "" }),
            { urls: ["https://h/a"], name: "a.zip", size: 12, cookie: "s=1" });
    });

    it("leaves out a name or size that is not known", () => {
        for (const size of [0, -5, NaN, 1.5, "12ab", null])
            assert.equal(bridgeUrl("u", "", size), "http://127.0.0.1:9090/?url=u", String(size));
        assert.equal(bridgeUrl("u", "", "8589934592"), "http://127.0.0.1:9090/?url=u&size=8589934592");
    });
});

describe("file name and size", () => {
    it("reads the name a browser or server announces", () => {
        assert.equal(baseName("C:\\Users\\me\\Downloads\\r.pdf"), "r.pdf");
        assert.equal(fileNameFromDisposition('attachment; filename="a \\"b\\".zip"'), 'a "b".zip');
        assert.equal(fileNameFromDisposition(
            "attachment; filename=\"fallback.pdf\"; filename*=UTF-8''%D9%85%D9%84%D9%81.pdf"), "ملف.pdf");
        assert.equal(fileNameFromDisposition("inline"), "");
    });

    it("probes with HEAD, the size from Content-Range before Content-Length", async () => {
        const seen = [];
        const server = (headers) => async (url, init) => {
            seen.push(init.method);
            return { ok: true, headers: { get: (k) => headers[k] ?? null } };
        };
        assert.deepEqual(await probeLink(server({ "content-length": "1", "content-range": "bytes 0-0/99",
            "content-disposition": "attachment; filename=r.iso" }), "http://h/g.php"), { name: "r.iso", size: 99 });
        assert.deepEqual(seen, ["HEAD"]);
        assert.equal(fileInfoFromHeaders({ get: (k) => ({ "content-length": "2048" })[k] ?? null }).size, 2048);
        const fails = async () => { throw new TypeError("blocked"); };
        assert.deepEqual(await probeLink(fails, "http://h/g.bin"), { name: "", size: 0 });
    });
});

describe("sites that keep their downloads", () => {
    it("reads the list as typed and matches the link's or the page's site and subdomains", () => {
        const sites = siteList(" https://Bank.example/login\n*.intra.example:8080, bank.example\n\n");
        assert.deepEqual(sites, ["bank.example", "intra.example"]);
        const rows = [
            ["https://dl.bank.example/a.pdf", "", true],
            ["https://cdn.other/a.pdf", "https://www.bank.example/statements", true],
            ["https://intra.example./x", "", true],
            ["https://notbank.example/a.pdf", "https://evilbank.example/", false],
            ["blob:https://bank.example/1", "not a link", false],
        ];
        for (const [link, page, kept] of rows)
            assert.equal(isKeptSite(sites, link, page), kept, link);
    });
});

describe("sending", () => {
    it("asks the native host first and tells taken, refused and absent apart", async () => {
        const rows = [
            [async () => ({ ok: true }), "taken"],
            [async () => ({ ok: false, error: "busy" }), "refused"],
            [async () => ({ ok: false, error: "not-running" }), "absent"],
            [async () => { throw new Error("Specified native messaging host not found."); }, "absent"],
            [() => new Promise(() => {}), "absent"],
        ];
        for (const [host, outcome] of rows)
            assert.equal(await sendNative(host, {}, { timeoutMs: 50 }), outcome);
    });

    const answering = (status, body) => async () => ({ ok: status === 200, text: async () => body });

    it("counts only the program's own reply as success", async () => {
        assert.equal(await sendLink(answering(200, "Success"), "u"), true);
        assert.equal(await sendLink(answering(200, "<html>other server</html>"), "u"), false);
        assert.equal(await sendLink(answering(500, "Success"), "u"), false);
        assert.equal(await sendLink(async () => { throw new TypeError("refused"); }, "u"), false);
    });

    it("gives up on a program that never answers", async () => {
        const hanging = (url, init) => new Promise((_, reject) => {
            init.signal.addEventListener("abort", () => reject(new DOMException("aborted", "AbortError")));
        });
        assert.equal(await sendLink(hanging, "u", "", 0, { timeoutMs: 50 }), false);
    });
});
