#!/usr/bin/env python3
"""The launcher's end-to-end flows, one per CTest entry: flows.py <flow>.

  first_start   check, "not now", folder, download with pause and resume,
                install, play, close all, quit through the confirmation
  offline       publisher down: the check ends with a tip, the installed game plays
  self_update   "更新启动器": the updater replaces the program, the new one starts
                with version 1.0.3 and no further update is offered
  bad_package   the served hash does not match: nothing installed, the player is
                told, the launcher stays usable
  network_cut   the publisher goes away mid-download and comes back at the same
                address: the panel offers resume, the resumed package is whole
  page_links    the page opens nothing by script or by another scheme; only a
                clicked web link reaches the system opener
  second_start  a second start of the same copy ends at once, touching nothing
  launcher_unpack_fails  the launcher package passes its checks but cannot be
                unpacked: a tip, no restart offered, the launcher stays usable
  game_install_fails     the game package passes its checks but cannot be
                installed: a tip, install offered again, the package kept
  fresh_account an account without a Documents folder: the chooser offers it,
                confirming makes it and the download starts
  delivery      the game from the publisher's chunk store: installed through the
                manifest, updated to the next version fetching only new chunks,
                a damaged file repaired from the scene's button
"""

import os
import re
import stat
import sys
import time
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from orbe2e import (ACTIVE, BUBBLE_PATCH, BUSY, CHOOSER_CHANGE, CHOOSER_FIELD_TEXT, DIALOG_CONFIRM,
                    DIALOG_SINGLE_CAPTION_EDGE, DOWNLOAD_PAUSE_ICON, CHOOSER_CONFIRM, CHOOSER_BLANK, CHOOSER_CONFIRM_PATCH, CHOOSER_PANEL_PATCH,
                    CLOSE_ALL, DIALOG_CANCEL, DIALOG_CONFIRM_BTN, DIALOG_SINGLE, DOWNLOAD_PANEL_PATCH,
                    DOWNLOAD_PAUSE, MAIN_BUTTON, PANEL_DARK, REPAIR_BUTTON, REPAIR_BUTTON_PATCH, REPAIR_FILL,
                    SIDE_BUTTONS_REGION, WHITE, E2EFailure, Session,
                    check, log, near, sha256, truthy, wait_for)

def wait_check_with_hint(s):
    """A fresh start against the demo publisher: the hint dialog ends the check."""
    s.wait_launcher_window()
    s.wait_dialog("launcher update hint")
    check(s.log_count("GameSetting Download Finish") == 1, "the server settings were fetched once")


def dismiss_hint(s):
    s.click(DIALOG_CANCEL, "暂不更新")
    s.wait_no_dialog("launcher update hint")
    s.wait_main_button("active")
    check(s.main_button() == "active", "Ready: the main button is active after \"not now\"")


def choose_folder(s, folder):
    """Main button -> chooser; "更改" opens the folder dialog, the folder is typed in."""
    s.click(MAIN_BUTTON, "下载游戏")
    s.wait_colour("the folder chooser", CHOOSER_PANEL_PATCH, WHITE, tolerance=8)
    before = set(s.all_windows())
    s.click(CHOOSER_CHANGE, "更改")
    dialog = wait_for("the folder dialog", lambda: [w for w in s.all_windows() if w not in before
                                                   and w != s.wid], 20)[0]
    log("folder dialog 0x%x (%s)" % (dialog, s.x("xdotool", "getwindowname", str(dialog)).strip()))
    s.x("xdotool", "windowactivate", "--sync", str(dialog), check=False)
    s.x("xdotool", "windowfocus", "--sync", str(dialog), check=False)
    time.sleep(0.5)
    # The dialog's file name field has the focus: select what it holds, type the folder.
    s.keys("ctrl+a")
    s.type_text(folder)
    time.sleep(0.3)
    s.keys("Return")
    wait_for("the folder dialog to close", lambda: dialog not in s.all_windows(), 20)
    s.focus()
    # Without a window manager the first press after the modal dialog is lost:
    # spend it on an empty spot of the chooser's panel.
    s.click(CHOOSER_BLANK, "the chooser panel")
    s.wait_colour("the chooser's confirm button to turn active", CHOOSER_CONFIRM_PATCH, ACTIVE, 15)


def start_download(s, folder):
    s.click(CHOOSER_CONFIRM, "开始下载")
    s.wait_colour("the download panel", DOWNLOAD_PANEL_PATCH, PANEL_DARK, 20, tolerance=12)
    s.wait_main_button("busy")
    check(s.app_state("InstallDirectory") == folder, "InstallDirectory is the typed folder")
    check(truthy(s.app_state("IsDownloadStart")), "IsDownloadStart is true")
    check(not truthy(s.app_state("IsDownloadFinish")), "IsDownloadFinish is false while downloading")


def package_part(s):
    """Bytes of the game package downloaded so far (the part file or the package)."""
    folder = s.app_state("DownLoadPath") or ""
    total = 0
    if os.path.isdir(folder):
        for name in os.listdir(folder):
            path = os.path.join(folder, name)
            if os.path.isfile(path):
                total = max(total, os.path.getsize(path))
    return total


def install_and_check(s, folder):
    s.wait_main_button("active", 10)
    s.click(MAIN_BUTTON, "安装游戏")
    exe = os.path.join(folder, "valdane", "bin", "valdane")
    wait_for("IsInstallGmae=true", lambda: truthy(s.app_state("IsInstallGmae")), 60)
    s.wait_main_button("active", 20)
    check(os.path.isfile(exe) and os.stat(exe).st_mode & stat.S_IXUSR, "the game executable is installed and runnable")
    check(os.path.isfile(os.path.join(folder, "valdane", "data", "readme.html")), "the game's data file is installed")
    downloads = s.app_state("DownLoadPath")
    check(os.path.isdir(downloads) and not os.listdir(downloads), "the download folder is emptied, the folder kept")
    return exe


