import QtQuick

Rectangle {
    id: topBar

    property point pressedPos: Qt.point(0, 0)
    property var closeHandler: function() {}

    signal dialogLoaded()

    height: 52
    color: "#1E1E1F"
    opacity: 0.9

    // Drags the frameless window: the grab point stays under the cursor.
    MouseArea {
        id: dragArea
        objectName: "dragArea"
        anchors.fill: parent
        onPressed: (mouse) => topBar.pressedPos = Qt.point(mouse.x, mouse.y)
        onPositionChanged: (mouse) => {
            if (!pressed || !topBar.Window.window)
                return
            const cursor = ContextViewLauncher.cursonPos()
            topBar.Window.window.x = cursor.x - topBar.pressedPos.x
            topBar.Window.window.y = cursor.y - topBar.pressedPos.y
        }
    }

    Rectangle {
        objectName: "logoBox"
        width: 153
        height: 52
        color: "transparent"
        anchors.top: parent.top
        anchors.left: parent.left
        anchors.leftMargin: 134

        Image {
            anchors.centerIn: parent
            source: "qrc:/qml/assets/gameLogo.png"
            smooth: true
        }
    }

    Row {
        anchors.right: parent.right
        anchors.rightMargin: 32
        anchors.verticalCenter: parent.verticalCenter
        spacing: 28

        Rectangle {
            id: minButton
            objectName: "minButton"
            width: 20
            height: 20
            color: "transparent"
            Behavior on color { ColorAnimation { duration: 200 } }
            Behavior on opacity { NumberAnimation { duration: 100 } }

            Image {
                anchors.fill: parent
                source: "qrc:/qml/assets/minIcon.png"
            }

            MouseArea {
                anchors.fill: parent
                hoverEnabled: true
                onEntered: minButton.color = "skyblue"
                onExited: minButton.color = "transparent"
                onPressed: minButton.opacity = 0.6
                onReleased: minButton.opacity = 1
                onClicked: {
                    if (topBar.Window.window)
                        topBar.Window.window.showMinimized()
                }
            }
        }

        Rectangle {
            id: closeButton
            objectName: "closeButton"
            width: 20
            height: 20
            color: "transparent"
            Behavior on color { ColorAnimation { duration: 200 } }
            Behavior on opacity { NumberAnimation { duration: 100 } }

            Component.onCompleted: topBar.dialogLoaded()

            Image {
                anchors.fill: parent
                source: "qrc:/qml/assets/closeIcon.png"
            }

            MouseArea {
                anchors.fill: parent
                hoverEnabled: true
                onEntered: closeButton.color = "tomato"
                onExited: closeButton.color = "transparent"
                onPressed: closeButton.opacity = 0.6
                onReleased: closeButton.opacity = 1
                onClicked: topBar.closeHandler()
            }
        }
    }
}
