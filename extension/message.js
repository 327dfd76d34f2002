// Building and sending the one request the Torvane program understands, kept free of browser
// APIs so that the same code runs in the extension, in a web page and under node's test runner.

export const BRIDGE_HOST = "127.0.0.1";
export const BRIDGE_PORT = 9090;
export const BRIDGE_REPLY = "Success";
// The native messaging host that the Torvane package registers with the browsers.
export const NATIVE_HOST = "io.github.torvane.host";

// Only these links are handed over; Torvane refuses every other scheme.
export const isWebLink = (link) => /^https?:\/\/[^/?#]/i.test(String(link ?? ""));

// The address that hands a link to the program: every value percent-encoded as UTF-8, so an
// "&", "=", "#" or "+" inside the link or the name cannot end or change a query key. The program
// reads "+" literally, which encodeURIComponent() respects by writing a real plus as "%2B".
// The name and the size are left out when they are not known, and so is each part of the
// browser's session ({ referrer, ua, cookie }: what the browser sends with the link).
// Several links (an array) go as "urls", one per line, with the first also as "url".
export function bridgeUrl(link, name = "", size = 0, { host = BRIDGE_HOST, port = BRIDGE_PORT, session = {} } = {}) {
    const links = Array.isArray(link) ? link.map(String) : [String(link)];
    let query = "url=" + encodeURIComponent(links[0] ?? "");
    if (links.length > 1)
        query += "&urls=" + encodeURIComponent(links.join("\n"));
    if (name)
        query += "&name=" + encodeURIComponent(String(name));
    const bytes = knownSize(size);
    if (bytes > 0)
        query += "&size=" + String(bytes);
    for (const key of ["referrer", "ua", "cookie"]) {
        if (session[key])
            query += `&${key}=` + encodeURIComponent(String(session[key]));
    }
    return `http://${host}:${port}/?${query}`;
}

// The Cookie header a browser sends with its cookies for one link (as cookies.getAll() lists
// them): "name=value" pairs joined by "; ", those with longer paths first.
export function cookieHeader(cookies) {
    return [...(cookies ?? [])]
        .filter((c) => c && typeof c.name === "string")
        .sort((a, b) => String(b.path ?? "").length - String(a.path ?? "").length)
        .map((c) => (c.name ? `${c.name}=${c.value ?? ""}` : String(c.value ?? "")))
        .join("; ");
}

// A whole positive number of bytes, or 0 when the size is not known.
export function knownSize(value) {
    if (typeof value === "string" && !/^\s*\d+\s*$/.test(value))
        return 0;
    const n = Number(value);
    return Number.isSafeInteger(n) && n > 0 ? n : 0;
}

// The file part of a local path as a browser reports it, with either kind of separator.
export function baseName(path) {
    const s = String(path ?? "");
    return s.slice(Math.max(s.lastIndexOf("/"), s.lastIndexOf("\\")) + 1);
}

// The file name a Content-Disposition value announces: filename* (RFC 5987, UTF-8) wins over
// filename; "" when there is none.
export function fileNameFromDisposition(value) {
    if (!value)
        return "";
    const star = /filename\*\s*=\s*([^']*)'[^']*'([^;]+)/i.exec(value);
    if (star) {
        const charset = star[1].trim().toLowerCase();
        const raw = star[2].trim().replace(/^"(.*)"$/, "$1");
        if (charset === "utf-8" || charset === "")
            return decodeLoosely(raw);
    }
    const plain = /(?:^|;)\s*filename\s*=\s*("((?:[^"\\]|\\.)*)"|[^;]+)/i.exec(value);
    if (!plain)
        return "";
    return plain[2] !== undefined ? plain[2].replace(/\\(.)/g, "$1") : plain[1].trim();
}

// Name and size that a server announces in the headers of a HEAD (or ranged GET) answer;
// headers.get() as in the Fetch API. Only an announced name counts: a name guessed from the link
// would stop the program from asking the server itself, and it asks without the page's limits.
export function fileInfoFromHeaders(headers) {
    const name = fileNameFromDisposition(headers.get("content-disposition"));
    const range = /\/\s*(\d+)\s*$/.exec(headers.get("content-range") ?? "");
    const size = range ? knownSize(range[1]) : knownSize(headers.get("content-length") ?? "");
    return { name, size };
}

// Asks the server for the link's name and size without downloading it. Anything that goes wrong
// only means that less is known, and the program works the rest out on its own.
export async function probeLink(fetchFn, link, { timeoutMs = 4000 } = {}) {
    const unknown = { name: "", size: 0 };
    if (!/^https?:/i.test(link))
        return unknown;
    const abort = new AbortController();
    const timer = setTimeout(() => abort.abort(), timeoutMs);
    try {
        const reply = await fetchFn(link, { method: "HEAD", credentials: "include", signal: abort.signal });
        return reply.ok ? fileInfoFromHeaders(reply.headers) : unknown;
    } catch {
        return unknown;
    } finally {
        clearTimeout(timer);
    }
}

// The message for the native messaging host: the same fields as the port's query, the links
// always as "urls".
export function nativeMessage(links, name = "", size = 0, session = {}) {
    const message = { urls: (Array.isArray(links) ? links : [links]).map(String) };
    if (name)
        message.name = String(name);
    const bytes = knownSize(size);
    if (bytes > 0)
        message.size = bytes;
    for (const key of ["referrer", "ua", "cookie"]) {
        if (session[key])
            message[key] = String(session[key]);
    }
    return message;
}

// Hands links to Torvane through the browser's native messaging (sendNative: the browser's
// runtime.sendNativeMessage bound to NATIVE_HOST). "taken", "refused" when Torvane runs but cannot
// take them now, or "absent" when the host is not installed, fails or does not answer in time.
export async function sendNative(sendNative, message, { timeoutMs = 25000 } = {}) {
    let timer;
    const late = new Promise((resolve) => { timer = setTimeout(() => resolve(null), timeoutMs); });
    try {
        const reply = await Promise.race([sendNative(message), late]);
        if (reply && reply.ok === true)
            return "taken";
        return reply && (reply.error === "busy" || reply.error === "not-web-link") ? "refused" : "absent";
    } catch {
        return "absent";
    } finally {
        clearTimeout(timer);
    }
}

// The host names of a "never hand over" list as the user typed it, one site per line: a whole
// address or "*." in front count as the site's name.
export function siteList(text) {
    const hosts = [];
    for (const line of String(text ?? "").split(/[\s,]+/)) {
        let host = line.trim().toLowerCase().replace(/^[a-z][a-z0-9+.-]*:\/\//, "").replace(/^\*\./, "");
        host = host.replace(/[/?#].*$/, "").replace(/:\d+$/, "").replace(/\.$/, "");
        if (host && !hosts.includes(host))
            hosts.push(host);
    }
    return hosts;
}

// True when the link, or the page it came from, is on one of the sites (or below one of them).
export function isKeptSite(sites, link, page = "") {
    const hostOf = (address) => {
        try {
            return new URL(address).hostname.toLowerCase().replace(/\.$/, "");
        } catch {
            return "";
        }
    };
    const hosts = [hostOf(link), hostOf(page)].filter(Boolean);
    return (sites ?? []).some((site) => hosts.some((h) => h === site || h.endsWith("." + site)));
}

// Hands a link to the running program. True only when the program answered with its fixed
// reply: a refused connection, a timeout or some other server on the port all count as "not
// running", so that the caller lets the browser download instead.
export async function sendLink(fetchFn, link, name = "", size = 0,
    { timeoutMs = 3000, port = BRIDGE_PORT, session = {} } = {}) {
    const abort = new AbortController();
    const timer = setTimeout(() => abort.abort(), timeoutMs);
    try {
        const reply = await fetchFn(bridgeUrl(link, name, size, { port, session }), {
            cache: "no-store",
            credentials: "omit",
            signal: abort.signal,
        });
        return reply.ok && (await reply.text()) === BRIDGE_REPLY;
    } catch {
        return false;
    } finally {
        clearTimeout(timer);
    }
}

function decodeLoosely(text) {
    try {
        return decodeURIComponent(text);
    } catch {
        return text;
    }
}
