"""Runs the real nimbrel on the private test desktop with a temporary HOME and watches it from outside."""

import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import time
import unittest


def _display_environment():
    state = os.environ.get("NIMBREL_DISPLAY_STATE")
    values = {}
    if state and os.path.exists(state):
        with open(state, encoding="utf-8") as f:
            for line in f:
                key, _, value = line.strip().partition("=")
                values[key] = value.strip('"')
    return values.get("DISPLAY")


DISPLAY = _display_environment()
BINARY = os.environ.get("NIMBREL_BIN", "nimbrel")


class Home:
    """A temporary home folder with the XDG variables pointing into it."""

    def __init__(self):
        self.path = tempfile.mkdtemp(prefix="nimbrel-e2e-")
        os.makedirs(self.runtime, mode=0o700)

    @property
    def runtime(self):
        return os.path.join(self.path, "run")

    @property
    def data_dir(self):
        return os.path.join(self.path, ".local", "share", "Nimbrel")

    @property
    def store(self):
        return os.path.join(self.data_dir, "Nimbrel.store")

    @property
    def defaults_file(self):
        return os.path.join(self.path, ".config", "Nimbrel", "defaults.json")

    @property
    def autostart_file(self):
        return os.path.join(self.path, ".config", "autostart", "org.nimbrel.Nimbrel.desktop")

    def env(self, **extra):
        env = {k: v for k, v in os.environ.items() if not k.startswith(("XDG_", "DBUS_", "WAYLAND"))}
        env.update(
            HOME=self.path,
            XDG_RUNTIME_DIR=self.runtime,
            DISPLAY=DISPLAY or "",
            QT_QPA_PLATFORM="xcb",
            LANG="en_US.UTF-8",
            LANGUAGE="",
        )
        env.update(extra)
        return env

    def read_defaults(self):
        with open(self.defaults_file, encoding="utf-8") as f:
            return json.load(f)

    def write_defaults(self, values):
        os.makedirs(os.path.dirname(self.defaults_file), exist_ok=True)
        with open(self.defaults_file, "w", encoding="utf-8") as f:
            json.dump(values, f)

    def remove(self):
        shutil.rmtree(self.path, ignore_errors=True)


class Nimbrel:
    """One running nimbrel process; its standard output is collected line by line."""

    def __init__(self, home, *args, program=None, **env):
        self.home = home
        self.lines = []
        self._cond = threading.Condition()
        self.process = subprocess.Popen(
            [program or BINARY, *args],
            env=home.env(**env),
            stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL,
            stdin=subprocess.DEVNULL,
            text=True,
        )
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        for line in self.process.stdout:
            with self._cond:
                self.lines.append(line.rstrip("\n"))
                self._cond.notify_all()

    def wait_for_line(self, text, timeout=10):
        deadline = time.monotonic() + timeout
        with self._cond:
            while not any(text in line for line in self.lines):
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    raise AssertionError(f"no line containing {text!r} within {timeout}s; got {self.lines!r}")
                self._cond.wait(remaining)

    def wait_until(self, predicate, timeout=10, what="condition"):
        deadline = time.monotonic() + timeout
        while not predicate():
            if time.monotonic() > deadline:
                raise AssertionError(f"timed out waiting for {what}; output {self.lines!r}")
            time.sleep(0.05)

    def catches_termination_signals(self):
        """True once the process has its own handlers for SIGTERM, SIGINT and SIGHUP (installed just before
        the launch sequence); before that those signals kill it outright."""
        try:
            with open(f"/proc/{self.process.pid}/status", encoding="ascii") as f:
                caught = next(int(line.split()[1], 16) for line in f if line.startswith("SigCgt:"))
        except (OSError, StopIteration):
            return False
        return all(caught & (1 << (sig - 1)) for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP))

    def wait_ready(self, timeout=15):
        """Ready once the launch sequence has run: the defaults file exists. A file left by an earlier run
        proves nothing on its own, so the signal handlers, installed by this run, must be in place too."""
        self.wait_until(lambda: os.path.exists(self.home.defaults_file) and self.catches_termination_signals(),
                        timeout, "the defaults file and the signal handlers")
        time.sleep(0.3)

    def terminate(self, sig=signal.SIGTERM, timeout=5):
        if self.process.poll() is None:
            self.process.send_signal(sig)
        return self.process.wait(timeout)

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(5)
        self._reader.join(2)


def run_once(home, *args, timeout=20, **env):
    """Runs nimbrel to completion and returns (status, stdout)."""
    done = subprocess.run([BINARY, *args], env=home.env(**env), capture_output=True, text=True, timeout=timeout,
                          stdin=subprocess.DEVNULL)
    return done.returncode, done.stdout


def compiled_build(program):
    """The build number a program was compiled as, from its --version line ("Nimbrel 1.0 (build 7)")."""
    out = subprocess.run([program, "--version"], capture_output=True, text=True, timeout=30, check=True).stdout
    return int(out.rsplit("(build ", 1)[1].rstrip(")\n"))


def x11(*command, env=None, check=True):
    full = dict(os.environ, DISPLAY=DISPLAY or "")
    if env:
        full.update(env)
    return subprocess.run(list(command), env=full, capture_output=True, text=True, check=check, timeout=20)


