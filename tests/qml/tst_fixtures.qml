import QtQuick
import QtQuick.Window
import QtTest

// Replays every recorded signal sequence of tests/qml/fixtures against the
// launcher window: the launcher state from "start", the request the outcome
// answers, then each signal with the state it was emitted under. The window
// must end where the table below says: stage, both buttons, the dialogs that
// are up, the tip, and the bubbles that slid in.
TestCase {
    id: testCase
    name: "RecordedSequences"
    when: windowShown

    property var win: null
    property var bubbles: []

    readonly property var dialogNames: [
        "commonTipDialog", "hintUpdateDialog", "launcherInstallDialog", "updateCheckErrorDialog",
        "closeWindowConfirmDialog", "closeDownloadDialog", "startGameFailedDialog", "closeAllGamesDialog"]

    // request: what the player (or the start-up) asks before the sequence.
    //   none: the start-up check itself; download: main button, chooser confirm;
    //   install, play: main button; launcher: a forced check, then "更新启动器".
    readonly property var expected: ({
        check_ok: { request: "none", stage: "Ready", main: "下载游戏", enabled: true, check: "",
            dialogs: [], tip: "", bubbles: [] },
        check_offline: { request: "none", stage: "CheckFailed", main: "开始游戏", enabled: true, check: "重新检测",
            dialogs: ["commonTipDialog"], tip: "版本检测失败，请检查网络后重试", bubbles: [] },
        check_not_started: { request: "none", stage: "CheckFailed", main: "开始游戏", enabled: true, check: "重新检测",
            dialogs: ["commonTipDialog"], tip: "版本检测失败，请检查网络后重试", bubbles: [] },
        check_launcher_hint: { request: "none", stage: "Ready", main: "下载游戏", enabled: true, check: "",
            dialogs: ["hintUpdateDialog"], tip: "", bubbles: [] },
        check_forced: { request: "none", stage: "LauncherUpdate", main: null, check: "更新启动器",
            dialogs: [], tip: "", bubbles: [] },
        check_game_update: { request: "none", stage: "Installed", main: "更新游戏", enabled: true, check: "",
            dialogs: [], tip: "", bubbles: [] },
        download_ok: { request: "download", stage: "Downloaded", main: "安装游戏", enabled: true, check: "",
            dialogs: [], tip: "", bubbles: ["开始下载", "下载完成"] },
        download_network_failure: { request: "download", stage: "Paused", main: "下载中", enabled: false, check: "",
            dialogs: [], tip: "", bubbles: ["开始下载", "暂停下载"] },
        download_verify_failed: { request: "download", stage: "Ready", main: "下载游戏", enabled: true, check: "",
            dialogs: ["commonTipDialog"], tip: "游戏包校验失败，请重新下载", bubbles: ["开始下载"] },
        download_not_started: { request: "download", stage: "Ready", main: "下载游戏", enabled: true, check: "",
            dialogs: ["commonTipDialog"], tip: "下载失败，请重试", bubbles: [] },
        install_ok: { request: "install", stage: "Installed", main: "开始游戏", enabled: true, check: "",
            dialogs: [], tip: "", bubbles: ["安装完成"] },
        install_failed: { request: "install", stage: "Downloaded", main: "安装游戏", enabled: true, check: "",
            dialogs: ["commonTipDialog"], tip: "游戏安装失败，请检查磁盘空间后重试", bubbles: [] },
        launcher_ok: { request: "launcher", stage: "LauncherReady", main: null, check: "",
            dialogs: ["launcherInstallDialog"], tip: "", bubbles: [] },
        launcher_download_failed: { request: "launcher", stage: "LauncherUpdate", main: null, check: "更新启动器",
            dialogs: ["commonTipDialog"], tip: "启动器更新失败，请检查网络后重试", bubbles: [] },
        launcher_unpack_failed: { request: "launcher", stage: "LauncherUpdate", main: null, check: "更新启动器",
            dialogs: ["commonTipDialog"], tip: "启动器更新失败，请重试", bubbles: [] },
        play_and_end: { request: "play", stage: "Installed", main: "开始游戏", enabled: true, check: "",
            dialogs: [], tip: "", bubbles: [] },
        play_not_found: { request: "play", stage: "Installed", main: "开始游戏", enabled: true, check: "",
            dialogs: ["startGameFailedDialog"], tip: "", bubbles: [] },
    })

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

    function emitAll(list, flags) {
        for (const entry of list) {
            ContextViewLauncher.setFlags(entry.flags !== undefined ? entry.flags : flags)
            verify(ContextViewLauncher.emitSignal(entry.name, entry.args), entry.name)
        }
    }

    function openWindow(start) {
        ContextViewLauncher.destroyWindow()
        ContextViewLauncher.clearAnswers()
        ContextViewLauncher.clearCalls()
        ContextViewLauncher.setAnswer("GetInstallPath", "C:/Games")
        ContextViewLauncher.setFlags(start)
        win = ContextViewLauncher.createWindow("qrc:/qml/main.qml")
        verify(win, ContextViewLauncher.windowErrors().join("\n"))
        tryVerify(function() { return win.contentItem.width === win.width })
        bubbles = []
        const bubble = item("bubbleMessage")
        bubble.shown.connect(function() { testCase.bubbles.push(bubble.message) })
    }

    function request(kind, start) {
        if (kind === "none")
            return
        if (kind === "launcher") {
            emitAll([{ name: "sigUpdateCheckCallback", args: [true] }, { name: "sigUpdateCheckFinish", args: [false] }], start)
            mouseClick(item("updateCheckBtn"))
            compare(ContextViewLauncher.callCount("LauncherUpdateStart"), 1)
            compare(win.stage, "LauncherUpdating")
            return
        }
        emitAll([{ name: "sigUpdateCheckCallback", args: [true] }, { name: "sigUpdateCheckFinish", args: [true] }], start)
        mouseClick(item("launcherBtn"))
        if (kind === "download") {
            verify(item("pathSelector").visible)
            mouseClick(part("pathSelector", "confirmButton"))
            compare(ContextViewLauncher.callArgs("SetDownloadStatus"), [[true]])
            compare(ContextViewLauncher.callCount("DownLoadBtnClick"), 1)
        } else if (kind === "install") {
            compare(ContextViewLauncher.callCount("StartInstall"), 1)
            compare(win.stage, "Installing")
        } else if (kind === "play") {
            compare(ContextViewLauncher.callCount("StartPlay"), 1)
        }
    }

    function cleanup() {
        ContextViewLauncher.destroyWindow()
        win = null
    }

    function test_everyOutcomeIsExpected() {
        const names = ContextViewLauncher.fixtures().map(f => f.outcome).sort()
        compare(names, Object.keys(expected).sort())
    }

    function test_replay_data() {
        return ContextViewLauncher.fixtures().map(f => ({ tag: f.outcome, fixture: f }))
    }

    function test_replay(data) {
        const fixture = data.fixture
        verify(fixture.parseError === undefined, fixture.file + ": " + fixture.parseError)
        compare(fixture.outcome + ".json", fixture.file)
        const want = expected[fixture.outcome]
        verify(want, "no expectation for " + fixture.outcome)
        openWindow(fixture.start)
        request(want.request, fixture.start)
        emitAll(fixture.signals, fixture.start)
        // Anything the scene defers to the next turn of the event loop has run.
        wait(20)

        compare(win.stage, want.stage)
        if (want.main === null) {
            verify(!item("launcherBtn").visible)
        } else {
            verify(item("launcherBtn").visible)
            compare(item("launcherButtonText").text, want.main)
            compare(item("launcherBtnMouseArea").enabled, want.enabled)
            compare(item("launcherBtn").color, Qt.color(want.enabled ? "#6D5BF5" : "#C3C0D1"))
        }
        compare(item("updateCheckBtn").visible, want.check !== "")
        if (want.check !== "") {
            compare(item("updateCheckButtonText").text, want.check)
            verify(item("updateCheckBtnMouseArea").visible)
            if (want.main !== null) {
                // Beside the main button, not over it.
                const check = item("updateCheckBtn"), main = item("launcherBtn")
                verify(check.x + check.width <= main.x, "check button overlaps the main button")
            }
        }
        compare(dialogNames.filter(n => item(n).visible), want.dialogs)
        // The tip's fixed text; the reason the controller gives follows it.
        if (want.tip !== "")
            verify(item("commonTipDialog").content.startsWith(want.tip), item("commonTipDialog").content)
        compare(bubbles, want.bubbles)
        const busy = want.stage === "Installing" || want.stage === "LauncherUpdating"
        compare(item("installerProgress").visible, busy)
        compare(item("downloadDisplayBubble").visible, want.stage === "Downloading" || want.stage === "Paused")
        verify(win.closeConfirmed === (want.stage === "LauncherReady"))
    }

    // What the player can do next after each failure.
    function test_afterwards_data() {
        return [
            { tag: "offline check: play the installed game", outcome: "check_offline" },
            { tag: "offline check: check again", outcome: "check_offline", retry: true },
            { tag: "refused check: play the installed game", outcome: "check_not_started" },
            { tag: "network failure: resume", outcome: "download_network_failure" },
            { tag: "refused package: download again", outcome: "download_verify_failed" },
            { tag: "failed install: install again", outcome: "install_failed" },
            { tag: "launcher download failed: update again", outcome: "launcher_download_failed" },
            { tag: "launcher unpack failed: update again", outcome: "launcher_unpack_failed" },
            { tag: "launcher ready: restart", outcome: "launcher_ok" },
            { tag: "not found: choose the folder", outcome: "play_not_found" },
        ]
    }

    function test_afterwards(data) {
        const fixture = ContextViewLauncher.fixtures().find(f => f.outcome === data.outcome)
        verify(fixture, data.outcome)
        const want = expected[fixture.outcome]
        openWindow(fixture.start)
        request(want.request, fixture.start)
        emitAll(fixture.signals, fixture.start)
        wait(20)
        for (const name of dialogNames) {
            if (item(name).visible && name === "commonTipDialog")
                mouseClick(part(name, "confirmButton"))
        }
        ContextViewLauncher.clearCalls()
        switch (data.outcome) {
        case "check_offline":
        case "check_not_started":
            if (data.retry) {
                mouseClick(item("updateCheckBtn"))
                compare(ContextViewLauncher.callCount("UpdateCheckStart"), 1)
                compare(win.stage, "Checking")
                compare(item("updateCheckButtonText").text, "版本检测中...")
                verify(!item("updateCheckBtnMouseArea").visible)
            } else {
                mouseClick(item("launcherBtn"))
                compare(ContextViewLauncher.callCount("StartPlay"), 1)
            }
            break
        case "download_network_failure":
            mouseClick(part("downloadDisplayBubble", "pauseButton"))
            compare(ContextViewLauncher.callArgs("SetDownloadStatus"), [[true]])
            ContextViewLauncher.setFlags({ IsDownloadStart: true })
            ContextViewLauncher.emitSignal("sigDownloadBtnClickedCallback", [true])
            compare(win.stage, "Downloading")
            verify(!item("downloadDisplayBubble").isPause)
            compare(bubbles[bubbles.length - 1], "开始下载")
            break
        case "download_verify_failed":
            // The folder chooser, or straight into the download when a folder was chosen.
            mouseClick(item("launcherBtn"))
            verify(item("pathSelector").visible
                   || JSON.stringify(ContextViewLauncher.callArgs("SetDownloadStatus")) === "[[true]]")
            break
        case "install_failed":
            mouseClick(item("launcherBtn"))
            compare(ContextViewLauncher.callCount("StartInstall"), 1)
            compare(win.stage, "Installing")
            break
        case "launcher_download_failed":
        case "launcher_unpack_failed":
            mouseClick(item("updateCheckBtn"))
            compare(ContextViewLauncher.callCount("LauncherUpdateStart"), 1)
            compare(win.stage, "LauncherUpdating")
            verify(!item("launcherInstallDialog").visible)
            break
        case "launcher_ok":
            mouseClick(part("launcherInstallDialog", "confirmButton"))
            compare(ContextViewLauncher.callCount("LauncherInstall"), 1)
            break
        case "play_not_found":
            mouseClick(part("startGameFailedDialog", "confirmButton"))
            verify(item("pathSelector").visible)
            verify(item("pathSelector").isReselect)
            break
        }
    }

    // The hint's two sentences, parted by a run of spaces, read as two lines.
    function test_hintText_data() {
        return [
            { tag: "recorded", text: "启动器有新版本1.0.3，        是否马上更新？", shown: "启动器有新版本1.0.3，\n是否马上更新？" },
            { tag: "two spaces", text: "A.  B?", shown: "A.\nB?" },
            { tag: "one space kept", text: "New 1.0.3, update?", shown: "New 1.0.3, update?" },
            { tag: "ideographic spaces", text: "有新版本\u3000\u3000是否更新？", shown: "有新版本\n是否更新？" },
            { tag: "trailing run", text: "有新版本   ", shown: "有新版本" },
        ]
    }

    function test_hintText(data) {
        openWindow({})
        ContextViewLauncher.emitSignal("sigHintUpdate", [data.text])
        const dialog = item("hintUpdateDialog")
        verify(dialog.visible)
        compare(dialog.content, data.shown)
        const text = part("hintUpdateDialog", "contentText")
        compare(text.text, data.shown)
        compare(text.lineCount, data.shown.split("\n").length)
    }

    function test_doubleDerivesFromBridge() {
        compare(ContextViewLauncher.unshadowedMethods(), [])
        verify(!ContextViewLauncher.emitSignal("sigNoSuchSignal", []))
        verify(!ContextViewLauncher.emitSignal("sigDownloadProgress", [1]))
    }
}
