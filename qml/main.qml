import QtQuick
import QtQuick.Window
import "components"

Window {
    id: window

    property bool closeConfirmed: false
    property bool gameRuning: false
    property real scaleFactor: 1.0
    property string gameNickName: ""
    // Where the launcher stands; the bottom controls, the progress bar, the
    // download panel and the restart dialog follow it through `stageStates`.
    // Checking, CheckFailed, LauncherUpdate, LauncherUpdating, LauncherReady,
    // Ready, Downloading, Paused, Downloaded, Installing, Installed, Repairing, Playing.
    property string stage: "Checking"
    // The stage the main button offers when nothing runs: Ready, Downloaded or Installed.
    property string idleStage: "Ready"
    readonly property bool idle: stage === "Ready" || stage === "Downloaded" || stage === "Installed"
    // The check's download has started (the check button turns grey).
    property bool checkBusy: false
    // The check could not start; the quit-only dialog waits for a failure report.
    property bool checkStartRefused: false
    // The launcher must be updated before anything else (the check said so).
    property bool launcherUpdateForced: false
    // A game update is offered until a download is requested.
    property bool gameUpdateOffered: false
    property string gameUpdateText: ""
    readonly property string idleCaption: window.captionFor(window.idleStage)
    // The installation came from the publisher's manifest, so it can be verified
    // and repaired; asked again whenever the stage moves.
    property bool repairAvailable: false
    // Offered beside "开始游戏" only: not while an update waits, nothing else runs.
    readonly property bool repairOffered: window.repairAvailable && window.stage === "Installed"
                                          && !window.gameUpdateOffered

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
        window.idleStage = window.currentIdleStage()
        window.repairAvailable = ContextViewLauncher.IsRepairAvailable()
    }

    onStageChanged: window.repairAvailable = ContextViewLauncher.IsRepairAvailable()

    OrbWebView {
        id: contentLoader
        objectName: "contentLoader"
        anchors.fill: parent
    }

    OrbTopBar {
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

    OrbActionBar {
        id: actionBar
        objectName: "actionBar"
        anchors.fill: parent
        checkVisible: false
        checkCaption: "版本检测中..."
        checkColor: "#6D5BF5"
        checkClickable: false
        checkBeside: false
        mainVisible: false
        mainCaption: window.idleCaption
        mainColor: "#6D5BF5"
        mainEnabled: true
        hintVisible: window.gameUpdateOffered && (window.idle || window.stage === "CheckFailed")
        hintText: window.gameUpdateText
        repairVisible: window.repairOffered
        onRepairClicked: window.handleRepairRequest()
        onCheckClicked: {
            if (window.stage === "CheckFailed")
                window.handleUpdateCheckRetry()
            else if (window.stage === "LauncherUpdate")
                window.handleUpdateCheckBtnClick()
        }
        onMainClicked: window.handleLauncherButtonClick()
        onMoreOpenClicked: window.handleMoreOpenClick()
        onCloseAllClicked: dialogs.closeAllGames.visible = true
        // The stored text carries its own "v" ("v1.0.2"): the label shows one.
        Component.onCompleted: {
            actionBar.versionText = "V" + String(ContextViewLauncher.GetVersionContent()).replace(/^[vV]/, "")
            ContextViewLauncher.UpdateCheckStart()
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

    OrbDialogs {
        id: dialogs
        objectName: "dialogs"
        onQuitConfirmed: window.quitConfirmed()
        onHintUpdateAccepted: window.handleUpdateCheckBtnClick()
        onDownloadCancelConfirmed: window.handleDownloadCancel()
        onRestartDownloadClicked: window.handleRestartDownload()
        onPathSelectionClicked: window.handlePathSelection()
        onCloseAllGamesConfirmed: window.handleCloseAllGames()
    }

    OrbBubbleMessage {
        id: bubbleMessage
        objectName: "bubbleMessage"
        anchors.horizontalCenter: parent.horizontalCenter
        y: -height
        message: "开始下载"
    }

    OrbTray {
        id: systemTrayIcon
        objectName: "systemTrayIcon"
        tooltip: window.gameNickName
        onRestoreRequested: window.restoreWindow()
        onExitRequested: window.handleTrayExit()
        // While a game runs the item brings the window back and says why it waits.
        repairEnabled: window.repairOffered || (window.repairAvailable && window.stage === "Playing")
        onRepairRequested: window.handleTrayRepair()
    }

    StateGroup {
        id: stageStates
        state: window.stage
        states: [
            State {
                name: "Checking"
                PropertyChanges {
                    target: actionBar
                    checkVisible: true
                    checkColor: window.checkBusy ? "#C3C0D1" : "#6D5BF5"
                }
            },
            State {
                name: "CheckFailed"
                PropertyChanges {
                    target: actionBar
                    checkVisible: true
                    checkCaption: "重新检测"
                    checkClickable: true
                    checkBeside: true
                    mainVisible: true
                }
            },
            State {
                name: "LauncherUpdate"
                PropertyChanges {
                    target: actionBar
                    checkVisible: true
                    checkCaption: "更新启动器"
                    checkClickable: true
                    // An offered update may be declined: the game stays at hand.
                    checkBeside: !window.launcherUpdateForced
                    mainVisible: !window.launcherUpdateForced
                }
            },
            State {
                name: "LauncherUpdating"
                PropertyChanges { target: installerProgress; visible: true }
            },
            State {
                name: "LauncherReady"
                PropertyChanges { target: dialogs.launcherInstall; visible: true }
            },
            State {
                name: "Ready"
                PropertyChanges { target: actionBar; mainVisible: true }
            },
            State {
                name: "Downloaded"
                extend: "Ready"
            },
            State {
                name: "Installed"
                extend: "Ready"
            },
            State {
                name: "Downloading"
                PropertyChanges {
                    target: actionBar
                    mainVisible: true
                    mainCaption: "下载中"
                    mainColor: "#C3C0D1"
                    mainEnabled: false
                }
                PropertyChanges { target: downloadDisplayBubble; visible: true }
            },
            State {
                name: "Paused"
                extend: "Downloading"
            },
            State {
                name: "Installing"
                PropertyChanges { target: installerProgress; visible: true }
            },
            State {
                name: "Repairing"
                PropertyChanges {
                    target: actionBar
                    mainVisible: true
                    mainCaption: qsTr("修复中")
                    mainColor: "#C3C0D1"
                    mainEnabled: false
                }
                PropertyChanges { target: downloadDisplayBubble; visible: true; pausable: false }
            },
            State {
                name: "Playing"
                PropertyChanges {
                    target: actionBar
                    mainVisible: true
                    mainCaption: "运行中"
                    mainColor: "#C3C0D1"
                    mainEnabled: false
                }
            }
        ]
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
        function onSigDownloadFailed(reason) { window.handleDownloadFailed(reason) }
        function onSigRepairFinished(ok, summary) { window.handleRepairFinished(ok, summary) }
    }

    // Every close request, an application quit included, passes here.
    onClosing: (close) => {
        if (window.gameRuning && !window.closeConfirmed) {
            window.visibility = Window.Minimized
            close.accepted = false
            dialogs.closeWindowConfirm.visible = false
            return
        }
        if (!window.closeConfirmed) {
            close.accepted = false
            dialogs.closeWindowConfirm.visible = true
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
        dialogs.closeWindowConfirm.visible = true
    }

    // Verify and repair, from the button or the tray; the progress arrives as a download's.
    function handleRepairRequest() {
        if (!window.repairOffered) {
            console.log("repair not offered in", window.stage)
            return
        }
        downloadDisplayBubble.isPause = false
        downloadDisplayBubble.resetProgress()
        downloadDisplayBubble.installGameInfo = ContextViewLauncher.GetInstallGameInfo()
        window.stage = "Repairing"
        ContextViewLauncher.VerifyAndRepair()
    }

    function handleTrayRepair() {
        window.restoreWindow()
        if (window.stage === "Playing") {
            window.showTip(qsTr("游戏运行中，请关闭游戏后再校验并修复"))
            return
        }
        window.handleRepairRequest()
    }

    // Ends a repair once; a late or stray report is only logged.
    function handleRepairFinished(ok, summary) {
        if (window.stage !== "Repairing") {
            console.log("repair report ignored in", window.stage, ok, summary)
            return
        }
        downloadDisplayBubble.isPause = true
        window.goIdle()
        if (ok)
            window.showTip(window.withReason(qsTr("校验完成"), summary))
        else
            window.showTip(window.withReason(qsTr("校验修复失败，请重试"), summary))
    }

    function currentIdleStage() {
        if (ContextViewLauncher.IsInstall())
            return "Installed"
        if (ContextViewLauncher.IsDownloadFinish())
            return "Downloaded"
        return "Ready"
    }

    function captionFor(idleStage) {
        if (window.gameUpdateOffered)
            return "更新游戏"
        if (idleStage === "Installed")
            return "开始游戏"
        if (idleStage === "Downloaded")
            return "安装游戏"
        return "下载游戏"
    }

    function checkGameStages() {
        return window.captionFor(window.currentIdleStage())
    }

    // Back to what the main button offers when nothing runs, read afresh from the bridge.
    function goIdle() {
        window.idleStage = window.currentIdleStage()
        window.stage = window.idleStage
    }

    function handleMoreOpenClick() {
        const now = Date.now()
        if (now - actionBar.moreOpenButton.lastClickTime < 2000)
            return
        ContextViewLauncher.StartPlay()
        console.log("Button clicked!")
        actionBar.moreOpenButton.lastClickTime = now
    }

    function handleLauncherButtonClick() {
        if (ContextViewLauncher.IsInstall()) {
            actionBar.moreOpenButton.isInstallGame = true
            actionBar.closeAllButton.isInstallGame = true
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
        window.gameUpdateOffered = false
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
        downloadDisplayBubble.isPause = false
        downloadDisplayBubble.installGameInfo = ContextViewLauncher.GetInstallGameInfo()
        window.stage = "Downloading"
        window.showBubbleMessage("开始下载")
    }

    // Paused on request or by a network failure; the panel offers resume. A stop
    // that follows a refused package (already back at the main button) says nothing.
    function handleDownloadStop() {
        if (window.stage !== "Downloading" && window.stage !== "Paused") {
            console.log("download stop outside a download ignored in", window.stage)
            return
        }
        downloadDisplayBubble.isPause = true
        window.stage = "Paused"
        window.showBubbleMessage("暂停下载")
    }

    function handleDownloadFinish() {
        downloadDisplayBubble.isPause = true
        window.goIdle()
        window.showBubbleMessage("下载完成")
    }

    function resetDownloadButton() {
        window.goIdle()
    }

    function handleDownloadCancel() {
        window.resetDownloadButton()
        dialogs.closeDownload.visible = false
        ContextViewLauncher.SetDownloadStatus(false)
    }

    function handleStarInstall() {
        const need = ContextViewLauncher.GetDownLoadFileSize() / 2 + 1
        const free = ContextViewLauncher.GetDiskSpace()
        console.log("installGameSpace", need, "diskSpace", free)
        if (Math.floor(need) < Math.floor(free)) {
            window.stage = "Installing"
            ContextViewLauncher.StartInstall()
        } else {
            window.showTip("当前磁盘空间不足" + need + "GB , 请清理后重试")
        }
    }

    function handleExtractFinish() {
        if (window.stage !== "Installing") {
            console.log("extraction finish outside an installation ignored in", window.stage)
            return
        }
        // Only a recorded installation is a success.
        if (!ContextViewLauncher.IsInstall()) {
            window.handleInstallFailed("")
            return
        }
        window.goIdle()
        window.showBubbleMessage("安装完成")
    }

    function handleStartPlayGameCallback(result) {
        if (result) {
            window.stage = "Playing"
            window.gameRuning = true
            if (!ContextViewLauncher.IsOpenMore()) {
                window.hide()
                systemTrayIcon.show()
                systemTrayIcon.showNotification("消息", "游戏开始运行", 3)
            }
        } else {
            window.idleStage = "Installed"
            window.stage = "Installed"
            window.gameRuning = false
            if (!ContextViewLauncher.IsOpenMore()) {
                window.show()
                systemTrayIcon.hide()
            }
        }
    }

    function handleNotFoundExecutable() {
        window.handleResetContent()
        dialogs.startGameFailed.visible = true
    }

    function handleResetContent() {
        dialogs.startGameFailed.content = "\"" + ContextViewLauncher.GetInstallPath() + "\""
                + " 未检测到游戏包体，请确认路径是否选择正确，或者重新下载游戏。"
    }

    function handleRestartDownload() {
        console.log("start Restart Download")
        dialogs.startGameFailed.visible = false
        window.resetPathSelection(false)
    }

    function handlePathSelection() {
        console.log("start PathSelection")
        dialogs.startGameFailed.visible = false
        window.resetPathSelection(true)
    }

    function handleCloseAllGames() {
        dialogs.closeAllGames.visible = false
        ContextViewLauncher.CloseAllGames()
    }

    function handleUpdateCheckcallback(result) {
        if (result) {
            window.checkBusy = true
            return
        }
        // A refused start is followed by its failure report, which shows a tip
        // and lets the player go on; only without one is the way out to quit.
        window.checkStartRefused = true
        Qt.callLater(window.showCheckRefusedWithoutReport)
    }

    function showCheckRefusedWithoutReport() {
        if (window.checkStartRefused)
            dialogs.updateCheckError.visible = true
    }

    function handleUpdateCheckFinish(result) {
        if (window.stage !== "Checking" && window.stage !== "CheckFailed") {
            console.log("update check finish ignored in", window.stage)
            return
        }
        if (!result) {
            window.launcherUpdateForced = true
            window.stage = "LauncherUpdate"
        } else if (window.stage === "CheckFailed") {
            // The local settings go on; the retry stays offered.
            window.idleStage = window.currentIdleStage()
        } else {
            window.goIdle()
        }
    }

    function handelResetUpdateCheckBtn() {
        window.stage = "LauncherUpdate"
    }

    function handleUpdateCheckBtnClick() {
        window.stage = "LauncherUpdating"
        ContextViewLauncher.LauncherUpdateStart()
    }

    function handleHintUpdate(content) {
        dialogs.showHintUpdate(content)
    }

    function handleLauncherInstall() {
        if (window.stage !== "LauncherUpdating") {
            console.log("launcher package ready ignored in", window.stage)
            return
        }
        window.closeConfirmed = true
        window.stage = "LauncherReady"
    }

    function handleUpdateGameHint(content) {
        window.gameUpdateText = content
        window.gameUpdateOffered = true
    }

    function showTip(message) {
        dialogs.showTip(message)
    }

    function withReason(message, reason) {
        const detail = String(reason === undefined || reason === null ? "" : reason).trim()
        return detail === "" ? message : message + "（" + detail + "）"
    }

    // The check (or the launcher-package download) ended without an answer, e.g. offline.
    function handleUpdateCheckFailed(reason) {
        window.checkStartRefused = false
        dialogs.updateCheckError.visible = false
        if (window.stage === "LauncherUpdating") {
            window.stage = "LauncherUpdate"
            window.showTip(window.withReason("启动器更新失败，请检查网络后重试", reason))
            return
        }
        if (window.stage !== "Checking" && window.stage !== "CheckFailed") {
            console.log("update check failure ignored in", window.stage, reason)
            return
        }
        window.idleStage = window.currentIdleStage()
        window.stage = "CheckFailed"
        window.showTip(window.withReason("版本检测失败，请检查网络后重试", reason))
    }

    function handleUpdateCheckRetry() {
        window.checkBusy = false
        window.stage = "Checking"
        ContextViewLauncher.UpdateCheckStart()
    }

    // Extraction failed: the package is kept, so the player can install (or update the launcher) again.
    function handleInstallFailed(reason) {
        if (window.stage === "LauncherUpdating") {
            window.stage = "LauncherUpdate"
            window.showTip(window.withReason("启动器更新失败，请重试", reason))
            return
        }
        if (window.stage !== "Installing") {
            console.log("install failure ignored in", window.stage, reason)
            return
        }
        window.goIdle()
        window.showTip(window.withReason("游戏安装失败，请检查磁盘空间后重试", reason))
    }

    // The downloaded package was refused and removed: back to the main button to download again.
    function handleDownloadVerifyFailed(reason) {
        downloadDisplayBubble.isPause = true
        dialogs.closeDownload.visible = false
        window.goIdle()
        window.showTip(window.withReason("游戏包校验失败，请重新下载", reason))
    }

    // The download could not even start: back at the main button, with the reason.
    function handleDownloadFailed(reason) {
        downloadDisplayBubble.isPause = true
        window.goIdle()
        window.showTip(window.withReason("下载失败，请重试", reason))
    }

    function handleTopBarClose() {
        console.log("TopBar onCloseWindow triggered")
        if (downloadDisplayBubble.visible && downloadDisplayBubble.pausable && !downloadDisplayBubble.isPause)
            dialogs.closeDownload.visible = true
        else
            dialogs.closeWindowConfirm.visible = true
    }

    function handleDownloadDisplayClose() {
        console.log("DownloadDisplay onCloseWindow triggered")
        if (!downloadDisplayBubble.isPause)
            dialogs.closeDownload.visible = true
        else
            window.resetDownloadButton()
    }

    function showBubbleMessage(message) {
        bubbleMessage.message = message
        bubbleMessage.showBubble()
    }

    function handlePathSelectorClose() { console.log("PathSelector onCloseWindow triggered") }
}