def play_and_close_all(s):
    s.click(MAIN_BUTTON, "开始游戏")
    games = wait_for("the game window", s.game_windows, 30)
    check(len(games) == 1, "one game window \"valdane\" is shown")
    # The game opens over the launcher: move it aside as a player would.
    s.x("xdotool", "windowmove", str(games[0]), "1352", "0")
    s.wait_main_button("busy", 10)
    check(s.log_count("Start Play Game") >= 1, "the log records the start")
    # Several clients are allowed in the demo: the side buttons appear next to the main button.
    side = s.grab(SIDE_BUTTONS_REGION)
    check(s.difference(side, BACKDROP[0]) > 8, "the side buttons are shown while the game runs")
    s.click(CLOSE_ALL, "一键关闭游戏")
    s.wait_dialog("close all games")
    s.click(DIALOG_CONFIRM_BTN, "确认")
    wait_for("the game window to go", lambda: not s.game_windows(), 20)
    s.wait_main_button("active", 15)
    check(s.log_count("All games closed.") == 1, "the log records the close")
    wait_for("the side buttons to go", lambda: s.difference(s.grab(SIDE_BUTTONS_REGION), BACKDROP[0]) < 4, 10)


BACKDROP = [None]


def first_start(s):
    s.start_publisher(rate="120k")
    size = s.pad_game_package(2)
    log("game package %d bytes, throttled" % size)
    s.install_launcher()
    s.start_launcher()
    wait_check_with_hint(s)
    dismiss_hint(s)
    BACKDROP[0] = s.grab(SIDE_BUTTONS_REGION)
    check(not s.game_windows(), "no game runs yet")

    folder = os.path.join(s.games, "MyGames")
    os.makedirs(folder)
    choose_folder(s, folder)
    start_download(s, folder)

    # Pause once, resume once.
    wait_for("some bytes of the package", lambda: package_part(s) > 0, 20)
    time.sleep(1.0)
    s.click(DOWNLOAD_PAUSE, "pause")
    wait_for("the pause request in the log", lambda: s.log_count("onSigSetDownloadStatus false") == 1, 10)
    time.sleep(1.0)
    held = package_part(s)
    time.sleep(2.0)
    check(package_part(s) == held and held < size, "paused: the package stops growing (%d of %d bytes)" % (held, size))
    check(not truthy(s.app_state("IsDownloadFinish")), "paused: IsDownloadFinish stays false")
    s.click(DOWNLOAD_PAUSE, "resume")
    wait_for("the resume request in the log", lambda: s.log_count("onSigSetDownloadStatus true") == 2, 10)
    wait_for("the package to grow again", lambda: package_part(s) > held, 20)

    wait_for("IsDownloadFinish=true", lambda: truthy(s.app_state("IsDownloadFinish")), 120)
    s.wait_not_colour("the download panel to close", DOWNLOAD_PANEL_PATCH, PANEL_DARK, 10)
    package = os.path.join(s.app_state("DownLoadPath"), s.app_state("DownLoadGamePackage"))
    check(os.path.isfile(package) and sha256(package) == sha256(s.game_package()),
          "the resumed download is byte for byte the served package")

    install_and_check(s, folder)
    play_and_close_all(s)
    s.quit_through_confirmation()


def install_by_hand(s, folder):
    """An earlier installation: the game unpacked into folder, the INI flags and
    the client the installation recorded set."""
    with zipfile.ZipFile(s.game_package()) as z:
        for info in z.infolist():
            target = z.extract(info, os.path.join(folder, "valdane"))
            mode = (info.external_attr >> 16) & 0o777
            if mode:
                os.chmod(target, mode)
    ini = os.path.join(s.config_home, "OrbLauncher", "config")
    os.makedirs(ini, exist_ok=True)
    with open(os.path.join(ini, "OrbLauncher.ini"), "w", encoding="utf-8") as f:
        f.write("[valdane]\nInstallDirectory=%s\nDownLoadPath=%s/Orbdownload\nIsDownloadStart=true\n"
                "IsDownloadFinish=true\nIsInstallGmae=true\nGameExecutablePath=bin/valdane\n" % (folder, folder))
    os.makedirs(os.path.join(folder, "Orbdownload"), exist_ok=True)


def offline(s):
    s.start_publisher()
    folder = os.path.join(s.games, "Installed")
    install_by_hand(s, folder)
    s.install_launcher(overrides={("Basic", "Version"): "1.1.0"})
    s.stop_publisher()
    s.start_launcher()
    s.wait_launcher_window()
    s.wait_dialog("offline tip", two_buttons=False)
    wait_for("the failed check in the log", lambda: "Update check failed" in s.log_text(), 10)
    s.click(DIALOG_SINGLE, "确定")
    s.wait_no_dialog("offline tip")
    s.wait_main_button("active", 10)
    check(s.main_button() == "active", "offline, the main button offers the installed game")

    # One client only in the local settings: the launcher hides while the game runs.
    s.click(MAIN_BUTTON, "开始游戏")
    games = wait_for("the game window", s.game_windows, 30)
    check(len(games) == 1, "the installed game runs offline")
    wait_for("the launcher window to hide", lambda: s.launcher_window() is None, 10)
    # The player closes the game: the launcher comes back, ready to play again.
    pid = int(s.x("xdotool", "getwindowpid", str(games[0])).strip())
    os.kill(pid, 15)
    wait_for("the launcher window to come back", lambda: s.launcher_window() is not None, 20)
    s.wait_main_button("active", 15)
    check(s.main_button() == "active", "after the game ended the main button is ready again")
    s.quit_through_confirmation()


