#!/usr/bin/env python3
"""The installed Windows kestrovar-cli.exe under wine against the Linux kestrovar-sim.

wine's COM1 is the simulator's pseudo-terminal, so the Windows serial control talks to it as to a
real port. The program runs from the folder the installer made, with no other DLL folder, and its
output is compared byte for byte with the Linux kestrovar-cli's on the same device.

  check_cli_on_wine.py WINE_RUN SETUP.exe LINUX_CLI LINUX_SIM WORK PREFIX
"""
import os
import re
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_com import Simulator, map_com1, wait_for  # noqa: E402

wine_run, setup, linux_cli, sim, work, prefix = sys.argv[1:7]
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAILED: " + what, file=sys.stderr)
    return ok


os.makedirs(work, exist_ok=True)
for name in os.listdir(work):
    if os.path.isfile(os.path.join(work, name)) or os.path.islink(os.path.join(work, name)):
        os.remove(os.path.join(work, name))
env = dict(os.environ, KV_WINEPREFIX=prefix, WINEPREFIX=prefix, KESTROVAR_HISTORY=os.path.join(work, "history"))


def wine(*words, extra_env=None, timeout=60, **kw):
    return subprocess.run([wine_run, *words], env=dict(env, **(extra_env or {})), cwd=work,
                          capture_output=True, timeout=timeout, **kw)


