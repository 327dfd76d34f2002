const api = globalThis.browser ?? globalThis.chrome;

document.documentElement.lang = api.i18n.getUILanguage();
document.documentElement.dir = api.i18n.getMessage("@@bidi_dir") || "ltr";
for (const element of document.querySelectorAll("[data-i18n]")) {
    const text = api.i18n.getMessage(element.dataset.i18n);
    if (text)
        element.textContent = text;
}

const box = document.getElementById("interceptDownloads");
api.storage.local.get({ interceptDownloads: false }).then((stored) => {
    box.checked = stored.interceptDownloads === true;
});
box.addEventListener("change", () => {
    api.storage.local.set({ interceptDownloads: box.checked });
});
