#!/usr/bin/env python3
"""Start-up time to the first frame: the launcher against a bare Qt Quick window
with one WebEngineView on the same page, under one Xvfb, alternating order over
several rounds (the first round warms caches and is not counted).

A third side, the "floor", is the same bare window with what the launcher
cannot start without (a QApplication and the libobs util library): the part of
the launcher's time above it is the launcher's own.

Each side's time is from just before the process is spawned to the wall-clock
time of its first frame swap, which the launcher logs ("first frame shown at
... ms since the epoch") and the bare window prints.
"""

import argparse
import os
import re
import statistics
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import orbe2e  # noqa: E402

FIRST_FRAME = re.compile(r"first frame shown at (\d+) ms since the epoch")


def launcher_once(s):
    before = set(s.launcher_logs())
    spawned = time.time() * 1000.0
    proc = s.start_launcher()
    try:
        def frame():
            for path in set(s.launcher_logs()) - before:
                with open(path, encoding="utf-8", errors="replace") as f:
                    m = FIRST_FRAME.search(f.read())
                if m:
                    return int(m.group(1))
            return None
        at = orbe2e.wait_for("the launcher's first frame", frame, 60, 0.05)
    finally:
        proc.terminate()
        try:
            proc.wait(20)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
        s.kill_box_processes()
    return at - spawned


def bare_once(s, program, url):
    spawned = time.time() * 1000.0
    proc = subprocess.Popen([program, url], env=s.env(), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                            text=True, start_new_session=True)
    try:
        out, _ = proc.communicate(timeout=60)
    except subprocess.TimeoutExpired:
        proc.kill()
        raise
    finally:
        s.kill_box_processes()
    m = FIRST_FRAME.search(out)
    if not m:
        raise orbe2e.E2EFailure("the bare window printed no first frame")
    return int(m.group(1)) - spawned


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=7)
    bin_dir = os.path.join(os.environ.get("ORB_BUILD_DIR", os.path.join(ROOT, "build")), "bench", "bin")
    parser.add_argument("--bare", default=os.path.join(bin_dir, "bench_bare_window"))
    parser.add_argument("--floor", default=os.path.join(bin_dir, "bench_bare_window_floor"))
    args = parser.parse_args()
    sides = ["launcher", "bare", "floor"]
    labels = {"launcher": "OrbLive", "bare": "bare window + WebEngine", "floor": "bare + QApplication + libobs"}
    results = {side: [] for side in sides}
    with orbe2e.Session("bench") as s:
        s.start_publisher()
        s.install_launcher()
        url = s.base + "/index.html"
        for round_no in range(args.rounds + 1):
            # Every side goes first, second and last equally often.
            shift = round_no % len(sides)
            for side in sides[shift:] + sides[:shift]:
                if side == "launcher":
                    ms = launcher_once(s)
                else:
                    ms = bare_once(s, args.bare if side == "bare" else args.floor, url)
                if round_no > 0:
                    results[side].append(ms)
                orbe2e.log("round %d %-8s %6.0f ms%s" % (round_no, side, ms, " (warm-up)" if round_no == 0 else ""))
    print()
    print("first frame after process start, %d rounds, order rotating" % args.rounds)
    for side in sides:
        v = results[side]
        print("  %-30s median %6.0f ms  min %6.0f  max %6.0f" % (labels[side], statistics.median(v), min(v), max(v)))
    launcher = statistics.median(results["launcher"])
    print("  OrbLive / bare window          %.2fx (goal at most 1.3x)" % (launcher / statistics.median(results["bare"])))
    print("  OrbLive / floor                %.2fx" % (launcher / statistics.median(results["floor"])))
    print("  floor / bare window            %.2fx" % (statistics.median(results["floor"]) / statistics.median(results["bare"])))
    return 0


if __name__ == "__main__":
    sys.exit(main())
