import QtQuick
import QtQuick.Controls.Basic

Rectangle {
    id: display

    property real lastOffset: 0
    property real lastTotal: 0
    property real previousTime: 0
    property real previousOffset: 0
    property string installGameInfo: ContextViewLauncher.GetInstallGameInfo()
    property bool isPause: false
    // A repair cannot be paused or cancelled: the panel only shows its progress.
    property bool pausable: true
    property var closeHandler: function() {}

    signal dialogLoaded()

    anchors.fill: parent
    color: "transparent"

    function formatTime(seconds) {
        const hours = Math.floor(seconds / 3600)
        const minutes = Math.ceil((seconds % 3600) / 60)
        return hours + "h " + minutes + "m"
    }

    function calculateDownloadRate(currentOffset) {
        const now = Date.now() / 1000
        if (display.previousTime === 0) {
            display.previousTime = now
            display.previousOffset = currentOffset
            return 0
        }
        const elapsed = now - display.previousTime
        const rate = elapsed > 0 ? (currentOffset - display.previousOffset) / elapsed : 0
        display.previousTime = now
        display.previousOffset = currentOffset
        return rate
    }

    // Sizes arrive in MiB.
    function formatSize(sizeInBytes) {
        if (sizeInBytes < 1024)
            return sizeInBytes.toFixed(2) + "MB"
        return (sizeInBytes / 1024).toFixed(2) + "GB"
    }

    // One speed sample; a stalled or restarted transfer leaves the texts as they are.
    function sampleSpeed() {
        const rate = calculateDownloadRate(display.lastOffset)
        if (!(rate > 0))
            return
        const timeLeft = (display.lastTotal - display.lastOffset) / rate
        speedText.text = rate.toFixed(2) + " MB/s"
        timeLeftText.text = formatTime(timeLeft)
    }

    // A fresh start for a new run (a repair after a finished download).
    function resetProgress() {
        display.lastOffset = 0
        display.lastTotal = 0
        display.previousTime = 0
        display.previousOffset = 0
        progressBar.value = 0
        amountText.text = "--:--:--"
        percentText.text = "--:--:--"
        speedText.text = "--:--:--"
        timeLeftText.text = "--:--:--"
    }

    function togglePause() {
        console.log("pause Button clicked")
        pauseMouseArea.enabled = false
        pauseLock.start()
        display.isPause = !display.isPause
        ContextViewLauncher.SetDownloadStatus(!display.isPause)
        if (display.isPause) {
            display.lastOffset = 0
            display.lastTotal = 0
            display.previousTime = 0
            display.previousOffset = 0
            timeLeftText.text = "--:--:--"
            speedText.text = "0MB/s"
        }
    }

    onVisibleChanged: {
        if (display.visible)
            popIn.restart()
    }

    Connections {
        target: ContextViewLauncher
        function onSigDownloadProgress(offset, total) {
            display.lastOffset = offset
            display.lastTotal = total
            const fraction = total > 0 ? offset / total : 0
            progressBar.value = fraction
            amountText.text = display.formatSize(offset) + " / " + display.formatSize(total)
            percentText.text = Math.floor(fraction * 100) + "%"
        }
    }

    Timer {
        id: speedTimer
        interval: 2000
        repeat: true
        running: !display.isPause
        onTriggered: display.sampleSpeed()
    }

    // Keeps a second stop or start request from following the first too soon.
    Timer {
        id: pauseLock
        interval: 2000
        repeat: false
        onTriggered: pauseMouseArea.enabled = true
    }

    Rectangle {
        id: panel
        objectName: "panel"
        width: 375
        height: 113
        color: "#222124"
        radius: 20
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 40
        anchors.right: parent.right
        anchors.rightMargin: 30

        ParallelAnimation {
            id: popIn
            NumberAnimation { target: panel; property: "opacity"; from: 0; to: 1; duration: 500 }
            NumberAnimation { target: panel; property: "scale"; from: 0.5; to: 1; duration: 500 }
        }

        OrbCloseBtn {
            objectName: "closeBtn"
            visible: display.pausable
            width: 12
            height: 12
            imageSource: "../assets/closeIcon3.png"
            anchors.top: parent.top
            anchors.topMargin: 16
            anchors.right: parent.right
            anchors.rightMargin: 16
            Component.onCompleted: display.dialogLoaded()
            onCloseWindow: {
                display.closeHandler()
                display.isPause = false
            }
        }

        Text {
            objectName: "headline"
            y: 16
            x: 24
            text: display.installGameInfo
            color: "#F4F4F4"
            font.pixelSize: 16
            font.weight: 600
        }

        Text {
            id: amountText
            objectName: "amountText"
            y: 48
            x: 24
            text: "--:--:--"
            color: "#9E9E9E"
            font.pixelSize: 16
            font.weight: 400
        }

        Text {
            id: percentText
            objectName: "percentText"
            y: 48
            x: 250
            text: "--:--:--"
            color: "#9E9E9E"
            font.pixelSize: 16
            font.weight: 400
        }

        Text {
            id: speedText
            objectName: "speedText"
            y: 81
            x: 24
            text: "--:--:--"
            color: "#9E9E9E"
            font.pixelSize: 16
            font.weight: 400
        }

        Text {
            id: timeLeftText
            objectName: "timeLeftText"
            y: 81
            x: 222
            text: "--:--:--"
            color: "#9E9E9E"
            font.pixelSize: 16
            font.weight: 400
        }

        ProgressBar {
            id: progressBar
            objectName: "progressBar"
            y: 70
            x: 24
            width: 252
            height: 6
            padding: 2
            value: 0
            indeterminate: display.isPause

            background: Rectangle {
                implicitWidth: 252
                implicitHeight: 6
                color: "#2E2D2E"
                radius: 4
            }

            contentItem: Item {
                implicitWidth: 248
                implicitHeight: 2
                clip: true

                Rectangle {
                    objectName: "progressFill"
                    visible: !progressBar.indeterminate
                    width: progressBar.visualPosition * parent.width
                    height: parent.height
                    radius: 1
                    color: "#846BF0"
                }

                // Busy sweep while paused.
                Rectangle {
                    id: sweep
                    visible: progressBar.indeterminate
                    width: parent.width / 4
                    height: parent.height
                    radius: 1
                    color: "#846BF0"

                    NumberAnimation on x {
                        running: progressBar.indeterminate && display.visible
                        from: -sweep.width
                        to: progressBar.availableWidth
                        duration: 1200
                        loops: Animation.Infinite
                    }
                }
            }
        }

        Image {
            id: pauseButton
            objectName: "pauseButton"
            width: 41
            height: 41
            anchors.bottom: parent.bottom
            anchors.bottomMargin: 20
            anchors.right: parent.right
            anchors.rightMargin: 32
            visible: display.pausable
            source: display.isPause ? "../assets/startIcon.png" : "../assets/pauseIcon.png"
            opacity: pauseMouseArea.containsMouse ? 0.5 : 1

            MouseArea {
                id: pauseMouseArea
                objectName: "pauseMouseArea"
                anchors.fill: parent
                hoverEnabled: true
                cursorShape: Qt.PointingHandCursor
                onEntered: console.log("pause Button onEntered")
                onExited: console.log("pause Button onExited")
                onClicked: display.togglePause()
            }
        }
    }
}
