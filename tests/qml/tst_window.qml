import QtQuick
import QtQuick.Window
import QtTest

// The launcher window, loaded from the program's resources in an engine of
// its own with the view double as "ContextViewLauncher".
TestCase {
    id: testCase
    name: "LauncherWindow"
    when: windowShown

    property var win: null

    function openWindow(answers) {
        ContextViewLauncher.destroyWindow()
        ContextViewLauncher.clearAnswers()
        ContextViewLauncher.clearCalls()
        for (const key in answers)
            ContextViewLauncher.setAnswer(key, answers[key])
        win = ContextViewLauncher.createWindow("qrc:/qml/main.qml")
        verify(win, ContextViewLauncher.windowErrors().join("\n"))
        // The scene takes the window's size once the window has been laid out.
        tryVerify(function() { return win.contentItem.width === win.width && win.contentItem.height === win.height })
        return win
    }

    function item(name) {
        const found = ContextViewLauncher.findInWindow(name)
        verify(found, name)
        return found
    }

    function part(parentName, name) {
        const found = findChild(item(parentName), name)
        verify(found, parentName + "/" + name)
        return found
    }

    function caption() {
        return item("launcherButtonText").text
    }

    function clickConfirm(dialogName) {
        mouseClick(part(dialogName, "confirmButton"))
    }

    function clickCancel(dialogName) {
        mouseClick(part(dialogName, "cancelButton"))
    }

    function lastArgs(method) {
        const all = ContextViewLauncher.callArgs(method)
        return all.length ? all[all.length - 1] : undefined
    }

    // Checking -> Ready.
    function toReady() {
        ContextViewLauncher.sigUpdateCheckCallback(true)
        ContextViewLauncher.sigUpdateCheckFinish(true)
        verify(item("launcherBtn").visible)
    }

    function toDownloading() {
        toReady()
        ContextViewLauncher.sigDownloadBtnClickedCallback(true)
        verify(item("downloadDisplayBubble").visible)
    }

    function cleanup() {
        ContextViewLauncher.destroyWindow()
        win = null
    }

    function test_startup() {
        openWindow({ GetDevicePixelRatio: 1.25, GetGameNickName: "Valdane", GetVersionContent: "1.0.2" })
        compare(win.title, "Valdane")
        compare(win.gameNickName, "Valdane")
        compare(win.width, 1080)
        compare(win.height, 608)
        compare(win.flags & Qt.FramelessWindowHint, Qt.FramelessWindowHint)
        verify(win.visible)
        compare(item("versionNameText").text, "V1.0.2")
        compare(ContextViewLauncher.callCount("UpdateCheckStart"), 1)
        verify(item("updateCheckBtn").visible)
        compare(item("updateCheckButtonText").text, "版本检测中...")
        verify(!item("updateCheckBtnMouseArea").visible)
        verify(!item("launcherBtn").visible)
        verify(!item("installerProgress").visible)
        verify(!item("pathSelector").visible)
        verify(!item("downloadDisplayBubble").visible)
        verify(!item("systemTrayIcon").visible)
        verify(!win.closeConfirmed)
        verify(!win.gameRuning)
    }

    function test_stageCaption_data() {
        return [
            { tag: "installed", install: true, finished: true, text: "开始游戏" },
            { tag: "downloaded", install: false, finished: true, text: "安装游戏" },
            { tag: "nothing yet", install: false, finished: false, text: "下载游戏" },
        ]
    }

    function test_stageCaption(data) {
        openWindow({ IsInstall: data.install, IsDownloadFinish: data.finished })
        compare(caption(), data.text)
        toReady()
        compare(caption(), data.text)
        compare(item("launcherBtn").color, Qt.color("#6D5BF5"))
    }

    function test_checkingTurnsBusy() {
        openWindow({})
        compare(item("updateCheckBtn").color, Qt.color("#6D5BF5"))
        ContextViewLauncher.sigUpdateCheckCallback(true)
        compare(item("updateCheckBtn").color, Qt.color("#C3C0D1"))
        // Not clickable while checking.
        mouseClick(item("updateCheckBtn"))
        compare(ContextViewLauncher.callCount("LauncherUpdateStart"), 0)
    }

    // need = size / 2 + 1; installs only when int(need) < int(free).
    function test_installDiskSpace_data() {
        return [
            { tag: "30 with 16 free", size: 30, free: 16, installs: false, need: "16" },
            { tag: "30 with 17 free", size: 30, free: 17, installs: true },
            { tag: "25 with 14 free", size: 25, free: 14, installs: true },
            { tag: "25 with 13 free", size: 25, free: 13, installs: false, need: "13.5" },
            { tag: "0 with 1 free", size: 0, free: 1, installs: false, need: "1" },
            { tag: "0 with 2 free", size: 0, free: 2, installs: true },
        ]
    }

    function test_installDiskSpace(data) {
        openWindow({ IsDownloadFinish: true, GetDownLoadFileSize: data.size, GetDiskSpace: data.free })
        toReady()
        mouseClick(item("launcherBtn"))
        compare(ContextViewLauncher.callCount("StartInstall"), data.installs ? 1 : 0)
        compare(item("installerProgress").visible, data.installs)
        compare(item("launcherBtn").visible, !data.installs)
        compare(item("commonTipDialog").visible, !data.installs)
        if (!data.installs)
            compare(item("commonTipDialog").content, "当前磁盘空间不足" + data.need + "GB , 请清理后重试")
    }

    function test_installFinishes() {
        openWindow({ IsDownloadFinish: true, GetDownLoadFileSize: 10, GetDiskSpace: 50 })
        toReady()
        mouseClick(item("launcherBtn"))
        ContextViewLauncher.sigProgressValue(42, "游戏安装进度")
        compare(part("installerProgress", "progressText").text, "游戏安装进度42%")
        ContextViewLauncher.setAnswer("IsInstall", true)
        ContextViewLauncher.sigExtractGameFinished()
        verify(!item("installerProgress").visible)
        verify(item("launcherBtn").visible)
        compare(caption(), "开始游戏")
        compare(item("bubbleMessage").message, "安装完成")
    }

    function test_tipDialogConfirmHides() {
        openWindow({ IsDownloadFinish: true, GetDownLoadFileSize: 30, GetDiskSpace: 3 })
        toReady()
        mouseClick(item("launcherBtn"))
        verify(item("commonTipDialog").visible)
        clickConfirm("commonTipDialog")
        verify(!item("commonTipDialog").visible)
    }

    function test_backdropSwallowsClicks() {
        openWindow({})
        toReady()
        item("commonTipDialog").visible = true
        mouseClick(item("launcherBtn"))
        verify(!item("pathSelector").visible, "the click did not reach the main button")
        compare(ContextViewLauncher.callCount("IsDownloadStart"), 0)
        item("commonTipDialog").visible = false
        mouseClick(item("launcherBtn"))
        verify(item("pathSelector").visible)
    }

    function test_downloadFlow() {
        openWindow({ GetInstallPath: "C:/Games", GetInstallGameInfo: "Valdane1.0" })
        toReady()
        mouseClick(item("launcherBtn"))
        const selector = item("pathSelector")
        verify(selector.visible)
        verify(!selector.isReselect)
        compare(selector.contentText, "开始下载")
        ContextViewLauncher.clearCalls()
        mouseClick(part("pathSelector", "confirmButton"))
        compare(ContextViewLauncher.calls().filter(n => n === "SetInstallPath" || n === "DownLoadBtnClick" || n === "SetDownloadStatus"),
                ["SetInstallPath", "DownLoadBtnClick", "SetDownloadStatus"])
        compare(lastArgs("DownLoadBtnClick"), ["C:/Games"])
        compare(lastArgs("SetDownloadStatus"), [true])
        ContextViewLauncher.sigDownloadBtnClickedCallback(true)
        compare(caption(), "下载中")
        compare(item("launcherBtn").color, Qt.color("#C3C0D1"))
        verify(!item("launcherBtnMouseArea").enabled)
        const display = item("downloadDisplayBubble")
        verify(display.visible)
        verify(!display.isPause)
        compare(display.installGameInfo, "Valdane1.0")
        compare(item("bubbleMessage").message, "开始下载")
        ContextViewLauncher.sigDownloadStop()
        verify(display.isPause)
        compare(item("bubbleMessage").message, "暂停下载")
        ContextViewLauncher.sigDownloadBtnClickedCallback(true)
        verify(!display.isPause)
        ContextViewLauncher.setAnswer("IsDownloadFinish", true)
        ContextViewLauncher.sigDownloadFinish()
        verify(!display.visible)
        verify(display.isPause)
        compare(caption(), "安装游戏")
        verify(item("launcherBtnMouseArea").enabled)
        compare(item("bubbleMessage").message, "下载完成")
    }

    function test_negativeDownloadAnswerChangesNothing() {
        openWindow({})
        toReady()
        ContextViewLauncher.sigDownloadBtnClickedCallback(false)
        compare(caption(), "下载游戏")
        verify(item("launcherBtnMouseArea").enabled)
        verify(!item("downloadDisplayBubble").visible)
    }

    function test_resumeStartedDownload() {
        openWindow({ IsDownloadStart: true, GetInstallPath: "D:/Orb" })
        toReady()
        ContextViewLauncher.sigUpdateGameHint("游戏有新版本")
        verify(item("gameUpdateHint").visible)
        compare(caption(), "更新游戏")
        mouseClick(item("launcherBtn"))
        verify(!item("pathSelector").visible)
        compare(lastArgs("DownLoadBtnClick"), ["D:/Orb"])
        compare(lastArgs("SetDownloadStatus"), [true])
        verify(!item("gameUpdateHint").visible)
    }

    // The title bar's close during an unpaused download asks to cancel it and keeps the window.
    function test_titleBarCloseDuringDownload() {
        openWindow({})
        toDownloading()
        mouseClick(part("torbar", "closeButton"))
        verify(item("closeDownloadDialog").visible)
        verify(!item("closeWindowConfirmDialog").visible)
        ContextViewLauncher.clearCalls()
        clickConfirm("closeDownloadDialog")
        compare(ContextViewLauncher.callArgs("SetDownloadStatus"), [[false]])
        verify(!item("closeDownloadDialog").visible)
        verify(!item("downloadDisplayBubble").visible)
        verify(win.visible)
        compare(caption(), "下载游戏")
        compare(item("launcherBtn").color, Qt.color("#6D5BF5"))
        verify(item("launcherBtnMouseArea").enabled)
        compare(ContextViewLauncher.quitRequests, 0)
    }

    function test_titleBarClose_data() {
        return [
            { tag: "idle", download: false, pause: false, cancelDialog: false },
            { tag: "downloading", download: true, pause: false, cancelDialog: true },
            { tag: "paused download", download: true, pause: true, cancelDialog: false },
        ]
    }

    function test_titleBarClose(data) {
        openWindow({})
        toReady()
        if (data.download)
            ContextViewLauncher.sigDownloadBtnClickedCallback(true)
        if (data.pause)
            ContextViewLauncher.sigDownloadStop()
        mouseClick(part("torbar", "closeButton"))
        compare(item("closeDownloadDialog").visible, data.cancelDialog)
        compare(item("closeWindowConfirmDialog").visible, !data.cancelDialog)
        verify(win.visible)
    }

    function test_downloadDisplayClose_data() {
        return [
            { tag: "running", pause: false, asks: true },
            { tag: "paused", pause: true, asks: false },
        ]
    }

    function test_downloadDisplayClose(data) {
        openWindow({})
        toDownloading()
        if (data.pause)
            ContextViewLauncher.sigDownloadStop()
        mouseClick(part("downloadDisplayBubble", "closeBtn"))
        compare(item("closeDownloadDialog").visible, data.asks)
        compare(item("downloadDisplayBubble").visible, data.asks)
        compare(item("launcherBtnMouseArea").enabled, !data.asks)
        if (!data.asks)
            compare(caption(), "下载游戏")
    }

    function test_cancelDialogCancelKeepsDownload() {
        openWindow({})
        toDownloading()
        mouseClick(part("torbar", "closeButton"))
        clickCancel("closeDownloadDialog")
        verify(!item("closeDownloadDialog").visible)
        verify(item("downloadDisplayBubble").visible)
        compare(ContextViewLauncher.callCount("SetDownloadStatus"), 0)
    }

    // Close requests: minimised while a game runs, confirmation until confirmed, closed once confirmed.
    function test_closingRule_data() {
        return [
            { tag: "idle", running: false, confirmed: false, closes: false, dialog: true, minimised: false },
            { tag: "game running", running: true, confirmed: false, closes: false, dialog: false, minimised: true },
            { tag: "confirmed", running: false, confirmed: true, closes: true, dialog: false, minimised: false },
            { tag: "confirmed while a game runs", running: true, confirmed: true, closes: true, dialog: false, minimised: false },
        ]
    }

    function test_closingRule(data) {
        openWindow({ IsInstall: true, IsOpenMore: true })
        toReady()
        if (data.running) {
            mouseClick(item("launcherBtn"))
            ContextViewLauncher.sigStartPlayGameCallback(true)
            verify(win.gameRuning)
            // A dialog left open is hidden by the minimising close.
            item("closeWindowConfirmDialog").visible = !data.confirmed
        }
        win.closeConfirmed = data.confirmed
        const closed = win.close()
        compare(closed, data.closes)
        compare(win.visible, !data.closes)
        compare(item("closeWindowConfirmDialog").visible, data.dialog)
        compare(win.visibility === Window.Minimized, data.minimised)
    }

    function test_closeAfterLauncherExtracted() {
        openWindow({})
        ContextViewLauncher.sigUpdateCheckCallback(true)
        ContextViewLauncher.sigUpdateCheckFinish(false)
        mouseClick(item("updateCheckBtn"))
        ContextViewLauncher.sigExtractLauncherFinish()
        verify(win.closeConfirmed)
        verify(item("launcherInstallDialog").visible)
        verify(!part("launcherInstallDialog", "closeBtn").visible)
        verify(win.close(), "closes without confirmation")
        verify(!item("closeWindowConfirmDialog").visible)
    }

    function test_closeConfirmDialog_data() {
        return [
            { tag: "confirm", confirm: true },
            { tag: "cancel", confirm: false },
        ]
    }

    function test_closeConfirmDialog(data) {
        openWindow({})
        toReady()
        verify(!win.close())
        verify(item("closeWindowConfirmDialog").visible)
        if (data.confirm) {
            clickConfirm("closeWindowConfirmDialog")
            tryCompare(ContextViewLauncher, "quitRequests", 1)
            verify(ContextViewLauncher.lastQuitClosedWindow)
            verify(!win.visible)
        } else {
            clickCancel("closeWindowConfirmDialog")
            verify(!item("closeWindowConfirmDialog").visible)
            wait(50)
            compare(ContextViewLauncher.quitRequests, 0)
            verify(win.visible)
        }
    }

    function test_updateCheckError_data() {
        return [
            { tag: "exit button", close: false },
            { tag: "close button", close: true },
        ]
    }

    function test_updateCheckError(data) {
        openWindow({})
        // A refused start without a failure report: the only way out is to quit.
        ContextViewLauncher.sigUpdateCheckCallback(false)
        tryVerify(function() { return item("updateCheckErrorDialog").visible })
        compare(item("updateCheckErrorDialog").content, "更新异常，请退出重试")
        if (data.close)
            mouseClick(part("updateCheckErrorDialog", "closeBtn"))
        else
            clickConfirm("updateCheckErrorDialog")
        verify(win.closeConfirmed)
        tryCompare(ContextViewLauncher, "quitRequests", 1)
        verify(ContextViewLauncher.lastQuitClosedWindow)
    }

    function test_launcherUpdateRequired() {
        openWindow({})
        ContextViewLauncher.sigUpdateCheckCallback(true)
        ContextViewLauncher.sigUpdateCheckFinish(false)
        verify(item("updateCheckBtn").visible)
        compare(item("updateCheckButtonText").text, "更新启动器")
        compare(item("updateCheckBtn").color, Qt.color("#6D5BF5"))
        verify(item("updateCheckBtnMouseArea").visible)
        verify(!item("launcherBtn").visible)
        mouseClick(item("updateCheckBtn"))
        compare(ContextViewLauncher.callCount("LauncherUpdateStart"), 1)
        verify(!item("updateCheckBtn").visible)
        verify(item("installerProgress").visible)
        ContextViewLauncher.sigExtractLauncherFinish()
        clickConfirm("launcherInstallDialog")
        compare(ContextViewLauncher.callCount("LauncherInstall"), 1)
    }

    function test_hintUpdate_data() {
        return [
            { tag: "update", confirm: true },
            { tag: "not now", confirm: false },
        ]
    }

    function test_hintUpdate(data) {
        openWindow({})
        ContextViewLauncher.sigUpdateGameHint("新版本 1.1 可更新")
        ContextViewLauncher.sigHintUpdate("发现新版本启动器")
        toReady()
        const dialog = item("hintUpdateDialog")
        verify(dialog.visible)
        compare(dialog.content, "发现新版本启动器")
        compare(caption(), "更新游戏")
        verify(item("gameUpdateHint").visible)
        compare(item("gameUpdateHintContent").text, "新版本 1.1 可更新")
        if (data.confirm) {
            clickConfirm("hintUpdateDialog")
            verify(!dialog.visible)
            verify(!item("launcherBtn").visible)
            verify(!item("gameUpdateHint").visible)
            verify(item("installerProgress").visible)
            compare(ContextViewLauncher.callCount("LauncherUpdateStart"), 1)
        } else {
            clickCancel("hintUpdateDialog")
            verify(!dialog.visible)
            verify(item("launcherBtn").visible)
            compare(ContextViewLauncher.callCount("LauncherUpdateStart"), 0)
        }
    }

    function test_startPlay_data() {
        return [
            { tag: "single client", openMore: false },
            { tag: "several clients", openMore: true },
        ]
    }

    function test_startPlay(data) {
        openWindow({ IsInstall: true, IsOpenMore: data.openMore })
        toReady()
        mouseClick(item("launcherBtn"))
        compare(ContextViewLauncher.callCount("StartPlay"), 1)
        ContextViewLauncher.sigStartPlayGameCallback(true)
        compare(caption(), "运行中")
        compare(item("launcherBtn").color, Qt.color("#C3C0D1"))
        verify(win.gameRuning)
        compare(win.visible, data.openMore)
        compare(item("systemTrayIcon").visible, !data.openMore)
        compare(item("moreOpenGameBtn").visible, data.openMore)
        compare(item("closeAllGameBtn").visible, data.openMore)
        ContextViewLauncher.sigStartPlayGameCallback(false)
        compare(caption(), "开始游戏")
        verify(item("launcherBtnMouseArea").enabled)
        verify(!win.gameRuning)
        verify(win.visible)
        verify(!item("systemTrayIcon").visible)
        verify(!item("moreOpenGameBtn").visible)
    }

    function toRunningWithSideButtons() {
        openWindow({ IsInstall: true, IsOpenMore: true })
        toReady()
        mouseClick(item("launcherBtn"))
        ContextViewLauncher.sigStartPlayGameCallback(true)
        verify(item("moreOpenGameBtn").visible)
        ContextViewLauncher.clearCalls()
    }

    // At most one more client per 2000 ms. The gap is set before the click, which itself
    // takes time on a busy machine: the row under the limit leaves it room.
    function test_moreOpenGuard_data() {
        return [
            { tag: "same moment", gap: 0, starts: 0 },
            { tag: "1500 ms", gap: 1500, starts: 0 },
            { tag: "1800 ms", gap: 1800, starts: 0 },
            { tag: "2000 ms", gap: 2000, starts: 1 },
            { tag: "a minute", gap: 60000, starts: 1 },
        ]
    }

    function test_moreOpenGuard(data) {
        toRunningWithSideButtons()
        const button = item("moreOpenGameBtn")
        mouseClick(button)
        compare(ContextViewLauncher.callCount("StartPlay"), 1, "the first click starts a client")
        // Place the previous click the given time in the past.
        button.lastClickTime = Date.now() - data.gap
        mouseClick(button)
        compare(ContextViewLauncher.callCount("StartPlay"), 1 + data.starts)
    }

    function test_sideButtonImagesAndBubbles() {
        toRunningWithSideButtons()
        const icon = item("moreOpenIcon")
        mouseMove(item("moreOpenGameBtn"), 30, 30)
        verify(item("moreGamesHoverBubble").visible)
        compare(part("moreGamesHoverBubble", "bubbleText").text, "点击启动更多游戏客户端")
        mousePress(item("moreOpenGameBtn"), 30, 30)
        verify(icon.source.toString().endsWith("/assets/moreOpenClickedIcon.png"), icon.source)
        tryCompare(icon, "status", Image.Ready)
        mouseRelease(item("moreOpenGameBtn"), 30, 30)
        verify(icon.source.toString().endsWith("/assets/moreOpenIcon.png"), icon.source)
        tryCompare(icon, "status", Image.Ready)
        mouseMove(item("closeAllGameBtn"), 30, 30)
        verify(!item("moreGamesHoverBubble").visible)
        verify(item("closeAllHoverBubble").visible)
        tryCompare(item("closeAllGamesIcon"), "status", Image.Ready)
    }

    function test_closeAllGames_data() {
        return [
            { tag: "confirm", confirm: true, closes: 1 },
            { tag: "cancel", confirm: false, closes: 0 },
        ]
    }

    function test_closeAllGames(data) {
        toRunningWithSideButtons()
        mouseClick(item("closeAllGameBtn"))
        const dialog = item("closeAllGamesDialog")
        verify(dialog.visible)
        compare(dialog.content, "确认要关闭全部游戏窗口吗？")
        if (data.confirm)
            clickConfirm("closeAllGamesDialog")
        else
            clickCancel("closeAllGamesDialog")
        verify(!dialog.visible)
        compare(ContextViewLauncher.callCount("CloseAllGames"), data.closes)
    }

    // The side buttons only look at isInstallGame, IsOpenMore and the main button's state.
    function test_sideButtonsDuringLaterDownload() {
        toRunningWithSideButtons()
        ContextViewLauncher.sigStartPlayGameCallback(false)
        verify(!item("moreOpenGameBtn").visible)
        ContextViewLauncher.sigDownloadBtnClickedCallback(true)
        verify(item("moreOpenGameBtn").visible)
        verify(item("closeAllGameBtn").visible)
    }

    function test_notFoundExecutable_data() {
        return [
            { tag: "download again", confirm: false, reselect: false, button: "开始下载" },
            { tag: "choose folder", confirm: true, reselect: true, button: "路径选择" },
        ]
    }

    function test_notFoundExecutable(data) {
        openWindow({ IsInstall: true, GetInstallPath: "C:/Games" })
        toReady()
        ContextViewLauncher.sigNotFoundExecutable()
        const dialog = item("startGameFailedDialog")
        verify(dialog.visible)
        compare(dialog.content, "\"C:/Games\" 未检测到游戏包体，请确认路径是否选择正确，或者重新下载游戏。")
        if (data.confirm)
            clickConfirm("startGameFailedDialog")
        else
            clickCancel("startGameFailedDialog")
        verify(!dialog.visible)
        const selector = item("pathSelector")
        verify(selector.visible)
        compare(selector.isReselect, data.reselect)
        compare(selector.contentText, data.button)
        ContextViewLauncher.clearCalls()
        mouseClick(part("pathSelector", "confirmButton"))
        compare(ContextViewLauncher.callCount("SetInstallPath"), 1)
        compare(ContextViewLauncher.callCount("DownLoadBtnClick"), data.reselect ? 0 : 1)
        if (data.reselect)
            compare(item("bubbleMessage").message, "设置成功")
    }

    // The update check ended without an answer (offline): a clear tip and a button that tries again.
    function test_updateCheckFailed() {
        openWindow({})
        ContextViewLauncher.sigUpdateCheckCallback(true)
        ContextViewLauncher.sigUpdateCheckFailed("network unreachable")
        const tip = item("commonTipDialog")
        verify(tip.visible)
        compare(tip.content, "版本检测失败，请检查网络后重试（network unreachable）")
        compare(item("updateCheckBtn").color, Qt.color("#6D5BF5"))
        compare(item("updateCheckButtonText").text, "重新检测")
        verify(item("updateCheckBtnMouseArea").visible)
        clickConfirm("commonTipDialog")
        mouseClick(item("updateCheckBtn"))
        compare(ContextViewLauncher.callCount("UpdateCheckStart"), 2)
        compare(ContextViewLauncher.callCount("LauncherUpdateStart"), 0)
        compare(item("updateCheckButtonText").text, "版本检测中...")
        verify(!item("updateCheckBtnMouseArea").visible)
        toReady()
        verify(!item("updateCheckBtn").visible)
    }

    function test_launcherDownloadFailed() {
        openWindow({})
        ContextViewLauncher.sigUpdateCheckCallback(true)
        ContextViewLauncher.sigUpdateCheckFinish(false)
        mouseClick(item("updateCheckBtn"))
        verify(item("installerProgress").visible)
        ContextViewLauncher.sigUpdateCheckFailed("")
        compare(item("commonTipDialog").content, "启动器更新失败，请检查网络后重试")
        verify(!item("installerProgress").visible)
        compare(item("updateCheckButtonText").text, "更新启动器")
        verify(item("updateCheckBtnMouseArea").visible)
        clickConfirm("commonTipDialog")
        mouseClick(item("updateCheckBtn"))
        compare(ContextViewLauncher.callCount("LauncherUpdateStart"), 2)
    }

    function test_launcherExtractFailed() {
        openWindow({})
        ContextViewLauncher.sigUpdateCheckCallback(true)
        ContextViewLauncher.sigUpdateCheckFinish(false)
        mouseClick(item("updateCheckBtn"))
        ContextViewLauncher.sigProgressValue(100, "启动器下载进度")
        ContextViewLauncher.sigInstallFailed("bad archive")
        verify(!item("installerProgress").visible)
        verify(!item("launcherBtn").visible)
        verify(item("updateCheckBtn").visible)
        compare(item("updateCheckButtonText").text, "更新启动器")
        verify(item("updateCheckBtnMouseArea").visible)
        compare(item("commonTipDialog").content, "启动器更新失败，请重试（bad archive）")
        verify(!win.closeConfirmed)
    }

    function test_installFailed() {
        openWindow({ IsDownloadFinish: true, GetDownLoadFileSize: 10, GetDiskSpace: 50 })
        toReady()
        mouseClick(item("launcherBtn"))
        verify(item("installerProgress").visible)
        ContextViewLauncher.sigInstallFailed("disk full")
        verify(!item("installerProgress").visible)
        verify(item("launcherBtn").visible)
        compare(caption(), "安装游戏")
        verify(item("launcherBtnMouseArea").enabled)
        compare(item("commonTipDialog").content, "游戏安装失败，请检查磁盘空间后重试（disk full）")
        clickConfirm("commonTipDialog")
        mouseClick(item("launcherBtn"))
        compare(ContextViewLauncher.callCount("StartInstall"), 2)
    }

    function test_downloadVerifyFailed() {
        openWindow({})
        toDownloading()
        ContextViewLauncher.sigDownloadVerifyFailed("checksum mismatch")
        verify(!item("downloadDisplayBubble").visible)
        compare(caption(), "下载游戏")
        compare(item("launcherBtn").color, Qt.color("#6D5BF5"))
        verify(item("launcherBtnMouseArea").enabled)
        compare(item("commonTipDialog").content, "游戏包校验失败，请重新下载（checksum mismatch）")
        clickConfirm("commonTipDialog")
        mouseClick(item("launcherBtn"))
        verify(item("pathSelector").visible)
    }

    // "Exit" from the tray shows the window with the close confirmation; confirming really quits.
    function test_trayExit() {
        openWindow({ IsInstall: true, IsOpenMore: false })
        toReady()
        mouseClick(item("launcherBtn"))
        ContextViewLauncher.sigStartPlayGameCallback(true)
        verify(!win.visible)
        verify(item("systemTrayIcon").visible)
        win.close()
        compare(win.visibility, Window.Minimized)
        item("trayExitItem").triggered()
        verify(win.visible)
        verify(win.visibility !== Window.Minimized)
        verify(item("closeWindowConfirmDialog").visible)
        compare(ContextViewLauncher.quitRequests, 0)
        clickConfirm("closeWindowConfirmDialog")
        tryCompare(ContextViewLauncher, "quitRequests", 1)
        verify(ContextViewLauncher.lastQuitClosedWindow)
        verify(!win.visible)
    }

    function test_trayRestore() {
        openWindow({ IsInstall: true, IsOpenMore: false })
        toReady()
        mouseClick(item("launcherBtn"))
        ContextViewLauncher.sigStartPlayGameCallback(true)
        verify(!win.visible)
        item("trayRestoreItem").triggered()
        verify(win.visible)
        verify(win.visibility !== Window.Minimized)
        verify(!item("closeWindowConfirmDialog").visible)
        compare(item("trayRestoreItem").text, "Restore")
        compare(item("trayExitItem").text, "Exit")
    }

    function test_bubbleStartsAboveWindow() {
        openWindow({})
        const bubble = item("bubbleMessage")
        compare(bubble.y, -bubble.height)
        compare(bubble.message, "开始下载")
        fuzzyCompare(bubble.x, (win.width - bubble.width) / 2, 1)
    }

    // Notifications that do not belong to what the window is doing change nothing:
    // no success after a failure, no pause bubble after a refused package.
    function test_strayNotifications_data() {
        return [
            { tag: "launcher ready after unpack failure", before: ["sigInstallFailed", ["bad archive"]],
              stray: ["sigExtractLauncherFinish", []], launcher: true },
            { tag: "game installed after install failure", before: ["sigInstallFailed", ["disk full"]],
              stray: ["sigExtractGameFinished", []], launcher: false },
            { tag: "game installed without a recorded install", before: null,
              stray: ["sigExtractGameFinished", []], launcher: false },
        ]
    }

    function test_strayNotifications(data) {
        const bubbles = []
        if (data.launcher) {
            openWindow({})
            ContextViewLauncher.sigUpdateCheckCallback(true)
            ContextViewLauncher.sigUpdateCheckFinish(false)
            mouseClick(item("updateCheckBtn"))
        } else {
            openWindow({ IsDownloadFinish: true, GetDownLoadFileSize: 10, GetDiskSpace: 50 })
            toReady()
            mouseClick(item("launcherBtn"))
            compare(win.stage, "Installing")
        }
        item("bubbleMessage").shown.connect(function() { bubbles.push(item("bubbleMessage").message) })
        if (data.before)
            verify(ContextViewLauncher.emitSignal(data.before[0], data.before[1]))
        verify(ContextViewLauncher.emitSignal(data.stray[0], data.stray[1]))
        verify(!item("launcherInstallDialog").visible)
        verify(!win.closeConfirmed)
        compare(bubbles, [])
        verify(item("commonTipDialog").visible)
        if (data.launcher) {
            compare(win.stage, "LauncherUpdate")
            verify(item("updateCheckBtnMouseArea").visible)
        } else {
            compare(win.stage, "Downloaded")
            compare(caption(), "安装游戏")
            verify(item("launcherBtnMouseArea").enabled)
        }
    }

    // An offered launcher update that fails leaves both ways open: try again, or play on.
    function test_offeredLauncherUpdateFails_data() {
        return [
            { tag: "download failed", failure: ["sigUpdateCheckFailed", ["connection refused"]] },
            { tag: "unpack failed", failure: ["sigInstallFailed", ["bad archive"]] },
        ]
    }

    function test_offeredLauncherUpdateFails(data) {
        openWindow({ IsInstall: true })
        ContextViewLauncher.sigUpdateCheckCallback(true)
        ContextViewLauncher.sigHintUpdate("启动器有新版本1.0.3，        是否马上更新？")
        ContextViewLauncher.sigUpdateCheckFinish(true)
        clickConfirm("hintUpdateDialog")
        compare(win.stage, "LauncherUpdating")
        verify(ContextViewLauncher.emitSignal(data.failure[0], data.failure[1]))
        verify(!item("launcherInstallDialog").visible)
        verify(!item("installerProgress").visible)
        clickConfirm("commonTipDialog")
        verify(item("launcherBtn").visible)
        compare(caption(), "开始游戏")
        verify(item("updateCheckBtn").visible)
        compare(item("updateCheckButtonText").text, "更新启动器")
        verify(item("updateCheckBtn").x + item("updateCheckBtn").width <= item("launcherBtn").x)
        mouseClick(item("launcherBtn"))
        compare(ContextViewLauncher.callCount("StartPlay"), 1)
        mouseClick(item("updateCheckBtn"))
        compare(ContextViewLauncher.callCount("LauncherUpdateStart"), 2)
    }

    // Verify and repair is offered beside "开始游戏" for an installation it can
    // repair, and nowhere else.
    function test_repairOffered_data() {
        return [
            { tag: "installed, repairable", install: true, available: true, offered: true },
            { tag: "installed from the package", install: true, available: false, offered: false },
            { tag: "nothing installed", install: false, available: true, offered: false },
            { tag: "update waiting", install: true, available: true, update: true, offered: false },
        ]
    }

    function test_repairOffered(data) {
        openWindow({ IsInstall: data.install, IsDownloadFinish: data.install, IsRepairAvailable: data.available })
        verify(!item("repairBtn").visible)
        toReady()
        if (data.update)
            ContextViewLauncher.sigUpdateGameHint("新版本 1.1 可更新")
        compare(item("repairBtn").visible, data.offered)
        compare(item("trayRepairItem").enabled, data.offered)
        compare(item("repairButtonText").text, "校验并修复")
        compare(item("trayRepairItem").text, "校验并修复游戏")
        mouseClick(item("repairBtn"))
        item("trayRepairItem").triggered()
        compare(ContextViewLauncher.callCount("VerifyAndRepair"), data.offered ? 1 : 0)
        compare(win.stage, data.offered ? "Repairing" : win.idleStage)
    }

    function toRepairing() {
        openWindow({ IsInstall: true, IsDownloadFinish: true, IsRepairAvailable: true })
        toReady()
        mouseClick(item("repairBtn"))
        compare(win.stage, "Repairing")
    }

    function test_repairFinished_data() {
        return [
            { tag: "repaired", ok: true, summary: "1 damaged, 0 missing", tip: "校验完成（1 damaged, 0 missing）" },
            { tag: "nothing to say", ok: true, summary: "", tip: "校验完成" },
            { tag: "failed", ok: false, summary: "chunk refused", tip: "校验修复失败，请重试（chunk refused）" },
        ]
    }

    // The panel shows the repair's progress, the main button is busy, and the
    // report ends it once, back at "开始游戏" with a tip.
    function test_repairFinished(data) {
        toRepairing()
        compare(ContextViewLauncher.callCount("VerifyAndRepair"), 1)
        compare(caption(), "修复中")
        compare(item("launcherBtn").color, Qt.color("#C3C0D1"))
        verify(!item("launcherBtnMouseArea").enabled)
        verify(!item("repairBtn").visible)
        verify(!item("trayRepairItem").enabled)
        const panel = item("downloadDisplayBubble")
        verify(panel.visible)
        verify(!part("downloadDisplayBubble", "pauseButton").visible)
        verify(!part("downloadDisplayBubble", "closeBtn").visible)
        compare(part("downloadDisplayBubble", "percentText").text, "--:--:--")
        ContextViewLauncher.sigDownloadProgress(1, 4)
        compare(part("downloadDisplayBubble", "percentText").text, "25%")
        compare(part("downloadDisplayBubble", "amountText").text, "1.00MB / 4.00MB")
        // The busy button ignores clicks.
        mouseClick(item("launcherBtn"))
        compare(ContextViewLauncher.callCount("StartPlay"), 0)

        ContextViewLauncher.sigRepairFinished(data.ok, data.summary)
        compare(win.stage, "Installed")
        verify(!panel.visible)
        compare(caption(), "开始游戏")
        verify(item("launcherBtnMouseArea").enabled)
        verify(item("repairBtn").visible)
        const tip = item("commonTipDialog")
        verify(tip.visible)
        compare(tip.content, data.tip)
        clickConfirm("commonTipDialog")
        verify(!tip.visible)
        // A second report changes nothing.
        ContextViewLauncher.sigRepairFinished(!data.ok, "late")
        verify(!tip.visible)
        compare(win.stage, "Installed")
        mouseClick(item("launcherBtn"))
        compare(ContextViewLauncher.callCount("StartPlay"), 1)
    }

    // A repair report with no repair running is ignored.
    function test_repairReportOutsideRepair() {
        openWindow({ IsInstall: true, IsRepairAvailable: true })
        toReady()
        ContextViewLauncher.sigRepairFinished(true, "0 damaged, 0 missing")
        verify(!item("commonTipDialog").visible)
        compare(win.stage, "Installed")
    }

    // The tray item starts the repair and brings the window back.
    function test_trayRepair() {
        openWindow({ IsInstall: true, IsRepairAvailable: true })
        toReady()
        win.hide()
        item("trayRepairItem").triggered()
        verify(win.visible)
        compare(ContextViewLauncher.callCount("VerifyAndRepair"), 1)
        compare(win.stage, "Repairing")
        verify(item("downloadDisplayBubble").visible)
    }

    // While the game runs the files are in use: the tray item shows the window and says so.
    function test_trayRepairWhilePlaying() {
        openWindow({ IsInstall: true, IsOpenMore: false, IsRepairAvailable: true })
        toReady()
        mouseClick(item("launcherBtn"))
        ContextViewLauncher.sigStartPlayGameCallback(true)
        verify(!win.visible)
        verify(item("trayRepairItem").enabled)
        item("trayRepairItem").triggered()
        verify(win.visible)
        compare(ContextViewLauncher.callCount("VerifyAndRepair"), 0)
        compare(win.stage, "Playing")
        compare(item("commonTipDialog").content, "游戏运行中，请关闭游戏后再校验并修复")
    }

    // Not offered while a download runs, from neither place.
    function test_noRepairWhileDownloading() {
        openWindow({ IsInstall: false, IsRepairAvailable: true })
        toDownloading()
        verify(!item("repairBtn").visible)
        verify(!item("trayRepairItem").enabled)
        item("trayRepairItem").triggered()
        compare(ContextViewLauncher.callCount("VerifyAndRepair"), 0)
        compare(win.stage, "Downloading")
        verify(part("downloadDisplayBubble", "pauseButton").visible)
    }

    // A repair cannot be cancelled: closing the window asks the usual quit confirmation.
    function test_closeWhileRepairing() {
        toRepairing()
        mouseClick(part("torbar", "closeButton"))
        verify(item("closeWindowConfirmDialog").visible)
        verify(!item("closeDownloadDialog").visible)
        compare(ContextViewLauncher.callCount("SetDownloadStatus"), 0)
    }
}
