#!/usr/bin/env python3
"""kestrovar-cli --mqtt against a real broker: Debian's mosquitto, started here on free loopback
ports with a configuration written here (an anonymous listener, one with a password file made by
mosquitto_passwd, and a TLS one with a certificate made here by openssl), and stopped here.
The device is the CLI's own simulator on a pseudo-terminal. Every wait polls and is bounded.

    check_mqtt.py --cli build/kestrovar-cli --work build/tests/mqtt-work
"""

import argparse
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import time

failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(condition, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if condition():
            return True
        time.sleep(0.02)
    return condition()


class Broker:
    def __init__(self, work, mosquitto):
        self.work, self.mosquitto = work, mosquitto
        self.plain, self.login, self.tls = free_port(), free_port(), free_port()
        run = lambda *a: subprocess.run(a, cwd=work, check=True, capture_output=True)
        run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.crt",
            "-days", "2", "-subj", "/CN=KestroVar test CA")
        run("openssl", "req", "-newkey", "rsa:2048", "-nodes", "-keyout", "broker.key", "-out", "broker.csr",
            "-subj", "/CN=localhost")
        with open(os.path.join(work, "san.cnf"), "w") as f:
            f.write("subjectAltName=DNS:localhost,IP:127.0.0.1\n")
        run("openssl", "x509", "-req", "-in", "broker.csr", "-CA", "ca.crt", "-CAkey", "ca.key",
            "-CAcreateserial", "-out", "broker.crt", "-days", "2", "-extfile", "san.cnf")
        run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "other.key", "-out",
            "other.crt", "-days", "2", "-subj", "/CN=Another CA")
        open(os.path.join(work, "passwords"), "w").close()
        run("mosquitto_passwd", "-b", "passwords", "alice", "s3cret pass")
        os.chmod(os.path.join(work, "passwords"), 0o600)
        with open(os.path.join(work, "mosquitto.conf"), "w") as f:
            f.write(f"""user root
per_listener_settings true
persistence true
persistence_location {work}/
log_dest file {work}/broker.log
listener {self.plain} 127.0.0.1
allow_anonymous true
listener {self.login} 127.0.0.1
allow_anonymous false
password_file {work}/passwords
listener {self.tls} 127.0.0.1
allow_anonymous true
cafile {work}/ca.crt
certfile {work}/broker.crt
keyfile {work}/broker.key
""")
        self.proc = None
        self.start()

    def start(self):
        self.proc = subprocess.Popen([self.mosquitto, "-c", os.path.join(self.work, "mosquitto.conf")],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_for(lambda: self.listening(), 10):
            raise SystemExit("mosquitto did not start: see " + os.path.join(self.work, "broker.log"))

    def listening(self):
        try:
            socket.create_connection(("127.0.0.1", self.plain), timeout=0.2).close()
            return True
        except OSError:
            return False

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(10)


class Subscriber:
    """mosquitto_sub on a topic filter, its lines collected in a file."""

    running = []

    def __init__(self, port, topic, work, name, extra=()):
        Subscriber.running.append(self)
        self.path = os.path.join(work, name + ".txt")
        self.out = open(self.path, "w")
        self.proc = subprocess.Popen(["mosquitto_sub", "-h", "127.0.0.1", "-p", str(port), "-q", "1", "-v",
                                      "-t", topic, *extra], stdout=self.out, stderr=subprocess.DEVNULL)
        time.sleep(0.2)  # its SUBSCRIBE is on the way before anything is published

    def lines(self):
        self.out.flush()
        with open(self.path) as f:
            return [line.rstrip("\n") for line in f if line.strip()]

    def messages(self, suffix):
        return [json.loads(l.split(" ", 1)[1]) for l in self.lines() if l.split(" ", 1)[0].endswith(suffix)]

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(5)
        self.out.close()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cli", required=True)
    ap.add_argument("--run", default="", help="a program that runs CLI, such as the Windows build's wine-run")
    ap.add_argument("--work", required=True)
    args = ap.parse_args()
    mosquitto = shutil.which("mosquitto") or shutil.which("mosquitto", path="/usr/sbin:/usr/local/sbin")
    for tool in (mosquitto, shutil.which("mosquitto_sub"), shutil.which("mosquitto_passwd")):
        if not tool:
            raise SystemExit("mosquitto, mosquitto_sub and mosquitto_passwd are needed (Debian: mosquitto "
                             "mosquitto-clients)")
    work = os.path.abspath(args.work)
    program = ([args.run] if args.run else []) + [os.path.abspath(args.cli)]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    env = dict(os.environ, KESTROVAR_HISTORY=os.path.join(work, "history"))
    env.pop("KESTROVAR_MQTT", None)
    env.pop("KESTROVAR_MQTT_PASSWORD", None)
    broker = Broker(work, mosquitto)
    plain = f"mqtt://127.0.0.1:{broker.plain}"

    def cli(*words, extra_env=None, timeout=30):
        return subprocess.run([*program, "--simulate", *words], cwd=work, env=dict(env, **(extra_env or {})),
                              capture_output=True, text=True, timeout=timeout)

    try:
        # Topics and payloads: each reading as monitor --json prints it, plus "unit"; the status
        # online then offline, retained; a record as history --json lists it.
        sub = Subscriber(broker.plain, "lab/b1/#", work, "payloads")
        run = cli("--unit", "A/1+#", "--mqtt", plain + "/lab/b1/", "monitor", "--count", "4", "--json")
        check(run.returncode == 0, f"monitor --mqtt exits 0 ({run.returncode}: {run.stderr.strip()})")
        printed = [json.loads(line) for line in run.stdout.splitlines()]
        wait_for(lambda: len(sub.messages("/status")) >= 2, 5)
        got = sub.messages("A_1__/readings")
        check(got == [dict(p, unit="A_1__") for p in printed] and len(got) == 4,
              "lab/b1/A_1__/readings carries each frame as monitor --json printed it, with \"unit\", in order")
        status = sub.messages("A_1__/status")
        states = [m["state"] for m in status]
        check(states == ["online", "offline"] and "time" in status[-1],
              f"the status says online, then offline at a clean end (not the last will): {status}")
        run = cli("--unit", "A/1+#", "--mqtt", plain + "/lab/b1", "read", "-o", "unit.cal")
        wait_for(lambda: sub.messages("/records"), 5)
        listed = json.loads(subprocess.run([*program, "history", "--json", "--limit", "1"], env=env,
                                           capture_output=True, text=True).stdout)
        check(sub.messages("A_1__/records") == listed, "the read's record is published as history --json lists it")
        sub.stop()
        retained = subprocess.run(["mosquitto_sub", "-p", str(broker.plain), "-t", "lab/b1/A_1__/status",
                                   "-C", "1", "-W", "3", "--retained-only"], capture_output=True, text=True)
        check('"state":"offline"' in retained.stdout, "the offline status is retained")

        # Home Assistant's discovery: six sensors with their units, retained.
        run = cli("--unit", "ha", "--mqtt", plain, "--mqtt-discovery", "monitor", "--count", "1", "--celsius")
        found = subprocess.run(["mosquitto_sub", "-p", str(broker.plain), "-t", "homeassistant/sensor/kestrovar_ha/+/config",
                                "-v", "-W", "2", "--retained-only"], capture_output=True, text=True).stdout
        configs = [json.loads(l.split(" ", 1)[1]) for l in found.splitlines() if l]
        check(sorted((c["value_template"], c["unit_of_measurement"]) for c in configs) ==
              sorted([("{{ value_json.input_voltage_v }}", "V"), ("{{ value_json.output_voltage_v }}", "V")] +
                     [("{{ value_json.%s }}" % k, "\u00b0C") for k in
                      ("input_temp_c", "dew_point_c", "modified_temp_c", "output_temp_c")]),
              f"--mqtt-discovery --celsius: six retained sensors in V and \u00b0C ({len(configs)})")

        # The last will: a publisher killed shows offline, as the broker says it.
        sub = Subscriber(broker.plain, "kestrovar/killed/status", work, "will")
        proc = subprocess.Popen([*program, "--simulate", "--unit", "killed", "--mqtt", plain, "monitor"], cwd=work,
                                env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(lambda: sub.messages("/status"), 10)
        proc.send_signal(signal.SIGKILL)
        proc.wait()
        wait_for(lambda: len(sub.messages("/status")) >= 2, 20)
        states = sub.messages("/status")
        check([s["state"] for s in states] == ["online", "offline"] and "time" not in states[-1],
              f"kill -9: the broker sends the last will, offline: {states}")
        sub.stop()

        # The broker stopped for a few seconds mid-run: no reading lost or repeated, the CSV unbroken.
        sub = Subscriber(broker.plain, "kestrovar/gap/readings", work, "gap", ("-c", "-i", "kv-gap-check"))
        proc = subprocess.Popen([*program, "--simulate", "--unit", "gap", "--mqtt", plain, "monitor", "--count", "40",
                                 "--interval", "150", "--csv", "gap.csv"], cwd=work, env=env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        wait_for(lambda: len(sub.lines()) >= 5, 10)
        broker.stop()
        time.sleep(2)
        broker.start()
        _, err = proc.communicate(timeout=30)
        with open(os.path.join(work, "gap.csv")) as f:
            rows = [line.split(",")[0] for line in f.read().splitlines()[1:]]
        wait_for(lambda: len(sub.lines()) >= len(rows), 10)
        times = [m["time"] for m in sub.messages("/readings")]
        check(proc.returncode == 0 and len(rows) == 40, f"monitor went on through the broker's gap ({proc.returncode})")
        check(times == rows, f"every CSV row reached the broker once, in order ({len(times)} of {len(rows)})")
        check(err.count("went away") == 1 and err.count(" is back;") == 1,
              f"the loss and the return are said once each:\n{err}")
        sub.stop()

        # A password file listener: the right password from the variable or a file; a wrong one is 68.
        login = f"mqtt://alice@127.0.0.1:{broker.login}"
        with open(os.path.join(work, "pw.txt"), "w") as f:
            f.write("s3cret pass\n")
        run = cli("--mqtt", login, "read", "-o", "a.cal", extra_env={"KESTROVAR_MQTT_PASSWORD": "s3cret pass"})
        check(run.returncode == 0 and "MQTT" not in run.stderr, f"the right password: 0 ({run.stderr.strip()})")
        run = cli("--mqtt", login, "--mqtt-password-file", "pw.txt", "read", "-o", "a.cal")
        check(run.returncode == 0, f"the password from a file: 0 ({run.stderr.strip()})")
        run = cli("--mqtt", login, "read", "-o", "a.cal", extra_env={"KESTROVAR_MQTT_PASSWORD": "wrong"})
        check(run.returncode == 68 and "refused the login" in run.stderr and "wrong" not in run.stderr,
              f"a refused password: 68, said, not shown ({run.returncode}: {run.stderr.strip()})")

        # TLS: the right CA, a wrong one, none (the system's do not know ours).
        tls = f"mqtts://localhost:{broker.tls}"
        run = cli("--mqtt", tls, "--mqtt-ca", "ca.crt", "read", "-o", "t.cal")
        check(run.returncode == 0 and "MQTT" not in run.stderr, f"TLS with the right CA: 0 ({run.stderr.strip()})")
        for ca in (["--mqtt-ca", "other.crt"], []):
            run = cli("--mqtt", tls, *ca, "read", "-o", "t.cal")
            check(run.returncode == 68 and "certificate is not trusted" in run.stderr,
                  f"TLS with {ca or 'the system CAs'}: 68 ({run.returncode}: {run.stderr.strip()})")
        run = cli("--mqtt", "mqtt://no-such-broker.invalid", "read", "-o", "t.cal")
        check(run.returncode == 68 and "is not known" in run.stderr, f"an unknown host: 68 ({run.stderr.strip()})")

        # Sixteen publishers into one broker, at once: every unit's readings arrive.
        sub = Subscriber(broker.plain, "kestrovar/+/readings", work, "sixteen")
        procs = [subprocess.Popen([*program, "--simulate", "--unit", f"u{n}", "--mqtt", plain, "monitor", "--count",
                                   "3", "--json"], cwd=work, env=env, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL) for n in range(16)]
        codes = [p.wait(60) for p in procs]
        wait_for(lambda: len(sub.lines()) >= 48, 10)
        units = sorted({m["unit"] for m in sub.messages("/readings")})
        check(codes == [0] * 16 and len(sub.lines()) == 48 and units == sorted(f"u{n}" for n in range(16)),
              f"sixteen publishers: 16 x 3 readings ({len(sub.lines())}, exits {set(codes)})")
        sub.stop()
    finally:
        for sub in Subscriber.running:
            sub.stop()
        broker.stop()
    if failures:
        print(f"{len(failures)} MQTT cases failed")
        return 1
    print("every MQTT case passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
