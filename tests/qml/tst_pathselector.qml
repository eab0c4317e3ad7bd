import QtQuick
import QtTest
import "qrc:/qml/components"

Item {
    id: root
    width: 1350
    height: 760

    property int clicksBehind: 0

    MouseArea {
        anchors.fill: parent
        onClicked: root.clicksBehind++
    }

    Component {
        id: selectorComponent
        OrbPathSelector { contentText: "开始下载" }
    }

    SignalSpy { id: confirmSpy; signalName: "confirmClicked" }

    TestCase {
        name: "OrbPathSelector"
        when: windowShown

        function init() {
            ContextViewLauncher.clearAnswers()
            ContextViewLauncher.clearCalls()
            root.clicksBehind = 0
            confirmSpy.clear()
        }

        function makeSelector(installPath) {
            ContextViewLauncher.setAnswer("GetInstallPath", installPath)
            const selector = createTemporaryObject(selectorComponent, root)
            confirmSpy.target = selector
            return selector
        }

        // The folder shows as a local path on every platform.
        function test_displayFolder_data() {
            return [
                { tag: "windows drive", path: "C:/Games", shown: "C:/Games" },
                { tag: "windows backslashes", path: "D:\\Games\\Orb", shown: "D:/Games/Orb" },
                { tag: "windows spaces", path: "C:/My Games", shown: "C:/My Games" },
                { tag: "linux home", path: "/home/me/Games", shown: "/home/me/Games" },
                { tag: "linux root", path: "/", shown: "/" },
                { tag: "linux unicode", path: "/home/me/测试", shown: "/home/me/测试" },
                { tag: "empty", path: "", shown: "" },
            ]
        }

        function test_displayFolder(data) {
            const selector = makeSelector(data.path)
            compare(selector.displayFolder, data.shown)
            compare(selector.inputContext, data.shown)
            compare(findChild(selector, "inputField").text, data.shown)
        }

        // "更改" opens the folder dialog in the folder shown, on every open.
        function test_folderDialogStartsInShownFolder() {
            const selector = makeSelector("/tmp")
            const dialog = findChild(selector, "folderDialog")
            selector.openFolderDialog()
            compare(String(dialog.currentFolder), "file:///tmp")
            dialog.close()
            selector.folder = "file:///"
            selector.openFolderDialog()
            compare(String(dialog.currentFolder), "file:///")
            dialog.close()
        }

        function test_pickedFolder_data() {
            return [
                { tag: "windows url", url: "file:///C:/Games", shown: "C:/Games" },
                { tag: "windows encoded space", url: "file:///C:/My%20Games", shown: "C:/My Games" },
                { tag: "linux url", url: "file:///home/me/Games", shown: "/home/me/Games" },
                { tag: "linux encoded", url: "file:///home/me/%E6%B5%8B%E8%AF%95", shown: "/home/me/测试" },
            ]
        }

        function test_pickedFolder(data) {
            const selector = makeSelector("")
            ContextViewLauncher.clearCalls()
            selector.folder = data.url
            compare(selector.inputContext, data.shown)
            compare(ContextViewLauncher.callArgs("IsValidPath").pop()[0], data.shown)
            compare(ContextViewLauncher.callArgs("GetPathCapacity").pop()[0], data.shown)
        }

        function test_textCheck_data() {
            return [
                { tag: "chinese folder", path: "C:/Games/测试", ok: false },
                { tag: "whitespace", path: "C:/My Games", ok: true },
                { tag: "allowed marks", path: "E:/a_b-c.d/e\\f", ok: true },
                { tag: "any drive letter", path: "Z:/Games", ok: true },
                { tag: "ampersand", path: "C:/Games&Co", ok: false },
                { tag: "linux plain", path: "/home/me/Games", ok: true },
                { tag: "linux unicode", path: "/home/me/测试", ok: false },
                { tag: "linux unicode first", path: "/测/Games", ok: false },
                { tag: "linux dotted", path: "/opt/orb-live_1.0", ok: true },
            ]
        }

        function test_textCheck(data) {
            const selector = makeSelector(data.path)
            compare(selector.textCheck, data.ok)
            compare(findChild(selector, "textError").visible, !data.ok)
            compare(findChild(selector, "textError").text, "请确保路径只包含英文、数字或字符/ . - _")
        }

        // Free space must be strictly more than the package size.
        function test_sizeCheck_data() {
            return [
                { tag: "equal", free: 40.0, size: 40, ok: false },
                { tag: "a little more", free: 40.1, size: 40, ok: true },
                { tag: "less", free: 12.5, size: 31, ok: false },
                { tag: "unknown size", free: 0.5, size: 0, ok: true },
            ]
        }

        function test_sizeCheck(data) {
            ContextViewLauncher.setAnswer("GetPathCapacity", data.free)
            ContextViewLauncher.setAnswer("GetDownLoadFileSize", data.size)
            const selector = makeSelector("C:/Games")
            compare(selector.sizeCheck, data.ok)
            compare(findChild(selector, "spaceError").visible, !data.ok)
            compare(findChild(selector, "confirmMouseArea").enabled, data.ok)
            tryCompare(findChild(selector, "confirmButton"), "color", Qt.color(data.ok ? "#6D5BF5" : "#C3C0D1"), 2000)
            compare(findChild(selector, "capacityText").text, "可用空间：" + data.free.toFixed(1) + "GB")
            compare(findChild(selector, "sizeText").text, "所需空间：" + data.size + "GB")
        }

        function test_missingFolder() {
            ContextViewLauncher.setAnswer("IsValidPath", { "C:/Games": true, "*": false })
            ContextViewLauncher.setAnswer("GetPathCapacity", { "C:/Games": 80, "*": 1 })
            const selector = makeSelector("C:/Nowhere")
            verify(!selector.validPathCheck)
            verify(findChild(selector, "pathError").visible)
            verify(!findChild(selector, "spaceError").visible, "space is irrelevant for a missing folder")
            verify(!findChild(selector, "confirmMouseArea").enabled)
            selector.folder = "file:///C:/Games"
            verify(selector.validPathCheck)
            compare(selector.pathCapacity, 80)
            verify(!findChild(selector, "pathError").visible)
            verify(findChild(selector, "confirmMouseArea").enabled)
            // An invalid folder keeps the previous capacity.
            selector.folder = "file:///C:/Gone"
            compare(selector.pathCapacity, 80)
            verify(!findChild(selector, "confirmMouseArea").enabled)
        }

        // A fresh account's Documents may not exist yet: the folder is accepted
        // when it can be made, measured and browsed from its nearest existing parent.
        function test_folderNotMadeYet_data() {
            return [
                { tag: "can be made", creatable: true, nearest: "/tmp", valid: true, free: 50 },
                { tag: "can be made, no room", creatable: true, nearest: "/tmp", valid: true, free: 10 },
                { tag: "cannot be made", creatable: false, nearest: "", valid: false, free: 1 },
            ]
        }

        function test_folderNotMadeYet(data) {
            // The shown folder does not exist; its nearest parent is a real one,
            // so the folder dialog can really open there.
            const shown = "/tmp/orb-fresh-account/Documents"
            ContextViewLauncher.setAnswer("IsValidPath", false)
            ContextViewLauncher.setAnswer("IsCreatablePath", { [shown]: data.creatable, "*": false })
            ContextViewLauncher.setAnswer("NearestExistingFolder", { [shown]: data.nearest, "*": "" })
            ContextViewLauncher.setAnswer("GetPathCapacity", { "/tmp": data.free, "*": 1 })
            ContextViewLauncher.setAnswer("GetDownLoadFileSize", 31)
            const selector = makeSelector(shown)
            compare(selector.displayFolder, shown)
            compare(selector.validPathCheck, data.valid)
            compare(findChild(selector, "pathError").visible, !data.valid)
            if (data.valid) {
                compare(selector.pathCapacity, data.free)
                compare(findChild(selector, "spaceError").visible, data.free <= 31)
            }
            compare(findChild(selector, "confirmMouseArea").enabled, data.valid && data.free > 31)
            if (data.nearest !== "") {
                const dialog = findChild(selector, "folderDialog")
                selector.openFolderDialog()
                compare(String(dialog.currentFolder), "file://" + data.nearest)
                compare(ContextViewLauncher.callArgs("NearestExistingFolder").pop(), [shown])
                dialog.close()
            }
            if (data.valid && data.free > 31) {
                mouseClick(findChild(selector, "confirmButton"))
                compare(ContextViewLauncher.callArgs("SetInstallPath"), [[shown]])
                compare(confirmSpy.count, 1)
            }
        }

        function test_readsSizeOnce() {
            const selector = makeSelector("C:/Games")
            compare(ContextViewLauncher.callCount("GetDownLoadFileSize"), 1)
            selector.folder = "file:///D:/Games"
            selector.visible = false
            selector.visible = true
            compare(ContextViewLauncher.callCount("GetDownLoadFileSize"), 1)
        }

        function test_confirm() {
            const selector = makeSelector("C:/Games")
            ContextViewLauncher.clearCalls()
            const button = findChild(selector, "confirmButton")
            compare(findChild(selector, "confirmText").text, "开始下载")
            mouseClick(button)
            compare(ContextViewLauncher.callArgs("SetInstallPath"), [["C:/Games"]])
            compare(confirmSpy.count, 1)
            verify(!selector.visible)
        }

        function test_disabledConfirmDoesNothing() {
            const selector = makeSelector("C:/Games/测试")
            ContextViewLauncher.clearCalls()
            mouseClick(findChild(selector, "confirmButton"))
            compare(ContextViewLauncher.callCount("SetInstallPath"), 0)
            compare(confirmSpy.count, 0)
            verify(selector.visible)
        }

        function test_close() {
            const selector = makeSelector("C:/Games")
            let visibleInHandler = null
            selector.closeHandler = function() { visibleInHandler = selector.visible }
            mouseClick(findChild(selector, "closeBtn"))
            compare(visibleInHandler, false)
            compare(confirmSpy.count, 0)
        }

        function test_backdrop() {
            makeSelector("C:/Games")
            mouseClick(root, 10, 10)
            mouseClick(root, 1300, 700)
            compare(root.clicksBehind, 0)
        }

        function test_layout() {
            const selector = makeSelector("C:/Games")
            const panel = findChild(selector, "panel")
            compare(panel.width, 650)
            compare(panel.height, 356)
            const box = findChild(selector, "inputBox")
            compare(box.width, 562)
            compare(box.y, 83)
            const field = findChild(selector, "inputField")
            verify(field.readOnly)
            verify(field.selectByMouse)
            compare(field.leftPadding, 16)
            compare(findChild(selector, "titleText").text, "选择安装路径")
        }
    }
}
