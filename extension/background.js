// Torvane browser extension: hands links and, when the user wants it, the browser's own downloads
// to the Torvane program: through the browser's native messaging first, then through the
// program's port on this computer, and when neither answers the browser downloads as usual.

import { NATIVE_HOST, baseName, cookieHeader, isKeptSite, isWebLink, knownSize, nativeMessage,
    probeLink, sendLink, sendNative } from "./message.js";

// Firefox offers promise-based APIs under "browser"; Chromium's MV3 "chrome" returns promises too.
const api = globalThis.browser ?? globalThis.chrome;
const MENU_LINK = "torvane-download";
const MENU_SELECTION = "torvane-download-all";
const t = (key) => api.i18n.getMessage(key) || key;

// Downloads that this extension started itself as a fallback; they must not be handed back to
// a program that just failed to answer.
const ownDownloads = new Set();
// Links clicked with the "keep in the browser" key held, and when; the download they start stays
// with the browser.
const keptClicks = new Map();
const KEPT_CLICK_MS = 30000;

function createMenus() {
    api.contextMenus.removeAll().then(() => {
        api.contextMenus.create({ id: MENU_LINK, title: t("menuDownload"), contexts: ["link", "video", "audio"] });
        api.contextMenus.create({ id: MENU_SELECTION, title: t("menuDownloadAll"), contexts: ["selection"] });
    });
}

api.runtime.onInstalled.addListener(createMenus);
api.runtime.onStartup.addListener(createMenus);

api.contextMenus.onClicked.addListener((info, tab) => {
    if (info.menuItemId === MENU_LINK) {
        const link = info.linkUrl || info.srcUrl;
        if (link)
            handOverLink(link, info.frameUrl || info.pageUrl);
    } else if (info.menuItemId === MENU_SELECTION && tab) {
        handOverSelection(tab.id, info.frameId ?? 0, info.frameUrl || info.pageUrl);
    }
});

api.runtime.onMessage.addListener((message, sender) => {
    if (sender.id !== api.runtime.id || !message || message.type !== "keep" || !isWebLink(message.url))
        return;
    const now = Date.now();
    for (const [link, at] of keptClicks) {
        if (now - at > KEPT_CLICK_MS)
            keptClicks.delete(link);
    }
    keptClicks.set(message.url, now);
});

api.downloads.onCreated.addListener((item) => {
    handOverDownload(item);
});

// What the browser itself would send with the link: the page it came from, the browser's
// User-Agent and its cookies for the link, so that the program can fetch links behind a login.
async function browserSession(link, referrer, storeId) {
    return { referrer: /^https?:/i.test(referrer ?? "") ? referrer : "", ua: navigator.userAgent,
        cookie: await cookiesFor(link, storeId) };
}

async function cookiesFor(link, storeId) {
    if (!api.cookies || !isWebLink(link))
        return "";
    const query = storeId ? { url: link, storeId } : { url: link };
    try {
        return cookieHeader(await api.cookies.getAll(query));
    } catch {
        // Firefox with first-party isolation asks which first party; null means any.
        try {
            return cookieHeader(await api.cookies.getAll({ ...query, firstPartyDomain: null }));
        } catch {
            return "";
        }
    }
}

// Native messaging first (no port to block, and the browser vouches for this extension), then the
// port. "taken", "refused" when Torvane runs but cannot take them now, or "absent".
async function deliver(links, name, size, session) {
    const native = await sendNative((message) => api.runtime.sendNativeMessage(NATIVE_HOST, message),
        nativeMessage(links, name, size, session));
    if (native !== "absent")
        return native;
    const sent = await sendLink(fetch, links.length === 1 ? links[0] : links, name, size, { session });
    return sent ? "taken" : "absent";
}

async function handOverLink(link, page) {
    // Blob and data links only exist inside the page; other schemes are not Torvane's.
    if (!isWebLink(link)) {
        if (/^(ftp|file):/i.test(link))
            await downloadInBrowser(link);
        return;
    }
    const { name, size } = await probeLink(fetch, link);
    const session = await browserSession(link, page);
    const outcome = await deliver([link], name, size, session);
    if (outcome === "taken")
        return;
    notifyNotTaken(outcome);
    await downloadInBrowser(link);
}

