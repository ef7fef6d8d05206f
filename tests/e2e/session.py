"""The machinery of an end-to-end session: a network namespace that only has loopback, a virtual
X display, a Wine prefix, one long-running window driver, the program under test and the
simulated unit. Every wait is bounded."""

import json
import os
import queue
import shutil
import signal
import subprocess
import threading
import time

ISOLATION_MARK = "KQ_E2E_ISOLATED"


def log(text):
    print(text, flush=True)


def has_outside_interface():
    """True when this network namespace has an interface besides loopback."""
    try:
        with open("/proc/net/dev") as f:
            names = [line.split(":")[0].strip() for line in f.readlines()[2:]]
    except OSError:
        return True
    return any(name and name != "lo" for name in names)


def isolate_or_continue(argv):
    """Re-runs this script in a new network namespace with loopback only, unless that was done.

    Inside it neither the program nor anything Wine starts can reach any outside address, so a
    slip in a case can never send traffic past this machine. Without a namespace the cases run
    all the same: they only ever type loopback addresses."""
    if os.environ.get(ISOLATION_MARK) == "1":
        subprocess.run(["ip", "link", "set", "lo", "up"], check=False)
        return True
    if not has_outside_interface():
        return True
    if shutil.which("unshare") is None:
        log("warning: no unshare; running with the outside network interfaces present")
        return True
    env = dict(os.environ, **{ISOLATION_MARK: "1"})
    probe = subprocess.run(["unshare", "--net", "true"], capture_output=True)
    if probe.returncode != 0:
        log("warning: cannot create a network namespace; running without it")
        return True
    os.execvpe("unshare", ["unshare", "--net", "--"] + argv, env)
    return False  # not reached


class Display:
    """A virtual X display (Xvfb) on a free display number."""

    def __init__(self, width=1024, height=768):
        self.number = None
        for n in range(90, 140):
            if not os.path.exists("/tmp/.X11-unix/X%d" % n) and not os.path.exists(
                "/tmp/.X%d-lock" % n
            ):
                self.number = n
                break
        if self.number is None:
            raise RuntimeError("no free X display number")
        self.name = ":%d" % self.number
        self.proc = subprocess.Popen(
            ["Xvfb", self.name, "-screen", "0", "%dx%dx24" % (width, height), "-nolisten", "tcp"],
            stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )
        socket_path = "/tmp/.X11-unix/X%d" % self.number
        end = time.time() + 15
        while not os.path.exists(socket_path):
            if time.time() > end or self.proc.poll() is not None:
                raise RuntimeError("Xvfb did not start on " + self.name)
            time.sleep(0.1)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()


class Wine:
    """A Wine prefix inside the build folder, made once and reused."""

    def __init__(self, prefix, display):
        self.prefix = prefix
        self.env = dict(
            os.environ,
            WINEPREFIX=prefix,
            WINEDEBUG="-all",
            WINEDLLOVERRIDES="mscoree,mshtml=",
            DISPLAY=display,
        )
        self.env.pop("WAYLAND_DISPLAY", None)
        # CI may start without a home folder; Wine wants one.
        if not os.path.isdir(self.env.get("HOME", "")):
            self.env["HOME"] = os.path.dirname(prefix)

    def run(self, args, timeout):
        return subprocess.run(
            args,
            env=self.env,
            stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
            timeout=timeout,
        )

    def prepare(self):
        # A server left from an earlier session may belong to another network namespace.
        self.kill_server()
        if not os.path.exists(os.path.join(self.prefix, "system.reg")):
            log("  creating the Wine prefix %s" % self.prefix)
            self.run(["wineboot", "-i"], timeout=300)
        else:
            self.run(["wineboot"], timeout=300)
        # Without a window manager Wine would stall for seconds whenever a message box closes.
        self.run(
            ["wine", "reg", "add", r"HKCU\Software\Wine\X11 Driver", "/v", "Managed", "/d", "N", "/f"],
            timeout=120,
        )

    def kill_server(self):
        try:
            self.run(["wineserver", "-k"], timeout=30)
        except subprocess.TimeoutExpired:
            pass


class Driver:
    """The window driver kqdriver.exe: one command per line in, one JSON line out."""

    def __init__(self, exe, wine):
        self.proc = subprocess.Popen(
            ["wine", exe],
            env=wine.env,
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL,
            text=True,
            errors="replace",
        )
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            self.lines.put(line)
        self.lines.put(None)

    def __call__(self, command, timeout=None):
        """Sends one command; returns the answer as a dict. `timeout` in seconds bounds the wait
        for the answer (the command's own waiting time plus a margin by default)."""
        if self.proc.poll() is not None:
            raise RuntimeError("the window driver has ended")
        if timeout is None:
            timeout = 30
            parts = command.split()
            if len(parts) > 1 and parts[1].isdigit() and parts[0] in (
                "wait-window", "watch", "wait-box", "wait-gone"):
                timeout = int(parts[1]) / 1000 + 30
        self.proc.stdin.write(command + "\n")
        self.proc.stdin.flush()
        try:
            line = self.lines.get(timeout=timeout)
        except queue.Empty:
            raise RuntimeError("no answer from the window driver to: " + command)
        if line is None:
            raise RuntimeError("the window driver ended during: " + command)
        return json.loads(line)

    def stop(self):
        if self.proc.poll() is None:
            try:
                self.proc.stdin.write("quit\n")
                self.proc.stdin.flush()
                self.proc.wait(10)
            except (OSError, subprocess.TimeoutExpired):
                self.proc.kill()


class Program:
    """One copy of KQVorlink.exe started in its own folder."""

    def __init__(self, folder, wine, output):
        self.folder = folder
        self.out = open(output, "ab")
        self.proc = subprocess.Popen(
            ["wine", os.path.join(folder, "KQVorlink.exe")],
            cwd=folder,
            env=wine.env,
            stdin=subprocess.DEVNULL,
            stdout=self.out,
            stderr=self.out,
        )

    def running(self):
        return self.proc.poll() is None

    def wait_end(self, seconds):
        try:
            self.proc.wait(seconds)
            return True
        except subprocess.TimeoutExpired:
            return False

    def kill(self):
        if self.running():
            self.proc.kill()
            self.proc.wait(10)
        self.out.close()


class Unit:
    """The simulated unit kqunit on one loopback address; its output names every command it
    received, one per line."""

    def __init__(self, kqunit, address, store, output, model=None, scenario=None):
        self.store = store
        self.output = output
        os.makedirs(store, exist_ok=True)
        args = [kqunit, "--address", address, "--store", store, "--idle-timeout-s", "400"]
        if model:
            args += ["--model", model]
        if scenario:
            args += ["--scenario", scenario]
        self.out = open(output, "wb")
        self.proc = subprocess.Popen(
            args, stdin=subprocess.DEVNULL, stdout=self.out, stderr=subprocess.STDOUT
        )
        end = time.time() + 10
        while "serving" not in self.text():
            if time.time() > end or self.proc.poll() is not None:
                raise RuntimeError("kqunit did not start: " + self.text())
            time.sleep(0.05)

    def text(self):
        with open(self.output, "rb") as f:
            return f.read().decode("latin-1")

    def commands(self):
        """Every line the unit saw (FTP commands, "telnet: ..." lines and notes)."""
        return [
            line for line in self.text().splitlines() if line and not line.startswith("kqunit:")
        ]

    def stored(self):
        """{name: bytes} of every file the unit stored."""
        result = {}
        for name in sorted(os.listdir(self.store)):
            with open(os.path.join(self.store, name), "rb") as f:
                result[name] = f.read()
        return result

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(5)
        self.out.close()
