#!/usr/bin/env python3
"""Publishing to MQTT measured; prints one Markdown table.

Starts Debian's mosquitto on a free loopback port, then runs `kestrovar-cli --simulate monitor` (the
simulated device on a pseudo-terminal, in the same process) the same number of frames without and
with --mqtt, and reads each run's CPU time from wait4():
  - publishing's cost: the extra CPU a frame, as a share of one core at the 700 ms poll;
  - the delay from a frame's time (when its last byte was read) to a subscriber on the broker,
    which mosquitto_sub stamps on arrival (loopback: the broker's own hop is included);
  - the queue's memory for an hour of readings, from kv_bench_mqtt_queue (the broker away).

    bench/mqtt.py --build build
    bench/mqtt.py --build build --frames 300
"""

import argparse
import json
import os
import shutil
import socket
import statistics
import subprocess
import tempfile
import time
from datetime import datetime


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def run_cpu(cmd, env):
    proc = subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    if os.waitstatus_to_exitcode(status) != 0:
        raise SystemExit(f"{' '.join(cmd)} failed: {os.waitstatus_to_exitcode(status)}")
    return usage.ru_utime + usage.ru_stime


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build")
    ap.add_argument("--frames", type=int, default=150, help="frames a run, at --interval 100 (default 150)")
    ap.add_argument("--repeats", type=int, default=3)
    args = ap.parse_args()
    cli = os.path.abspath(os.path.join(args.build, "kestrovar-cli"))
    queue_bench = os.path.abspath(os.path.join(args.build, "bench", "kv_bench_mqtt_queue"))
    mosquitto = shutil.which("mosquitto") or shutil.which("mosquitto", path="/usr/sbin")
    work = tempfile.mkdtemp(prefix="kv-mqtt-bench-")
    port = free_port()
    broker = subprocess.Popen([mosquitto, "-p", str(port)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    env = dict(os.environ, KESTROVAR_HISTORY=os.path.join(work, "history"))
    try:
        time.sleep(0.3)
        monitor = ["monitor", "--interval", "100", "--count", str(args.frames), "--json"]
        plain, published, delays = [], [], []
        for _ in range(args.repeats):
            plain.append(run_cpu([cli, "--simulate", *monitor], env))
            out = os.path.join(work, "sub.txt")
            with open(out, "w") as f:
                sub = subprocess.Popen(["mosquitto_sub", "-p", str(port), "-t", "kestrovar/bench/readings", "-q", "1",
                                        "-F", "%U %p"], stdout=f)
                time.sleep(0.2)
                published.append(run_cpu([cli, "--simulate", "--unit", "bench", "--mqtt",
                                          f"mqtt://127.0.0.1:{port}", *monitor], env))
                time.sleep(0.3)
                sub.terminate()
                sub.wait()
            with open(out) as f:
                for line in f:
                    stamp, payload = line.split(" ", 1)
                    sent = datetime.fromisoformat(json.loads(payload)["time"]).timestamp()
                    delays.append((float(stamp) - sent) * 1000)
        per_frame = (statistics.median(published) - statistics.median(plain)) / args.frames
        share = max(0.0, per_frame / 0.7 * 100)
        delays.sort()
        p50, p99 = delays[len(delays) // 2], delays[min(len(delays) - 1, int(len(delays) * 0.99))]
        queue = subprocess.run([queue_bench], capture_output=True, text=True, check=True).stdout.split()
        rows = [
            ("Publishing's CPU over plain monitoring, a unit at 700 ms", f"{share:.3f} % of a core "
             f"({per_frame * 1e6:.0f} µs a frame)", "< 0.1 %", "ok" if share < 0.1 else "over"),
            ("Frame's time to a subscriber on the broker, median / 99th", f"{p50:.1f} / {p99:.1f} ms "
             f"({len(delays)} frames)", "< 20 ms", "ok" if p99 < 20 else "over"),
            ("Queue while the broker is away, an hour at 700 ms", f"{queue[0]} readings, {queue[1]} MiB", "", ""),
        ]
        print("| What | Measured | Goal | |")
        print("|---|---|---|---|")
        for row in rows:
            print("| " + " | ".join(row) + " |")
    finally:
        broker.terminate()
        broker.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
