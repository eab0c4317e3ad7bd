import QtQuick
import QtTest
import "qrc:/qml/components"

Item {
    id: root
    width: 400
    height: 300

    Component {
        id: bubbleComponent
        OrbHoverBubble { content: "一键关闭游戏" }
    }

    TestCase {
        name: "OrbHoverBubble"
        when: windowShown

        function test_look() {
            const bubble = createTemporaryObject(bubbleComponent, root)
            verify(!bubble.visible)
            compare(bubble.opacity, 0.0)
            compare(bubble.height, 50)
            compare(bubble.radius, 15)
            compare(bubble.color, Qt.color("#000000"))
            const text = findChild(bubble, "bubbleText")
            compare(text.font.pixelSize, 14)
            compare(text.text, "一键关闭游戏")
            compare(bubble.width, text.width + 40)
        }

        function test_fade() {
            const bubble = createTemporaryObject(bubbleComponent, root)
            bubble.visible = true
            tryCompare(bubble, "opacity", 0.8, 2000)
            bubble.visible = false
            tryCompare(bubble, "opacity", 0.0, 2000)
            // A quick show after a hide starts from where the fade stands and still ends at 0.8.
            bubble.visible = true
            wait(50)
            bubble.visible = false
            bubble.visible = true
            tryCompare(bubble, "opacity", 0.8, 2000)
        }
    }
}
