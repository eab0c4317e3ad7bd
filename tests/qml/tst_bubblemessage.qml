import QtQuick
import QtTest
import "qrc:/qml/components"

Item {
    id: root
    width: 800
    height: 600

    Component {
        id: bubbleComponent
        OrbBubbleMessage { y: -height; message: "开始下载" }
    }

    SignalSpy { id: shownSpy; signalName: "shown" }
    SignalSpy { id: hiddenSpy; signalName: "hidden" }

    TestCase {
        name: "OrbBubbleMessage"
        when: windowShown

        function makeBubble() {
            const bubble = createTemporaryObject(bubbleComponent, root)
            shownSpy.target = bubble
            hiddenSpy.target = bubble
            shownSpy.clear()
            hiddenSpy.clear()
            return bubble
        }

        function test_look() {
            const bubble = makeBubble()
            verify(!bubble.visible)
            const background = findChild(bubble, "background")
            compare(background.height, 68)
            compare(background.radius, 51)
            compare(bubble.height, 68)
            compare(bubble.width, background.width)
            // Logo 125 wide plus the text plus 40.
            compare(background.width, 125 + findChild(bubble, "messageText").width + 40)
            compare(background.color, Qt.color("#FFFFFF"))
            compare(findChild(bubble, "messageText").color, Qt.color("#000000"))
        }

        function test_slideInAndOut() {
            const bubble = makeBubble()
            bubble.showBubble()
            verify(bubble.visible)
            compare(shownSpy.count, 1)
            tryCompare(bubble, "y", 80, 3000)
            hiddenSpy.wait(5000)
            tryCompare(bubble, "y", -bubble.height, 3000)
            verify(bubble.visible, "parked above the window, still visible")
        }

        // A second call slides in again but keeps the first expiry.
        function test_secondCallKeepsFirstExpiry() {
            const bubble = makeBubble()
            bubble.showBubble()
            const first = Date.now()
            wait(1000)
            bubble.message = "暂停下载"
            bubble.showBubble()
            const second = Date.now()
            compare(shownSpy.count, 2)
            compare(bubble.y, -bubble.height, "restarts from above the window")
            hiddenSpy.wait(5000)
            const hiddenAt = Date.now()
            verify(hiddenAt - first >= 1990, "not before the first expiry")
            verify(hiddenAt - second < 2000, "before a restarted timer would have fired")
            compare(hiddenSpy.count, 1)
            verify(!bubble.hideTimerRunning)
        }

        function test_hideBubbleStopsTimer() {
            const bubble = makeBubble()
            bubble.showBubble()
            verify(bubble.hideTimerRunning)
            bubble.hideBubble()
            verify(!bubble.hideTimerRunning)
            compare(hiddenSpy.count, 1)
            tryCompare(bubble, "y", -bubble.height, 3000)
        }
    }
}
