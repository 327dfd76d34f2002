// Building and sending the one request the Torvane program understands, kept free of browser
// APIs so that the same code runs in the extension, in a web page and under node's test runner.

export const BRIDGE_HOST = "127.0.0.1";
export const BRIDGE_PORT = 9090;
export const BRIDGE_REPLY = "Success";

// The address that hands a link to the program: every value percent-encoded as UTF-8, so an
// "&", "=", "#" or "+" inside the link or the name cannot end or change a query key. The program
// reads "+" literally, which encodeURIComponent() respects by writing a real plus as "%2B".
// The name and the size are left out when they are not known, and so is each part of the
// browser's session ({ referrer, ua, cookie }: what the browser sends with the link).
export function bridgeUrl(link, name = "", size = 0, { host = BRIDGE_HOST, port = BRIDGE_PORT, session = {} } = {}) {
    let query = "url=" + encodeURIComponent(String(link));
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