async function downloadInBrowser(link) {
    ownDownloads.add(link);
    try {
        await api.downloads.download({ url: link });
    } catch {
        ownDownloads.delete(link);
    }
}

// Every web link of the selection, asked of the page's own script in the frame it is in, handed
// over at once.
async function handOverSelection(tabId, frameId, page) {
    let links = [];
    try {
        links = await api.tabs.sendMessage(tabId, { type: "selection-links" }, { frameId });
    } catch {
        links = [];
    }
    links = (Array.isArray(links) ? links : []).filter(isWebLink);
    if (links.length === 0)
        return;
    const session = await browserSession(links[0], page);
    const outcome = await deliver(links, "", 0, session);
    if (outcome !== "taken")
        notifyNotTaken(outcome);
}

// A download stays with the browser when its link was clicked with the key held, or when it comes
// from a site on the "never hand over" list.
async function keptInBrowser(item, link) {
    for (const clicked of [item.url, link]) {
        if (keptClicks.delete(clicked))
            return true;
    }
    const { neverHandOver } = await api.storage.local.get({ neverHandOver: [] });
    return isKeptSite(neverHandOver, link, item.referrer) || isKeptSite(neverHandOver, item.url);
}

async function handOverDownload(item) {
    const link = item.finalUrl || item.url;
    const own = ownDownloads.delete(item.url) || ownDownloads.delete(link);
    if (own || (item.byExtensionId && item.byExtensionId === api.runtime.id))
        return;
    const { interceptDownloads } = await api.storage.local.get({ interceptDownloads: false });
    if (!interceptDownloads)
        return;
    // The program fetches the link itself, so only links it can reach are taken over.
    // Private-window downloads stay private: the program keeps a lasting list of its downloads.
    if (!isWebLink(link) || item.state !== "in_progress" || item.incognito)
        return;
    if (await keptInBrowser(item, link))
        return;
    // Paused, not cancelled: if the program does not answer, the browser's download simply goes on
    // with its cookies, referrer and everything else intact. A download that cannot be paused
    // (already finished) stays with the browser.
    try {
        await api.downloads.pause(item.id);
    } catch {
        return;
    }
    const name = baseName(item.filename) || (await decidedFileName(item.id));
    const size = knownSize(item.totalBytes) || knownSize(item.fileSize);
    const session = await browserSession(link, item.referrer, item.cookieStoreId);
    const outcome = await deliver([link], name, size, session);
    if (outcome === "taken") {
        await api.downloads.cancel(item.id).catch(() => {});
        // A small file can be complete before the pause takes hold; the program fetches it anyway,
        // so the browser's copy would only be a duplicate in the user's folder.
        const [now] = await api.downloads.search({ id: item.id });
        if (now && now.state === "complete")
            await api.downloads.removeFile(item.id).catch(() => {});
        await api.downloads.erase({ id: item.id }).catch(() => {});
        return;
    }
    notifyNotTaken(outcome);
    await api.downloads.resume(item.id).catch(() => {});
}

// Chromium settles a download's file name (from Content-Disposition and the like) only after
// announcing it; wait a moment for it rather than guess one from the link.
async function decidedFileName(id) {
    for (let attempt = 0; attempt < 10; ++attempt) {
        const [item] = await api.downloads.search({ id });
        if (!item)
            return "";
        if (item.filename)
            return baseName(item.filename);
        await new Promise((resolve) => setTimeout(resolve, 100));
    }
    return "";
}

// A running Torvane that refused the link (too many waiting) is not told to be started.
function notifyNotTaken(outcome) {
    const busy = outcome === "refused";
    api.notifications
        .create({
            type: "basic",
            iconUrl: api.runtime.getURL("icons/icon-128.png"),
            title: t(busy ? "busyTitle" : "notRunningTitle"),
            message: t(busy ? "busyMessage" : "notRunningMessage"),
        })
        .catch(() => {});
}
