import QtQuick
import QtTest
import "qrc:/qml/components"

Item {
    id: root
    width: 200
    height: 200

    Component {
        id: closeBtnComponent
        OrbCloseBtn {}
    }

    SignalSpy {
        id: closeSpy
        signalName: "closeWindow"
    }

    TestCase {
        name: "OrbCloseBtn"
        when: windowShown

        function init() {
            closeSpy.clear()
        }

        function test_defaults() {
            const btn = createTemporaryObject(closeBtnComponent, root)
            compare(btn.width, 20)
            compare(btn.height, 20)
            compare(btn.color, Qt.color("transparent"))
            const image = findChild(btn, "closeImage")
            tryCompare(image, "status", Image.Ready)
            compare(image.sourceSize.width, 23)
            verify(image.smooth)
            compare(image.width, 20)
        }

        function test_imageSource_data() {
            return [
                { tag: "white cross", source: "../assets/closeIcon3.png", pixels: 15 },
                { tag: "title bar cross", source: "../assets/closeIcon.png", pixels: 20 },
            ]
        }

        function test_imageSource(data) {
            const btn = createTemporaryObject(closeBtnComponent, root, { imageSource: data.source })
            const image = findChild(btn, "closeImage")
                        tryCompare(image, "status", Image.Ready)
            compare(image.sourceSize.width, data.pixels)
        }

        function test_hoverAndClick() {
            const btn = createTemporaryObject(closeBtnComponent, root, { x: 50, y: 50 })
            closeSpy.target = btn
            const image = findChild(btn, "closeImage")
            mouseMove(btn, 10, 10)
            tryCompare(image, "opacity", 0.1)
            mouseMove(root, 150, 150)
            tryCompare(image, "opacity", 1)
            mouseClick(btn, 10, 10)
            compare(closeSpy.count, 1)
        }
    }
}
