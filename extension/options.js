import { BRIDGE_HOST, BRIDGE_PORT, BRIDGE_REPLY, NATIVE_HOST, sendNative, siteList } from "./message.js";

const api = globalThis.browser ?? globalThis.chrome;

document.documentElement.lang = api.i18n.getUILanguage();
// The direction of the texts shown, whichever language the browser picked for them.
document.documentElement.dir = api.i18n.getMessage("textDirection") || "ltr";
const show = (element, key) => {
    const text = api.i18n.getMessage(key);
    if (text)
        element.textContent = text;
};
for (const element of document.querySelectorAll("[data-i18n]"))
    show(element, element.dataset.i18n);

const box = document.getElementById("interceptDownloads");
const key = document.getElementById("keepModifier");
const sites = document.getElementById("neverHandOver");
api.storage.local.get({ interceptDownloads: false, keepModifier: "alt", neverHandOver: [] }).then((stored) => {
    box.checked = stored.interceptDownloads === true;
    key.value = stored.keepModifier;
    sites.value = stored.neverHandOver.join("\n");
});
box.addEventListener("change", () => {
    api.storage.local.set({ interceptDownloads: box.checked });
});
key.addEventListener("change", () => {
    api.storage.local.set({ keepModifier: key.value });
});
sites.addEventListener("change", () => {
    const list = siteList(sites.value);
    sites.value = list.join("\n");
    api.storage.local.set({ neverHandOver: list });
});

// Which way links reach Torvane now: the host answers a ping without starting anything; the port
// answers a request without a link with its fixed reply.
async function channel() {
    const native = await sendNative((message) => api.runtime.sendNativeMessage(NATIVE_HOST, message),
        { type: "ping" }, { timeoutMs: 3000 });
    if (native === "taken")
        return "channelNative";
    try {
        const reply = await fetch(`http://${BRIDGE_HOST}:${BRIDGE_PORT}/`, { cache: "no-store",
            credentials: "omit", signal: AbortSignal.timeout(3000) });
        if (reply.ok && (await reply.text()) === BRIDGE_REPLY)
            return "channelPort";
    } catch {
        // not there
    }
    return "channelNone";
}
channel().then((found) => show(document.getElementById("channel"), found));