PAGE_LEFT = (300, 330)
PAGE_RIGHT = (1050, 330)
PAGE_LEFT_PATCH = (280, 320, 40, 20)
PAGE_RIGHT_PATCH = (1030, 320, 40, 20)
EVIL = (0x55, 0x11, 0x11)
GOOD = (0x11, 0x55, 0x11)


def page_links(s):
    """The publisher's page cannot make the system open anything by itself: windows
    opened by script are dropped, a clicked link to another scheme is refused, and
    only a clicked web link reaches the system's opener (a recording stand-in for
    xdg-open on PATH)."""
    s.start_publisher()
    opened = os.path.join(s.box, "opened.txt")
    stand_in = os.path.join(s.box, "bin")
    os.makedirs(stand_in, exist_ok=True)
    with open(os.path.join(stand_in, "xdg-open"), "w") as f:
        f.write('#!/bin/sh\necho "$@" >> "%s"\n' % opened)
    os.chmod(os.path.join(stand_in, "xdg-open"), 0o755)
    os.environ["PATH"] = stand_in + os.pathsep + os.environ.get("PATH", "")
    clicked = "%s/clicked.html" % s.base
    with open(os.path.join(s.www, "links.html"), "w", encoding="utf-8") as f:
        f.write("""<!DOCTYPE html><html><head><meta charset="utf-8"></head><body style="margin:0">
<a href="orbtest://evil/x.exe" target="_blank"
   style="position:fixed;left:0;top:0;width:50%%;height:100%%;background:#551111"></a>
<a href="%s" target="_blank"
   style="position:fixed;right:0;top:0;width:50%%;height:100%%;background:#115511"></a>
<script>
setTimeout(function () { window.open("%s/popup.html"); window.open("orbtest://evil/auto"); }, 800);
</script></body></html>""" % (clicked, s.base))
    s.install_launcher(overrides={("Basic", "WebPageUrl"): "%s/links.html" % s.base})
    s.start_launcher()
    wait_check_with_hint(s)
    dismiss_hint(s)
    s.wait_colour("the page's left half", PAGE_LEFT_PATCH, EVIL, timeout=30)
    s.wait_colour("the page's right half", PAGE_RIGHT_PATCH, GOOD, timeout=10)
    time.sleep(2.0)
    check(not os.path.exists(opened), "windows the page opened by script reached nothing")

    s.click(PAGE_LEFT, "the custom-scheme link")
    time.sleep(2.0)
    check(not os.path.exists(opened), "a clicked link to another scheme reached nothing")

    s.click(PAGE_RIGHT, "the web link")
    wait_for("the clicked web link at the system's opener",
             lambda: os.path.exists(opened) and clicked in open(opened).read(), 20)
    lines = [line for line in open(opened).read().splitlines() if line.strip()]
    check(lines == [clicked], "only the clicked web link was handed over (%s)" % lines)
    s.quit_through_confirmation()


def self_update(s):
    s.start_publisher()
    s.install_launcher()
    # Mark the copy's program so the replacement can be told apart from it.
    program = os.path.join(s.app, "OrbLive")
    with open(program, "ab") as f:
        f.write(b"\0orb-e2e-old-launcher\0")
    old_hash = sha256(program)
    with zipfile.ZipFile(os.path.join(s.www, os.path.basename(
            s.served_settings()["launcher"]["LauncherPackageUrl"]))) as z:
        shipped = z.read("OrbLive")
    first = s.start_launcher()
    wait_check_with_hint(s)
    s.click(DIALOG_CONFIRM_BTN, "更新启动器")
    s.wait_no_dialog("launcher update hint")
    s.wait_dialog("restart to finish the update", two_buttons=False, timeout=120)
    s.x("xdotool", "mousemove", "0", "0")
    time.sleep(0.5)
    check(not short_caption(s), "the restart dialog's button has the long caption \"立即重启\"")
    s.click(DIALOG_SINGLE, "立即重启")
    s.wait_exit(first, 30)
    check(first.returncode == 0, "the old launcher quit for the updater")

    updater_log = lambda: [p for p in s.log_files() if os.path.basename(p).startswith("OrbUpdate-")]
    wait_for("the updater's log", updater_log, 20)
    wait_for("the update to complete", lambda: "update complete" in open(updater_log()[-1]).read(), 60)
    import hashlib
    check(sha256(program) != old_hash and sha256(program) == hashlib.sha256(shipped).hexdigest(),
          "the program file is the package's OrbLive")

    # The updater started the new launcher; it confirms the update (the version
    # advances only once the new program runs), checks again and offers nothing.
    wait_for("the restarted launcher", s.launcher_pids, 30)
    wait_for("config/game_settings.ini to say launcher 1.0.3",
             lambda: s.local_settings()["launcher"]["Version"] == "1.0.3", 30)
    check(s.local_settings()["launcher"]["Version"] == "1.0.3", "config/game_settings.ini says launcher 1.0.3")
    wait_for("the version label's text", lambda: s.app_state("Version") == "v1.0.3", 10)
    check(s.app_state("Version") == "v1.0.3", "the version label's text names launcher 1.0.3")
    wait_for("a second launcher log", lambda: len(s.launcher_logs()) >= 2, 30)
    s.wait_launcher_window()
    wait_for("the restarted check", lambda: "GameSetting Download Finish" in s.log_text(), 30)
    check("Server settings verified" in s.log_text(), "the new launcher checked the publisher's signature")
    s.wait_main_button("active", 15)
    time.sleep(1.5)
    check(not s.dialog_shown(), "the restarted launcher offers no update")
    restarted = s.launcher_pids()[0]
    s.x("xdotool", "mousemove", "0", "0")
    s.click((1308, 26), "title bar close")
    s.wait_dialog("close confirmation")
    s.click(DIALOG_CONFIRM_BTN, "确认")
    wait_for("the restarted launcher to end", lambda: restarted not in s.launcher_pids(), 30)

    # A start of its own: still no update offered.
    s.start_launcher()
    s.wait_launcher_window()
    wait_for("the third check", lambda: len(s.launcher_logs()) >= 3 and "GameSetting Download Finish" in s.log_text(),
             30)
    s.wait_main_button("active", 15)
    time.sleep(1.5)
    check(not s.dialog_shown(), "a later start offers no update either")
    check(s.local_settings()["launcher"]["Version"] == "1.0.3", "the launcher version stays 1.0.3")
    s.quit_through_confirmation()