class E2ETestCase(unittest.TestCase):
    def setUp(self):
        if not DISPLAY:
            self.fail("the test desktop is not running (NIMBREL_DISPLAY_STATE)")
        self.home = Home()
        self.processes = []

    def tearDown(self):
        for p in self.processes:
            p.stop()
        self.home.remove()

    def start(self, *args, home=None, program=None, **env):
        p = Nimbrel(home or self.home, *args, program=program, **env)
        self.processes.append(p)
        return p


def nimbrel_windows():
    """Nimbrel's mapped windows as (id, width, height, x, y), from the X server's window tree."""

    # xwininfo fails when a window goes away while it walks the tree; the next walk sees the tree as it is.
    for _ in range(5):
        listing = x11("xwininfo", "-root", "-tree", check=False)
        if listing.returncode == 0:
            break
    tree = listing.stdout
    pattern = re.compile(r'(0x[0-9a-f]+) "[^"]*": \("nimbrel" "Nimbrel"\)\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+)')
    found = [(m[1], int(m[2]), int(m[3]), int(m[4]), int(m[5])) for m in pattern.finditer(tree)]
    # The tree lists hidden windows too; only those on screen count.
    return [w for w in found if "IsViewable" in x11("xwininfo", "-id", w[0], check=False).stdout]


def tray_icon():
    """Nimbrel's tray icon when the tray has embedded it, else None."""
    trayer = {int(w) for w in x11("xdotool", "search", "--class", "trayer", check=False).stdout.split()}
    for window, width, height, _, _ in nimbrel_windows():
        if width > 64 or height > 64:
            continue
        current = window
        while True:
            info = x11("xwininfo", "-children", "-id", current, check=False).stdout
            parent = re.search(r"Parent window id: (0x[0-9a-f]+)( \(the root window\))?", info)
            if not parent or parent[2]:
                break
            if int(parent[1], 16) in trayer:
                return window
            current = parent[1]
    return None


def click(x, y, button=1):
    x11("xdotool", "mousemove", str(x), str(y), "click", str(button))


COPY_TOOL = os.environ.get("NIMBREL_COPY", "nimbrel-copy")


class Clipboard:
    """Copies into the desktop clipboard as another application would."""

    def __init__(self, workdir):
        self.workdir = workdir
        self.owners = []

    def _file(self, data):
        path = os.path.join(self.workdir, f"clip-{len(self.owners)}-{time.monotonic_ns()}")
        with open(path, "wb") as f:
            f.write(data if isinstance(data, bytes) else data.encode("utf-8"))
        return path

    def copy(self, *representations):
        """Offers (mime type, bytes or str) pairs together and waits until they are on the clipboard."""
        args = [f"{mime}={self._file(data)}" for mime, data in representations]
        owner = subprocess.Popen([COPY_TOOL, *args], env=dict(os.environ, DISPLAY=DISPLAY or "", QT_QPA_PLATFORM="xcb"),
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.owners.append(owner)
        if owner.stdout.readline().strip() != "ready":
            raise AssertionError("the copy helper could not take the clipboard")
        time.sleep(0.1)

    def xclip(self, mime, data):
        """Copies one representation with xclip, which serves it until another owner takes over."""
        path = self._file(data)
        subprocess.run(["xclip", "-selection", "clipboard", "-t", mime, "-i", path],
                       env=dict(os.environ, DISPLAY=DISPLAY or ""), check=True, timeout=10,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(0.1)

    def close(self):
        for owner in self.owners:
            if owner.poll() is None:
                owner.kill()
                owner.wait(5)
            owner.stdout.close()


def history(home, *args):
    """The records as `nimbrel --history --json` prints them."""
    status, out = run_once(home, "--history", "--json", "--limit", "1000", *args)
    if status != 0:
        raise AssertionError(f"nimbrel --history exited with {status}: {out}")
    return json.loads(out)


TARGET_TOOL = os.environ.get("NIMBREL_TARGET", "nimbrel-target")


class TargetApp:
    """An ordinary application window in front, with a text field whose text the test can read."""

    def __init__(self, workdir):
        self.file = os.path.join(workdir, f"target-{time.monotonic_ns()}.txt")
        self.process = subprocess.Popen([TARGET_TOOL, self.file], env=dict(os.environ, DISPLAY=DISPLAY or "",
                                        QT_QPA_PLATFORM="xcb"), stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, text=True)
        if self.process.stdout.readline().strip() != "ready":
            raise AssertionError("the target application did not start")
        # Qt makes a second, unmapped window of that name; the one the window manager activates counts.
        for window in x11("xdotool", "search", "--sync", "--onlyvisible", "--name", "^nimbrel-target$").stdout.split():
            x11("xdotool", "windowactivate", "--sync", window, check=False)
        time.sleep(0.2)
        self.window = str(active_window())

    def text(self):
        try:
            with open(self.file, encoding="utf-8") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(5)
        self.process.stdout.close()


def active_window():
    out = x11("xprop", "-root", "_NET_ACTIVE_WINDOW").stdout
    return int(out.rsplit(" ", 1)[-1], 16)


def executable_of(pid):
    """The program a process runs, or None once it is gone."""
    try:
        return os.readlink(f"/proc/{pid}/exe")
    except OSError:
        return None


def stop_processes(pids):
    """Ends processes the test did not start itself: SIGTERM, then SIGKILL after five seconds."""
    for pid in pids:
        try:
            os.kill(pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
    deadline = time.monotonic() + 5
    while time.monotonic() < deadline and any(os.path.exists(f"/proc/{p}") for p in pids):
        time.sleep(0.05)
    for pid in pids:
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
