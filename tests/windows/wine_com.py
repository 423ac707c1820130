"""The Linux kestrovar-sim behind wine's COM1, for the end-to-end tests of the Windows programs."""
import os
import subprocess
import time


def wait_for(condition, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.05)
    return condition()


class Simulator:
    """kestrovar-sim on a pseudo-terminal, told what to do on its standard input."""

    def __init__(self, sim, work):
        self.log = os.path.join(work, "sim.txt")
        self.process = subprocess.Popen([sim], stdin=subprocess.PIPE, stdout=open(self.log, "w"),
                                        stderr=subprocess.STDOUT, text=True)
        self.pty = ""
        wait_for(self._named, 10)

    def _named(self):
        with open(self.log) as f:
            self.pty = f.readline().strip()
        return self.pty.startswith("/dev/")

    def tell(self, command):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()


def map_com1(wine_run, env, pty):
    """COM1 of the prefix in env is pty; wine keeps it only when the mapping is in the registry as
    its wineserver starts, so the server is restarted. Returns an error text, or ""."""
    r = subprocess.run([wine_run, "reg", "add", r"HKLM\Software\Wine\Ports", "/v", "COM1", "/t", "REG_SZ", "/d",
                        pty, "/f"], env=env, capture_output=True, timeout=120)
    subprocess.run(["wineserver", "-k"], env=env)
    subprocess.run(["wineserver", "-w"], env=env)
    return "" if r.returncode == 0 else "wine reg add COM1 -> %s: %s" % (pty, r.stderr)
