"""Runs the real nimbrel on the private test desktop with a temporary HOME and watches it from outside."""

import ctypes
import json
import os
import re
import shutil
import signal
import struct
import subprocess
import tempfile
import threading
import time
import unittest
import zlib


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
OWNER_TOOL = os.environ.get("NIMBREL_OWNER", "nimbrel-owner")
TARGET_TOOL = os.environ.get("NIMBREL_TARGET", "nimbrel-target")
X_ENV = dict(os.environ, DISPLAY=DISPLAY or "", QT_QPA_PLATFORM="xcb")
NO_SUCH_RECORD = "00000000-0000-4000-8000-000000000000"


def wait_for(predicate, what, timeout=10, lines=None):
    """Polls until predicate() is true and returns its value."""
    deadline = time.monotonic() + timeout
    while not (value := predicate()):
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what() if callable(what) else what}; output {lines!r}")
        time.sleep(0.05)
    return value


class Home:
    """A temporary home folder with the XDG variables pointing into it."""

    def __init__(self):
        self.path = tempfile.mkdtemp(prefix="nimbrel-e2e-")
        self.runtime = os.path.join(self.path, "run")
        os.makedirs(self.runtime, mode=0o700)
        self.data_dir = os.path.join(self.path, ".local", "share", "Nimbrel")
        self.store = os.path.join(self.data_dir, "Nimbrel.store")
        self.defaults_file = os.path.join(self.path, ".config", "Nimbrel", "defaults.json")
        self.autostart_file = os.path.join(self.path, ".config", "autostart", "org.nimbrel.Nimbrel.desktop")

    def env(self, **extra):
        env = {k: v for k, v in os.environ.items() if not k.startswith(("XDG_", "DBUS_", "WAYLAND"))}
        env.update(HOME=self.path, XDG_RUNTIME_DIR=self.runtime, DISPLAY=DISPLAY or "", QT_QPA_PLATFORM="xcb",
                   LANG="en_US.UTF-8", LANGUAGE="")
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


def run(home, *args, timeout=30, **env):
    """Runs nimbrel to completion: (status, stdout, stderr)."""
    done = subprocess.run([BINARY, *args], env=home.env(**env), capture_output=True, text=True, timeout=timeout,
                          stdin=subprocess.DEVNULL)
    return done.returncode, done.stdout, done.stderr


class Nimbrel:
    """One running nimbrel process; its standard output is collected line by line."""

    def __init__(self, home, *args, program=None, capture_log=False, **env):
        """capture_log: the lines of what became of each copy (the nimbrel.capture category) are collected too."""
        self.home = home
        self.lines = []
        self._cond = threading.Condition()
        if capture_log:
            env.update(QT_LOGGING_RULES="nimbrel.capture.debug=true", QT_FORCE_STDERR_LOGGING="1")
        self.process = subprocess.Popen([program or BINARY, *args], env=home.env(**env), stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT if capture_log else subprocess.DEVNULL,
                                        stdin=subprocess.DEVNULL, text=True)
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
        return wait_for(predicate, what, timeout, self.lines)

    def catches_termination_signals(self):
        """True once the process has its own handlers for SIGTERM, SIGINT and SIGHUP (installed just before
        the launch sequence); before that those signals kill it outright."""
        try:
            with open(f"/proc/{self.process.pid}/status", encoding="ascii") as f:
                caught = next(int(line.split()[1], 16) for line in f if line.startswith("SigCgt:"))
        except (OSError, StopIteration):
            return False
        return all(caught & (1 << (sig - 1)) for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP))

    def answers(self):
        """A request the running instance answers (an unknown record) has gone through its event loop, so the
        launch sequence queued before it has run: capture and the shortcut are in place."""
        return "did not answer" not in run(self.home, "--unpin", NO_SUCH_RECORD)[2]

    def wait_ready(self, timeout=15):
        """A defaults file left by an earlier run proves nothing on its own, so the signal handlers, installed
        by this run, must be in place too, and then the instance must answer."""
        self.wait_until(lambda: os.path.exists(self.home.defaults_file) and self.catches_termination_signals()
                        and self.answers(), timeout, "the defaults file, the signal handlers and an answer")

    def terminate(self, sig=signal.SIGTERM, timeout=5):
        if self.process.poll() is None:
            self.process.send_signal(sig)
        return self.process.wait(timeout)

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(5)
        self._reader.join(2)