def bad_package(s):
    s.start_publisher()
    s.edit_served_settings("Basic", "GamePackageSha256", "0" * 64)
    s.install_launcher()
    s.start_launcher()
    wait_check_with_hint(s)
    dismiss_hint(s)
    folder = os.path.join(s.games, "Bad")
    os.makedirs(folder)
    choose_folder(s, folder)
    s.click(CHOOSER_CONFIRM, "开始下载")
    # The package arrives, fails its check, and the player is told.
    told = wait_for("a verification failure tip, or the package taken as downloaded",
                    lambda: ("tip" if s.dialog_shown(two_buttons=False) else None)
                    or ("accepted" if truthy(s.app_state("IsDownloadFinish")) else None), 60)
    check(told == "tip", "the player is told the package is damaged (not: accepted as downloaded)")
    check(not truthy(s.app_state("IsDownloadFinish")), "the damaged package does not count as downloaded")
    check(not truthy(s.app_state("IsInstallGmae")), "nothing is marked installed")
    check(not os.path.exists(os.path.join(folder, "valdane")), "nothing was unpacked")
    s.click(DIALOG_SINGLE, "确定")
    s.wait_no_dialog("verification failure tip")
    s.wait_main_button("active", 10)
    # Still usable: the main button acts again (the folder chooser, or a new download
    # that the same damaged package fails once more, with the tip again).
    s.click(MAIN_BUTTON, "下载游戏")
    again = wait_for("the chooser or a second verification tip",
                     lambda: ("chooser" if near(s.mean(CHOOSER_PANEL_PATCH), WHITE, 8) else None)
                     or ("tip" if s.dialog_shown(two_buttons=False) else None), 60)
    check(again in ("chooser", "tip"), "the launcher stays usable after a damaged package")
    check(not truthy(s.app_state("IsInstallGmae")), "still nothing installed")


def network_cut(s):
    s.start_publisher(rate="300k")
    size = s.pad_game_package(3)
    log("game package %d bytes, throttled" % size)
    s.install_launcher()
    s.start_launcher()
    wait_check_with_hint(s)
    dismiss_hint(s)
    folder = os.path.join(s.games, "Cut")
    os.makedirs(folder)
    choose_folder(s, folder)
    start_download(s, folder)
    s.x("xdotool", "mousemove", "0", "0")
    time.sleep(0.8)
    pause_icon = s.grab(DOWNLOAD_PAUSE_ICON)

    wait_for("some hundred KB of the package", lambda: package_part(s) > 300 * 1024, 30)
    port = s.port
    s.stop_publisher()
    cut_at = time.monotonic()
    log("publisher stopped after %d bytes" % package_part(s))
    # The transfer fails: the panel stays and its button turns into resume.
    # (The two icons differ only in their inner glyph: a small but steady change.)
    changed = wait_for("the panel's resume button",
                       lambda: (lambda d: d > 2 and d)(s.difference(s.grab(DOWNLOAD_PAUSE_ICON), pause_icon)), 40)
    log("the panel's button changed (difference %.1f)" % changed)
    check(near(s.mean(DOWNLOAD_PANEL_PATCH), PANEL_DARK, 12), "the download panel stays after the cut")
    check(s.main_button() == "busy", "the main button stays busy while the download waits")
    check(not truthy(s.app_state("IsDownloadFinish")), "the cut download does not count as downloaded")
    held = package_part(s)
    check(0 < held < size, "the part already downloaded is kept (%d of %d bytes)" % (held, size))
    time.sleep(max(0.0, 10.0 - (time.monotonic() - cut_at)))
    check(package_part(s) == held, "nothing arrives while the publisher is away")

    s.start_publisher(rate="300k", port=port, keep=True)
    check(s.port == port, "the publisher is back on port %d" % port)
    requests_before = len(s.access_log())
    starts = s.log_count("onSigSetDownloadStatus true")
    s.click(DOWNLOAD_PAUSE, "resume")
    wait_for("the resume request in the log", lambda: s.log_count("onSigSetDownloadStatus true") == starts + 1, 10)
    wait_for("the package to grow again", lambda: package_part(s) > held, 30)
    wait_for("IsDownloadFinish=true", lambda: truthy(s.app_state("IsDownloadFinish")), 120)
    # nginx writes a request's line when the request ends.
    resumed = wait_for("the resumed request in the access log",
                       lambda: [line for line in s.access_log()[requests_before:] if ".zip" in line], 10)
    check(all('" 206 ' in line for line in resumed),
          "the resume asks only for the missing part (206): %s" % resumed)
    package = os.path.join(s.app_state("DownLoadPath"), s.app_state("DownLoadGamePackage"))
    check(os.path.isfile(package) and sha256(package) == sha256(s.game_package()),
          "the resumed package is byte for byte the served one")
    s.wait_not_colour("the download panel to close", DOWNLOAD_PANEL_PATCH, PANEL_DARK, 10)
    time.sleep(3.0)  # the "下载完成" bubble goes
    install_and_check(s, folder)
    s.quit_through_confirmation()


