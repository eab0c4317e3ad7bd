import QtQuick

Rectangle {
    id: bubble

    property string content: ""

    width: bubbleText.width + 40
    height: 50
    color: "#000000"
    radius: 15
    visible: false
    opacity: 0.0

    Text {
        id: bubbleText
        objectName: "bubbleText"
        anchors.centerIn: parent
        text: bubble.content
        color: "white"
        font.pixelSize: 14
    }

    NumberAnimation {
        id: fade
        target: bubble
        property: "opacity"
        duration: 300
    }

    // A hidden bubble vanishes at once; fading it to 0 prepares the next appearance.
    onVisibleChanged: {
        fade.stop()
        fade.from = bubble.opacity
        fade.to = bubble.visible ? 0.8 : 0.0
        fade.start()
    }
}
