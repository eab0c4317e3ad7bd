import QtQuick

Rectangle {
    id: closeBtn

    property string imageSource: "../assets/closeIcon2.png"

    signal closeWindow()

    width: 20
    height: 20
    color: "transparent"

    Image {
        id: closeImage
        objectName: "closeImage"
        anchors.fill: parent
        source: closeBtn.imageSource
        smooth: true
    }

    MouseArea {
        id: closeMouseArea
        objectName: "closeMouseArea"
        anchors.fill: closeImage
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onEntered: {
            closeImage.opacity = 0.1
            console.log("Close Button onEntered")
        }
        onExited: {
            closeImage.opacity = 1
            console.log("Close Button onExited")
        }
        onClicked: closeBtn.closeWindow()
    }
}
