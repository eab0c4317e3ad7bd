#!/usr/bin/env python3
"""Screenshots of the launcher's main states (see screenshots.sh)."""

import os
import socket
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import orbe2e  # noqa: E402
from orbe2e import (CHOOSER_CONFIRM, DIALOG_CANCEL, DOWNLOAD_PANEL_PATCH, MAIN_BUTTON, PANEL_DARK, Session,
                    log, wait_for)
import flows  # noqa: E402

OUT = os.path.join(ROOT, "docs", "screenshots")


def save(s, name):
    """The launcher window, cropped from the screen, as an indexed PNG (small files)."""
    x, y, w, h = s.geometry(s.wid)
    path = os.path.join(OUT, name + ".png")
    env = dict(os.environ, DISPLAY=s.display)
    subprocess.run(["import", "-silent", "-window", "root", "-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage",
                    "-colors", "256", "-define", "png:compression-level=9", "PNG8:" + path],
                   env=env, check=True, timeout=30)
    log("saved %s (%d KB)" % (path, os.path.getsize(path) // 1024))


def main():
    os.makedirs(OUT, exist_ok=True)
    with Session("shots") as s:
        # Checking: a settings server that accepts the connection and never answers.
        silent = socket.socket()
        silent.bind(("127.0.0.1", 0))
        silent.listen(8)
        s.start_publisher(rate="300k")
        s.pad_game_package(4, small_files=6000)
        s.install_launcher(overrides={("launcher", "GameSettingsUrl"):
                                      "http://127.0.0.1:%d/game_settings.ini" % silent.getsockname()[1]})
        s.start_launcher()
        s.wait_launcher_window()
        wait_for("the page", lambda: not orbe2e.near(s.mean((600, 300, 150, 60)), (0x1b, 0x1d, 0x23), 3), 30)
        time.sleep(1.0)
        save(s, "checking")
        s.kill_box_processes()
        silent.close()

        s.install_launcher()
        s.start_launcher()
        flows.wait_check_with_hint(s)
        time.sleep(0.8)
        save(s, "dialog-launcher-update")
        flows.dismiss_hint(s)
        time.sleep(0.8)
        save(s, "ready")
        folder = os.path.join(s.games, "MyGames")
        os.makedirs(folder)
        flows.choose_folder(s, folder)
        time.sleep(0.5)
        save(s, "folder-chooser")
        s.click(CHOOSER_CONFIRM, "开始下载")
        s.wait_colour("the download panel", DOWNLOAD_PANEL_PATCH, PANEL_DARK, 20, tolerance=12)
        time.sleep(4.5)   # two speed samples
        save(s, "downloading")
        wait_for("IsDownloadFinish=true", lambda: orbe2e.truthy(s.app_state("IsDownloadFinish")), 240)
        s.wait_main_button("active", 15)
        time.sleep(2.5)
        s.click(MAIN_BUTTON, "安装游戏")
        # The installation is quick: keep frames until it ends, then keep one that shows the progress bar.
        frames = []
        env = dict(os.environ, DISPLAY=s.display)
        x, y, w, h = s.geometry(s.wid)
        end = time.monotonic() + 60
        while time.monotonic() < end:
            path = os.path.join(s.box, "install-%03d.png" % len(frames))
            subprocess.run(["import", "-silent", "-window", "root", "-crop", "%dx%d+%d+%d" % (w, h, x, y),
                            "+repage", path], env=env, timeout=30)
            frames.append(path)
            if orbe2e.truthy(s.app_state("IsInstallGmae")):
                break
        shown = None
        for path in frames:
            # While the package unpacks the main button is hidden and the progress bar shows.
            raw = subprocess.run(["convert", path, "-crop", "40x20+545+634", "-depth", "8", "rgb:-"],
                                 capture_output=True).stdout
            n = max(1, len(raw) // 3)
            button = tuple(sum(raw[i::3]) // n for i in range(3))
            if not orbe2e.near(button, orbe2e.ACTIVE) and not orbe2e.near(button, orbe2e.BUSY):
                shown = path
                break
        if shown:
            subprocess.run(["convert", shown, "-colors", "256", "-define", "png:compression-level=9",
                            "PNG8:" + os.path.join(OUT, "installing.png")], check=True)
            log("saved installing.png")
        else:
            log("no frame caught the installation progress (%d frames)" % len(frames))
    return 0


if __name__ == "__main__":
    sys.exit(main())
