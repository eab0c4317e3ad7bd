import QtQuick
import QtQuick.Window
import QtTest
import "qrc:/qml/components"

Item {
    id: root
    width: 1350
    height: 200

    property int loadedCount: 0
    property int closeCount: 0

    Component {
        id: barComponent
        OrbTopBar {
            width: root.width
            onDialogLoaded: {
                root.loadedCount++
                closeHandler = function() { root.closeCount++ }
            }
        }
    }

    TestCase {
        name: "OrbTopBar"
        when: windowShown

        function init() {
            root.loadedCount = 0
            root.closeCount = 0
            ContextViewLauncher.clearAnswers()
        }

        function test_look() {
            const bar = createTemporaryObject(barComponent, root)
            compare(bar.height, 52)
            compare(bar.color, Qt.color("#1E1E1F"))
            compare(bar.opacity, 0.9)
            const logo = findChild(bar, "logoBox")
            compare(logo.x, 134)
            compare(logo.width, 153)
            const close = findChild(bar, "closeButton")
            const min = findChild(bar, "minButton")
            compare(close.width, 20)
            compare(bar.width - (close.mapToItem(bar, 0, 0).x + close.width), 32)
            compare(close.mapToItem(bar, 0, 0).x - (min.mapToItem(bar, 0, 0).x + 20), 28)
        }

        function test_closeCallsHandler() {
            const bar = createTemporaryObject(barComponent, root)
            compare(root.loadedCount, 1)
            const close = findChild(bar, "closeButton")
            mouseMove(close, 10, 10)
            tryCompare(close, "color", Qt.color("tomato"), 2000)
            mouseClick(close, 10, 10)
            compare(root.closeCount, 1)
            mouseMove(bar, 600, 30)
            tryCompare(close, "color", Qt.color("transparent"), 2000)
        }

        function test_drag_data() {
            return [
                { tag: "grab left", grabX: 20, grabY: 10, cursorX: 500, cursorY: 300 },
                { tag: "grab right", grabX: 900, grabY: 40, cursorX: 1200, cursorY: 70 },
            ]
        }

        // The window follows the global cursor, keeping the grab point under it.
        function test_drag(data) {
            const bar = createTemporaryObject(barComponent, root)
            const win = bar.Window.window
            mousePress(bar, data.grabX, data.grabY)
            ContextViewLauncher.setAnswer("cursonPos", Qt.point(data.cursorX, data.cursorY))
            mouseMove(bar, data.grabX + 5, data.grabY + 5, -1, Qt.LeftButton)
            compare(win.x, data.cursorX - data.grabX)
            compare(win.y, data.cursorY - data.grabY)
            mouseRelease(bar, data.grabX + 5, data.grabY + 5)
            const x = win.x
            ContextViewLauncher.setAnswer("cursonPos", Qt.point(data.cursorX + 300, data.cursorY))
            mouseMove(bar, data.grabX + 50, data.grabY)
            compare(win.x, x, "releasing ends the move")
        }
    }
}
