#!/usr/bin/env python3
"""Measures KestroVar Link on this machine and prints one Markdown table.

The program runs as a real process, with KESTROVAR_BENCH set so that it prints timestamped markers
on stderr and takes commands (connect, load, save, quit) on stdin. It talks over a real
pseudo-terminal to the simulated device `kestrovar-sim`, a separate process, so that the CPU time
and the memory measured are the program's own. Windows go to an Xvfb display when there is one
(then start-ups are also timed to the window being mapped, for the program and for CuteCom alike),
otherwise to Qt's offscreen platform.

    bench/run.py --build build                    # the full table, 60 s of monitoring
    bench/run.py --build build --cpu-seconds 10   # a quicker run
    bench/run.py --only-monitoring --transfers 0  # the monitoring and chart CPU rows alone
"""

import argparse
import os
import platform
import queue
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

CLK_TCK = os.sysconf("SC_CLK_TCK")


def now_ns():
    return time.monotonic_ns()  # CLOCK_MONOTONIC, as the program's markers


def ms(ns):
    return ns / 1e6


class Failure(Exception):
    pass


# ---- processes -------------------------------------------------------------------------------


class Program:
    """kestrovar-link with the instrumentation on; markers are collected by a reader thread."""

    def __init__(self, binary, sim_path, workdir, env):
        env = dict(env, KESTROVAR_BENCH="1")
        self.started = now_ns()
        self.proc = subprocess.Popen(
            [binary, "--port", "1=" + sim_path],
            cwd=workdir,
            env=env,
            stdin=subprocess.PIPE,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.PIPE,
        )
        self.markers = queue.Queue()
        self.log = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.proc.stderr:
            line = raw.decode("utf-8", "replace").rstrip("\n")
            parts = line.split(" ", 3)
            if len(parts) >= 3 and parts[0] == "kv-bench":
                marker = (int(parts[1]), parts[2], parts[3] if len(parts) > 3 else "")
                self.log.append(marker)
                self.markers.put(marker)
        self.markers.put(None)

    def wait_for(self, event, detail=None, timeout=20.0):
        """The next marker `event` (with `detail`, if given); markers before it are skipped."""
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                raise Failure("kestrovar-link: no '%s %s' within %.0f s" % (event, detail or "", timeout))
            try:
                marker = self.markers.get(timeout=left)
            except queue.Empty:
                continue
            if marker is None:
                raise Failure("kestrovar-link ended while waiting for '%s'" % event)
            if marker[1] == event and (detail is None or marker[2] == detail):
                return marker

    def send(self, command):
        self.proc.stdin.write((command + "\n").encode())
        self.proc.stdin.flush()

    def quit(self):
        try:
            self.send("quit")
            self.proc.wait(timeout=10)
        except (BrokenPipeError, subprocess.TimeoutExpired):
            stop(self.proc)


def stop(proc):
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def proc_status(pid, key):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])  # kB
    raise Failure("no %s for process %d" % (key, pid))


def task_cpu_ns(pid):
    """CPU time of all threads so far, in ns (schedstat, finer than the clock ticks of stat)."""
    total = 0
    for task in os.listdir("/proc/%d/task" % pid):
        with open("/proc/%d/task/%s/schedstat" % (pid, task)) as f:
            total += int(f.read().split()[0])
    return total


def cpu_ticks(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime + stime, all threads


class Xvfb:
    def __init__(self):
        read_end, write_end = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
            pass_fds=(write_end,),
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )
        os.close(write_end)
        with os.fdopen(read_end) as f:
            number = f.readline().strip()
        if not number:
            stop(self.proc)
            raise Failure("Xvfb did not start")
        self.display = ":" + number


def wait_mapped_start(waiter, title, env):
    """Starts the X watcher and returns it once it listens."""
    proc = subprocess.Popen([waiter, title, "30000"], env=env, stdout=subprocess.PIPE, text=True)
    if proc.stdout.readline().strip() != "ready":
        stop(proc)
        raise Failure("kv_wait_mapped did not start")
    return proc


def wait_mapped_result(proc):
    out, _ = proc.communicate(timeout=40)
    if proc.returncode != 0 or not out.strip():
        raise Failure("the window was not mapped")
    return int(out.split()[0])


# ---- the measurements ------------------------------------------------------------------------