def kept_files(s):
    """What a launcher keeps on disk: its settings copies, the player's INI files,
    the installation record; name -> sha256."""
    found = {}
    roots = [os.path.join(s.app, "storage"), os.path.join(s.app, "config"),
             os.path.join(s.config_home, "OrbLauncher")]
    for root in roots:
        for dirpath, dirnames, filenames in os.walk(root):
            if os.path.basename(dirpath) == "log" and dirpath.startswith(os.path.join(s.config_home, "OrbLauncher")):
                dirnames[:] = []
                continue
            for name in filenames:
                path = os.path.join(dirpath, name)
                found[os.path.relpath(path, s.box)] = sha256(path)
    return found


def file_id(path):
    """Identity of a file: a save that renames a new copy over it changes it."""
    info = os.stat(path)
    return info.st_ino, info.st_mtime_ns


def second_start(s):
    s.start_publisher()
    s.install_launcher()
    s.start_launcher()
    wait_check_with_hint(s)
    dismiss_hint(s)
    BACKDROP[0] = s.grab(SIDE_BUTTONS_REGION)
    folder = os.path.join(s.games, "Second")
    os.makedirs(folder)
    choose_folder(s, folder)
    # The small package comes at once: its panel may be gone before it is seen.
    s.click(CHOOSER_CONFIRM, "开始下载")
    wait_for("IsDownloadFinish=true", lambda: truthy(s.app_state("IsDownloadFinish")), 60)
    time.sleep(3.0)
    install_and_check(s, folder)
    time.sleep(1.0)

    before = kept_files(s)
    for needed in ("launcher/storage/game_settings.ini", "launcher/storage/game_settings.ini.sig",
                   "home/.config/OrbLauncher/config/OrbLauncher.ini"):
        check(needed in before, "the first launcher keeps %s" % needed)
    check(any(k.startswith("home/.config/OrbLauncher/install/") for k in before), "an installation record exists")
    inodes = {k: file_id(os.path.join(s.box, k)) for k in before}
    windows = set(s.all_windows())
    requests = len(s.access_log())
    logs = len(s.launcher_logs())

    second = s.spawn_launcher()
    log("second launcher started (pid %d)" % second.pid)
    code = s.wait_exit(second, 30)
    check(code == 0, "the second start ends with 0 (it ended with %d)" % code)
    time.sleep(1.0)
    check(set(s.all_windows()) <= windows, "the second start showed no window")
    after = kept_files(s)
    changed = sorted(k for k in set(before) | set(after) if before.get(k) != after.get(k))
    replaced = sorted(k for k in set(before) & set(after) if inodes[k] != file_id(os.path.join(s.box, k)))
    # Checked once the first launcher has shown it still works, so that the rest is seen too.
    s.later(not changed and not replaced, "the first launcher's files are byte for byte unchanged and not rewritten "
            "(changed: %s; rewritten: %s)" % (changed, replaced))
    check(len(s.access_log()) == requests, "the second start asked the publisher nothing")
    check(s.launcher.poll() is None, "the first launcher still runs")
    check(len(s.launcher_logs()) > logs and "another launcher for this game is running" in s.log_text(),
          "the second start says why it leaves")
    check("OnGameSettingFinish" not in s.log_text(), "the second start fetched nothing (its check never ran)")

    # The first one keeps working.
    s.focus()
    play_and_close_all(s)
    s.quit_through_confirmation()


def short_caption(s):
    """The shown one-button dialog's caption is short ("确定"): the left of its
    button is the plain button colour, where "立即重启" would have text."""
    return near(s.mean(DIALOG_SINGLE_CAPTION_EDGE), DIALOG_CONFIRM, 12)


def unpackable_zip(path):
    """A ZIP whose first entry's data no longer matches its CRC."""
    with open(path, "rb") as f:
        data = bytearray(f.read())
    # Local header: 30 bytes plus name and extra, then the data.
    name_len, extra_len = int.from_bytes(data[26:28], "little"), int.from_bytes(data[28:30], "little")
    start = 30 + name_len + extra_len
    for i in range(start, start + 64):
        data[i] ^= 0xFF
    with open(path, "wb") as f:
        f.write(bytes(data))


