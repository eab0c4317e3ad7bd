import QtQuick
import Qt.labs.platform as Platform

Rectangle {
    id: selector

    property bool isReselect: false
    property string inputContext: inputField.text
    property string contentText: ""
    property real pathCapacity: 0
    property real fileSize: 0
    property bool sizeCheck: pathCapacity > fileSize
    property bool textCheck: selector.checkText(inputField.text)
    // A folder that does not exist yet passes when it can be made below an
    // existing writable folder (a fresh account's Documents); it is made on confirmation.
    property bool validPathCheck: selector.checkPath(inputField.text)
    property var closeHandler: function() {}
    property alias folder: folderDialog.folder
    readonly property string displayFolder: selector.localPath(folderDialog.folder)
    readonly property bool allChecks: sizeCheck && textCheck && validPathCheck

    signal dialogLoaded()
    signal confirmClicked()

    anchors.fill: parent
    color: "transparent"

    // A local path as a file URL: file:///C:/Games on Windows, file:///home/me on Linux.
    function folderUrl(path) {
        const text = String(path === undefined || path === null ? "" : path)
        if (text === "")
            return ""
        const slashed = text.replace(/\\/g, "/")
        if (/^[A-Za-z]:/.test(slashed))
            return "file:///" + slashed
        if (slashed.startsWith("//"))
            return "file:" + slashed
        if (slashed.startsWith("/"))
            return "file://" + slashed
        return slashed
    }

    // The folder as the user knows it: C:/Games on Windows, /home/me/Games on Linux.
    function localPath(url) {
        let text = String(url === undefined || url === null ? "" : url)
        if (!text.startsWith("file://"))
            return text
        text = text.substring(7)
        try {
            text = decodeURIComponent(text)
        } catch (e) {
            // Keep the text as it came when it is not valid percent-encoding.
        }
        if (/^\/[A-Za-z]:/.test(text))
            text = text.substring(1)
        return text
    }

    // Only ASCII letters, digits, whitespace and / \ _ . - are allowed; a drive prefix such as C:/ is not tested.
    function checkText(text) {
        const rest = /^[A-Za-z]:[\/\\]/.test(text) ? text.substring(3) : text
        return /^[a-zA-Z0-9\s\/\\_.-]*$/.test(rest)
    }

    function checkPath(text) {
        return ContextViewLauncher.IsValidPath(text) || ContextViewLauncher.IsCreatablePath(text)
    }

    // Free space is that of the volume the folder will be made on.
    function capacityOf(text) {
        const nearest = ContextViewLauncher.NearestExistingFolder(text)
        return ContextViewLauncher.GetPathCapacity(nearest !== "" ? nearest : text)
    }

    // The folder the dialog opens in: the one the chooser shows or, when that
    // does not exist yet, its nearest existing parent.
    function dialogStartFolder() {
        const nearest = ContextViewLauncher.NearestExistingFolder(selector.displayFolder)
        return nearest !== "" ? selector.folderUrl(nearest) : folderDialog.folder
    }

    // Not the program's working folder. Set before and after opening: the widget
    // dialog used where there is no native one ignores a start folder given
    // before it exists.
    function openFolderDialog() {
        const start = selector.dialogStartFolder()
        folderDialog.currentFolder = start
        folderDialog.open()
        folderDialog.currentFolder = start
    }

    Platform.FolderDialog {
        id: folderDialog
        objectName: "folderDialog"
        folder: selector.folderUrl(ContextViewLauncher.GetInstallPath())
        onAccepted: {
            selector.pathCapacity = selector.capacityOf(inputField.text)
            console.log("PathCapacity:", selector.pathCapacity)
        }
    }

    Rectangle {
        objectName: "backdrop"
        anchors.fill: parent
        color: "black"
        opacity: 0.8
        visible: selector.visible

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
        width: 650
        height: 356
        color: "white"
        radius: 16
        anchors.centerIn: parent

        OrbCloseBtn {
            objectName: "closeBtn"
            anchors.top: parent.top
            anchors.topMargin: 24
            anchors.right: parent.right
            anchors.rightMargin: 24
            Component.onCompleted: selector.dialogLoaded()
            onCloseWindow: {
                selector.visible = false
                selector.closeHandler()
            }
        }

        Text {
            objectName: "titleText"
            y: 53
            x: 44
            text: qsTr("选择安装路径")
            color: "#3D3D4A"
            font.pixelSize: 15
            font.weight: 600
        }

        Rectangle {
            id: inputBox
            objectName: "inputBox"
            width: 562
            height: 47
            y: 83
            anchors.horizontalCenter: parent.horizontalCenter
            color: "white"
            clip: true
            radius: 4
            border.width: 1
            border.color: "#E3E3E3"

            Component.onCompleted: {
                selector.pathCapacity = selector.capacityOf(inputField.text)
                selector.fileSize = ContextViewLauncher.GetDownLoadFileSize()
                console.log("PathCapacity:", selector.pathCapacity)
                console.log("fileSize:", selector.fileSize)
            }

            TextInput {
                id: inputField
                objectName: "inputField"
                width: 500
                height: 47
                clip: true
                readOnly: true
                text: selector.displayFolder
                color: "#3D3D4A"
                font.pixelSize: 15
                horizontalAlignment: TextInput.AlignLeft
                verticalAlignment: TextInput.AlignVCenter
                leftPadding: 16
                rightPadding: 16
                selectByMouse: true
                selectedTextColor: "white"
                selectionColor: "#4A6DBC"
                activeFocusOnTab: true
                onTextChanged: {
                    if (selector.checkPath(text))
                        selector.pathCapacity = selector.capacityOf(text)
                }
            }

            Text {
                objectName: "changeText"
                anchors.verticalCenter: parent.verticalCenter
                anchors.right: parent.right
                anchors.rightMargin: 22
                text: qsTr("更改")
                color: "#846BF0"
                font.pixelSize: 15
                font.weight: 400

                MouseArea {
                    anchors.fill: parent
                    cursorShape: Qt.PointingHandCursor
                    onClicked: selector.openFolderDialog()
                }
            }
        }

        Row {
            y: 136
            x: 44
            spacing: 5

            Text {
                objectName: "capacityText"
                text: "可用空间：" + selector.pathCapacity.toFixed(1) + "GB"
                color: "#9E9E9E"
                font.pixelSize: 13
                font.weight: 400
            }

            Text {
                objectName: "sizeText"
                text: "所需空间：" + selector.fileSize + "GB"
                color: "#9E9E9E"
                font.pixelSize: 13
                font.weight: 400
            }
        }

        Column {
            y: 155
            x: 44
            spacing: 5

            Text {
                objectName: "spaceError"
                visible: selector.validPathCheck && !selector.sizeCheck
                text: "当前空间不足，请更换至其他安装路径。"
                color: "#FF2ACF"
                font.pixelSize: 13
                font.weight: 400
            }

            Text {
                objectName: "textError"
                visible: !selector.textCheck
                text: "请确保路径只包含英文、数字或字符/ . - _"
                color: "#FF2ACF"
                font.pixelSize: 13
                font.weight: 400
            }

            Text {
                objectName: "pathError"
                visible: !selector.validPathCheck
                text: "当前路径不存在，请检查并重新输入"
                color: "#FF2ACF"
                font.pixelSize: 13
                font.weight: 400
            }
        }

        Rectangle {
            id: confirmButton
            objectName: "confirmButton"
            width: 196
            height: 50
            radius: 27
            anchors.bottom: parent.bottom
            anchors.bottomMargin: 38
            anchors.right: parent.right
            anchors.rightMargin: 44
            color: selector.allChecks ? "#6D5BF5" : "#C3C0D1"
            Behavior on color { ColorAnimation { duration: 200 } }
            Behavior on opacity { NumberAnimation { duration: 100 } }

            Text {
                objectName: "confirmText"
                anchors.centerIn: parent
                text: selector.contentText
                color: "white"
                font.pixelSize: 18
                font.weight: 600
                font.letterSpacing: 1
            }

            MouseArea {
                objectName: "confirmMouseArea"
                anchors.fill: parent
                hoverEnabled: true
                cursorShape: Qt.PointingHandCursor
                enabled: selector.allChecks
                onClicked: {
                    ContextViewLauncher.SetInstallPath(inputField.text)
                    selector.confirmClicked()
                    selector.visible = false
                }
            }
        }
    }
}
