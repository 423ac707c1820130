#!/usr/bin/env python3
"""The window on a COM port under wine against the Linux kestrovar-sim.

First the window's tests (window_on_com_test.cpp); then the installed kestrovar-link.exe, clicked
as a technician would on the display xvfb-run gives (Com 1, connect, load, save), its records read
back by the Linux kestrovar-cli from the history both share.

  check_window_on_wine.py WINE_RUN kv_com_tests.exe LINUX_SIM WORK PREFIX SETUP.exe LINUX_CLI
"""
import json
import os
import re
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_com import Simulator, map_com1, wait_for  # noqa: E402

wine_run, tests, sim, work, prefix, setup, linux_cli = sys.argv[1:8]
os.makedirs(work, exist_ok=True)
vanish = os.path.join(work, "vanish-now")
if os.path.exists(vanish):
    os.remove(vanish)
env = dict(os.environ, KV_WINEPREFIX=prefix, WINEPREFIX=prefix, QT_QPA_PLATFORM="offscreen",
           KESTROVAR_HISTORY=os.path.join(work, "history"), KV_TEST_COM_PORT="COM1",
           KV_TEST_VANISH="Z:" + vanish.replace("/", "\\"))
device = Simulator(sim, work)
try:
    if not device.pty.startswith("/dev/"):
        sys.exit("kestrovar-sim named no pseudo-terminal")
    problem = map_com1(wine_run, env, device.pty)
    if problem:
        sys.exit(problem)
    done = threading.Event()

    def pull_when_asked():
        if wait_for(lambda: done.is_set() or os.path.exists(vanish), 120) and not done.is_set():
            device.tell("vanish")

    threading.Thread(target=pull_when_asked, daemon=True).start()
    # QtTest prints nothing when its output is redirected under wine; GoogleTest's own report is kept.
    r = subprocess.run([wine_run, tests], env=env, cwd=work, capture_output=True, timeout=180)
    done.set()
    sys.stdout.buffer.write(r.stdout)
    sys.stderr.buffer.write(r.stderr)
    if r.returncode != 0:
        sys.exit(r.returncode)
finally:
    device.stop()

# The installed window, on a new device: the tests above pulled theirs.
for name in ("comsetting.ini",):
    if os.path.exists(os.path.join(work, name)):
        os.remove(os.path.join(work, name))
history = os.path.join(work, "installed-history")
env = dict(env, KESTROVAR_HISTORY=history, KV_WINEPATH="")
env.pop("QT_QPA_PLATFORM")
device = Simulator(sim, work)
window = None
try:
    problem = map_com1(wine_run, env, device.pty)
    if problem:
        sys.exit(problem)
    r = subprocess.run([wine_run, setup, "/S", r"/D=C:\KestroVar-Window"], env=env, capture_output=True, timeout=120)
    subprocess.run(["wineserver", "-w"], env=env)
    program = os.path.join(prefix, "drive_c", "KestroVar-Window", "kestrovar-link.exe")
    if r.returncode != 0 or not os.path.exists(program):
        sys.exit("setup /S did not install kestrovar-link.exe: %r" % r.stderr)
    window = subprocess.Popen([wine_run, program], env=env, cwd=work, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)

    def xdotool(*words):
        return subprocess.run(["xdotool", *words], capture_output=True, text=True).stdout

    found = []
    if not wait_for(lambda: found.extend(xdotool("search", "--name", "^KestroVar Link$").split()) or found, 60):
        sys.exit("the installed kestrovar-link.exe showed no window")
    geometry = xdotool("getwindowgeometry", "--shell", found[0])
    left, top = (int(re.search(r"^%s=(\d+)" % k, geometry, re.M).group(1)) for k in ("X", "Y"))

    def click(x, y, then):
        xdotool("mousemove", str(left + x), str(top + y), "click", "1")
        time.sleep(then)

    def records():
        listed = subprocess.run([linux_cli, "history", "--json"], env=env, capture_output=True, text=True)
        return [(r["operation"], r["result"]) for r in json.loads(listed.stdout or "[]")] if listed.returncode == 0 else []

    click(64, 10, 1)      # Com Port
    click(84, 32, 1)      # Com 1
    click(168, 411, 3)    # Connect to KestroVar: readings every 700 ms
    click(552, 483, 0)    # Load Settings from KestroVar
    if not wait_for(lambda: ("load", "received") in records(), 20):
        sys.exit("the installed window kept no load record: %s" % records())
    time.sleep(1)
    click(736, 483, 0)    # Save Settings to KestroVar, with its read-back
    if not wait_for(lambda: ("save-read-back", "verified") in records(), 30):
        sys.exit("the installed window's save was not verified: %s" % records())
    print("the installed window loaded and saved with verify on COM1: %s" % records())
finally:
    if window and window.poll() is None:
        window.kill()
    device.stop()
