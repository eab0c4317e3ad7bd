import QtQuick
import Qt.labs.platform as Platform

// Stands in for the window while a game runs.
Platform.SystemTrayIcon {
    id: tray

    signal restoreRequested()
    signal exitRequested()
    signal repairRequested()

    // Whether the verify-and-repair item can be chosen now.
    property bool repairEnabled: false

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
            objectName: "trayRepairItem"
            text: qsTr("校验并修复游戏")
            enabled: tray.repairEnabled
            onTriggered: tray.repairRequested()
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
