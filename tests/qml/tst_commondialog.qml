import QtQuick
import QtTest
import "qrc:/qml/components"

Item {
    id: root
    width: 800
    height: 600

    property int clicksBehind: 0
    property int loadedCount: 0

    // Stands behind the dialog: it must never see a click while the dialog is shown.
    MouseArea {
        anchors.fill: parent
        onClicked: root.clicksBehind++
    }

    Component {
        id: dialogComponent
        OrbCommonDialog {}
    }

    Component {
        id: countingComponent
        OrbCommonDialog { onDialogLoaded: root.loadedCount++ }
    }

    SignalSpy { id: cancelSpy; signalName: "cancelClicked" }
    SignalSpy { id: confirmSpy; signalName: "confirmClicked" }

    TestCase {
        name: "OrbCommonDialog"
        when: windowShown

        function init() {
            root.clicksBehind = 0
            cancelSpy.clear()
            confirmSpy.clear()
        }

        function makeDialog(props) {
            const dialog = createTemporaryObject(dialogComponent, root, props)
            cancelSpy.target = dialog
            confirmSpy.target = dialog
            return dialog
        }

        function test_defaults() {
            const dialog = makeDialog({})
            verify(!dialog.visible)
            compare(dialog.width, root.width)
            compare(dialog.title, "Tips")
            compare(dialog.cancelButtonText, "Cancel")
            compare(dialog.confirmButtonText, "Confirm")
            verify(!dialog.showLogo)
            verify(dialog.showCloseBtn)
            const panel = findChild(dialog, "panel")
            compare(panel.width, 526)
            compare(panel.height, 384)
            compare(panel.radius, 16)
            compare(panel.x, (root.width - 526) / 2)
            compare(findChild(dialog, "backdrop").opacity, 0.8)
        }

        function test_dialogLoadedOnCreation() {
            root.loadedCount = 0
            createTemporaryObject(countingComponent, root)
            compare(root.loadedCount, 1)
            wait(50)
            compare(root.loadedCount, 1, "emitted once, at creation")
        }

        function test_buttonLayout_data() {
            return [
                { tag: "both", cancel: true, confirm: true, cancelWidth: 196, confirmWidth: 196, cancelPixels: 16, confirmPixels: 16 },
                { tag: "confirm only", cancel: false, confirm: true, cancelWidth: 324, confirmWidth: 324, cancelPixels: 18, confirmPixels: 18 },
                { tag: "cancel only", cancel: true, confirm: false, cancelWidth: 324, confirmWidth: 324, cancelPixels: 18, confirmPixels: 18 },
            ]
        }

        function test_buttonLayout(data) {
            const dialog = makeDialog({ showCancelButton: data.cancel, showConfirmButton: data.confirm, visible: true })
            const cancel = findChild(dialog, "cancelButton")
            const confirm = findChild(dialog, "confirmButton")
            compare(cancel.visible, data.cancel)
            compare(confirm.visible, data.confirm)
            if (data.cancel) {
                compare(cancel.width, data.cancelWidth)
                compare(findChild(dialog, "cancelText").font.pixelSize, data.cancelPixels)
            }
            if (data.confirm) {
                compare(confirm.width, data.confirmWidth)
                compare(findChild(dialog, "confirmText").font.pixelSize, data.confirmPixels)
            }
            compare(confirm.height, 54)
            compare(cancel.radius, 27)
            compare(confirm.color, Qt.color("#846BF0"))
        }

        function test_backdropSwallowsClicks_data() {
            return [
                { tag: "corner", x: 5, y: 5 },
                { tag: "edge", x: 790, y: 300 },
                { tag: "below panel", x: 400, y: 595 },
            ]
        }

        function test_backdropSwallowsClicks(data) {
            const dialog = makeDialog({ visible: true })
            mouseClick(root, data.x, data.y)
            mouseClick(root, data.x, data.y, Qt.RightButton)
            compare(root.clicksBehind, 0)
            verify(dialog.visible)
            dialog.visible = false
            mouseClick(root, data.x, data.y)
            compare(root.clicksBehind, 1, "a hidden dialog lets clicks through")
        }

        function test_buttonsDoNotHide() {
            const dialog = makeDialog({ visible: true })
            mouseClick(findChild(dialog, "cancelButton"))
            mouseClick(findChild(dialog, "confirmButton"))
            compare(cancelSpy.count, 1)
            compare(confirmSpy.count, 1)
            verify(dialog.visible)
        }

        function test_closeHidesBeforeHandler() {
            const dialog = makeDialog({ visible: true })
            let visibleInHandler = null
            dialog.closeHandler = function() { visibleInHandler = dialog.visible }
            mouseClick(findChild(dialog, "closeBtn"))
            compare(visibleInHandler, false)
            verify(!dialog.visible)
        }

        function test_noCloseButton() {
            const dialog = makeDialog({ visible: true, showCloseBtn: false })
            verify(!findChild(dialog, "closeBtn").visible)
        }

        function test_texts_data() {
            return [
                { tag: "title", logo: false, titleShown: true },
                { tag: "logo", logo: true, titleShown: false },
            ]
        }

        function test_texts(data) {
            const dialog = makeDialog({ visible: true, showLogo: data.logo, title: "提示", content: "更新异常，请退出重试" })
            compare(findChild(dialog, "titleText").visible, data.titleShown)
            compare(findChild(dialog, "logoImage").visible, data.logo)
            if (data.logo)
                tryCompare(findChild(dialog, "logoImage"), "status", Image.Ready)
            const text = findChild(dialog, "contentText")
            compare(text.text, "更新异常，请退出重试")
            compare(text.font.pixelSize, 16)
            compare(text.color, Qt.color("#3D3D4A"))
            compare(text.wrapMode, Text.WordWrap)
        }

        function test_hoverColours() {
            const dialog = makeDialog({ visible: true })
            const confirm = findChild(dialog, "confirmButton")
            mouseMove(confirm, 20, 20)
            tryCompare(confirm, "color", Qt.color("#6A4ACD"))
            mousePress(confirm, 20, 20)
            compare(confirm.color, Qt.color("#5A3DBF"))
            mouseRelease(confirm, 20, 20)
            compare(confirm.color, Qt.color("#6A4ACD"))
            mouseMove(root, 2, 2)
            tryCompare(confirm, "color", Qt.color("#846BF0"))
        }

        function test_contentComponent() {
            const extra = Qt.createQmlObject("import QtQuick; Component { Rectangle { objectName: 'extra'; width: 10; height: 10 } }", root)
            const dialog = makeDialog({ visible: true, contentComponent: extra })
            const loader = findChild(dialog, "contentLoader")
            compare(loader.status, Loader.Ready)
            compare(loader.item.objectName, "extra")
        }
    }
}
