#!/usr/bin/env python3
"""kestrovar-cli on many simulated units at once; prints one Markdown table.

Starts kestrovar-sim processes, each a simulated unit on its own pseudo-terminal, then
  - times `kestrovar-cli --port P1 ... --port PN write unit.cal --force` (a write and its verify on
    every port) for 1, 4 and 16 units in the same run; the goal is 16 in < 1.25 x the time of 1;
  - runs one `kestrovar-cli --port P monitor --reconnect --csv FILE` per unit and reads their CPU
    time and resident memory from /proc over a window (60 s unless --monitor-seconds says otherwise).

    bench/multi.py --build build
    bench/multi.py --build build --monitor-seconds 10 --repeats 3
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

CLK_TCK = os.sysconf("SC_CLK_TCK")
PAGE = os.sysconf("SC_PAGE_SIZE")


def start_sims(sim, n):
    sims = []
    for _ in range(n):
        proc = subprocess.Popen([sim], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, text=True)
        path = proc.stdout.readline().strip()
        if not path.startswith("/"):
            raise SystemExit(f"kestrovar-sim printed {path!r}, not a port path")
        sims.append((proc, path))
    return sims


def cpu_ticks(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime + stime


def rss_bytes(pid):
    with open(f"/proc/{pid}/statm") as f:
        return int(f.read().split()[1]) * PAGE


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default="build")
    parser.add_argument("--repeats", type=int, default=5, help="timed writes per row (median)")
    parser.add_argument("--monitor-seconds", type=float, default=60)
    parser.add_argument("--units", default="1,4,16")
    args = parser.parse_args()
    cli = os.path.abspath(os.path.join(args.build, "kestrovar-cli"))
    sim = os.path.abspath(os.path.join(args.build, "kestrovar-sim"))
    counts = [int(n) for n in args.units.split(",")]
    work = tempfile.mkdtemp(prefix="kv-multi-bench-")
    env = dict(os.environ, KESTROVAR_HISTORY=os.path.join(work, "history"))
    sims = start_sims(sim, max(counts + [16]))
    paths = [path for _, path in sims]
    rows = []
    try:
        subprocess.run([cli, "--port", paths[0], "read", "-o", "unit.cal"], cwd=work, env=env, check=True,
                       stderr=subprocess.DEVNULL)
        medians = {}
        for n in counts:
            times = []
            for _ in range(args.repeats):
                command = [cli]
                for path in paths[:n]:
                    command += ["--port", path]
                began = time.monotonic()
                done = subprocess.run(command + ["write", "unit.cal", "--force"], cwd=work, env=env,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
                times.append(time.monotonic() - began)
                if done.returncode != 0:
                    raise SystemExit(f"write on {n} ports: exit {done.returncode}\n{done.stderr}")
            medians[n] = statistics.median(times)
        one = medians[counts[0]]
        for n in counts:
            goal = "" if n == counts[0] else f"< {1.25 * one:.2f} s"
            met = "" if n == counts[0] else ("met" if medians[n] < 1.25 * one else "**missed**")
            rows.append((f"write and verify on {n} unit(s) in one command (median of {args.repeats})",
                         f"{medians[n]:.2f} s ({medians[n] / one:.2f} x one)", goal, met))

        monitors = []
        for i, path in enumerate(paths[:16]):
            monitors.append(subprocess.Popen(
                [cli, "--port", path, "monitor", "--reconnect", "--csv", os.path.join(work, f"night{i}.csv")],
                cwd=work, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        time.sleep(2)  # past the start-up
        before = [cpu_ticks(m.pid) for m in monitors]
        began = time.monotonic()
        time.sleep(args.monitor_seconds)
        elapsed = time.monotonic() - began
        after = [cpu_ticks(m.pid) for m in monitors]
        rss = [rss_bytes(m.pid) for m in monitors]
        for m in monitors:
            if m.poll() is not None:
                raise SystemExit(f"a monitor ended early with status {m.returncode}")
            m.terminate()
        for m in monitors:
            m.wait(10)
        cpu = [(a - b) / CLK_TCK / elapsed * 100 for a, b in zip(after, before)]
        rows.append((f"16 x monitor --reconnect, one a unit, over {elapsed:.0f} s: CPU of one core, all together",
                     f"{sum(cpu):.2f} % (each {statistics.median(cpu):.3f} %)", "", ""))
        rows.append(("16 x monitor --reconnect: resident memory, all together",
                     f"{sum(rss) / 2**20:.0f} MiB (each {statistics.median(rss) / 2**20:.1f} MiB)", "", ""))
    finally:
        for proc, _ in sims:
            proc.terminate()
        for proc, _ in sims:
            proc.wait(10)
        shutil.rmtree(work, ignore_errors=True)
    print("| What | Measured | Goal | |")
    print("|---|---|---|---|")
    for row in rows:
        print("| " + " | ".join(row) + " |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
