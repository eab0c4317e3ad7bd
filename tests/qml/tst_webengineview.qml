import QtQuick
import QtTest
import "qrc:/qml/components"

Item {
    id: root
    width: 400
    height: 300

    Component {
        id: viewComponent
        WebEngineView { anchors.fill: parent }
    }

    TestCase {
        name: "WebEngineView"
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
    }
}