def compiled_build(program):
    """The build number a program was compiled as, from its --version line ("Nimbrel 1.0 (build 7)")."""
    out = subprocess.run([program, "--version"], capture_output=True, text=True, timeout=30, check=True).stdout
    return int(out.rsplit("(build ", 1)[1].rstrip(")\n"))


def x11(*command, env=None, check=True):
    full = dict(os.environ, DISPLAY=DISPLAY or "")
    if env:
        full.update(env)
    return subprocess.run(list(command), env=full, capture_output=True, text=True, check=check, timeout=20)


def png(width, height):
    """A small opaque PNG, as an image editor would copy it."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\x00" + b"".join(bytes((x * 40 % 256, y * 40 % 256, 128)) for x in range(width))
                    for y in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def history(home, *args):
    """The records as `nimbrel --history --json` prints them, newest first."""
    status, out, _ = run(home, "--history", "--json", "--limit", "1000", *args)
    if status != 0:
        raise AssertionError(f"nimbrel --history exited with {status}: {out}")
    return json.loads(out)


def nimbrel_windows():
    """Nimbrel's mapped windows as (id, width, height, x, y), from the X server's window tree."""
    # xwininfo fails when a window goes away while it walks the tree; the next walk sees the tree as it is.
    for _ in range(5):
        listing = x11("xwininfo", "-root", "-tree", check=False)
        if listing.returncode == 0:
            break
    pattern = re.compile(r'(0x[0-9a-f]+) "[^"]*": \("nimbrel" "Nimbrel"\)\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+)')
    found = [(m[1], int(m[2]), int(m[3]), int(m[4]), int(m[5])) for m in pattern.finditer(listing.stdout)]
    return [w for w in found if "IsViewable" in x11("xwininfo", "-id", w[0], check=False).stdout]


def panel_windows():
    # The panel is Nimbrel's one window wider than the tray icon and its menu (the settings window aside).
    return [w for w in nimbrel_windows() if w[1] >= 300 and w[2] >= 200
            and x11("xdotool", "getwindowname", w[0], check=False).stdout.strip() != "Nimbrel Settings"]


def tray_icon():
    """Nimbrel's tray icon, as nimbrel_windows() lists it, once the tray has embedded it; else None."""
    trayer = {int(w) for w in x11("xdotool", "search", "--class", "trayer", check=False).stdout.split()}
    for icon in nimbrel_windows():
        if icon[1] > 64 or icon[2] > 64:
            continue
        current = icon[0]
        while parent := re.search(r"Parent window id: (0x[0-9a-f]+)( \(the root window\))?",
                                  x11("xwininfo", "-children", "-id", current, check=False).stdout):
            if parent[2]:
                break
            if int(parent[1], 16) in trayer:
                return icon
            current = parent[1]
    return None


def click(x, y, button=1):
    x11("xdotool", "mousemove", str(x), str(y), "click", str(button))


def keyboard_grabbed():
    """Whether another client holds the keyboard: a grab of our own is refused then (and let go at once
    when it is not)."""
    xlib = ctypes.CDLL("libX11.so.6")
    xlib.XOpenDisplay.restype = ctypes.c_void_p
    xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
    xlib.XDefaultRootWindow.restype = ctypes.c_ulong
    xlib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    xlib.XGrabKeyboard.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_int,
                                   ctypes.c_ulong]
    xlib.XUngrabKeyboard.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
    xlib.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = xlib.XOpenDisplay(DISPLAY.encode())
    if not display:
        raise AssertionError("cannot open the test display")
    try:
        grab_mode_async, already_grabbed = 1, 1
        status = xlib.XGrabKeyboard(display, xlib.XDefaultRootWindow(display), 0, grab_mode_async, grab_mode_async, 0)
        if status != already_grabbed:
            xlib.XUngrabKeyboard(display, 0)
        return status == already_grabbed
    finally:
        xlib.XCloseDisplay(display)


