// Torvane's script in every page: notes a link clicked with the "keep in the browser" key held,
// so that the download it starts stays with the browser, and lists the links of a selection for
// "Download all links with Torvane".

(() => {
    const api = globalThis.browser ?? globalThis.chrome;
    const held = { alt: (e) => e.altKey, ctrl: (e) => e.ctrlKey || e.metaKey, shift: (e) => e.shiftKey };
    let keepKey = "alt";
    api.storage.local.get({ keepModifier: "alt" }).then((stored) => { keepKey = stored.keepModifier; }, () => {});
    api.storage.onChanged.addListener((changes, area) => {
        if (area === "local" && changes.keepModifier)
            keepKey = changes.keepModifier.newValue ?? "alt";
    });

    // Firefox does nothing at all on an Alt click of a link (unless its hidden "save on Alt click"
    // is on), where Chromium downloads the link.
    const altClickIgnored = api.runtime.getURL("").startsWith("moz-extension:");

    const noteClick = (event) => {
        const test = held[keepKey];
        const anchor = event.target instanceof Element ? event.target.closest("a[href]") : null;
        if (!test || !test(event) || !anchor || !/^https?:/i.test(anchor.href))
            return;
        const noted = api.runtime.sendMessage({ type: "keep", url: anchor.href }).catch(() => {});
        const plainAlt = !event.ctrlKey && !event.metaKey && !event.shiftKey;
        if (keepKey === "alt" && altClickIgnored && event.type === "click" && event.button === 0 &&
            plainAlt && !event.defaultPrevented) {
            // There the link is followed as a plain click follows it (a click of the link's own,
            // so that the page's Referer goes along, which a change of location from here would
            // not send), once the background knows to keep what it starts.
            event.preventDefault();
            noted.then(() => anchor.click());
        }
    };
    // Before the page's own handlers, and for middle clicks too.
    addEventListener("click", noteClick, true);
    addEventListener("auxclick", noteClick, true);

    const selectionLinks = () => {
        const selection = getSelection();
        const links = [];
        for (let i = 0; selection && i < selection.rangeCount; ++i) {
            const range = selection.getRangeAt(i);
            const root = range.commonAncestorContainer;
            const around = (root instanceof Element ? root : root.parentElement)?.closest("a[href]");
            const inside = root instanceof Element ? [...root.querySelectorAll("a[href]")] : [];
            for (const anchor of around ? [around, ...inside] : inside) {
                if (range.intersectsNode(anchor) && /^https?:/i.test(anchor.href) && !links.includes(anchor.href))
                    links.push(anchor.href);
            }
        }
        return links;
    };
    api.runtime.onMessage.addListener((message, sender, reply) => {
        if (sender.id !== api.runtime.id || !message || message.type !== "selection-links")
            return false;
        reply(selectionLinks());
        return false;
    });
})();