device = Simulator(sim, work)
try:
    if not check(device.pty.startswith("/dev/"), "kestrovar-sim named no pseudo-terminal"):
        sys.exit(1)
    problem = map_com1(wine_run, env, device.pty)
    if not check(not problem, problem):
        sys.exit(1)

    # Installed silently, and run from there alone: a DLL the installer left out fails the start.
    folder = os.path.join(prefix, "drive_c", "KestroVar-COM")
    r = wine(setup, "/S", r"/D=C:\KestroVar-COM", timeout=120)
    subprocess.run(["wineserver", "-w"], env=env)
    if not check(r.returncode == 0 and os.path.exists(os.path.join(folder, "kestrovar-cli.exe")),
                 "setup /S did not install into %s: %s" % (folder, r.stderr)):
        sys.exit(1)
    cli = os.path.join(folder, "kestrovar-cli.exe")

    def windows(*words, **kw):
        return wine(cli, "--port", "COM1", *words, extra_env={"KV_WINEPATH": ""}, **kw)

    def linux(*words):
        return subprocess.run([linux_cli, "--port", "1=" + device.pty, *words], env=env, cwd=work, capture_output=True,
                              timeout=60)

    # read: the same .cal, CR LF and all, on stdout (a pipe) and into a file.
    on_windows, on_linux = windows("read"), linux("read")
    check(on_windows.returncode == 0 and on_linux.returncode == 0,
          "read: exit %d on Windows, %d on Linux: %s" % (on_windows.returncode, on_linux.returncode,
                                                         on_windows.stderr))
    check(on_windows.stdout == on_linux.stdout and on_linux.stdout.startswith(b"10,20,70,120,170\r\n"),
          "read printed %r on Windows, %r on Linux" % (on_windows.stdout[:60], on_linux.stdout[:60]))
    check(b"\r\r\n" not in on_windows.stdout, "read's stdout has CR CR LF")
    r = windows("read", "-o", "unit.cal")
    with open(os.path.join(work, "unit.cal"), "rb") as f:
        check(r.returncode == 0 and f.read() == on_linux.stdout, "read -o unit.cal differs from Linux's read")

    # write with verify a changed first cell, which the Linux program then finds on the device.
    lines = on_linux.stdout.split(b"\r\n")
    cells = lines[2].split(b",")
    cells[0] = b"30" if cells[0] != b"30" else b"31"
    lines[2] = b",".join(cells)
    with open(os.path.join(work, "changed.cal"), "wb") as f:
        f.write(b"\r\n".join(lines))
    r = windows("write", "changed.cal")
    check(r.returncode == 0 and b"and verified" in r.stderr, "write changed.cal: exit %d, %r" % (r.returncode, r.stderr))
    check(linux("verify", "changed.cal").returncode == 0, "the device does not hold what the Windows write sent")
    check(windows("verify", "changed.cal").returncode == 0, "verify changed.cal on Windows failed")
    r = windows("verify", "unit.cal")
    check(r.returncode == 1 and r.stdout.startswith(b"Table row 1, column 1: file "),
          "verify unit.cal after the change: exit %d, %r" % (r.returncode, r.stdout))
    check(windows("write", "unit.cal").returncode == 0, "writing unit.cal back failed")

    # monitor: CSV as on Linux, the header exactly and CR LF rows.
    r, header = windows("monitor", "--count", "3", "--csv"), linux("monitor", "--count", "1", "--csv")
    rows = r.stdout.split(b"\r\n")
    check(r.returncode == 0 and len(rows) == 5 and rows[4] == b"" and rows[0] == header.stdout.split(b"\r\n")[0],
          "monitor --count 3 --csv: exit %d, %r" % (r.returncode, r.stdout))
    check(all(re.match(rb"^\d{4}-\d\d-\d\dT[^,]+(,[-0-9.]+){6},[01]$", row) for row in rows[1:4]),
          "monitor rows: %r" % rows[1:4])

    # Ctrl+C ends monitor cleanly, as on Linux: the rows so far, whole, and status 0.
    csv = os.path.join(work, "stopped.csv")
    monitor = subprocess.Popen([wine_run, cli, "--port", "COM1", "monitor", "--csv", "stopped.csv"],
                               env=dict(env, KV_WINEPATH=""), cwd=work, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE)
    check(wait_for(lambda: os.path.exists(csv) and open(csv, "rb").read().count(b"\r\n") >= 3, 20),
          "monitor --csv recorded no two frames")
    # Meanwhile the port is held: a second program is told so by Windows' own answer, status 75.
    r = windows("read")
    check(r.returncode == 75 and b"in use" in r.stderr, "read of a held COM1: exit %d, %r" % (r.returncode, r.stderr))
    monitor.send_signal(signal.SIGINT)
    try:
        out, err = monitor.communicate(timeout=20)
        check(monitor.returncode == 0, "monitor after Ctrl+C: exit %d, %r" % (monitor.returncode, err))
    except subprocess.TimeoutExpired:
        monitor.kill()
        check(False, "monitor did not end on Ctrl+C")
    with open(csv, "rb") as f:
        recorded = f.read()
    check(recorded.endswith(b"\r\n"), "the CSV stopped by Ctrl+C ends in a partial row: %r" % recorded[-40:])

    # The records both programs kept on the device went into one history; its chain holds on Linux.
    r = linux("history", "--check")
    check(r.returncode == 0 and b"every record in" in r.stderr,
          "history --check of records kept by both programs: exit %d, %r" % (r.returncode, r.stderr))

    # A pulled adapter: the pseudo-terminal closes under a running monitor, which ends with 69 and says so.
    monitor = subprocess.Popen([wine_run, cli, "--port", "COM1", "monitor", "--csv"], env=dict(env, KV_WINEPATH=""),
                               cwd=work, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    time.sleep(3)
    device.tell("vanish")
    try:
        out, err = monitor.communicate(timeout=20)
        check(monitor.returncode == 69 and b"went away after" in err,
              "monitor of a pulled port: exit %d, %r" % (monitor.returncode, err))
    except subprocess.TimeoutExpired:
        monitor.kill()
        check(False, "monitor did not notice the pulled port")
finally:
    device.stop()

if failures:
    sys.exit("%d failed: %s" % (len(failures), "; ".join(failures)))
print("the installed kestrovar-cli.exe read, wrote, verified and monitored COM1 as on Linux")
