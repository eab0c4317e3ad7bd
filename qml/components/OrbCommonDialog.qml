import QtQuick

Rectangle {
    id: dialog

    property bool showLogo: false
    property string logoSource: "../assets/logo.png"
    property string title: "Tips"
    property string content: ""
    property bool showCloseBtn: true
    property bool showCancelButton: true
    property bool showConfirmButton: true
    property string cancelButtonText: "Cancel"
    property string confirmButtonText: "Confirm"
    property Component contentComponent: null
    property var closeHandler: function() {}

    signal dialogLoaded()
    signal cancelClicked()
    signal confirmClicked()

    anchors.fill: parent
    color: "transparent"
    visible: false

    // Takes every click so nothing behind the dialog can be reached.
    Rectangle {
        id: backdrop
        objectName: "backdrop"
        anchors.fill: parent
        color: "black"
        opacity: 0.8
        visible: dialog.visible

        MouseArea {
            objectName: "backdropMouseArea"
            anchors.fill: parent
            acceptedButtons: Qt.AllButtons
            hoverEnabled: true
            onWheel: (wheel) => wheel.accepted = true
        }
    }

    Rectangle {
        id: panel
        objectName: "panel"
        width: 526
        height: 384
        color: "white"
        radius: 16
        anchors.centerIn: parent

        Component.onCompleted: dialog.dialogLoaded()

        OrbCloseBtn {
            id: closeBtn
            objectName: "closeBtn"
            anchors.top: parent.top
            anchors.topMargin: 24
            anchors.right: parent.right
            anchors.rightMargin: 24
            visible: dialog.showCloseBtn
            onCloseWindow: {
                dialog.visible = false
                dialog.closeHandler()
                console.log("commonDialog closed")
            }
        }

        Column {
            anchors.fill: parent
            padding: 20
            spacing: 24

            Item {
                id: header
                objectName: "header"
                width: 324
                height: 80
                anchors.horizontalCenter: parent.horizontalCenter

                Image {
                    objectName: "logoImage"
                    anchors.horizontalCenter: parent.horizontalCenter
                    anchors.verticalCenter: parent.verticalCenter
                    visible: dialog.showLogo
                    source: dialog.showLogo ? dialog.logoSource : ""
                }

                Text {
                    objectName: "titleText"
                    anchors.fill: parent
                    visible: !dialog.showLogo
                    text: dialog.title
                    font.pixelSize: 24
                    font.bold: true
                    horizontalAlignment: Text.AlignHCenter
                    verticalAlignment: Text.AlignVCenter
                }
            }

            Item {
                id: body
                width: 406
                height: 145
                anchors.horizontalCenter: parent.horizontalCenter

                Text {
                    objectName: "contentText"
                    width: parent.width
                    padding: 10
                    text: dialog.content
                    font.pixelSize: 16
                    font.weight: 500
                    font.letterSpacing: 1
                    color: "#3D3D4A"
                    wrapMode: Text.WordWrap
                    horizontalAlignment: Text.AlignHCenter
                }
            }

            Row {
                id: buttonRow
                spacing: 14
                anchors.horizontalCenter: parent.horizontalCenter

                Rectangle {
                    id: cancelButton
                    objectName: "cancelButton"
                    visible: dialog.showCancelButton
                    width: dialog.showConfirmButton ? 196 : 324
                    height: 54
                    color: "white"
                    border.color: "lightgrey"
                    radius: 27

                    Text {
                        objectName: "cancelText"
                        anchors.centerIn: parent
                        text: dialog.cancelButtonText
                        font.pixelSize: dialog.showConfirmButton ? 16 : 18
                        font.weight: 600
                        font.letterSpacing: 1
                        color: "#000000"
                    }

                    MouseArea {
                        anchors.fill: parent
                        hoverEnabled: true
                        cursorShape: Qt.PointingHandCursor
                        onEntered: cancelButton.color = "lightgrey"
                        onExited: cancelButton.color = "white"
                        onPressed: cancelButton.color = "grey"
                        onReleased: cancelButton.color = "white"
                        onClicked: dialog.cancelClicked()
                    }
                }

                Rectangle {
                    id: confirmButton
                    objectName: "confirmButton"
                    visible: dialog.showConfirmButton
                    width: dialog.showCancelButton ? 196 : 324
                    height: 54
                    color: "#846BF0"
                    radius: 27

                    Text {
                        objectName: "confirmText"
                        anchors.centerIn: parent
                        text: dialog.confirmButtonText
                        font.pixelSize: dialog.showCancelButton ? 16 : 18
                        font.weight: 600
                        font.letterSpacing: 1
                        color: "#FFFFFF"
                    }

                    MouseArea {
                        anchors.fill: parent
                        hoverEnabled: true
                        cursorShape: Qt.PointingHandCursor
                        onEntered: confirmButton.color = "#6A4ACD"
                        onExited: confirmButton.color = "#846BF0"
                        onPressed: confirmButton.color = "#5A3DBF"
                        onReleased: confirmButton.color = "#6A4ACD"
                        onClicked: dialog.confirmClicked()
                    }
                }
            }
        }

        Loader {
            objectName: "contentLoader"
            anchors.centerIn: parent
            sourceComponent: dialog.contentComponent
            active: dialog.contentComponent !== null
        }
    }
}
