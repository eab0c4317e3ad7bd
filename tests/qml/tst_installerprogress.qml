import QtQuick
import QtTest
import "qrc:/qml/components"

Item {
    id: root
    width: 1350
    height: 760

    Component {
        id: progressComponent
        OrbInstallerProgress { width: 1350; height: 280; anchors.bottom: parent.bottom }
    }

    TestCase {
        name: "OrbInstallerProgress"
        when: windowShown

        function test_initial() {
            const progress = createTemporaryObject(progressComponent, root)
            const text = findChild(progress, "progressText")
            compare(text.text, "--:--:--")
            compare(text.horizontalAlignment, Text.AlignRight)
            const bar = findChild(progress, "progressBar")
            compare(bar.value, 0)
            compare(bar.width, 1054)
            compare(bar.padding, 3)
            compare(findChild(progress, "progressFill").width, 0)
        }

        function test_report_data() {
            return [
                { tag: "install 42", value: 42, caption: "游戏安装进度", text: "游戏安装进度42%" },
                { tag: "launcher 0", value: 0, caption: "启动器下载进度", text: "启动器下载进度0%" },
                { tag: "done", value: 100, caption: "游戏安装进度", text: "游戏安装进度100%" },
            ]
        }

        function test_report(data) {
            const progress = createTemporaryObject(progressComponent, root, { visible: false })
            ContextViewLauncher.sigProgressValue(data.value, data.caption)
            compare(findChild(progress, "progressText").text, data.text)
            const bar = findChild(progress, "progressBar")
            compare(bar.value, data.value / 100)
            const fill = findChild(progress, "progressFill")
            compare(fill.height, bar.availableHeight)
            compare(fill.color, Qt.color("#846BF0"))
            progress.visible = true
            fuzzyCompare(fill.width, bar.availableWidth * data.value / 100, 0.01)
        }

        function test_keepsLastValue() {
            const progress = createTemporaryObject(progressComponent, root)
            ContextViewLauncher.sigProgressValue(70, "游戏安装进度")
            progress.visible = false
            progress.visible = true
            compare(findChild(progress, "progressText").text, "游戏安装进度70%")
        }
    }
}