def measure_startups(args, sim_path, workdir, env, xenv, results):
    """Start-up to the window shown (and mapped, under X), and memory once settled."""
    ours = {"shown": [], "mapped": [], "rss": [], "phases": []}
    theirs = {"mapped": [], "rss": []}
    bare = []
    peer = xenv is not None and args.peer and shutil.which("cutecom")
    for run in range(args.startup_runs + 1):  # the first of each is a warm-up
        watcher = wait_mapped_start(args.waiter, "KestroVar Link", xenv) if xenv else None
        p = Program(args.link, sim_path, workdir, env)
        shown = p.wait_for("shown")[0]
        cpu = task_cpu_ns(p.proc.pid)
        mapped = wait_mapped_result(watcher) if watcher else None
        time.sleep(args.settle)
        rss = proc_status(p.proc.pid, "VmHWM")
        p.quit()
        if run:
            ours["shown"].append(ms(shown - p.started))
            ours["rss"].append(rss / 1024)
            at = {event: t for (t, event, _) in p.log}
            marks = [p.started] + [at[e] for e in ("main", "application", "window", "shown")]
            ours["phases"].append([ms(b - a) for a, b in zip(marks, marks[1:])] + [ms(cpu)])
            if mapped:
                ours["mapped"].append(ms(mapped - p.started))
        if xenv and os.access(args.bare, os.X_OK):
            watcher = wait_mapped_start(args.waiter, "Bare Qt Window", xenv)
            started = now_ns()
            b = subprocess.Popen([args.bare], cwd=workdir, env=xenv, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
            mapped = wait_mapped_result(watcher)
            stop(b)
            if run:
                bare.append(ms(mapped - started))
        if peer:
            watcher = wait_mapped_start(args.waiter, "CuteCom", xenv)
            started = now_ns()
            c = subprocess.Popen(["cutecom"], cwd=workdir, env=xenv, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
            mapped = wait_mapped_result(watcher)
            time.sleep(args.settle)
            rss = proc_status(c.pid, "VmHWM")
            stop(c)
            if run:
                theirs["mapped"].append(ms(mapped - started))
                theirs["rss"].append(rss / 1024)
    results["startup_shown_ms"] = ours["shown"]
    results["startup_phases_ms"] = ours["phases"]
    results["startup_mapped_ms"] = ours["mapped"]
    results["idle_rss_mb"] = ours["rss"]
    results["peer_mapped_ms"] = theirs["mapped"]
    results["bare_mapped_ms"] = bare
    results["peer_rss_mb"] = theirs["rss"]


def measure_session(args, sim_path, workdir, env, results):
    """Live monitoring: CPU share, frame handling, peak memory; then loads and saves."""
    p = Program(args.link, sim_path, workdir, env)
    try:
        p.wait_for("shown")
        p.send("connect")
        p.wait_for("frame", timeout=5)
        time.sleep(2.0)  # past start-up work
        t0, c0 = now_ns(), cpu_ticks(p.proc.pid)
        first_log = len(p.log)
        time.sleep(args.cpu_seconds)
        t1, c1 = now_ns(), cpu_ticks(p.proc.pid)
        window = p.log[first_log:]
        results["cpu_percent"] = [100.0 * (c1 - c0) / CLK_TCK / ((t1 - t0) / 1e9)]
        results["frame_ms"] = [ms(int(d)) for (_, e, d) in window if e == "frame"]
        results["frames_in_window"] = len(results["frame_ms"])
        results["live_seconds"] = (t1 - t0) / 1e9
        problems = [d for (_, e, d) in window if e == "message"]
        if problems:
            raise Failure("while monitoring: " + "; ".join(problems))

        # The same with the trend chart open on the live edge and a recording running.
        p.send("chart")
        p.send("record " + os.path.join(workdir, "bench-readings.csv"))
        p.wait_for("end", "record", timeout=10)
        time.sleep(2.0)
        t0, c0 = now_ns(), cpu_ticks(p.proc.pid)
        time.sleep(args.cpu_seconds)
        t1, c1 = now_ns(), cpu_ticks(p.proc.pid)
        results["chart_cpu_percent"] = [100.0 * (c1 - c0) / CLK_TCK / ((t1 - t0) / 1e9)]
        with open(os.path.join(workdir, "bench-readings.csv"), "rb") as f:
            results["chart_rows"] = max(0, f.read().count(b"\r\n") - 1)

        loads, saves = [], []
        for _ in range(args.transfers):
            for kind in ("load", "save"):
                p.wait_for("frame", timeout=5)  # the link is live again
                time.sleep(0.3)
                p.send(kind)
                begin = p.wait_for("begin", kind)[0]
                if kind == "load":
                    image = p.wait_for("settings", timeout=5)
                    end = p.wait_for("end", kind, timeout=10)[0]
                    if image[0] > end:
                        raise Failure("load: no settings image arrived")
                    loads.append(ms(end - begin))
                else:
                    at, _, text = p.wait_for("message", timeout=10)
                    if text != "Save to KestroVar Successful":
                        raise Failure("save: " + text)
                    p.wait_for("end", kind, timeout=10)
                    saves.append(ms(at - begin))
        results["load_ms"] = loads
        results["save_ms"] = saves
        results["peak_rss_mb"] = [proc_status(p.proc.pid, "VmHWM") / 1024]
    finally:
        p.quit()


def measure_cli(args, sim_path, workdir, env, results):
    """kestrovar-cli against the same simulated device: each command from process start to exit."""
    def timed(words, expect=0):
        start = now_ns()
        r = subprocess.run([args.cli, "--port", sim_path] + words, cwd=workdir, env=env, capture_output=True)
        took = ms(now_ns() - start)
        if r.returncode != expect:
            raise Failure("kestrovar-cli %s: exit %d: %s" % (" ".join(words), r.returncode,
                                                            r.stderr.decode(errors="replace").strip()))
        return took, r.stdout

    results["cli_version_ms"] = [timed_version(args) for _ in range(11)]
    reads = []
    for _ in range(7):
        took, original = timed(["read"])
        reads.append(took)
    results["cli_read_ms"] = reads
    lines = original.split(b"\r\n")
    cells = lines[2].split(b",")
    cells[0] = b"%d" % ((int(cells[0]) + 1) % 256)
    changed = b"\r\n".join(lines[:2] + [b",".join(cells)] + lines[3:])
    files = [os.path.join(workdir, name) for name in ("a.cal", "b.cal")]
    for path, content in zip(files, (changed, original)):
        with open(path, "wb") as f:
            f.write(content)
    writes, unchanged = [], []
    for i in range(6):  # each write changes the device: a, b, a, ...
        writes.append(timed(["write", files[i % 2]])[0])
        unchanged.append(timed(["write", files[i % 2]])[0])
    results["cli_write_ms"] = writes
    results["cli_write_same_ms"] = unchanged

    seconds = max(10.0, args.cpu_seconds / 2)
    proc = subprocess.Popen([args.cli, "--port", sim_path, "monitor", "--csv"], cwd=workdir, env=env,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        if not proc.stdout.readline().startswith(b"time,"):
            raise Failure("kestrovar-cli monitor: no CSV header")
        proc.stdout.readline()  # the first frame
        rows = []
        threading.Thread(target=lambda: rows.extend(iter(proc.stdout.readline, b"")), daemon=True).start()
        t0, c0 = now_ns(), task_cpu_ns(proc.pid)
        time.sleep(seconds)
        t1, c1 = now_ns(), task_cpu_ns(proc.pid)
        results["cli_monitor_cpu"] = [100.0 * (c1 - c0) / (t1 - t0)]
        results["cli_monitor_rss_mb"] = [proc_status(proc.pid, "VmHWM") / 1024]
        results["cli_monitor_frames"] = len(rows)
        results["cli_monitor_seconds"] = (t1 - t0) / 1e9
    finally:
        proc.send_signal(signal.SIGTERM)
        proc.wait(timeout=5)
    if proc.returncode != 0:
        raise Failure("kestrovar-cli monitor ended with %d on SIGTERM" % proc.returncode)


def timed_version(args):
    start = now_ns()
    subprocess.run([args.cli, "--version"], check=True, capture_output=True)
    return ms(now_ns() - start)


def run_frame_bench(args, iterations, gap_ms):
    out = subprocess.run([args.frame_bench, str(iterations), str(gap_ms)], check=True, capture_output=True,
                         text=True, env=dict(os.environ, QT_QPA_PLATFORM="offscreen")).stdout
    values = dict(line.split() for line in out.splitlines())
    return int(values["handled_median_ns"]) / 1e6, int(values["painted_median_ns"]) / 1e6


def measure_frame_bench(args, results):
    """Every box changing every frame: back to back (caches warm), and paced at 700 ms (cold)."""
    hot = [run_frame_bench(args, 5000, 0) for _ in range(args.micro_runs)]
    results["micro_handled_ms"] = [h for h, _ in hot]
    results["micro_painted_ms"] = [p for _, p in hot]
    if args.paced_frames:
        handled, painted = run_frame_bench(args, args.paced_frames, 700)
        results["paced_handled_ms"] = [handled]
        results["paced_painted_ms"] = [painted]


def measure_tests(args, results):
    def timed(extra):
        start = time.monotonic()
        r = subprocess.run(["ctest", "--test-dir", args.build, "-j2"] + extra, capture_output=True, text=True)
        took = time.monotonic() - start
        if r.returncode != 0:
            sys.stderr.write(r.stdout[-3000:])
            raise Failure("the test suite failed")
        return took

    results["suite_s"] = [timed([])]
    results["window_s"] = [timed(["-L", "window"])]


# ---- the table -------------------------------------------------------------------------------


def median(values):
    return statistics.median(values) if values else None


def verdict(ok):
    return "met" if ok else "**missed**"


def table(results, args):
    rows = []

    def add(measure, value, target, ok):
        rows.append((measure, value, target, "" if ok is None else verdict(ok)))

    n = args.startup_runs
    v = median(results.get("startup_shown_ms", []))
    if v is not None:
        add("start-up: process start to window shown, port menu refreshed (median of %d)" % n,
            "%.0f ms" % v, "< 150 ms", v < 150)
        phases = results["startup_phases_ms"]
        names = ("loading the libraries (to main)", "QApplication (platform, display)",
                 "building the window (port menu refreshed)", "first paint", "CPU time used up to shown")
        for i, name in enumerate(names):
            add("– " + name, "%.0f ms" % median([ph[i] for ph in phases]), "", None)
    v = median(results.get("frame_ms", []))
    if v is not None:
        add("frame to screen, live: last byte read to seven boxes set (median of %d frames)"
            % len(results["frame_ms"]), "%.3f ms" % v, "< 0.2 ms", v < 0.2)
        add("– the same, 99th percentile", "%.3f ms" % percentile(results["frame_ms"], 99), "", None)
    v = median(results.get("micro_handled_ms", []))
    if v is not None:
        add("kv_bench_frame, all seven texts changing, back to back: handler (median of 5000, %d runs)"
            % args.micro_runs, "%.3f ms" % v, "< 0.2 ms", v < 0.2)
        w = median(results["micro_painted_ms"])
        add("– the same with the repaint (offscreen)", "%.3f ms" % w, "", None)
    v = median(results.get("paced_handled_ms", []))
    if v is not None:
        add("kv_bench_frame, all seven texts changing, one frame every 700 ms: handler (median of %d)"
            % args.paced_frames, "%.3f ms" % v, "< 0.2 ms", v < 0.2)
        w = median(results["paced_painted_ms"])
        add("– the same with the repaint (offscreen)", "%.3f ms" % w, "", None)
    v = median(results.get("cpu_percent", []))
    if v is not None:
        add("CPU while monitoring (%.0f s, %d frames), share of one core"
            % (results["live_seconds"], results["frames_in_window"]), "%.2f %%" % v, "< 0.5 %", v < 0.5)
    v = median(results.get("chart_cpu_percent", []))
    if v is not None:
        add("CPU while monitoring with the trend chart on the live edge and a recording running "
            "(%.0f s, %d rows recorded), share of one core" % (args.cpu_seconds, results["chart_rows"]),
            "%.2f %%" % v, "< 1 %", v < 1)
    v = median(results.get("peak_rss_mb", []))
    if v is not None:
        add("peak memory (VmHWM) while monitoring, loads and saves", "%.1f MB" % v, "< 45 MB", v < 45)
    v = median(results.get("load_ms", []))
    if v is not None:
        add("Load from the device, end to end (median of %d)" % len(results["load_ms"]),
            "%.3f s" % (v / 1000), "2.0 s ± 60 ms", abs(v - 2000) <= 60)
    v = median(results.get("save_ms", []))
    if v is not None:
        add("Save to the device, click to result shown (median of %d)" % len(results["save_ms"]),
            "%.3f s" % (v / 1000), "3.7 s ± 60 ms", abs(v - 3700) <= 60)
    v = median(results.get("cli_read_ms", []))
    if v is not None:
        add("kestrovar-cli read, process start to exit (median of %d)" % len(results["cli_read_ms"]),
            "%.0f ms" % v, "< 150 ms", v < 150)
        w = median(results["cli_write_ms"])
        add("kestrovar-cli write with its verify (median of %d)" % len(results["cli_write_ms"]),
            "%.3f s" % (w / 1000), "< 1.9 s", w < 1900)
        w = median(results["cli_write_same_ms"])
        add("kestrovar-cli write, nothing to change (median of %d)" % len(results["cli_write_same_ms"]),
            "%.0f ms" % w, "< 150 ms", w < 150)
        w = median(results["cli_version_ms"])
        add("kestrovar-cli --version (median of %d)" % len(results["cli_version_ms"]), "%.1f ms" % w,
            "< 20 ms", w < 20)
        w = median(results["cli_monitor_rss_mb"])
        add("kestrovar-cli monitor --csv: peak memory (VmHWM)", "%.1f MB" % w, "< 15 MB", w < 15)
        w = median(results["cli_monitor_cpu"])
        add("kestrovar-cli monitor --csv: CPU (%.0f s, %d frames), share of one core"
            % (results["cli_monitor_seconds"], results["cli_monitor_frames"]), "%.3f %%" % w, "< 0.2 %", w < 0.2)
    v = median(results.get("suite_s", []))
    if v is not None:
        add("test suite, wall time (ctest -j2)", "%.1f s" % v, "< 120 s", v < 120)
        w = median(results["window_s"])
        add("– of which the virtual-time window tests (-L window)", "%.1f s" % w, "< 20 s", w < 20)
    ours_mapped = median(results.get("startup_mapped_ms", []))
    theirs_mapped = median(results.get("peer_mapped_ms", []))
    if ours_mapped is not None:
        add("start-up to window mapped on Xvfb (median of %d)" % n, "%.0f ms" % ours_mapped, "", None)
    bare_mapped = median(results.get("bare_mapped_ms", []))
    if ours_mapped is not None and bare_mapped is not None:
        add("– a bare Qt window with a menu bar, the same", "%.0f ms" % bare_mapped, "", None)
        ratio = ours_mapped / bare_mapped
        add("– ratio KestroVar Link / bare window", "%.2f" % ratio, "< 1.25", ratio < 1.25)
    if theirs_mapped is not None:
        add("– CuteCom, the same", "%.0f ms" % theirs_mapped, "", None)
        add("– ratio KestroVar Link / CuteCom", "%.2f" % (ours_mapped / theirs_mapped), "", None)
    ours_rss = median(results.get("idle_rss_mb", []))
    theirs_rss = median(results.get("peer_rss_mb", []))
    if ours_rss is not None:
        add("memory (VmHWM) %.1f s after start, idle" % args.settle, "%.1f MB" % ours_rss, "", None)
    if theirs_rss is not None:
        add("– CuteCom, the same", "%.1f MB" % theirs_rss, "", None)
        add("– ratio KestroVar Link / CuteCom", "%.2f" % (ours_rss / theirs_rss), "", None)

    lines = ["| Measure | Value | Target | Verdict |", "|---|---|---|---|"]
    lines += ["| %s | %s | %s | %s |" % row for row in rows]
    return "\n".join(lines)


def percentile(values, p):
    s = sorted(values)
    return s[min(len(s) - 1, len(s) * p // 100)]


def machine():
    model = "unknown CPU"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return "%d cores, %s, %s %s" % (os.cpu_count() or 0, model, platform.system(), platform.release())


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(here, "..", "build"), help="the build directory")
    parser.add_argument("--cpu-seconds", type=float, default=60, help="length of the CPU window (default 60)")
    parser.add_argument("--startup-runs", type=int, default=7)
    parser.add_argument("--transfers", type=int, default=5, help="loads and saves each (default 5)")
    parser.add_argument("--micro-runs", type=int, default=5, help="back-to-back runs of kv_bench_frame")
    parser.add_argument("--paced-frames", type=int, default=40, help="frames of the paced kv_bench_frame run")
    parser.add_argument("--settle", type=float, default=2.0, help="seconds before memory is read at start-up")
    parser.add_argument("--offscreen", action="store_true", help="no Xvfb, Qt's offscreen platform only")
    parser.add_argument("--no-peer", dest="peer", action="store_false", help="leave out CuteCom")
    parser.add_argument("--no-tests", dest="tests", action="store_false", help="leave out the test suite")
    parser.add_argument("--only-cli", action="store_true", help="measure kestrovar-cli alone")
    parser.add_argument("--only-startup", action="store_true",
                        help="the start-up rows alone, with the bare window measured in the same run")
    parser.add_argument("--only-monitoring", action="store_true",
                        help="measure the monitoring rows alone (with the chart and a recording)")
    args = parser.parse_args()

    args.build = os.path.abspath(args.build)
    args.link = os.path.join(args.build, "kestrovar-link")
    args.sim = os.path.join(args.build, "kestrovar-sim")
    args.cli = os.path.join(args.build, "kestrovar-cli")
    args.frame_bench = os.path.join(args.build, "bench", "kv_bench_frame")
    args.waiter = os.path.join(args.build, "bench", "kv_wait_mapped")
    args.bare = os.path.join(args.build, "bench", "kv_bench_bare_window")
    for path in (args.link, args.sim, args.cli, args.frame_bench):
        if not os.access(path, os.X_OK):
            sys.exit("run.py: %s is missing; build first" % path)

    load_before = os.getloadavg()[0]
    results = {}
    workdir = tempfile.mkdtemp(prefix="kv-bench-")
    base_env = dict(os.environ, HOME=workdir, XDG_CONFIG_HOME=os.path.join(workdir, ".config"),
                    XDG_RUNTIME_DIR=workdir)
    base_env.pop("KESTROVAR_PORTS", None)
    # The remembered port is Com 1, so the start-up refresh finds and checks it.
    with open(os.path.join(workdir, "comsetting.ini"), "wb") as f:
        f.write(bytes([2, 0, 1, 0]))

    xvfb = sim = None
    try:
        if not args.offscreen and shutil.which("Xvfb") and os.access(args.waiter, os.X_OK):
            xvfb = Xvfb()
            env = dict(base_env, QT_QPA_PLATFORM="xcb", DISPLAY=xvfb.display)
            env.pop("WAYLAND_DISPLAY", None)
            xenv = env
        else:
            env = dict(base_env, QT_QPA_PLATFORM="offscreen")
            xenv = None
        sim = subprocess.Popen([args.sim], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True)
        sim_path = sim.stdout.readline().strip()
        if not sim_path.startswith("/"):
            raise Failure("kestrovar-sim did not start")

        steps = [("start-up", lambda: measure_startups(args, sim_path, workdir, env, xenv, results)),
                 ("monitoring, loads and saves", lambda: measure_session(args, sim_path, workdir, env, results)),
                 ("kestrovar-cli", lambda: measure_cli(args, sim_path, workdir, env, results)),
                 ("kv_bench_frame", lambda: measure_frame_bench(args, results))]
        if args.only_cli:
            steps = [s for s in steps if s[0] == "kestrovar-cli"]
        elif args.only_monitoring:
            steps = [s for s in steps if s[0] == "monitoring, loads and saves"]
        elif args.only_startup:
            steps = [s for s in steps if s[0] == "start-up"]
        elif args.tests:
            steps.append(("test suite", lambda: measure_tests(args, results)))
        for name, step in steps:
            sys.stderr.write("bench: %s...\n" % name)
            step()
    except Failure as e:
        sys.exit("bench: " + str(e))
    finally:
        if sim:
            stop(sim)
        if xvfb:
            stop(xvfb.proc)
        shutil.rmtree(workdir, ignore_errors=True)

    print(table(results, args))
    print()
    print("Machine: %s. Load average %.2f before, %.2f after. Windows on %s."
          % (machine(), load_before, os.getloadavg()[0], "Xvfb" if xvfb else "Qt's offscreen platform"))


if __name__ == "__main__":
    signal.signal(signal.SIGINT, signal.default_int_handler)
    main()
