"""End-to-end harness: the real launcher as a player meets it.

A Session owns everything one flow starts: a private HOME, an Xvfb server on a
free display, the demo publisher (nginx on loopback), a copy of the launcher
and every process that copy starts (updater, restarted launcher, game clients,
WebEngine helpers). All of it is stopped when the session ends, however it
ends. Processes are found again by a marker in their environment, so even the
detached updater and the launcher it restarts are never left behind.

The player's view is checked through the X server: window geometry from
xdotool, clicks and keys through xdotool, pixels through ImageMagick's import.
Positions are given in the scene's logical layout (1350 x 760) and mapped onto
the window's actual geometry.
"""

import configparser
import glob
import hashlib
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import zipfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
LAYOUT_W, LAYOUT_H = 1350.0, 760.0

# Colours the scene uses for its controls.
ACTIVE = (0x6D, 0x5B, 0xF5)        # main button ready
BUSY = (0xC3, 0xC0, 0xD1)          # main button busy / disabled
DIALOG_CONFIRM = (0x84, 0x6B, 0xF0)
DIALOG_CONFIRM_HOVER = (0x6A, 0x4A, 0xCD)
WHITE = (255, 255, 255)
PANEL_DARK = (0x22, 0x21, 0x24)    # download panel

# Logical positions of the layout (centres unless noted).
MAIN_BUTTON = (675, 644)
MAIN_BUTTON_PATCH = (545, 634, 40, 20)        # left part of the main button, away from its caption
DIALOG_PANEL_PATCH = (430, 205, 60, 30)       # top left of a dialog panel (white)
DIALOG_CANCEL = (570, 508)
DIALOG_CONFIRM_BTN = (780, 508)
DIALOG_SINGLE = (675, 508)
DIALOG_CONFIRM_PATCH = (700, 500, 20, 16)     # left part of the confirm button of a two-button dialog
DIALOG_SINGLE_PATCH = (540, 500, 30, 16)      # left part of a one-button dialog's button
CHOOSER_PANEL_PATCH = (370, 215, 40, 20)      # path chooser panel (white), left of its title
CHOOSER_CHANGE = (916, 308)                   # "更改"
CHOOSER_CONFIRM = (858, 495)
CHOOSER_BLANK = (500, 470)                    # empty part of the chooser panel
CHOOSER_CONFIRM_PATCH = (772, 486, 24, 18)
DOWNLOAD_PANEL_PATCH = (955, 655, 30, 8)      # download panel, under its amount text
DOWNLOAD_PAUSE = (1267, 679)
DOWNLOAD_PAUSE_ICON = (1249, 661, 37, 37)     # the panel's pause / resume icon
DIALOG_SINGLE_CAPTION_EDGE = (640, 500, 14, 16)  # inside a one-button dialog's button, left of a two-character caption
BUBBLE_PATCH = (568, 106, 8, 16)               # left end of the notification bubble at the top (white)
CHOOSER_FIELD_TEXT = (412, 300, 200, 16)      # the chooser's path field, where its text starts
REPAIR_BUTTON = (416, 644)                    # "校验并修复", left of the main button
REPAIR_BUTTON_PATCH = (334, 636, 24, 16)      # its left part, away from the caption
REPAIR_FILL = (0x3D, 0x35, 0x66)
MORE_GAMES = (874, 644)
CLOSE_ALL = (950, 644)
SIDE_BUTTONS_REGION = (844, 614, 136, 60)
TOPBAR_CLOSE = (1308, 26)


class E2EFailure(Exception):
    pass


def log(msg):
    sys.stdout.write("[%s] %s\n" % (time.strftime("%H:%M:%S"), msg))
    sys.stdout.flush()


def near(colour, expected, tolerance=24):
    return all(abs(a - b) <= tolerance for a, b in zip(colour, expected))


def free_port():
    import socket
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def wait_for(what, predicate, timeout=30.0, interval=0.25):
    """Polls predicate until it returns a true value; fails with what."""
    end = time.monotonic() + timeout
    last = None
    while time.monotonic() < end:
        try:
            last = predicate()
        except E2EFailure:
            raise
        except Exception as error:  # a transient read error (file being written, window going away)
            last = error
        else:
            if last:
                return last
        time.sleep(interval)
    raise E2EFailure("timed out after %.0f s waiting for %s (last: %r)" % (timeout, what, last))


