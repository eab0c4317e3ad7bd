import QtQuick
import QtQuick.Controls.Basic

Rectangle {
    id: installer

    color: "transparent"

    Column {
        width: 1054
        height: 50
        spacing: 6
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 68
        anchors.horizontalCenter: parent.horizontalCenter

        Text {
            id: progressText
            objectName: "progressText"
            width: parent.width
            horizontalAlignment: Text.AlignRight
            text: qsTr("--:--:--")
            color: "#FFFFFF"
            font.pixelSize: 16
            font.weight: 500
            font.letterSpacing: 0
        }

        ProgressBar {
            id: progressBar
            objectName: "progressBar"
            width: 1054
            height: 16
            value: 0.0
            padding: 3

            background: Rectangle {
                implicitWidth: 1054
                implicitHeight: 16
                color: "#000000"
                opacity: 0.5
                border.width: 2
                border.color: "#707070"
                radius: 12
            }

            contentItem: Item {
                implicitWidth: 1048
                implicitHeight: 10

                Rectangle {
                    objectName: "progressFill"
                    width: progressBar.visualPosition * parent.width
                    height: parent.height
                    radius: 9
                    color: "#846BF0"
                }
            }
        }
    }

    // Listens while hidden too; a new operation starts from the last value shown.
    Connections {
        target: ContextViewLauncher
        function onSigProgressValue(progressValue, progressText) {
            progressBar.value = progressValue * 0.01
            installer.setCaption(progressText, progressValue)
        }
    }

    function setCaption(caption, value) {
        progressText.text = caption + Math.floor(value) + "%"
    }
}
