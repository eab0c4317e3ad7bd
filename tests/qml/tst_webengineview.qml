import QtQuick
import QtTest
import "qrc:/qml/components"

Item {
    id: root
    width: 400
    height: 300

    Component {
        id: viewComponent
        OrbWebView { anchors.fill: parent }
    }

    TestCase {
        name: "OrbWebView"
        when: windowShown

        function init() {
            ContextViewLauncher.clearAnswers()
            ContextViewLauncher.clearCalls()
        }

        // Evaluates a script in the page until it answers true.
        function waitForPage(view, script) {
            let answer = false
            tryVerify(function() {
                view.runJavaScript(script, function(result) { answer = result === true })
                return answer
            }, 20000, script)
        }

        function test_settings() {
            const view = createTemporaryObject(viewComponent, root)
            verify(!view.settings.showScrollBars)
            compare(ContextViewLauncher.callCount("GetWebViewUrl"), 1)
        }

        // A missing or unreachable page shows the built-in page, never a blank or error page.
        function test_fallback_data() {
            return [
                { tag: "empty", address: "" },
                { tag: "blank spaces", address: "   " },
                { tag: "not an address", address: "www" },
                { tag: "refused", address: "http://127.0.0.1:1/" },
            ]
        }

        function test_fallback(data) {
            ContextViewLauncher.setAnswer("GetWebViewUrl", data.address)
            const view = createTemporaryObject(viewComponent, root)
            tryCompare(view, "showingFallback", true, 20000)
            waitForPage(view, "document.querySelector('.orb') !== null")
            compare(ContextViewLauncher.callCount("GetWebViewUrl"), 1)
        }

        function test_reachablePage() {
            const page = "data:text/html;charset=utf-8,<html><body><p id='x'>orb</p></body></html>"
            ContextViewLauncher.setAnswer("GetWebViewUrl", page)
            const view = createTemporaryObject(viewComponent, root)
            waitForPage(view, "document.getElementById('x') !== null")
            compare(view.url.toString().substring(0, 15), "data:text/html;")
            verify(!view.showingFallback)
        }

        function test_newWindowOpensExternally() {
            const page = "data:text/html;charset=utf-8,<html><body>"
                + "<a id='l' target='_blank' href='http://127.0.0.1:9/next'>next</a></body></html>"
            ContextViewLauncher.setAnswer("GetWebViewUrl", page)
            const view = createTemporaryObject(viewComponent, root)
            const opened = []
            view.openExternally = function(address) { opened.push(String(address)) }
            waitForPage(view, "document.getElementById('l') !== null")
            const before = view.url.toString()
            // A click that targets a new window, as a user gesture.
            view.runJavaScript("var r = document.getElementById('l').getBoundingClientRect(); [r.left + 5, r.top + 5]",
                               function(pos) { mouseClick(view, pos[0], pos[1]) })
            tryVerify(function() { return opened.length === 1 }, 20000)
            compare(opened[0], "http://127.0.0.1:9/next")
            compare(view.url.toString(), before)
        }

        // Only a web address the player clicked for goes to the system.
        function test_externalAddress_data() {
            return [
                { tag: "http click", address: "http://127.0.0.1:9/next", click: true, out: "http://127.0.0.1:9/next" },
                { tag: "https click", address: "https://127.0.0.1:9/a?b=1#c", click: true, out: "https://127.0.0.1:9/a?b=1#c" },
                { tag: "upper-case scheme", address: "HTTPS://127.0.0.1/", click: true, out: "HTTPS://127.0.0.1/" },
                { tag: "http by script", address: "http://127.0.0.1:9/next", click: false, out: "" },
                { tag: "unknown origin", address: "http://127.0.0.1:9/next", click: undefined, out: "" },
                { tag: "file", address: "file:///etc/passwd", click: true, out: "" },
                { tag: "mailto", address: "mailto:a@example.invalid", click: true, out: "" },
                { tag: "javascript", address: "javascript:alert(1)", click: true, out: "" },
                { tag: "custom scheme", address: "orbgame://run?x=1", click: true, out: "" },
                { tag: "ftp", address: "ftp://127.0.0.1/", click: true, out: "" },
                { tag: "data", address: "data:text/html,x", click: true, out: "" },
                { tag: "no host", address: "http:///path", click: true, out: "" },
                { tag: "scheme only", address: "https:", click: true, out: "" },
                { tag: "empty", address: "", click: true, out: "" },
                { tag: "no scheme", address: "127.0.0.1/next", click: true, out: "" },
            ]
        }

        function test_externalAddress(data) {
            const view = createTemporaryObject(viewComponent, root)
            compare(view.externalAddress(data.address, data.click), data.out)
        }

        // A page that opens windows by script, with and without a click: only the
        // clicked web link is handed over. The clicked link comes last, so once it
        // is handed over every earlier request has been decided.
        function test_pageCannotOpenByItself() {
            const page = "data:text/html;charset=utf-8,<html><body>"
                + "<button id='c' onclick=\"window.open('orbgame://run')\" style='position:absolute;left:0;top:0;width:80px;height:30px'>c</button>"
                + "<a id='l' target='_blank' href='http://127.0.0.1:9/clicked' style='position:absolute;left:0;top:60px'>next</a>"
                + "<script>window.open('http://127.0.0.1:9/popup'); window.open('orbgame://auto');</script>"
                + "</body></html>"
            ContextViewLauncher.setAnswer("GetWebViewUrl", page)
            const view = createTemporaryObject(viewComponent, root)
            const opened = []
            const handled = []
            view.openExternally = function(address) { opened.push(String(address)) }
            view.newWindowHandled.connect(function(address, handedOver) { handled.push([address, handedOver]) })
            waitForPage(view, "document.getElementById('l') !== null")
            const before = view.url.toString()
            view.runJavaScript("var r = document.getElementById('c').getBoundingClientRect(); [r.left + 5, r.top + 5]",
                               function(pos) { mouseClick(view, pos[0], pos[1]) })
            tryVerify(function() { return handled.some(h => h[0] === "orbgame://run") }, 20000)
            view.runJavaScript("var r = document.getElementById('l').getBoundingClientRect(); [r.left + 5, r.top + 5]",
                               function(pos) { mouseClick(view, pos[0], pos[1]) })
            tryVerify(function() { return opened.length > 0 }, 20000)
            compare(opened, ["http://127.0.0.1:9/clicked"])
            verify(handled.some(h => h[0] === "http://127.0.0.1:9/popup" && !h[1]), JSON.stringify(handled))
            verify(handled.every(h => h[1] === (h[0] === "http://127.0.0.1:9/clicked")), JSON.stringify(handled))
            compare(view.url.toString(), before)
        }
    }
}
