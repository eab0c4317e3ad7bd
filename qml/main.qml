import QtQuick
import QtQuick.Window
import Qt.labs.platform as Platform
import "components"

Window {
    id: window

    property bool closeConfirmed: false
    property bool gameRuning: false
    property real scaleFactor: 1.0
    property string gameNickName: ""
    // The update check ended without an answer; the check button then offers a new attempt.
    property bool updateCheckRetry: false
    // The launcher package is being fetched or unpacked.
    property bool launcherUpdating: false

    width: 1350 / scaleFactor
    height: 760 / scaleFactor
    visible: true
    title: gameNickName
    color: "#1b1d23"
    flags: Qt.Window | Qt.FramelessWindowHint | Qt.WindowSystemMenuHint
           | Qt.WindowMinimizeButtonHint | Qt.WindowMaximizeButtonHint

    Component.onCompleted: {
        window.gameNickName = ContextViewLauncher.GetGameNickName()
        window.scaleFactor = ContextViewLauncher.GetDevicePixelRatio()
    }

    WebEngineView {
        id: contentLoader
        objectName: "contentLoader"
        anchors.fill: parent
    }

    TopBar {
        id: torbar
        objectName: "torbar"
        anchors.top: parent.top
        anchors.left: parent.left
        anchors.right: parent.right
        onDialogLoaded: torbar.closeHandler = window.handleTopBarClose
    }

    Rectangle {
        id: background
        objectName: "background"
        height: 280
        anchors.bottom: parent.bottom
        anchors.left: parent.left
        anchors.right: parent.right
        gradient: Gradient {
            GradientStop { position: 0.0; color: "#00000000" }
            GradientStop { position: 1.0; color: "#FF000000" }
        }
    }

    OrbInstallerProgress {
        id: installerProgress
        objectName: "installerProgress"
        width: 1350
        height: 280
        anchors.bottom: parent.bottom
        visible: false
    }

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
            color: "#3B3A3E"
            font.pixelSize: 12
            font.weight: 400
            font.letterSpacing: 1
            // The stored text carries its own "v" ("v1.0.2"): the label shows one.
            Component.onCompleted: versionNameText.text = "V" + String(ContextViewLauncher.GetVersionContent()).replace(/^[vV]/, "")
        }
    }

    Rectangle {
        id: updateCheckBtn
        objectName: "updateCheckBtn"
        width: 306
        height: 60
        radius: 32
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 86
        anchors.horizontalCenter: parent.horizontalCenter
        color: "#6D5BF5"

        Component.onCompleted: ContextViewLauncher.UpdateCheckStart()

        Text {
            id: updateCheckButtonText
            objectName: "updateCheckButtonText"
            anchors.centerIn: parent
            text: "版本检测中..."
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
            visible: false
            onClicked: {
                if (window.updateCheckRetry)
                    window.handleUpdateCheckRetry()
                else
                    window.handleUpdateCheckBtnClick()
            }
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
        color: "#6D5BF5"
        visible: false

        Text {
            id: launcherButtonText
            objectName: "launcherButtonText"
            anchors.centerIn: parent
            color: "white"
            font.pixelSize: 18
            font.weight: 600
            font.letterSpacing: 1
            Component.onCompleted: launcherButtonText.text = window.checkGameStages()
        }

        MouseArea {
            id: launcherBtnMouseArea
            objectName: "launcherBtnMouseArea"
            anchors.fill: parent
            hoverEnabled: true
            cursorShape: Qt.PointingHandCursor
            onClicked: window.handleLauncherButtonClick()
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
            source: "./assets/moreOpenIcon.png"
        }

        MouseArea {
            objectName: "moreOpenGameMouseArea"
            anchors.fill: parent
            hoverEnabled: true
            cursorShape: Qt.PointingHandCursor
            onEntered: moreGamesHoverBubble.visible = true
            onExited: moreGamesHoverBubble.visible = false
            onPressed: moreOpenIcon.source = "./assets/moreOpenClickedIcon.png"
            onReleased: moreOpenIcon.source = "./assets/moreOpenIcon.png"
            onClicked: window.handleMoreOpenClick()
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
            source: "./assets/closeAllGamesIcon.png"
        }

        MouseArea {
            objectName: "closeAllGameMouseArea"
            anchors.fill: parent
            hoverEnabled: true
            cursorShape: Qt.PointingHandCursor
            onEntered: closeAllHoverBubble.visible = true
            onExited: closeAllHoverBubble.visible = false
            onPressed: closeAllGamesIcon.source = "./assets/closeAllGamesClickedIcon.png"
            onReleased: closeAllGamesIcon.source = "./assets/closeAllGamesIcon.png"
            onClicked: closeAllGamesDialog.visible = true
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
        visible: false

        Text {
            id: gameUpdateHintContent
            objectName: "gameUpdateHintContent"
            anchors.fill: parent
            color: "#837D9F"
            font.pixelSize: 14
            font.weight: 400
            font.letterSpacing: 1
        }
    }

    OrbPathSelector {
        id: pathSelector
        objectName: "pathSelector"
        visible: false
        onDialogLoaded: pathSelector.closeHandler = window.handlePathSelectorClose
        onConfirmClicked: {
            if (!pathSelector.isReselect)
                window.handleDownloadGame()
            else
                window.handleSelectGamePath()
        }
    }

    OrbDownloadDisplay {
        id: downloadDisplayBubble
        objectName: "downloadDisplayBubble"
        visible: false
        onDialogLoaded: downloadDisplayBubble.closeHandler = window.handleDownloadDisplayClose
    }

    OrbCommonDialog {
        id: commonTipDialog
        objectName: "commonTipDialog"
        showLogo: false
        title: "提示"
        showCancelButton: false
        confirmButtonText: "确定"
        onConfirmClicked: commonTipDialog.visible = false
        onDialogLoaded: commonTipDialog.closeHandler = window.handleCommonTipDialogClose
    }

    OrbCommonDialog {
        id: hintUpdateDialog
        objectName: "hintUpdateDialog"
        showLogo: false
        title: "提示"
        cancelButtonText: "暂不更新"
        confirmButtonText: "更新启动器"
        onCancelClicked: hintUpdateDialog.visible = false
        onConfirmClicked: {
            gameUpdateHint.visible = false
            hintUpdateDialog.visible = false
            launcherBtn.visible = false
            window.handleUpdateCheckBtnClick()
        }
        onDialogLoaded: hintUpdateDialog.closeHandler = window.handleHintUpdateDialogClose
    }

    OrbCommonDialog {
        id: launcherInstallDialog
        objectName: "launcherInstallDialog"
        showLogo: false
        title: "提示"
        content: "启动器已完成更新，重启后生效"
        showCloseBtn: false
        showCancelButton: false
        confirmButtonText: "立即重启"
        onConfirmClicked: ContextViewLauncher.LauncherInstall()
    }

    OrbCommonDialog {
        id: updateCheckErrorDialog
        objectName: "updateCheckErrorDialog"
        showLogo: false
        title: "提示"
        content: "更新异常，请退出重试"
        showCancelButton: false
        confirmButtonText: "退出"
        onConfirmClicked: window.quitConfirmed()
        onDialogLoaded: updateCheckErrorDialog.closeHandler = window.quitConfirmed
    }

    OrbCommonDialog {
        id: closeWindowConfirmDialog
        objectName: "closeWindowConfirmDialog"
        showLogo: false
        title: "提示"
        content: "请再次确认是否要退出？"
        cancelButtonText: "取消"
        confirmButtonText: "确认"
        onCancelClicked: closeWindowConfirmDialog.visible = false
        onConfirmClicked: window.quitConfirmed()
        onDialogLoaded: closeWindowConfirmDialog.closeHandler = window.handleCloseWindowConfirmDialogClose
    }

    OrbCommonDialog {
        id: closeDownloadDialog
        objectName: "closeDownloadDialog"
        showLogo: false
        title: "提示"
        content: "正在下载中是否要取消？"
        cancelButtonText: "取消"
        confirmButtonText: "确认"
        onCancelClicked: closeDownloadDialog.visible = false
        onConfirmClicked: window.handleDownloadCancel()
        onDialogLoaded: closeDownloadDialog.closeHandler = window.handleCloseDownloadDialogClose
    }

    OrbCommonDialog {
        id: startGameFailedDialog
        objectName: "startGameFailedDialog"
        showLogo: false
        title: "提示"
        cancelButtonText: "重新下载"
        confirmButtonText: "路径选择"
        onCancelClicked: window.handleRestartDownload()
        onConfirmClicked: window.handlePathSelection()
        onDialogLoaded: startGameFailedDialog.closeHandler = window.handleStartGameFailedDialogClose
    }

    OrbCommonDialog {
        id: closeAllGamesDialog
        objectName: "closeAllGamesDialog"
        showLogo: false
        title: "提示"
        content: "确认要关闭全部游戏窗口吗？"
        cancelButtonText: "取消"
        confirmButtonText: "确认"
        onCancelClicked: closeAllGamesDialog.visible = false
        onConfirmClicked: window.handleCloseAllGames()
        onDialogLoaded: closeAllGamesDialog.closeHandler = window.handleCloseAllGamesDialogClose
    }

    OrbBubbleMessage {
        id: bubbleMessage
        objectName: "bubbleMessage"
        anchors.horizontalCenter: parent.horizontalCenter
        y: -height
        message: "开始下载"
    }

    Platform.SystemTrayIcon {
        id: systemTrayIcon
        objectName: "systemTrayIcon"
        visible: false
        icon.source: "qrc:/qml/assets/valdane.ico"
        tooltip: window.gameNickName

        onActivated: (reason) => {
            if (reason === Platform.SystemTrayIcon.Trigger)
                window.restoreWindow()
        }
        onMessageClicked: console.log("Message clicked")

        menu: Platform.Menu {
            objectName: "trayMenu"

            Platform.MenuItem {
                objectName: "trayRestoreItem"
                text: qsTr("Restore")
                onTriggered: window.restoreWindow()
            }

            Platform.MenuItem {
                objectName: "trayExitItem"
                text: qsTr("Exit")
                onTriggered: window.handleTrayExit()
            }
        }

        // timeout in seconds
        function showNotification(title, message, timeout) {
            systemTrayIcon.showMessage(title, message, Platform.SystemTrayIcon.Information, timeout * 1000)
        }
    }

    Connections {
        target: ContextViewLauncher
        function onSigDownloadBtnClickedCallback(result) { window.handleDownloadBtnClicked(result) }
        function onSigDownloadStop() { window.handleDownloadStop() }
        function onSigDownloadFinish() { window.handleDownloadFinish() }
        function onSigExtractGameFinished() { window.handleExtractFinish() }
        function onSigStartPlayGameCallback(result) { window.handleStartPlayGameCallback(result) }
        function onSigNotFoundExecutable() { window.handleNotFoundExecutable() }
        function onSigUpdateCheckCallback(result) { window.handleUpdateCheckcallback(result) }
        function onSigUpdateCheckFinish(result) { window.handleUpdateCheckFinish(result) }
        function onSigHintUpdate(content) { window.handleHintUpdate(content) }
        function onSigExtractLauncherFinish() { window.handleLauncherInstall() }
        function onSigUpdateGameHint(content) { window.handleUpdateGameHint(content) }
        function onSigUpdateCheckFailed(reason) { window.handleUpdateCheckFailed(reason) }
        function onSigInstallFailed(reason) { window.handleInstallFailed(reason) }
        function onSigDownloadVerifyFailed(reason) { window.handleDownloadVerifyFailed(reason) }
    }

    // Every close request, an application quit included, passes here.
    onClosing: (close) => {
        if (window.gameRuning && !window.closeConfirmed) {
            window.visibility = Window.Minimized
            close.accepted = false
            closeWindowConfirmDialog.visible = false
            return
        }
        if (!window.closeConfirmed) {
            close.accepted = false
            closeWindowConfirmDialog.visible = true
            return
        }
        close.accepted = true
    }

    function quitConfirmed() {
        window.closeConfirmed = true
        Qt.quit()
    }

    // Also brings back a window the closing rule minimised.
    function restoreWindow() {
        window.showNormal()
        window.raise()
        window.requestActivate()
    }

    // Exit from the tray asks the same confirmation as any other way out.
    function handleTrayExit() {
        window.restoreWindow()
        closeWindowConfirmDialog.visible = true
    }

    function checkGameStages() {
        if (ContextViewLauncher.IsInstall())
            return "开始游戏"
        if (ContextViewLauncher.IsDownloadFinish())
            return "安装游戏"
        return "下载游戏"
    }

    function handleMoreOpenClick() {
        const now = Date.now()
        if (now - moreOpenGameBtn.lastClickTime < 2000)
            return
        ContextViewLauncher.StartPlay()
        console.log("Button clicked!")
        moreOpenGameBtn.lastClickTime = now
    }

    function handleLauncherButtonClick() {
        if (ContextViewLauncher.IsInstall()) {
            moreOpenGameBtn.isInstallGame = true
            closeAllGameBtn.isInstallGame = true
            window.handleStarPlay()
        } else if (ContextViewLauncher.IsDownloadFinish()) {
            window.handleStarInstall()
        } else if (ContextViewLauncher.IsDownloadStart()) {
            window.handleDownloadGame()
        } else {
            window.resetPathSelection(false)
        }
    }

    function handleStarPlay() {
        ContextViewLauncher.StartPlay()
    }

    function resetPathSelection(isReselect) {
        pathSelector.visible = true
        pathSelector.isReselect = isReselect
        pathSelector.contentText = isReselect ? "路径选择" : "开始下载"
    }

    function handleDownloadGame() {
        gameUpdateHint.visible = false
        ContextViewLauncher.DownLoadBtnClick(pathSelector.inputContext)
        ContextViewLauncher.SetDownloadStatus(true)
    }

    function handleSelectGamePath() {
        window.showBubbleMessage("设置成功")
    }

    function handleDownloadBtnClicked(result) {
        console.log("onSigDownloadBtnClickedCallback result:", result)
        if (!result)
            return
        console.log("start download btn triggered")
        launcherBtn.color = "#C3C0D1"
        launcherButtonText.text = "下载中"
        launcherBtnMouseArea.enabled = false
        downloadDisplayBubble.visible = true
        downloadDisplayBubble.isPause = false
        downloadDisplayBubble.installGameInfo = ContextViewLauncher.GetInstallGameInfo()
        window.showBubbleMessage("开始下载")
    }

    function handleDownloadStop() {
        downloadDisplayBubble.isPause = true
        window.showBubbleMessage("暂停下载")
    }

    function handleDownloadFinish() {
        downloadDisplayBubble.isPause = true
        downloadDisplayBubble.visible = false
        window.resetDownloadButton()
        window.showBubbleMessage("下载完成")
    }

    function resetDownloadButton() {
        launcherBtn.color = "#6D5BF5"
        launcherButtonText.text = window.checkGameStages()
        launcherBtnMouseArea.enabled = true
    }

    function handleDownloadCancel() {
        window.resetDownloadButton()
        closeDownloadDialog.visible = false
        downloadDisplayBubble.visible = false
        ContextViewLauncher.SetDownloadStatus(false)
    }

    function handleStarInstall() {
        const need = ContextViewLauncher.GetDownLoadFileSize() / 2 + 1
        const free = ContextViewLauncher.GetDiskSpace()
        console.log("installGameSpace", need, "diskSpace", free)
        if (Math.floor(need) < Math.floor(free)) {
            launcherBtn.visible = false
            installerProgress.visible = true
            ContextViewLauncher.StartInstall()
        } else {
            window.showTip("当前磁盘空间不足" + need + "GB , 请清理后重试")
        }
    }

    function handleExtractFinish() {
        installerProgress.visible = false
        launcherBtn.visible = true
        launcherButtonText.text = window.checkGameStages()
        window.showBubbleMessage("安装完成")
    }

    function handleStartPlayGameCallback(result) {
        if (result) {
            launcherBtn.color = "#C3C0D1"
            launcherButtonText.text = "运行中"
            launcherBtnMouseArea.enabled = false
            window.gameRuning = true
            if (!ContextViewLauncher.IsOpenMore()) {
                window.hide()
                systemTrayIcon.show()
                systemTrayIcon.showNotification("消息", "游戏开始运行", 3)
            }
        } else {
            launcherBtn.color = "#6D5BF5"
            launcherButtonText.text = "开始游戏"
            launcherBtnMouseArea.enabled = true
            window.gameRuning = false
            if (!ContextViewLauncher.IsOpenMore()) {
                window.show()
                systemTrayIcon.hide()
            }
        }
    }

    function handleNotFoundExecutable() {
        window.handleResetContent()
        startGameFailedDialog.visible = true
    }

    function handleResetContent() {
        startGameFailedDialog.content = "\"" + ContextViewLauncher.GetInstallPath() + "\""
                + " 未检测到游戏包体，请确认路径是否选择正确，或者重新下载游戏。"
    }

    function handleRestartDownload() {
        console.log("start Restart Download")
        startGameFailedDialog.visible = false
        window.resetPathSelection(false)
    }

    function handlePathSelection() {
        console.log("start PathSelection")
        startGameFailedDialog.visible = false
        window.resetPathSelection(true)
    }

    function handleCloseAllGames() {
        closeAllGamesDialog.visible = false
        ContextViewLauncher.CloseAllGames()
    }

    function handleUpdateCheckcallback(result) {
        if (!result)
            updateCheckErrorDialog.visible = true
        else
            updateCheckBtn.color = "#C3C0D1"
    }

    function handleUpdateCheckFinish(result) {
        window.updateCheckRetry = false
        if (result) {
            updateCheckBtn.visible = false
            launcherBtn.visible = true
        } else {
            window.handelResetUpdateCheckBtn()
        }
    }

    function handelResetUpdateCheckBtn() {
        updateCheckBtn.visible = true
        updateCheckBtn.color = "#6D5BF5"
        updateCheckButtonText.text = "更新启动器"
        updateCheckBtnMouseArea.visible = true
    }

    function handleUpdateCheckBtnClick() {
        window.launcherUpdating = true
        ContextViewLauncher.LauncherUpdateStart()
        updateCheckBtn.visible = false
        installerProgress.visible = true
    }

    function handleHintUpdate(content) {
        hintUpdateDialog.content = content
        hintUpdateDialog.visible = true
    }

    function handleLauncherInstall() {
        window.launcherUpdating = false
        window.closeConfirmed = true
        launcherInstallDialog.visible = true
    }

    function handleUpdateGameHint(content) {
        launcherButtonText.text = "更新游戏"
        gameUpdateHintContent.text = content
        gameUpdateHint.visible = true
    }

    function showTip(message) {
        commonTipDialog.content = message
        commonTipDialog.visible = true
    }

    function withReason(message, reason) {
        const detail = String(reason === undefined || reason === null ? "" : reason).trim()
        return detail === "" ? message : message + "（" + detail + "）"
    }

    // The check (or the launcher-package download) ended without an answer, e.g. offline.
    function handleUpdateCheckFailed(reason) {
        if (window.launcherUpdating) {
            window.launcherUpdating = false
            installerProgress.visible = false
            window.updateCheckRetry = false
            window.handelResetUpdateCheckBtn()
            window.showTip(window.withReason("启动器更新失败，请检查网络后重试", reason))
            return
        }
        window.updateCheckRetry = true
        launcherBtn.visible = false
        updateCheckBtn.visible = true
        updateCheckBtn.color = "#6D5BF5"
        updateCheckButtonText.text = "重新检测"
        updateCheckBtnMouseArea.visible = true
        window.showTip(window.withReason("版本检测失败，请检查网络后重试", reason))
    }

    function handleUpdateCheckRetry() {
        window.updateCheckRetry = false
        updateCheckBtnMouseArea.visible = false
        updateCheckBtn.color = "#6D5BF5"
        updateCheckButtonText.text = "版本检测中..."
        ContextViewLauncher.UpdateCheckStart()
    }

    // Extraction failed: back to Ready so the player can install again.
    function handleInstallFailed(reason) {
        installerProgress.visible = false
        if (window.launcherUpdating) {
            window.launcherUpdating = false
            window.handelResetUpdateCheckBtn()
            window.showTip(window.withReason("启动器更新失败，请重试", reason))
            return
        }
        launcherBtn.visible = true
        window.resetDownloadButton()
        window.showTip(window.withReason("游戏安装失败，请检查磁盘空间后重试", reason))
    }

    // The downloaded package is damaged: back to Ready so the player can download again.
    function handleDownloadVerifyFailed(reason) {
        downloadDisplayBubble.isPause = true
        downloadDisplayBubble.visible = false
        closeDownloadDialog.visible = false
        launcherBtn.visible = true
        window.resetDownloadButton()
        window.showTip(window.withReason("游戏包校验失败，请重新下载", reason))
    }

    function handleTopBarClose() {
        console.log("TopBar onCloseWindow triggered")
        if (downloadDisplayBubble.visible && !downloadDisplayBubble.isPause)
            closeDownloadDialog.visible = true
        else
            closeWindowConfirmDialog.visible = true
    }

    function handleDownloadDisplayClose() {
        console.log("DownloadDisplay onCloseWindow triggered")
        if (!downloadDisplayBubble.isPause) {
            closeDownloadDialog.visible = true
        } else {
            downloadDisplayBubble.visible = false
            window.resetDownloadButton()
        }
    }

    function showBubbleMessage(message) {
        bubbleMessage.message = message
        bubbleMessage.showBubble()
    }

    function handlePathSelectorClose() { console.log("PathSelector onCloseWindow triggered") }
    function handleCommonTipDialogClose() {}
    function handleHintUpdateDialogClose() {}
    function handleCloseWindowConfirmDialogClose() { console.log("CloseWindowConfirmDialog onCloseWindow triggered") }
    function handleCloseDownloadDialogClose() { console.log("CloseDownloadDialog onCloseWindow triggered") }
    function handleStartGameFailedDialogClose() { console.log("StartGameFailed onCloseWindow triggered") }
    function handleCloseAllGamesDialogClose() { console.log("CloseAllGamesDialog onCloseWindow triggered") }
}
