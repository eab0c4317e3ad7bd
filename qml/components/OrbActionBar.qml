import QtQuick

// The bottom controls: version label, update-check button, main button, the
// two side buttons with their hover bubbles, and the game-update hint line.
// It holds no stage of its own: the window sets the look of both buttons.
Item {
    id: bar

    // Update-check button.
    property bool checkVisible: true
    property string checkCaption: "版本检测中..."
    property color checkColor: "#6D5BF5"
    property bool checkClickable: false
    // Shown beside the main button instead of in its place.
    property bool checkBeside: false
    // Main button.
    property bool mainVisible: false
    property string mainCaption: ""
    property color mainColor: "#6D5BF5"
    property bool mainEnabled: true
    // Game-update hint line.
    property bool hintVisible: false
    property string hintText: ""
    property string versionText: ""
    // Verify-and-repair button, beside the main button.
    property bool repairVisible: false
    property string repairCaption: qsTr("校验并修复")

    readonly property Item launcherButton: launcherBtn
    readonly property Item moreOpenButton: moreOpenGameBtn
    readonly property Item closeAllButton: closeAllGameBtn
    readonly property Item repairButton: repairBtn

    signal checkClicked()
    signal mainClicked()
    signal moreOpenClicked()
    signal closeAllClicked()
    signal repairClicked()

    Rectangle {
        id: versionName
        objectName: "versionName"
        width: 37
        height: 19
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 6
        anchors.left: parent.left
        anchors.leftMargin: 15
        color: "transparent"

        Text {
            id: versionNameText
            objectName: "versionNameText"
            anchors.centerIn: parent
            text: bar.versionText
            color: "#3B3A3E"
            font.pixelSize: 12
            font.weight: 400
            font.letterSpacing: 1
        }
    }

    Rectangle {
        id: updateCheckBtn
        objectName: "updateCheckBtn"
        width: bar.checkBeside ? 180 : 306
        height: 60
        radius: 32
        y: launcherBtn.y
        x: bar.checkBeside ? launcherBtn.x - 16 - width : (bar.width - width) / 2
        color: bar.checkColor
        visible: bar.checkVisible

        Text {
            id: updateCheckButtonText
            objectName: "updateCheckButtonText"
            anchors.centerIn: parent
            text: bar.checkCaption
            color: "white"
            font.pixelSize: 18
            font.weight: 600
            font.letterSpacing: 1
        }

        MouseArea {
            id: updateCheckBtnMouseArea
            objectName: "updateCheckBtnMouseArea"
            anchors.fill: parent
            cursorShape: Qt.PointingHandCursor
            hoverEnabled: false
            visible: bar.checkClickable
            onClicked: bar.checkClicked()
        }
    }

    Rectangle {
        id: launcherBtn
        objectName: "launcherBtn"
        width: 306
        height: 60
        radius: 32
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 86
        anchors.horizontalCenter: parent.horizontalCenter
        color: bar.mainColor
        visible: bar.mainVisible

        Text {
            id: launcherButtonText
            objectName: "launcherButtonText"
            anchors.centerIn: parent
            text: bar.mainCaption
            color: "white"
            font.pixelSize: 18
            font.weight: 600
            font.letterSpacing: 1
        }

        MouseArea {
            id: launcherBtnMouseArea
            objectName: "launcherBtnMouseArea"
            anchors.fill: parent
            hoverEnabled: true
            cursorShape: Qt.PointingHandCursor
            enabled: bar.mainEnabled
            onClicked: bar.mainClicked()
        }
    }

    // A quieter companion of the main button: same shape, muted fill, purple rim.
    Rectangle {
        id: repairBtn
        objectName: "repairBtn"
        width: 180
        height: 60
        radius: 32
        y: launcherBtn.y
        x: launcherBtn.x - 16 - width
        color: "#3D3566"
        border.color: "#6D5BF5"
        border.width: 2
        visible: bar.repairVisible

        Text {
            id: repairButtonText
            objectName: "repairButtonText"
            anchors.centerIn: parent
            text: bar.repairCaption
            color: "white"
            font.pixelSize: 18
            font.weight: 600
            font.letterSpacing: 1
        }

        MouseArea {
            id: repairBtnMouseArea
            objectName: "repairBtnMouseArea"
            anchors.fill: parent
            hoverEnabled: true
            cursorShape: Qt.PointingHandCursor
            enabled: bar.repairVisible
            onClicked: bar.repairClicked()
        }
    }

    Rectangle {
        id: moreOpenGameBtn
        objectName: "moreOpenGameBtn"

        property bool isInstallGame: false
        property real lastClickTime: 0

        width: 60
        height: 60
        anchors.left: launcherBtn.right
        anchors.leftMargin: 16
        anchors.verticalCenter: launcherBtn.verticalCenter
        color: "transparent"
        visible: isInstallGame && ContextViewLauncher.IsOpenMore() && !launcherBtnMouseArea.enabled

        Image {
            id: moreOpenIcon
            objectName: "moreOpenIcon"
            anchors.fill: parent
            source: "../assets/moreOpenIcon.png"
        }

        MouseArea {
            objectName: "moreOpenGameMouseArea"
            anchors.fill: parent
            hoverEnabled: true
            cursorShape: Qt.PointingHandCursor
            onEntered: moreGamesHoverBubble.visible = true
            onExited: moreGamesHoverBubble.visible = false
            onPressed: moreOpenIcon.source = "../assets/moreOpenClickedIcon.png"
            onReleased: moreOpenIcon.source = "../assets/moreOpenIcon.png"
            onClicked: bar.moreOpenClicked()
        }
    }

    OrbHoverBubble {
        id: moreGamesHoverBubble
        objectName: "moreGamesHoverBubble"
        anchors.bottom: moreOpenGameBtn.top
        anchors.bottomMargin: 16
        anchors.horizontalCenter: moreOpenGameBtn.horizontalCenter
        content: "点击启动更多游戏客户端"
    }

    Rectangle {
        id: closeAllGameBtn
        objectName: "closeAllGameBtn"

        property bool isInstallGame: false

        width: 60
        height: 60
        anchors.left: moreOpenGameBtn.right
        anchors.leftMargin: 16
        anchors.verticalCenter: moreOpenGameBtn.verticalCenter
        color: "transparent"
        visible: isInstallGame && ContextViewLauncher.IsOpenMore() && !launcherBtnMouseArea.enabled

        Image {
            id: closeAllGamesIcon
            objectName: "closeAllGamesIcon"
            anchors.fill: parent
            source: "../assets/closeAllGamesIcon.png"
        }

        MouseArea {
            objectName: "closeAllGameMouseArea"
            anchors.fill: parent
            hoverEnabled: true
            cursorShape: Qt.PointingHandCursor
            onEntered: closeAllHoverBubble.visible = true
            onExited: closeAllHoverBubble.visible = false
            onPressed: closeAllGamesIcon.source = "../assets/closeAllGamesClickedIcon.png"
            onReleased: closeAllGamesIcon.source = "../assets/closeAllGamesIcon.png"
            onClicked: bar.closeAllClicked()
        }
    }

    OrbHoverBubble {
        id: closeAllHoverBubble
        objectName: "closeAllHoverBubble"
        anchors.bottom: closeAllGameBtn.top
        anchors.bottomMargin: 16
        anchors.horizontalCenter: closeAllGameBtn.horizontalCenter
        content: "一键关闭游戏"
    }

    Rectangle {
        id: gameUpdateHint
        objectName: "gameUpdateHint"
        width: 183
        height: 20
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 54
        anchors.horizontalCenter: parent.horizontalCenter
        color: "transparent"
        visible: bar.hintVisible

        Text {
            id: gameUpdateHintContent
            objectName: "gameUpdateHintContent"
            anchors.fill: parent
            text: bar.hintText
            color: "#837D9F"
            font.pixelSize: 14
            font.weight: 400
            font.letterSpacing: 1
        }
    }
}