def launcher_unpack_fails(s):
    s.start_publisher()
    package = s.launcher_package()
    unpackable_zip(package)
    s.declare_package("launcher", package)
    program = os.path.join(s.app, "OrbLive")
    s.install_launcher()
    old_hash = sha256(program)
    s.start_launcher()
    wait_check_with_hint(s)
    s.click(DIALOG_CONFIRM_BTN, "更新启动器")
    s.x("xdotool", "mousemove", "0", "0")
    # The package comes at once from loopback: the next dialog may follow the hint directly.
    s.wait_dialog("after the download of the launcher package", two_buttons=False, timeout=120)
    time.sleep(0.5)
    check(short_caption(s), "the dialog is the tip (\"确定\"), not the restart offer (\"立即重启\")")
    check("the launcher package could not be unpacked" in s.log_text(),
          "the package passed its download checks and failed at unpacking")
    check("Update process started" not in s.log_text(), "no updater was started")
    check(not [p for p in s.log_files() if os.path.basename(p).startswith("OrbUpdate-")], "the updater never ran")
    s.click(DIALOG_SINGLE, "确定")
    s.wait_no_dialog("the failure tip")
    time.sleep(1.0)
    check(s.launcher.poll() is None, "the launcher keeps running")
    check(not s.dialog_shown(two_buttons=False), "no restart dialog follows the tip")
    check(sha256(program) == old_hash, "the program file is unchanged")
    check(s.local_settings()["launcher"]["Version"] != "1.0.3", "the local launcher version did not advance")
    # Still usable: the offered update stays declinable and the game at hand.
    s.wait_main_button("active", 10)
    s.click(MAIN_BUTTON, "下载游戏")
    s.wait_colour("the folder chooser", CHOOSER_PANEL_PATCH, WHITE, tolerance=8)
    log("the main button opens the chooser after the failed update")


def broken_game_package(path):
    """The served game package with its executable's data damaged (its CRC no longer
    matches): the file still downloads and passes its declared hash."""
    with zipfile.ZipFile(path) as z:
        target = [i for i in z.infolist() if i.filename.endswith("bin/valdane")][0]
        offset = target.header_offset
    with open(path, "rb") as f:
        data = bytearray(f.read())
    name_len = int.from_bytes(data[offset + 26:offset + 28], "little")
    extra_len = int.from_bytes(data[offset + 28:offset + 30], "little")
    start = offset + 30 + name_len + extra_len
    for i in range(start + 16, start + 80):
        data[i] ^= 0x5A
    with open(path, "wb") as f:
        f.write(bytes(data))


def game_install_fails(s):
    s.start_publisher()
    broken_game_package(s.game_package())
    s.declare_package("Basic", s.game_package())
    s.install_launcher()
    s.start_launcher()
    wait_check_with_hint(s)
    dismiss_hint(s)
    folder = os.path.join(s.games, "Broken")
    os.makedirs(folder)
    choose_folder(s, folder)
    s.click(CHOOSER_CONFIRM, "开始下载")
    wait_for("IsDownloadFinish=true", lambda: truthy(s.app_state("IsDownloadFinish")), 60)
    package = os.path.join(s.app_state("DownLoadPath"), s.app_state("DownLoadGamePackage"))
    check(sha256(package) == sha256(s.game_package()), "the package arrived whole, its hash accepted")
    s.x("xdotool", "mousemove", "0", "0")
    # The "下载完成" bubble follows the recorded finish: let it come and go first.
    wait_for("the download bubble", lambda: near(s.mean(BUBBLE_PATCH), WHITE, 8), 10, interval=0.1)
    wait_for("the download bubble to go", lambda: not near(s.mean(BUBBLE_PATCH), WHITE, 8), 10)
    s.wait_main_button("active", 10)
    s.click(MAIN_BUTTON, "安装游戏")
    s.x("xdotool", "mousemove", "0", "0")
    # Until the tip shows, and a while after it, no "安装完成" bubble may appear.
    bubbles = []

    def tip_or_bubble():
        if near(s.mean(BUBBLE_PATCH), WHITE, 8):
            bubbles.append(time.monotonic())
        return s.dialog_shown(two_buttons=False) or truthy(s.app_state("IsInstallGmae"))
    wait_for("the install failure tip", tip_or_bubble, 60, interval=0.1)
    check(not truthy(s.app_state("IsInstallGmae")), "the broken package is not marked installed")
    check(s.dialog_shown(two_buttons=False) and short_caption(s), "the player gets a tip")
    end = time.monotonic() + 3
    while time.monotonic() < end:
        tip_or_bubble()
        time.sleep(0.1)
    check(not bubbles, "no \"安装完成\" bubble is shown")
    check(not truthy(s.app_state("IsInstallGmae")), "still not installed")
    check(truthy(s.app_state("IsDownloadFinish")), "the package still counts as downloaded")
    check(os.path.isfile(package) and sha256(package) == sha256(s.game_package()), "the package is kept")
    s.click(DIALOG_SINGLE, "确定")
    s.wait_no_dialog("install failure tip")
    s.wait_main_button("active", 10)
    # The main button offers the installation again: it fails the same way, with the tip.
    s.click(MAIN_BUTTON, "安装游戏")
    s.x("xdotool", "mousemove", "0", "0")
    s.wait_dialog("the install failure tip again", two_buttons=False, timeout=60)
    check(not truthy(s.app_state("IsInstallGmae")) and os.path.isfile(package),
          "installing again fails the same way and keeps the package")
    s.click(DIALOG_SINGLE, "确定")
    s.wait_no_dialog("install failure tip")
    s.wait_main_button("active", 10)
    s.quit_through_confirmation()


