import QtQuick
import QtWebEngine as Web

Web.WebEngineView {
    id: webView

    // Shown instead of a blank or error page when the address is missing or cannot be loaded.
    readonly property string fallbackHtml: "<!DOCTYPE html><html><head><meta charset=\"utf-8\">"
        + "<style>html,body{margin:0;height:100%;background:#1b1d23;overflow:hidden}"
        + "body{display:flex;align-items:center;justify-content:center;"
        + "background:radial-gradient(circle at 50% 40%,#3a2f7a 0%,#1b1d23 60%)}"
        + ".orb{width:160px;height:160px;border-radius:50%;"
        + "background:radial-gradient(circle at 35% 35%,#c9bcff,#846bf0 45%,#3a2a9a);"
        + "box-shadow:0 0 80px #6d5bf5}</style></head>"
        + "<body><div class=\"orb\"></div></body></html>"
    property bool showingFallback: false
    // Replaceable so tests can record instead of starting a browser.
    property var openExternally: function(address) { Qt.openUrlExternally(address) }

    // Every new-window request, with whether its address went to the system.
    signal newWindowHandled(string address, bool handedOver)

    settings.showScrollBars: false
    settings.errorPageEnabled: false

    function usableAddress(address) {
        const text = String(address === undefined || address === null ? "" : address).trim()
        return /^[A-Za-z][A-Za-z0-9+.-]*:\S/.test(text) ? text : ""
    }

    function showFallback() {
        webView.showingFallback = true
        webView.loadHtml(webView.fallbackHtml, "about:blank")
    }

    Component.onCompleted: {
        const address = usableAddress(ContextViewLauncher.GetWebViewUrl())
        if (address === "")
            showFallback()
        else
            webView.url = address
    }

    onLoadingChanged: (loadRequest) => {
        // An aborted navigation (a newer one replaced it) is not a failure.
        if (loadRequest.status === Web.WebEngineView.LoadFailedStatus
                && loadRequest.errorCode !== -3 && !webView.showingFallback)
            showFallback()
    }

    onContextMenuRequested: (request) => request.accepted = true

    // The page may not make the system open anything by itself: only a window
    // the player asked for with a click, and only for a web address. Returns the
    // address to hand over, or "" when the request is refused.
    function externalAddress(address, userInitiated) {
        const text = String(address === undefined || address === null ? "" : address).trim()
        const scheme = /^([A-Za-z][A-Za-z0-9+.-]*):/.exec(text)
        if (!scheme) {
            console.warn("New window refused, no address:", text)
            return ""
        }
        const name = scheme[1].toLowerCase()
        if (name !== "http" && name !== "https") {
            console.warn("New window refused, scheme not allowed:", name)
            return ""
        }
        if (!/^[A-Za-z]+:\/\/[^\/\s?#@]+/.test(text)) {
            console.warn("New window refused, no host:", text)
            return ""
        }
        if (userInitiated !== true) {
            console.warn("New window refused, not opened by a click:", text)
            return ""
        }
        return text
    }

    onNewWindowRequested: (request) => {
        console.log("New window requested: " + JSON.stringify(request))
        const address = webView.externalAddress(request.requestedUrl, request.userInitiated)
        if (address !== "")
            webView.openExternally(address)
        webView.newWindowHandled(String(request.requestedUrl), address !== "")
    }
}