def active_window():
    out = x11("xprop", "-root", "_NET_ACTIVE_WINDOW").stdout
    return int(out.rsplit(" ", 1)[-1], 16)


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
        """Offers (mime type, bytes or str) pairs together; returns, once they are on the clipboard, the list of
        what other clients asked the owner for ("types", "data TYPE"), filled as they ask."""
        args = [f"{mime}={self._file(data)}" for mime, data in representations]
        owner = subprocess.Popen([OWNER_TOOL, "serve", *args], env=X_ENV, stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL, text=True)
        self.owners.append(owner)
        if owner.stdout.readline().strip() != "ready":
            raise AssertionError("the copy helper could not take the clipboard")
        asked = []

        def read():
            for line in owner.stdout:
                asked.append(line.strip())

        threading.Thread(target=read, daemon=True).start()
        return asked

    def xclip(self, mime, data):
        """Copies one representation with xclip, which serves it until another owner takes over."""
        subprocess.run(["xclip", "-selection", "clipboard", "-t", mime, "-i", self._file(data)], env=X_ENV,
                       check=True, timeout=10, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def close(self):
        for owner in self.owners:
            if owner.poll() is None:
                owner.kill()
                owner.wait(5)


class TargetApp:
    """An ordinary application window in front, with a text field whose text the test can read."""

    def __init__(self, workdir):
        self.file = os.path.join(workdir, f"target-{time.monotonic_ns()}.txt")
        self.process = subprocess.Popen([TARGET_TOOL, self.file], env=X_ENV, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, text=True)
        if self.process.stdout.readline().strip() != "ready":
            raise AssertionError("the target application did not start")
        # Qt makes a second, unmapped window of that name; the one the window manager activates counts.
        windows = x11("xdotool", "search", "--sync", "--onlyvisible", "--name", "^nimbrel-target$").stdout.split()
        for window in windows:
            x11("xdotool", "windowactivate", "--sync", window, check=False)
        self.window = str(wait_for(lambda: next((w for w in map(int, windows) if w == active_window()), None),
                                   "the target application in front"))

    def text(self):
        return read_text(self.file)

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(5)
        self.process.stdout.close()


def read_text(path):
    """A file's text, empty while it does not exist."""
    try:
        with open(path, encoding="utf-8") as f:
            return f.read()
    except FileNotFoundError:
        return ""


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


class E2ETestCase(unittest.TestCase):
    def setUp(self):
        if not DISPLAY:
            self.fail("the test desktop is not running (NIMBREL_DISPLAY_STATE)")
        self.home = Home()
        self.processes = []
        self.clipboard = Clipboard(self.home.path)
        self.addCleanup(self.clipboard.close)

    def tearDown(self):
        for p in self.processes:
            p.stop()
        self.home.remove()

    def start(self, *args, home=None, program=None, **env):
        p = Nimbrel(home or self.home, *args, program=program, **env)
        self.processes.append(p)
        return p

    def started(self, *texts, **env):
        """A ready Nimbrel with these copies recorded, oldest first."""
        nimbrel = self.start(**env)
        nimbrel.wait_ready()
        for text in texts:
            self.copy_and_wait(nimbrel, text)
        return nimbrel

    def texts(self, *args):
        return [r.get("text") for r in history(self.home, *args)]

    def copy_and_wait(self, nimbrel, text):
        """Copies text, waits for it to be the newest record and returns its id; being recorded in order, the
        copies made before it have been dealt with by then."""
        self.clipboard.xclip("text/plain", text)
        nimbrel.wait_until(lambda: self.texts()[:1] == [text], what=f"the record of {text!r}")
        return history(self.home)[0]["id"]

    def open_panel(self, nimbrel, keys="super+shift+v"):
        x11("xdotool", "key", keys)
        nimbrel.wait_until(lambda: len(panel_windows()) == 1 and keyboard_grabbed(), what="the panel with the keyboard")

    def target(self):
        target = TargetApp(self.home.path)
        self.addCleanup(target.close)
        return target

    def tray_entry(self, nimbrel, downs):
        """Opens the tray menu and chooses its entry `downs` down from the top."""
        _, width, height, x, y = nimbrel.wait_until(tray_icon, what="the tray icon")
        before = {w[0] for w in nimbrel_windows()}
        click(x + width // 2, y + height // 2)
        nimbrel.wait_until(lambda: any(w[0] not in before for w in nimbrel_windows()), what="the tray menu")
        x11("xdotool", "key", *["Down"] * downs, "Return")