def fresh_account(s):
    check(not os.path.exists(s.documents), "the account has no Documents folder")
    # Throttled so that the download panel is there long enough to be seen.
    s.start_publisher(rate="60k")
    s.install_launcher()
    s.start_launcher()
    wait_check_with_hint(s)
    dismiss_hint(s)
    s.click(MAIN_BUTTON, "下载游戏")
    s.wait_colour("the folder chooser", CHOOSER_PANEL_PATCH, WHITE, tolerance=8)
    time.sleep(0.5)
    check(s.app_state("InstallDirectory") == s.documents,
          "the offered folder is the documents folder (%s)" % s.app_state("InstallDirectory"))
    field = s.grab(CHOOSER_FIELD_TEXT)
    check(s.difference(field, bytes([255]) * len(field)) > 4, "the chooser's field shows a path")
    s.wait_colour("the chooser's confirm button to be active", CHOOSER_CONFIRM_PATCH, ACTIVE, 10)
    check(not os.path.exists(s.documents), "showing the chooser made no folder")
    s.click(CHOOSER_CONFIRM, "开始下载")
    outcome = wait_for("the download panel, or the download refused",
                       lambda: ("panel" if near(s.mean(DOWNLOAD_PANEL_PATCH), PANEL_DARK, 12) else None)
                       or ("refused" if "onSigDownloadBtnClickedCallback result: false" in s.launcher_output()
                           else None), 20)
    check(os.path.isdir(s.documents), "confirming made the documents folder")
    downloads = s.app_state("DownLoadPath") or ""
    check(downloads.startswith(s.documents + "/"), "the download goes below the documents folder (%s)" % downloads)
    check(os.path.isdir(downloads), "the download folder below it was made too (%s)" % downloads)
    check(outcome == "panel", "the download started (not: refused)")
    check(truthy(s.app_state("IsDownloadStart")), "IsDownloadStart is true")
    wait_for("IsDownloadFinish=true", lambda: truthy(s.app_state("IsDownloadFinish")), 60)
    check(sha256(os.path.join(downloads, s.app_state("DownLoadGamePackage"))) == sha256(s.game_package()),
          "the package arrived whole")
    s.wait_not_colour("the download panel to close", DOWNLOAD_PANEL_PATCH, PANEL_DARK, 10)
    s.quit_through_confirmation()


def manifest_files(path):
    """{path: (sha256, [chunk hashes in order], [(offset, size)])} of a store manifest."""
    files, current = {}, None
    with open(path, encoding="utf-8") as f:
        for line in f:
            parts = line.split()
            if parts and parts[0] == "file":
                current = files[parts[1]] = (parts[4], [], [])
            elif parts and parts[0] == "chunk":
                current[1].append(parts[1])
                current[2].append((int(parts[2]), int(parts[3])))
    return files


def all_chunks(files):
    return {c for _, chunks, _ in files.values() for c in chunks}


def tree(folder, skip=(".orbdelivery",)):
    """{relative path: (sha256, executable)} of every file below folder."""
    found = {}
    for top, dirs, names in os.walk(folder):
        dirs[:] = [d for d in dirs if d not in skip]
        for name in names:
            path = os.path.join(top, name)
            found[os.path.relpath(path, folder)] = (sha256(path), bool(os.stat(path).st_mode & stat.S_IXUSR))
    return found


def pack_layout(manifest):
    """[(offset, compressed size, hash)] of a version's pack: its distinct chunks in first-appearance order."""
    layout, seen, at = [], set(), 0
    with open(manifest, encoding="utf-8") as f:
        for line in f:
            parts = line.split()
            if parts and parts[0] == "chunk" and parts[1] not in seen:
                seen.add(parts[1])
                layout.append((at, int(parts[4]), parts[1]))
                at += int(parts[4])
    return layout


LOG_LINE = re.compile(r'"GET (\S+) HTTP[^"]*" (\d+) \d+ "[^"]*" "[^"]*" "([^"]*)"')


def fetched_chunks(lines, store):
    """Chunks the access log lines delivered: chunk files one by one, and the frames ranged pack requests carried."""
    got = []
    for line in lines:
        m = LOG_LINE.search(line)
        if not m:
            continue
        path, status, rng = m.group(1), int(m.group(2)), m.group(3)
        if "/store/chunks/" in path and path.endswith(".zst") and status == 200:
            got.append(os.path.basename(path)[:-len(".zst")])
        elif "/store/packs/" in path and path.endswith(".pack") and status == 206:
            first, last = (int(x) for x in rng[len("bytes="):].split("-"))
            version = os.path.basename(path)[:-len(".pack")]
            layout = pack_layout(os.path.join(store, "manifests", version + ".manifest"))
            got += [h for at, size, h in layout if at >= first and at + size - 1 <= last]
    return got


def ranged_requests(lines):
    return [l for l in lines if "/store/packs/" in l and '" 206 ' in l]


def wait_repair_button(s, timeout=15):
    s.wait_colour("the repair button", REPAIR_BUTTON_PATCH, REPAIR_FILL, timeout, tolerance=16)


