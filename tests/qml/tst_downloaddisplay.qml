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
        id: displayComponent
        OrbDownloadDisplay {}
    }

    TestCase {
        name: "OrbDownloadDisplay"
        when: windowShown

        function init() {
            ContextViewLauncher.clearAnswers()
            ContextViewLauncher.clearCalls()
            root.clicksBehind = 0
        }

        function makeDisplay() {
            return createTemporaryObject(displayComponent, root)
        }

        function text(display, name) {
            return findChild(display, name).text
        }

        function test_formatTime_data() {
            return [
                { tag: "an hour less a second", seconds: 3599, text: "0h 60m" },
                { tag: "an hour", seconds: 3600, text: "1h 0m" },
                { tag: "59 seconds", seconds: 59, text: "0h 1m" },
                { tag: "1h 30m 30s", seconds: 5430, text: "1h 31m" },
                { tag: "zero", seconds: 0, text: "0h 0m" },
            ]
        }

        function test_formatTime(data) {
            compare(makeDisplay().formatTime(data.seconds), data.text)
        }

        function test_formatSize_data() {
            return [
                { tag: "1023", size: 1023, text: "1023.00MB" },
                { tag: "1024", size: 1024, text: "1.00GB" },
                { tag: "512", size: 512, text: "512.00MB" },
                { tag: "2048", size: 2048, text: "2.00GB" },
                { tag: "zero", size: 0, text: "0.00MB" },
            ]
        }

        function test_formatSize(data) {
            compare(makeDisplay().formatSize(data.size), data.text)
        }

        function test_progress_data() {
            return [
                { tag: "quarter", offset: 512, total: 2048, amount: "512.00MB / 2.00GB", percent: "25%" },
                { tag: "truncated", offset: 999, total: 1000, amount: "999.00MB / 1000.00MB", percent: "99%" },
                { tag: "done", offset: 3072, total: 3072, amount: "3.00GB / 3.00GB", percent: "100%" },
                { tag: "zero total", offset: 0, total: 0, amount: "0.00MB / 0.00MB", percent: "0%" },
            ]
        }

        function test_progress(data) {
            const display = makeDisplay()
            ContextViewLauncher.sigDownloadProgress(data.offset, data.total)
            compare(text(display, "amountText"), data.amount)
            compare(text(display, "percentText"), data.percent)
            compare(display.lastOffset, data.offset)
            compare(display.lastTotal, data.total)
            compare(findChild(display, "progressBar").value, data.total > 0 ? data.offset / data.total : 0)
        }

        function test_initial() {
            const display = makeDisplay()
            compare(display.installGameInfo, "Valdane1.0")
            for (const name of ["amountText", "percentText", "speedText", "timeLeftText"])
                compare(text(display, name), "--:--:--", name)
            const panel = findChild(display, "panel")
            compare(panel.width, 375)
            compare(panel.height, 113)
            compare(root.width - (panel.x + panel.width), 30)
            compare(root.height - (panel.y + panel.height), 40)
        }

        function test_popIn() {
            const display = makeDisplay()
            display.visible = false
            display.visible = true
            const panel = findChild(display, "panel")
            verify(panel.scale < 1)
            tryCompare(panel, "scale", 1, 3000)
            tryCompare(panel, "opacity", 1, 3000)
        }

        function test_clicksOutsidePanelPassThrough() {
            makeDisplay()
            mouseClick(root, 100, 100)
            compare(root.clicksBehind, 1)
        }

        // The lock lasts 2000 ms; a click inside it is ignored.
        function test_pauseLock() {
            const display = makeDisplay()
            const button = findChild(display, "pauseButton")
            const area = findChild(display, "pauseMouseArea")
            mouseClick(button)
            const locked = Date.now()
            verify(display.isPause)
            compare(ContextViewLauncher.callArgs("SetDownloadStatus"), [[false]])
            verify(!area.enabled)
            mouseClick(button)
            compare(ContextViewLauncher.callCount("SetDownloadStatus"), 1, "second click ignored")
            verify(display.isPause)
            tryCompare(area, "enabled", true, 6000)
            verify(Date.now() - locked >= 1990)
            mouseClick(button)
            compare(ContextViewLauncher.callArgs("SetDownloadStatus"), [[false], [true]])
            verify(!display.isPause)
        }

        function test_pauseResets() {
            const display = makeDisplay()
            ContextViewLauncher.sigDownloadProgress(100, 1000)
            display.sampleSpeed()
            mouseClick(findChild(display, "pauseButton"))
            compare(display.lastOffset, 0)
            compare(display.lastTotal, 0)
            compare(display.previousTime, 0)
            compare(display.previousOffset, 0)
            compare(text(display, "speedText"), "0MB/s")
            compare(text(display, "timeLeftText"), "--:--:--")
            verify(findChild(display, "progressBar").indeterminate)
            tryCompare(findChild(display, "pauseButton"), "status", Image.Ready)
            compare(findChild(display, "pauseButton").source.toString(), "../assets/startIcon.png")
        }

        // After a pause and a resume the first sample only records; the second shows the rate.
        function test_firstTickAfterResume() {
            const display = makeDisplay()
            const button = findChild(display, "pauseButton")
            ContextViewLauncher.sigDownloadProgress(50, 1100)
            display.sampleSpeed()
            mouseClick(button)
            verify(display.isPause)
            tryCompare(findChild(display, "pauseMouseArea"), "enabled", true, 6000)
            mouseClick(button)
            verify(!display.isPause)
            compare(ContextViewLauncher.callArgs("SetDownloadStatus"), [[false], [true]])
            ContextViewLauncher.sigDownloadProgress(100, 1100)
            display.sampleSpeed()
            compare(text(display, "speedText"), "0MB/s")
            compare(text(display, "timeLeftText"), "--:--:--")
            wait(500)
            ContextViewLauncher.sigDownloadProgress(200, 1100)
            display.sampleSpeed()
            const speed = text(display, "speedText")
            verify(/^\d+\.\d\d MB\/s$/.test(speed), speed)
            const rate = parseFloat(speed)
            verify(rate > 0 && rate <= 200, speed)
            verify(/^\dh \d+m$/.test(text(display, "timeLeftText")), text(display, "timeLeftText"))
        }

        function test_stalledKeepsTexts() {
            const display = makeDisplay()
            ContextViewLauncher.sigDownloadProgress(300, 1000)
            display.sampleSpeed()
            wait(100)
            ContextViewLauncher.sigDownloadProgress(400, 1000)
            display.sampleSpeed()
            const speed = text(display, "speedText")
            wait(100)
            display.sampleSpeed()
            compare(text(display, "speedText"), speed)
        }

        // The running timer samples on its own every 2000 ms.
        function test_speedTimer() {
            const display = makeDisplay()
            ContextViewLauncher.sigDownloadProgress(10, 1000)
            let offset = 10
            tryVerify(function() {
                offset += 1
                ContextViewLauncher.sigDownloadProgress(offset, 1000)
                return /MB\/s$/.test(text(display, "speedText")) && text(display, "speedText") !== "0MB/s"
            }, 10000)
        }

        function test_close() {
            const display = makeDisplay()
            display.isPause = true
            let pausedInHandler = null
            display.closeHandler = function() { pausedInHandler = display.isPause }
            mouseClick(findChild(display, "closeBtn"))
            compare(pausedInHandler, true, "the handler sees the state before the close")
            verify(!display.isPause)
        }
    }
}
