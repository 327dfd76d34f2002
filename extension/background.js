// Torvane browser extension: hands links and, when the user wants it, the browser's own downloads
// to the Torvane program through its local listener.

import { baseName, cookieHeader, knownSize, probeLink, sendLink } from "./message.js";

// Firefox offers promise-based APIs under "browser"; Chromium's MV3 "chrome" returns promises too.
const api = globalThis.browser ?? globalThis.chrome;
const MENU_ID = "torvane-download";
const t = (key) => api.i18n.getMessage(key) || key;

// Downloads that this extension started itself as a fallback; they must not be handed back to
// a program that just failed to answer.
const ownDownloads = new Set();

function createMenu() {
    api.contextMenus.removeAll().then(() =>
        api.contextMenus.create({
            id: MENU_ID,
            title: t("menuDownload"),
            contexts: ["link", "video", "audio"],
        }),
    );
}

api.runtime.onInstalled.addListener(createMenu);
api.runtime.onStartup.addListener(createMenu);

api.contextMenus.onClicked.addListener((info) => {
    if (info.menuItemId !== MENU_ID)
        return;
    const link = info.linkUrl || info.srcUrl;
    if (link)
        handOverLink(link, info.frameUrl || info.pageUrl);
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
    if (!api.cookies || !/^https?:/i.test(link))
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

async function handOverLink(link, page) {
    const { name, size } = await probeLink(fetch, link);
    const session = await browserSession(link, page);
    if (await sendLink(fetch, link, name, size, { session }))
        return;
    notifyNotRunning();
    // Blob and data links only exist inside the page; there is nothing the browser could fetch.
    if (!/^(https?|ftp):/i.test(link))
        return;
    ownDownloads.add(link);
    try {
        await api.downloads.download({ url: link });
    } catch {
        ownDownloads.delete(link);
    }
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
    if (!/^https?:/i.test(link) || item.state !== "in_progress" || item.incognito)
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
    if (await sendLink(fetch, link, name, size, { session })) {
        await api.downloads.cancel(item.id).catch(() => {});
        // A small file can be complete before the pause takes hold; the program fetches it anyway,
        // so the browser's copy would only be a duplicate in the user's folder.
        const [now] = await api.downloads.search({ id: item.id });
        if (now && now.state === "complete")
            await api.downloads.removeFile(item.id).catch(() => {});
        await api.downloads.erase({ id: item.id }).catch(() => {});
        return;
    }
    notifyNotRunning();
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

function notifyNotRunning() {
    api.notifications
        .create({
            type: "basic",
            iconUrl: api.runtime.getURL("icons/icon-128.png"),
            title: t("notRunningTitle"),
            message: t("notRunningMessage"),
        })
        .catch(() => {});
}
