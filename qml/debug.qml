import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

// Developer scene: load a QML file from disk and see it reloaded on every save.
// Needs the live engine published as "$Engine".
ApplicationWindow {
    id: root
    visible: true
    width: 600
    height: 800
    title: qsTr("Qml watcher")

    property bool isWindow: false

    function _printLoadingMessage(msg) {
        var time = new Date().toLocaleTimeString().split(" ")[0]
        console.log("<b><font color=\"blue\">" + time + ": " + msg + "</font></b>")
    }

    function _start() {
        $Engine.watch(pathField.text)
        _printLoadingMessage("load qmlfile :" + pathField.text)
        loader.source = ""
        $Engine.clearCache()
        loader.source = _fileUrl($Engine.absQmlPath)
    }

    // "file:///C:/x" on Windows, "file:///x" where absolute paths start with "/".
    function _fileUrl(path) {
        return (path.startsWith("/") ? "file://" : "file:///") + path
    }

    function _pathOf(url) {
        return url.replace(/^file:\/\/\/([A-Za-z]:)/, "$1").replace(/^file:\/\//, "")
    }

    function _loadMaimPage(path) {
        pathField.text = path
        _start()
    }

    function _reload() {
        _printLoadingMessage("Reloading ...")
        var source = loader.source
        loader.source = ""
        $Engine.clearCache()
        loader.source = source
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 5

        RowLayout {
            Layout.fillWidth: true
            TextField {
                id: pathField
                objectName: "_path"
                Layout.fillWidth: true
                placeholderText: "Main qml file path"
                selectByMouse: true
            }
            Button {
                text: "Load"
                onClicked: root._start()
            }
        }

        SplitView {
            Layout.fillWidth: true
            Layout.fillHeight: true
            orientation: Qt.Vertical

            Rectangle {
                id: loaderWin
                objectName: "_loader_win"
                SplitView.preferredHeight: root.height * 3 / 4
                Loader {
                    id: loader
                    objectName: "_loader"
                    anchors.fill: parent
                    asynchronous: true
                    onLoaded: {
                        var visual = item instanceof Item
                        loaderWin.visible = visual
                        root.isWindow = !visual
                    }
                }
            }

            ScrollView {
                id: consoleView
                SplitView.fillHeight: true
                TextArea {
                    id: consoleArea
                    objectName: "_console"
                    textFormat: TextEdit.RichText
                    wrapMode: TextEdit.Wrap
                    readOnly: true
                    selectByMouse: true
                    background: Rectangle {
                        radius: 2
                        border.color: consoleArea.activeFocus ? "#41adff" : "#ababab"
                    }
                    onTextChanged: cursorPosition = length
                    MouseArea {
                        anchors.fill: parent
                        acceptedButtons: Qt.RightButton
                        onClicked: contextMenu.popup()
                    }
                    Menu {
                        id: contextMenu
                        MenuItem {
                            text: "Clear All"
                            onTriggered: consoleArea.clear()
                        }
                    }
                }
            }
        }
    }

    DropArea {
        anchors.fill: parent
        onDropped: function (drop) {
            if (drop.hasUrls) {
                pathField.text = root._pathOf(drop.urls[0].toString())
                root._start()
            }
        }
    }
}
