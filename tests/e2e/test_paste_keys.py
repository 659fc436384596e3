"""The record chosen in the panel is pasted with the key the application in front understands: Ctrl+V in
an ordinary window, Shift+Insert with the primary selection in xterm, or the key the settings file names."""

import ctypes
import os
import subprocess
import time
import unittest

from harness import DISPLAY, Clipboard, E2ETestCase, TargetApp, active_window, history, x11
from test_panel import panel_windows


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
        grab_mode_async, already_grabbed, current_time = 1, 1, 0
        status = xlib.XGrabKeyboard(display, xlib.XDefaultRootWindow(display), 0, grab_mode_async, grab_mode_async,
                                    current_time)
        if status != already_grabbed:
            xlib.XUngrabKeyboard(display, current_time)
        return status == already_grabbed
    finally:
        xlib.XCloseDisplay(display)


def primary_selection():
    return x11("xclip", "-o", "-selection", "primary", check=False).stdout


def read(path):
    try:
        with open(path, encoding="utf-8") as f:
            return f.read()
    except FileNotFoundError:
        return None


class PasteKeys(E2ETestCase):
    def setUp(self):
        super().setUp()
        self.clipboard = Clipboard(self.home.path)
        self.addCleanup(self.clipboard.close)

    def copy(self, nimbrel, text):
        count = len(history(self.home))
        self.clipboard.xclip("text/plain", text)
        nimbrel.wait_until(lambda: len(history(self.home)) == count + 1, what="the record")

    def select_elsewhere(self, nimbrel, text):
        """Another application owns the primary selection, with this text."""
        owner = subprocess.Popen(["xclip", "-quiet", "-selection", "primary", "-i"], env=dict(os.environ, DISPLAY=DISPLAY),
                                 stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, text=True)
        self.addCleanup(lambda: (owner.kill(), owner.wait(5)))
        owner.stdin.write(text)
        owner.stdin.close()
        nimbrel.wait_until(lambda: primary_selection() == text, what="the other application's selection")

    def paste(self, nimbrel, *moves):
        """Chooses a record in the panel: the newest, or the one the arrow keys move to."""
        x11("xdotool", "key", "super+shift+v")
        nimbrel.wait_until(lambda: len(panel_windows()) == 1 and keyboard_grabbed(), what="the panel with the keyboard")
        x11("xdotool", "key", "Tab", *moves, "Return")
        nimbrel.wait_until(lambda: panel_windows() == [], what="the panel to close")

    def test_an_ordinary_window_gets_ctrl_v_unless_the_settings_name_another_key(self):
        nimbrel = self.start()
        nimbrel.wait_ready()
        self.copy(nimbrel, "into the field")
        self.select_elsewhere(nimbrel, "selected elsewhere")
        target = TargetApp(self.home.path)
        self.addCleanup(target.close)
        self.paste(nimbrel)
        nimbrel.wait_until(lambda: target.text() == "into the field", what="the paste into the field")
        self.assertEqual(primary_selection(), "selected elsewhere", "Ctrl+V leaves the primary selection alone")

        # Edited by hand while Nimbrel runs; the window's class names the application.
        values = self.home.read_defaults()
        values["Nimbrel.pasteKeys"] = {"Nimbrel-Target": "Shift+Insert"}
        self.home.write_defaults(values)
        self.paste(nimbrel)
        nimbrel.wait_until(lambda: target.text() == "into the fieldinto the field", what="the second paste")
        self.assertEqual(primary_selection(), "into the field", "Shift+Insert brings the record to the primary selection")
        self.assertEqual(len(history(self.home)), 1, "pasting creates no record")
        self.assertEqual(nimbrel.lines, [])

    def test_xterm_gets_the_record_and_the_next_key(self):
        # Mouse selections are recorded, so Nimbrel's own primary selection, recorded, would move the older
        # record it pastes to the top.
        self.home.write_defaults({"Nimbrel.recordPrimarySelection": True})
        nimbrel = self.start()
        nimbrel.wait_ready()
        self.copy(nimbrel, "echo pasted into a terminal")
        self.select_elsewhere(nimbrel, "selected elsewhere")
        nimbrel.wait_until(lambda: len(history(self.home)) == 2, what="the mouse selection's record")
        # The terminal hands every key to `cat` as it comes, so the file shows what reached the terminal.
        out = os.path.join(self.home.path, "terminal.txt")
        terminal = subprocess.Popen(
            ["xterm", "-title", "nimbrel-terminal", "-geometry", "80x10+200+150", "-e", "sh", "-c",
             'stty -icanon && : > "$0.ready" && exec cat > "$0"', out],
            env=dict(os.environ, DISPLAY=DISPLAY), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: (terminal.kill(), terminal.wait(5)))
        window = int(x11("xdotool", "search", "--sync", "--onlyvisible", "--name", "^nimbrel-terminal$").stdout.split()[0])
        x11("xdotool", "windowactivate", "--sync", str(window), check=False)
        nimbrel.wait_until(lambda: active_window() == window and os.path.exists(out + ".ready"),
                           what="the terminal in front")

        self.paste(nimbrel, "Down")
        nimbrel.wait_until(lambda: read(out) == "echo pasted into a terminal", what="the paste into the terminal")
        x11("xdotool", "key", "Return")
        nimbrel.wait_until(lambda: read(out) == "echo pasted into a terminal\n", what="the key after the paste")
        self.assertEqual(primary_selection(), "echo pasted into a terminal")
        # Well past the time a mouse selection takes to settle and be read.
        time.sleep(1.2)
        self.assertEqual([r["text"] for r in history(self.home)], ["selected elsewhere", "echo pasted into a terminal"],
                         "Nimbrel's own selections are not recorded")
        self.assertEqual(nimbrel.lines, [])


if __name__ == "__main__":
    unittest.main()
