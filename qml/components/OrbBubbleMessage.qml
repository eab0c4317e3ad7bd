import QtQuick

Item {
    id: bubble

    property string message: "Hello, World!"
    property color bgColor: "#FFFFFF"
    property color textColor: "#000000"
    readonly property alias hideTimerRunning: hideTimer.running

    signal shown()
    signal hidden()

    width: background.width
    height: background.height
    visible: false

    Rectangle {
        id: background
        objectName: "background"
        height: 68
        width: contentRow.width + 40
        color: bubble.bgColor
        radius: 51

        Row {
            id: contentRow
            anchors.centerIn: parent
            spacing: 0

            Component.onCompleted: console.log("background.width:", background.width)

            Image {
                width: 125
                height: 38
                anchors.verticalCenter: parent.verticalCenter
                source: "../assets/logo.png"
                fillMode: Image.PreserveAspectFit
                smooth: true
            }

            Text {
                objectName: "messageText"
                anchors.verticalCenter: parent.verticalCenter
                text: bubble.message
                color: bubble.textColor
                font.pixelSize: 16
                wrapMode: Text.Wrap
                horizontalAlignment: Text.AlignHCenter
            }
        }
    }

    NumberAnimation {
        id: slide
        target: bubble
        property: "y"
        duration: 500
        easing.type: Easing.InOutQuad
    }

    Timer {
        id: hideTimer
        interval: 2000
        repeat: false
        onTriggered: bubble.hideBubble()
    }

    function showBubble() {
        bubble.visible = true
        slide.stop()
        bubble.y = -bubble.height
        slide.to = 80
        slide.start()
        bubble.shown()
        // A running timer keeps its first expiry.
        if (!hideTimer.running)
            hideTimer.start()
    }

    function hideBubble() {
        slide.stop()
        slide.to = -bubble.height
        slide.start()
        hideTimer.stop()
        bubble.hidden()
    }
}
