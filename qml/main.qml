import QtQuick
import QtQuick.Window
import QtQuick.Controls

Window {
    id: root
    width: 1280
    height: 720
    visible: true
    flags: Qt.FramelessWindowHint | Qt.Window
    color: "#1b1d23"
    title: "OrbLive"

    Text {
        anchors.centerIn: parent
        color: "#e8e8e8"
        font.pixelSize: 28
        text: "OrbLive 启动器"
    }

    Button {
        objectName: "closeButton"
        anchors.top: parent.top
        anchors.right: parent.right
        anchors.margins: 12
        text: "关闭"
        onClicked: Qt.quit()
    }
}
