import QtQuick
import Qt.labs.platform as Platform

// Stands in for the window while a game runs.
Platform.SystemTrayIcon {
    id: tray

    signal restoreRequested()
    signal exitRequested()

    visible: false
    icon.source: "qrc:/qml/assets/valdane.ico"

    onActivated: (reason) => {
        if (reason === Platform.SystemTrayIcon.Trigger)
            tray.restoreRequested()
    }
    onMessageClicked: console.log("Message clicked")

    menu: Platform.Menu {
        objectName: "trayMenu"

        Platform.MenuItem {
            objectName: "trayRestoreItem"
            text: qsTr("Restore")
            onTriggered: tray.restoreRequested()
        }

        Platform.MenuItem {
            objectName: "trayExitItem"
            text: qsTr("Exit")
            onTriggered: tray.exitRequested()
        }
    }

    // timeout in seconds
    function showNotification(title, message, timeout) {
        tray.showMessage(title, message, Platform.SystemTrayIcon.Information, timeout * 1000)
    }
}