def sha256(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


class Session:
    """One flow's world; use as a context manager."""

    def __init__(self, name, build=None, documents=True):
        self.name = name
        self.build = build or os.environ.get("ORB_BUILD_DIR") or os.path.join(ROOT, "build")
        self.rundir = os.environ.get("ORB_RUNDIR") or os.path.join(ROOT, "rundir", "64bit", "bin")
        keep = os.environ.get("ORB_E2E_KEEP")
        self.box = tempfile.mkdtemp(prefix="orbe2e-%s." % name)
        # nginx's workers run as another user: the served folder must be reachable.
        os.chmod(self.box, 0o755)
        self.keep = bool(keep)
        self.home = os.path.join(self.box, "home")
        self.config_home = os.path.join(self.home, ".config")
        self.app = os.path.join(self.box, "launcher")
        self.pub_run = os.path.join(self.box, "publisher")
        self.games = os.path.join(self.box, "Games")
        self.documents = os.path.join(self.home, "Documents")
        # A fresh account may have no Documents folder at all.
        for d in (self.home, self.config_home, self.games, os.path.join(self.box, "tmp"),
                  os.path.join(self.box, "runtime")) + ((self.documents,) if documents else ()):
            os.makedirs(d, exist_ok=True)
        os.chmod(os.path.join(self.box, "runtime"), 0o700)
        self.marker = "ORB_E2E_BOX=" + self.box
        self.xvfb = None
        self.display = None
        self.base = None
        self.launcher = None
        self.shots = 0
        self.failed_later = []

    # ---- lifetime -------------------------------------------------------

    def __enter__(self):
        try:
            self.start_xvfb()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, kind, value, tb):
        if kind is not None:
            try:
                self.screenshot("failure")
                self.dump_logs()
            except Exception:
                pass
        self.close()
        return False

    def close(self):
        self.kill_box_processes()
        self.stop_publisher()
        if self.xvfb and self.xvfb.poll() is None:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(5)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
                self.xvfb.wait()
        if not self.keep:
            shutil.rmtree(self.box, ignore_errors=True)
        else:
            log("kept %s" % self.box)

    def box_pids(self):
        """Processes started by this session's launcher copy (found by the marker)."""
        pids = []
        me = os.getpid()
        for entry in os.listdir("/proc"):
            if not entry.isdigit() or int(entry) == me:
                continue
            try:
                with open("/proc/%s/environ" % entry, "rb") as f:
                    env = f.read().split(b"\0")
            except OSError:
                continue
            if self.marker.encode() in env:
                pids.append(int(entry))
        return pids

    def kill_box_processes(self):
        own_group = os.getpgid(0)
        for sig in (signal.SIGTERM, signal.SIGKILL):
            pids = self.box_pids()
            if not pids:
                return
            for pid in pids:
                try:
                    group = os.getpgid(pid)
                    if group != own_group and group == pid:
                        os.killpg(group, sig)
                    else:
                        os.kill(pid, sig)
                except OSError:
                    pass
            end = time.monotonic() + 5
            while time.monotonic() < end and self.box_pids():
                time.sleep(0.1)

    # ---- X server -------------------------------------------------------

    def start_xvfb(self):
        r, w = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(w), "-screen", "0", "1600x900x24", "-nolisten", "tcp"],
            pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        os.close(w)
        data = b""
        end = time.monotonic() + 20
        while not data.endswith(b"\n") and time.monotonic() < end:
            chunk = os.read(r, 16)
            if not chunk:
                break
            data += chunk
        os.close(r)
        if not data.strip():
            raise E2EFailure("Xvfb did not report a display")
        self.display = ":" + data.decode().strip()
        log("Xvfb on %s" % self.display)

    def x(self, *args, check=True):
        env = dict(os.environ, DISPLAY=self.display)
        done = subprocess.run(list(args), env=env, capture_output=True, text=True, timeout=30)
        if check and done.returncode != 0:
            raise E2EFailure("%s failed: %s" % (" ".join(args), done.stderr.strip()))
        return done.stdout

    # ---- publisher ------------------------------------------------------

    def start_publisher(self, rate=None, port=None, keep=False, zip_only=True):
        """Starts nginx; port and keep bring a stopped publisher back at the same
        address serving exactly what it served before. zip_only serves settings
        without the chunk store's manifest, so the game comes as its ZIP package."""
        env = dict(os.environ)
        for key in ("ORB_DEMO_RATE", "ORB_DEMO_PORT", "ORB_DEMO_KEEP", "ORB_DEMO_ZIP_ONLY"):
            env.pop(key, None)
        if zip_only:
            env["ORB_DEMO_ZIP_ONLY"] = "1"
        if rate:
            env["ORB_DEMO_RATE"] = rate
        if port:
            env["ORB_DEMO_PORT"] = str(port)
        if keep:
            env["ORB_DEMO_KEEP"] = "1"
        done = subprocess.run(["bash", os.path.join(ROOT, "scripts", "demo-publisher.sh"), "start", self.build,
                               self.pub_run], env=env, capture_output=True, text=True, timeout=60)
        if done.returncode != 0:
            raise E2EFailure("demo publisher did not start: " + done.stderr)
        self.base = done.stdout.strip().splitlines()[-1]
        if zip_only and not keep and "GameManifestUrl" in self.served_settings().get("Basic", {}):
            raise E2EFailure("the ZIP-only publisher still names a game manifest")
        log("publisher at %s%s" % (self.base, " (rate %s)" % rate if rate else ""))
        return self.base

    def stop_publisher(self):
        if os.path.isdir(os.path.join(self.pub_run, "nginx")):
            subprocess.run(["bash", os.path.join(ROOT, "scripts", "demo-publisher.sh"), "stop", self.pub_run],
                           capture_output=True, timeout=30)

    @property
    def port(self):
        return int(self.base.rsplit(":", 1)[1])

    def requested_paths(self):
        """The paths of the GET requests nginx answered, in order."""
        return [m.group(1) for m in (re.search(r'"GET (\S+) HTTP', line) for line in self.access_log()) if m]

    def access_log(self):
        try:
            with open(os.path.join(self.pub_run, "nginx", "access.log"), encoding="utf-8", errors="replace") as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def declare_package(self, section, path):
        """Declares the served file's size and hash in the signed settings."""
        prefix = "GamePackage" if section == "Basic" else "LauncherPackage"
        self.edit_served_settings(section, prefix + "Size", str(os.path.getsize(path)))
        self.edit_served_settings(section, prefix + "Sha256", sha256(path))

    def launcher_package(self):
        return os.path.join(self.www, os.path.basename(self.served_settings()["launcher"]["LauncherPackageUrl"]))

    @property
    def www(self):
        return os.path.join(self.pub_run, "www")

    def served_settings(self):
        return read_ini(os.path.join(self.www, "game_settings.ini"))

    def edit_served_settings(self, section, key, value):
        path = os.path.join(self.www, "game_settings.ini")
        with open(path, encoding="utf-8") as f:
            text = f.read()
        out, current = [], None
        for line in text.splitlines():
            m = re.match(r"^\[(.*)\]$", line.strip())
            if m:
                current = m.group(1)
            elif current == section and line.split("=", 1)[0].strip() == key:
                line = "%s=%s" % (key, value)
            out.append(line)
        with open(path, "w", encoding="utf-8") as f:
            f.write("\n".join(out) + "\n")
        self.sign_served_settings()

    def sign_served_settings(self):
        """The publisher signs what it serves again after every edit (next serial)."""
        keys = os.path.join(self.build, "demo", "publisher", "keys")
        subprocess.run([os.path.join(self.build, "tools", "bin", "orbsign"), "sign",
                        os.path.join(keys, "publisher.key"), os.path.join(self.www, "game_settings.ini")],
                       check=True, capture_output=True, timeout=30)

    def game_package(self):
        return os.path.join(self.www, os.path.basename(self.served_settings()["Basic"]["GamePackageUrl"]))

    def pad_game_package(self, megabytes, small_files=0):
        """Makes the served game package bigger (an incompressible data file) and
        declares its new size and hash, so a throttled download lasts."""
        path = self.game_package()
        padded = path + ".padded"
        with zipfile.ZipFile(path) as src, zipfile.ZipFile(padded, "w") as dst:
            for info in src.infolist():
                dst.writestr(info, src.read(info))
            dst.writestr(zipfile.ZipInfo("data/padding.bin", date_time=(2024, 1, 1, 0, 0, 0)),
                         os.urandom(megabytes << 20), compress_type=zipfile.ZIP_STORED)
            # Many small entries make the unpacking take a visible while.
            for i in range(small_files):
                dst.writestr(zipfile.ZipInfo("data/pad/%05d.bin" % i, date_time=(2024, 1, 1, 0, 0, 0)),
                             os.urandom(1024), compress_type=zipfile.ZIP_STORED)
        os.replace(padded, path)
        self.declare_package("Basic", path)
        return os.path.getsize(path)

    # ---- launcher copy --------------------------------------------------

    def install_launcher(self, settings_base=None, overrides=None):
        """Copies the built launcher and writes its game settings with the publisher's URLs."""
        base = settings_base or self.base
        if os.path.isdir(self.app):
            shutil.rmtree(self.app)
        shutil.copytree(self.rundir, self.app, symlinks=True)
        os.makedirs(os.path.join(self.app, "config"), exist_ok=True)
        with open(os.path.join(ROOT, "demo", "game_settings.ini"), encoding="utf-8") as f:
            text = f.read()
        text = re.sub(r"(?m)^GameSettingsUrl=.*$", "GameSettingsUrl=%s/game_settings.ini" % base, text)
        text = re.sub(r"(?m)^WebPageUrl=.*$", "WebPageUrl=%s/index.html" % base, text)
        for (section, key), value in (overrides or {}).items():
            text = set_ini_text(text, section, key, value)
        with open(os.path.join(self.app, "config", "game_settings.ini"), "w", encoding="utf-8") as f:
            f.write(text)
        # The launcher trusts the demo publisher's key: the flows run with signed settings.
        shutil.copy(os.path.join(self.build, "demo", "publisher", "keys", "publisher.pub"),
                    os.path.join(self.app, "config", "publisher.pub"))

    def env(self):
        env = {k: v for k, v in os.environ.items()
               if k.lower() not in ("http_proxy", "https_proxy", "all_proxy", "no_proxy", "ftp_proxy", "socks_proxy")}
        env.pop("QT_QPA_PLATFORM", None)
        env.pop("XDG_CONFIG_HOME", None)
        env.update({
            "DISPLAY": self.display,
            "HOME": self.home,
            "XDG_RUNTIME_DIR": os.path.join(self.box, "runtime"),
            "TMPDIR": os.path.join(self.box, "tmp"),
            "QT_QPA_PLATFORM": "xcb",
            "QTWEBENGINE_CHROMIUM_FLAGS": "--disable-gpu --no-sandbox --disable-background-networking",
            "QTWEBENGINE_DISABLE_SANDBOX": "1",
            "ORB_E2E_BOX": self.box,
        })
        return env

    def start_launcher(self):
        """Starts the copy and keeps it as the session's launcher."""
        self.launcher = self.spawn_launcher()
        log("launcher started (pid %d)" % self.launcher.pid)
        return self.launcher

    def spawn_launcher(self):
        out = open(os.path.join(self.box, "launcher-%d.out" % int(time.time() * 1000)), "wb")
        proc = subprocess.Popen([os.path.join(self.app, "OrbLive")], cwd=self.app, env=self.env(),
                                stdout=out, stderr=subprocess.STDOUT, start_new_session=True)
        out.close()
        return proc

    def launcher_pids(self):
        exe = os.path.realpath(os.path.join(self.app, "OrbLive"))
        found = []
        for pid in self.box_pids():
            try:
                if os.path.realpath("/proc/%d/exe" % pid).replace(" (deleted)", "") == exe:
                    found.append(pid)
            except OSError:
                pass
        return found

    # ---- state the player keeps ------------------------------------------

    @property
    def app_ini_path(self):
        return os.path.join(self.config_home, "OrbLauncher", "config", "OrbLauncher.ini")

    def app_state(self, key, section="valdane"):
        ini = read_ini(self.app_ini_path)
        return ini.get(section, {}).get(key)

    def local_settings(self):
        return read_ini(os.path.join(self.app, "config", "game_settings.ini"))

    def log_files(self):
        return sorted(glob.glob(os.path.join(self.config_home, "OrbLauncher", "log", "*.log")),
                      key=os.path.getmtime)

    def launcher_logs(self):
        return [p for p in self.log_files() if not os.path.basename(p).startswith("OrbUpdate-")]

    def log_text(self, index=-1):
        files = self.launcher_logs()
        if not files:
            return ""
        with open(files[index], encoding="utf-8", errors="replace") as f:
            return f.read()

    def log_count(self, text, index=-1):
        return self.log_text(index).count(text)

    def launcher_output(self):
        """What the launchers wrote to their standard output (the scene's console lines)."""
        text = ""
        for path in sorted(glob.glob(os.path.join(self.box, "launcher-*.out"))):
            with open(path, encoding="utf-8", errors="replace") as f:
                text += f.read()
        return text

    def dump_logs(self):
        for path in self.log_files()[-3:]:
            log("---- %s (tail)" % path)
            with open(path, encoding="utf-8", errors="replace") as f:
                sys.stdout.write("".join(f.readlines()[-40:]))
        for path in sorted(glob.glob(os.path.join(self.box, "launcher-*.out")))[-2:]:
            log("---- %s (tail)" % path)
            with open(path, encoding="utf-8", errors="replace") as f:
                sys.stdout.write("".join(f.readlines()[-30:]))

    # ---- windows ----------------------------------------------------------

    def windows(self, name, visible=True):
        args = ["xdotool", "search"]
        if visible:
            args.append("--onlyvisible")
        args += ["--name", name]
        out = self.x(*args, check=False)
        return [int(w) for w in out.split()]

    def all_windows(self):
        """Every mapped window with a class (Qt gives every top-level one), titled or not."""
        out = self.x("xdotool", "search", "--onlyvisible", "--class", ".", check=False)
        return [int(w) for w in out.split()]

    def window_class(self, wid):
        out = self.x("xprop", "-id", str(wid), "WM_CLASS", check=False)
        return out.split("=", 1)[-1].strip().lower()

    def launcher_window(self, visible=True):
        """The launcher's window: title "Valdane", class of the OrbLive program."""
        for wid in self.windows("^Valdane$", visible):
            if "orblive" in self.window_class(wid):
                return wid
        return None

    def game_windows(self):
        return [w for w in self.windows("^valdane$") if "orblive" not in self.window_class(w)]

    def geometry(self, wid):
        out = self.x("xdotool", "getwindowgeometry", "--shell", str(wid))
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    def wait_launcher_window(self, timeout=60):
        wid = wait_for("the launcher window", lambda: self.launcher_window(), timeout)
        self.wid = wid
        x, y, w, h = self.geometry(wid)
        if abs(w - LAYOUT_W) > 4 or abs(h - LAYOUT_H) > 4:
            raise E2EFailure("launcher window is %dx%d, expected about 1350x760" % (w, h))
        log("launcher window 0x%x at %d,%d %dx%d" % (wid, x, y, w, h))
        return wid

    def to_screen(self, lx, ly):
        x, y, w, h = self.geometry(self.wid)
        return int(round(x + lx * w / LAYOUT_W)), int(round(y + ly * h / LAYOUT_H))

    def click(self, point, what=""):
        sx, sy = self.to_screen(*point)
        log("click %s at %d,%d" % (what, sx, sy))
        # Move first and let the hover state settle: the scene's buttons react to entry.
        # (--sync would wait for a motion that never comes when the pointer is already there.)
        self.x("xdotool", "mousemove", str(sx), str(sy))
        time.sleep(0.2)
        self.x("xdotool", "click", "1")

    def focus(self):
        """Gives the launcher window the keyboard focus back (there is no window manager)."""
        self.x("xdotool", "windowfocus", "--sync", str(self.wid), check=False)

    def keys(self, *keys):
        self.x("xdotool", "key", "--clearmodifiers", *keys)

    def type_text(self, text):
        self.x("xdotool", "type", "--delay", "20", text)

    # ---- pixels -----------------------------------------------------------

    def grab(self, region):
        """Raw RGB bytes of a logical region of the launcher window."""
        lx, ly, lw, lh = region
        sx, sy = self.to_screen(lx, ly)
        sx2, sy2 = self.to_screen(lx + lw, ly + lh)
        w, h = max(1, sx2 - sx), max(1, sy2 - sy)
        env = dict(os.environ, DISPLAY=self.display)
        raw = subprocess.run(["import", "-silent", "-window", "root", "-crop", "%dx%d+%d+%d" % (w, h, sx, sy),
                              "-depth", "8", "rgb:-"], env=env, capture_output=True, timeout=30).stdout
        if len(raw) < 3:
            raise E2EFailure("screen grab failed")
        return raw

    def mean(self, region):
        raw = self.grab(region)
        n = len(raw) // 3
        return tuple(sum(raw[i::3]) // n for i in range(3))

    def difference(self, before, after):
        """Mean absolute difference per channel of two grabs of the same region."""
        n = min(len(before), len(after))
        return sum(abs(a - b) for a, b in zip(before[:n], after[:n])) / float(n or 1)

    def wait_colour(self, what, region, colour, timeout=30, tolerance=24):
        return wait_for("%s (colour %s)" % (what, colour), lambda: near(self.mean(region), colour, tolerance)
                        and self.mean(region), timeout)

    def wait_not_colour(self, what, region, colour, timeout=30, tolerance=24):
        return wait_for(what, lambda: (not near(self.mean(region), colour, tolerance)) and self.mean(region),
                        timeout)

    def screenshot(self, label):
        """Keeps a PNG of the window for a failure report (in the kept box)."""
        if not self.display or not getattr(self, "wid", None):
            return None
        self.shots += 1
        path = os.path.join(self.box, "shot-%02d-%s.png" % (self.shots, label))
        env = dict(os.environ, DISPLAY=self.display)
        subprocess.run(["import", "-silent", "-window", "root", path], env=env, capture_output=True, timeout=30)
        return path

    # ---- checks held back ------------------------------------------------------

    def later(self, condition, message):
        """A check whose failure is reported when the flow has run to its end."""
        if condition:
            log("ok: " + message)
        else:
            log("FAILED (reported at the end): " + message)
            self.failed_later.append(message)

    def check_later(self):
        if self.failed_later:
            raise E2EFailure("; ".join(self.failed_later))

    # ---- common steps -------------------------------------------------------

    def dialog_shown(self, two_buttons=True):
        if not near(self.mean(DIALOG_PANEL_PATCH), WHITE, 8):
            return False
        button = self.mean(DIALOG_CONFIRM_PATCH if two_buttons else DIALOG_SINGLE_PATCH)
        # Plain or hovered (the pointer may still rest where the last click was).
        return near(button, DIALOG_CONFIRM, 20) or near(button, DIALOG_CONFIRM_HOVER, 20)

    def wait_dialog(self, what, two_buttons=True, timeout=30):
        wait_for("the dialog " + what, lambda: self.dialog_shown(two_buttons), timeout)
        log("dialog shown: %s" % what)

    def wait_no_dialog(self, what, timeout=15):
        wait_for("the dialog %s to close" % what, lambda: not near(self.mean(DIALOG_PANEL_PATCH), WHITE, 8), timeout)

    def main_button(self):
        colour = self.mean(MAIN_BUTTON_PATCH)
        if near(colour, ACTIVE):
            return "active"
        if near(colour, BUSY):
            return "busy"
        return None

    def wait_main_button(self, state, timeout=30):
        wait_for("the main button to be %s" % state, lambda: self.main_button() == state, timeout)

    def wait_exit(self, proc, timeout=30):
        try:
            return proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise E2EFailure("process %d did not end within %d s" % (proc.pid, timeout))

    def quit_through_confirmation(self):
        """Title-bar close, then the confirm of "请再次确认是否要退出？"; the launcher ends."""
        self.click(TOPBAR_CLOSE, "title bar close")
        self.wait_dialog("close confirmation")
        self.click(DIALOG_CONFIRM_BTN, "确认")
        code = self.wait_exit(self.launcher)
        if code != 0:
            raise E2EFailure("launcher ended with %d" % code)
        log("launcher quit with 0")


def read_ini(path):
    parser = configparser.RawConfigParser(strict=False, interpolation=None)
    parser.optionxform = str
    try:
        with open(path, encoding="utf-8") as f:
            parser.read_file(f)
    except FileNotFoundError:
        return {}
    return {s: dict(parser.items(s)) for s in parser.sections()}


def set_ini_text(text, section, key, value):
    out, current, done = [], None, False
    lines = text.splitlines()
    for i, line in enumerate(lines):
        m = re.match(r"^\[(.*)\]$", line.strip())
        if m:
            if current == section and not done:
                out.append("%s=%s" % (key, value))
                done = True
            current = m.group(1)
        elif current == section and line.split("=", 1)[0].strip() == key:
            line = "%s=%s" % (key, value)
            done = True
        out.append(line)
    if not done:
        if current != section:
            out.append("[%s]" % section)
        out.append("%s=%s" % (key, value))
    return "\n".join(out) + "\n"


def truthy(value):
    return str(value).strip().lower() in ("true", "1")


def check(condition, message):
    if not condition:
        raise E2EFailure(message)
    log("ok: " + message)
