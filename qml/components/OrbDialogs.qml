import QtQuick

// The window's eight dialogs. What their buttons mean for the window is
// reported through signals; the window decides which of them are shown.
Item {
    id: dialogs

    readonly property Item tip: commonTipDialog
    readonly property Item hintUpdate: hintUpdateDialog
    readonly property Item launcherInstall: launcherInstallDialog
    readonly property Item updateCheckError: updateCheckErrorDialog
    readonly property Item closeWindowConfirm: closeWindowConfirmDialog
    readonly property Item closeDownload: closeDownloadDialog
    readonly property Item startGameFailed: startGameFailedDialog
    readonly property Item closeAllGames: closeAllGamesDialog

    signal quitConfirmed()
    signal hintUpdateAccepted()
    signal downloadCancelConfirmed()
    signal restartDownloadClicked()
    signal pathSelectionClicked()
    signal closeAllGamesConfirmed()

    anchors.fill: parent

    function showTip(message) {
        commonTipDialog.content = message
        commonTipDialog.visible = true
    }

    // The controller separates the two sentences of a hint with a run of
    // spaces; the dialog shows that run as a line break.
    function hintDisplayText(text) {
        return String(text === undefined || text === null ? "" : text)
            .replace(/[ \t\u3000]{2,}/g, "\n").trim()
    }

    function showHintUpdate(text) {
        hintUpdateDialog.content = dialogs.hintDisplayText(text)
        hintUpdateDialog.visible = true
    }

    OrbCommonDialog {
        id: commonTipDialog
        objectName: "commonTipDialog"
        showLogo: false
        title: "提示"
        showCancelButton: false
        confirmButtonText: "确定"
        onConfirmClicked: commonTipDialog.visible = false
        onDialogLoaded: commonTipDialog.closeHandler = function() {}
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
            hintUpdateDialog.visible = false
            dialogs.hintUpdateAccepted()
        }
        onDialogLoaded: hintUpdateDialog.closeHandler = function() {}
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
        onConfirmClicked: dialogs.quitConfirmed()
        onDialogLoaded: updateCheckErrorDialog.closeHandler = function() { dialogs.quitConfirmed() }
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
        onConfirmClicked: dialogs.quitConfirmed()
        onDialogLoaded: closeWindowConfirmDialog.closeHandler = function() {
            console.log("CloseWindowConfirmDialog onCloseWindow triggered")
        }
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
        onConfirmClicked: dialogs.downloadCancelConfirmed()
        onDialogLoaded: closeDownloadDialog.closeHandler = function() {
            console.log("CloseDownloadDialog onCloseWindow triggered")
        }
    }

    OrbCommonDialog {
        id: startGameFailedDialog
        objectName: "startGameFailedDialog"
        showLogo: false
        title: "提示"
        cancelButtonText: "重新下载"
        confirmButtonText: "路径选择"
        onCancelClicked: dialogs.restartDownloadClicked()
        onConfirmClicked: dialogs.pathSelectionClicked()
        onDialogLoaded: startGameFailedDialog.closeHandler = function() {
            console.log("StartGameFailed onCloseWindow triggered")
        }
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
        onConfirmClicked: dialogs.closeAllGamesConfirmed()
        onDialogLoaded: closeAllGamesDialog.closeHandler = function() {
            console.log("CloseAllGamesDialog onCloseWindow triggered")
        }
    }
}
