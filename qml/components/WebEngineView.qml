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
    property var openExternally: function(address) { Qt.openUrlExternally(address) }

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

    onNewWindowRequested: (request) => {
        console.log("New window requested: " + JSON.stringify(request))
        webView.openExternally(request.requestedUrl)
    }
}
