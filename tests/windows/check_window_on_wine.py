#!/usr/bin/env python3
"""The window's tests on a COM port (window_on_com_test.cpp) under wine against the Linux kestrovar-sim.

  check_window_on_wine.py WINE_RUN kv_com_tests.exe LINUX_SIM WORK PREFIX
"""
import os
import subprocess
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_com import Simulator, map_com1, wait_for  # noqa: E402

wine_run, tests, sim, work, prefix = sys.argv[1:6]
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
    sys.exit(r.returncode)
finally:
    device.stop()