def delivery(s):
    s.start_publisher(zip_only=False)
    store = os.path.join(s.www, "store", "manifests")
    served = s.served_settings()["Basic"]
    version, next_version = served["Version"], "1.2.0"
    first = os.path.join(store, version + ".manifest")
    second = os.path.join(store, next_version + ".manifest")
    check(served.get("GameManifestUrl") == "%s/store/manifests/%s.manifest" % (s.base, version)
          and served.get("GameManifestSha256") == sha256(first),
          "the served settings name the manifest of %s and its SHA-256" % version)
    stage = tree(os.path.join(s.build, "demo", "game-stage"))
    stage2 = tree(os.path.join(s.build, "demo", "game-stage-" + next_version))
    v1, v2 = manifest_files(first), manifest_files(second)
    check(set(v1) == set(stage) and set(v2) == set(stage2), "the store holds both published trees")

    # Install through the manifest: the scene's usual download request.
    s.install_launcher()
    s.start_launcher()
    wait_check_with_hint(s)
    dismiss_hint(s)
    folder = os.path.join(s.games, "Delivered")
    os.makedirs(folder)
    choose_folder(s, folder)
    s.click(CHOOSER_CONFIRM, "开始下载")
    wait_for("IsInstallGmae=true", lambda: truthy(s.app_state("IsInstallGmae")), 60)
    s.wait_main_button("active", 20)
    game = os.path.join(folder, "valdane")
    check(tree(game) == stage, "the install folder equals the published tree of %s" % version)
    check(truthy(s.app_state("IsDownloadFinish")), "IsDownloadFinish is true")
    paths = s.requested_paths()
    root = os.path.join(s.www, "store")
    check(not [p for p in paths if p.endswith(".zip") and "valdane" in p], "the game's ZIP package was not fetched")
    fetched = fetched_chunks(s.access_log(), root)
    check(sorted(fetched) == sorted(all_chunks(v1)), "every chunk of %s was fetched once" % version)
    check(ranged_requests(s.access_log()) and not [p for p in paths if "/store/chunks/" in p],
          "they came in ranged requests of the version's pack (%d)" % len(ranged_requests(s.access_log())))
    wait_repair_button(s)
    log("the repair button is offered beside \"开始游戏\"")
    s.quit_through_confirmation()

    # The publisher moves on to the next version: the check offers the update.
    s.edit_served_settings("Basic", "Version", next_version)
    s.edit_served_settings("Basic", "GameManifestUrl", "%s/store/manifests/%s.manifest" % (s.base, next_version))
    s.edit_served_settings("Basic", "GameManifestSha256", sha256(second))
    mark = len(s.access_log())
    s.start_launcher()
    s.wait_launcher_window()
    s.wait_dialog("launcher update hint")
    dismiss_hint(s)
    wait_for("the game update offered", lambda: truthy(s.app_state("IsUpdateGmaeHint")), 10)
    s.click(MAIN_BUTTON, "更新游戏")
    # A download that has run once goes straight on; otherwise the chooser asks first.
    time.sleep(1.0)
    if near(s.mean(CHOOSER_PANEL_PATCH), WHITE, 8):
        s.click(CHOOSER_CONFIRM, "开始下载")
    wait_for("the update installed", lambda: truthy(s.app_state("IsInstallGmae")), 60)
    s.wait_main_button("active", 20)
    check(tree(game) == stage2, "the install folder equals the published tree of %s" % next_version)
    check(s.local_settings()["Basic"].get("Version") == next_version, "the local settings say %s" % next_version)
    new = fetched_chunks(s.access_log()[mark:], root)
    expected = all_chunks(v2) - all_chunks(v1)
    check(expected and sorted(new) == sorted(expected),
          "the update fetched only the %d new chunks, each once (fetched %d)" % (len(expected), len(new)))

    # A damaged file is repaired from the scene's button, fetching only its own chunks.
    victim = "bin/valdane"
    path = os.path.join(game, victim)
    with open(path, "r+b") as f:
        f.write(b"\0" * 4096)
    check(sha256(path) != v2[victim][0], "the game's program is damaged")
    wait_repair_button(s)
    s.screenshot("repair-offered")
    mark = len(s.access_log())
    s.click(REPAIR_BUTTON, "校验并修复")
    # A repair from loopback ends before the busy button can be seen: the log says it ran.
    wait_for("the repair request in the log", lambda: "Verify And Repair" in s.log_text(), 10)
    s.wait_dialog("repair finished", two_buttons=False, timeout=60)
    s.screenshot("repair-finished")
    wait_for("the repair in the log", lambda: "Repair: " in s.log_text(), 10)
    check("Repair: 1 damaged, 0 missing" in s.log_text(), "the repair found the one damaged file")
    check(tree(game) == stage2, "the program is whole again and the folder equals %s" % next_version)
    repaired = fetched_chunks(s.access_log()[mark:], root)
    first_chunk = v2[victim][1][0]
    check(repaired and set(repaired) <= set(v2[victim][1]) and first_chunk in repaired,
          "the repair fetched only chunks of the damaged file (%d of %d)" % (len(repaired), len(v2[victim][1])))
    s.click(DIALOG_SINGLE, "确定")
    s.wait_no_dialog("repair finished")
    s.wait_main_button("active", 10)
    wait_repair_button(s)
    s.quit_through_confirmation()
    wait_for("every process the launcher started to end", lambda: not s.box_pids(), 15)


FLOWS = {"first_start": first_start, "offline": offline, "self_update": self_update, "bad_package": bad_package,
         "network_cut": network_cut, "page_links": page_links, "second_start": second_start, "launcher_unpack_fails": launcher_unpack_fails,
         "game_install_fails": game_install_fails, "fresh_account": fresh_account, "delivery": delivery}
SESSION_OPTIONS = {"fresh_account": {"documents": False}}


def main():
    if len(sys.argv) != 2 or sys.argv[1] not in FLOWS:
        sys.stderr.write("usage: flows.py {%s}\n" % ",".join(FLOWS))
        return 2
    name = sys.argv[1]
    started = time.monotonic()
    try:
        with Session(name, **SESSION_OPTIONS.get(name, {})) as s:
            FLOWS[name](s)
            s.check_later()
    except E2EFailure as failure:
        log("FAIL %s: %s" % (name, failure))
        return 1
    log("PASS %s in %.0f s" % (name, time.monotonic() - started))
    return 0


if __name__ == "__main__":
    sys.exit(main())
