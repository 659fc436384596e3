"""The settings window: `nimbrel --settings` opens the one window and brings it forward, it has a taskbar entry while
it shows, its recorder replaces the global shortcut, and closing it or Ctrl+Q in it only hides it: Nimbrel stays in
the tray."""

import json
import os
import re
import select
import subprocess
import time
import unittest

from harness import E2ETestCase, Home, TargetApp, active_window, click, nimbrel_windows, run_once, tray_icon, x11

HERE = os.path.dirname(os.path.abspath(__file__))
# The harness runs Nimbrel in English.
TITLE = "Nimbrel Settings"
SHORTCUT_KEY = "KeyboardShortcuts_togglePanel"
DEFAULT = '{"carbonKeyCode":9,"carbonModifiers":768}'
RECORDED = '{"carbonKeyCode":11,"carbonModifiers":768}'
# In a freshly opened window nothing has the focus yet; the launch-at-login and mouse-selection switches and the
# language menu come before the shortcut field in the focus chain (the accessibility card stays hidden: the test
# display has XTest). Tab is used rather than a click because the header's subtitle may wrap, which moves the field.
TABS_TO_RECORDER = 4
# How long a key press that should do nothing is given to show that it does nothing.
QUIET = 0.7

_TREE_LINE = re.compile(r'(0x[0-9a-f]+) "((?:[^"\\]|\\.)*)": \("nimbrel" "Nimbrel"\)')


def _viewable(window):
    return "IsViewable" in x11("xwininfo", "-id", window, check=False).stdout


def titled_windows(viewable_only=True):
    """Nimbrel's windows titled as the settings window, hidden ones too unless viewable_only."""
    tree = x11("xwininfo", "-root", "-tree").stdout
    found = [m[1] for m in _TREE_LINE.finditer(tree) if m[2] == TITLE]
    return [w for w in found if _viewable(w)] if viewable_only else found


def panel_windows():
    # The panel is Nimbrel's one large window that is not the settings window.
    settings = set(titled_windows(viewable_only=False))
    return [w for w in nimbrel_windows() if w[0] not in settings and w[1] >= 300 and w[2] >= 200]


def origin(window):
    """The client area's top left corner on the screen (xdotool's own report counts the frame twice)."""
    info = x11("xwininfo", "-id", window).stdout
    return (int(re.search(r"Absolute upper-left X:\s+(-?\d+)", info)[1]),
            int(re.search(r"Absolute upper-left Y:\s+(-?\d+)", info)[1]))


def root_windows(prop):
    out = x11("xprop", "-root", prop).stdout
    return [int(v, 16) for v in re.findall(r"0x[0-9a-f]+", out)]


def wm_state(window):
    return x11("xprop", "-id", window, "_NET_WM_STATE", check=False).stdout


class SettingsWindow(E2ETestCase):
    def open_settings(self):
        """Starts Nimbrel with `--settings` and returns it with its settings window, once that window is active."""
        nimbrel = self.start("--settings")
        nimbrel.wait_ready()
        nimbrel.wait_until(lambda: len(titled_windows()) == 1, what="the settings window")
        window = titled_windows()[0]
        nimbrel.wait_until(lambda: active_window() == int(window, 16), what="the settings window to be active")
        return nimbrel, window

    def reopen(self, nimbrel):
        started = time.monotonic()
        self.assertEqual(run_once(self.home, "--settings", timeout=10), (0, ""))
        self.assertLess(time.monotonic() - started, 3, "the second start hands over and ends at once")
        nimbrel.wait_until(lambda: len(titled_windows()) == 1, what="the settings window to show again")
        window = titled_windows()[0]
        nimbrel.wait_until(lambda: active_window() == int(window, 16), what="the settings window to be active")
        return window

    def assert_taskbar_entry(self, window):
        # The switch to the taskbar policy reaches the window manager after the map; give a late change its chance.
        time.sleep(0.4)
        self.assertNotIn("_NET_WM_STATE_SKIP_TASKBAR", wm_state(window))
        self.assertNotIn("_NET_WM_STATE_SKIP_PAGER", wm_state(window))
        self.assertIn(int(window, 16), root_windows("_NET_CLIENT_LIST"))

    def assert_hidden_in_tray(self, nimbrel):
        nimbrel.wait_until(lambda: titled_windows() == [], what="the settings window to hide")
        time.sleep(0.5)
        self.assertIsNone(nimbrel.process.poll(), "Nimbrel keeps running")
        self.assertEqual(titled_windows(), [])
        self.assertEqual(panel_windows(), [])
        self.assertIsNotNone(tray_icon(), "the tray icon stays embedded")

    def record(self, *keys):
        x11("xdotool", "key", *["Tab"] * TABS_TO_RECORDER)
        time.sleep(0.3)
        x11("xdotool", "key", *keys)

    def toggle_panel(self, nimbrel, combination):
        x11("xdotool", "key", combination)
        nimbrel.wait_until(lambda: len(panel_windows()) == 1, what=f"{combination} to open the panel")
        time.sleep(0.3)
        x11("xdotool", "key", combination)
        nimbrel.wait_until(lambda: panel_windows() == [], what=f"{combination} to close the panel")

    def assert_no_panel_from(self, combination):
        x11("xdotool", "key", combination)
        time.sleep(QUIET)
        self.assertEqual(panel_windows(), [], f"{combination} opens nothing")

    def test_opening_twice_brings_the_one_window_forward(self):
        nimbrel, window = self.open_settings()
        self.assertEqual(titled_windows(viewable_only=False), [window])
        self.assertEqual(panel_windows(), [])

        target = TargetApp(self.home.path)
        self.addCleanup(target.close)
        self.assertEqual(active_window(), int(target.window), "the other application covers the window")
        self.assertEqual(self.reopen(nimbrel), window)
        self.assertEqual(titled_windows(viewable_only=False), [window], "no second window")
        stacking = root_windows("_NET_CLIENT_LIST_STACKING")
        self.assertGreater(stacking.index(int(window, 16)), stacking.index(int(target.window)),
                           "the settings window is above the application that covered it")
        self.assertEqual(panel_windows(), [], "opening the settings does not toggle the panel")

    def test_the_tray_menus_settings_entry_opens_the_window(self):
        nimbrel = self.start()
        nimbrel.wait_ready()
        nimbrel.wait_until(lambda: tray_icon() is not None, what="the tray icon")
        icon = next(w for w in nimbrel_windows() if w[0] == tray_icon())
        before = {w[0] for w in nimbrel_windows()}
        _, width, height, x, y = icon
        click(x + width // 2, y + height // 2)
        nimbrel.wait_until(lambda: any(w[0] not in before for w in nimbrel_windows()), what="the tray menu")
        # The menu has the keyboard: the second entry (after the panel's) is the settings.
        x11("xdotool", "key", "Down", "Down", "Return")
        nimbrel.wait_until(lambda: len(titled_windows()) == 1, what="the settings window")
        window = titled_windows()[0]
        nimbrel.wait_until(lambda: active_window() == int(window, 16), what="the settings window to be active")
        self.assert_taskbar_entry(window)
        self.assertEqual(panel_windows(), [])

    def test_the_open_window_has_a_taskbar_entry(self):
        _, window = self.open_settings()
        self.assert_taskbar_entry(window)

    def test_a_recorded_shortcut_replaces_the_old_one(self):
        nimbrel, window = self.open_settings()
        self.assertEqual(self.home.read_defaults()[SHORTCUT_KEY], DEFAULT)
        # Opening the window does not start recording: the shortcut still works with the window in front.
        self.toggle_panel(nimbrel, "super+shift+v")
        self.assertEqual(active_window(), int(window, 16))
        self.record("super+shift+b")
        nimbrel.wait_until(lambda: self.home.read_defaults().get(SHORTCUT_KEY) == RECORDED,
                           what="the recorded shortcut in the defaults")
        self.assertEqual(active_window(), int(window, 16))

        # With the settings window in front, then with it closed.
        for closed in (False, True):
            with self.subTest(settings_closed=closed):
                if closed:
                    x11("xdotool", "windowactivate", "--sync", window, "key", "ctrl+w")
                    nimbrel.wait_until(lambda: titled_windows() == [], what="the settings window to close")
                self.toggle_panel(nimbrel, "super+shift+b")
                self.assert_no_panel_from("super+shift+v")
        self.assertEqual(self.home.read_defaults()[SHORTCUT_KEY], RECORDED)

    def test_escape_while_recording_keeps_the_shortcut(self):
        nimbrel, window = self.open_settings()
        before = self.home.read_defaults()
        self.record("Escape")
        time.sleep(0.3)
        # Recording has ended: the next combination is not taken, and the global shortcut works again.
        x11("xdotool", "key", "super+shift+b")
        time.sleep(QUIET)
        self.assertEqual(self.home.read_defaults(), before)
        self.assertEqual(panel_windows(), [])
        self.toggle_panel(nimbrel, "super+shift+v")
        self.assertEqual(self.home.read_defaults()[SHORTCUT_KEY], DEFAULT)

    def test_closing_leaves_nimbrel_in_the_tray_and_keeps_the_window(self):
        closers = {
            "Ctrl+W": "ctrl+w",
            "the window manager's close": "alt+F4",  # openbox's binding, which asks through WM_DELETE_WINDOW
        }
        for i, (name, keys) in enumerate(closers.items()):
            with self.subTest(close=name):
                if i:
                    self.addCleanup(self.home.remove)
                    self.home = Home()
                nimbrel, window = self.open_settings()
                self.addCleanup(nimbrel.stop)
                # Where the user put it, not where it first appeared.
                centered = origin(window)
                x11("xdotool", "windowmove", "--sync", window, "150", "90")
                nimbrel.wait_until(lambda: origin(window) != centered, what="the window to move")
                moved = origin(window)
                x11("xdotool", "windowactivate", "--sync", window, "key", keys)
                self.assert_hidden_in_tray(nimbrel)

                again = self.reopen(nimbrel)
                self.assertEqual(titled_windows(viewable_only=False), [again], "no second window")
                self.assertEqual(origin(again), moved, "the window comes back where it was")
                self.assert_taskbar_entry(again)
                nimbrel.stop()
                self.assertEqual(again, window, "closing only hides the window; the next opening shows it again")

    def test_ctrl_q_in_the_window_only_hides_it(self):
        nimbrel, window = self.open_settings()
        x11("xdotool", "windowactivate", "--sync", window, "key", "ctrl+q")
        self.assert_hidden_in_tray(nimbrel)
        self.assertEqual(self.reopen(nimbrel), window)
        self.assert_taskbar_entry(window)
        # The tray menu's quit entry is the one that ends Nimbrel; a signal from the system still does.
        self.assertEqual(nimbrel.terminate(), 0)


if __name__ == "__main__":
    unittest.main()


class WithoutATray(E2ETestCase):
    """A desktop without a tray (GNOME's default): Nimbrel says so in a notification and a line, opens its settings
    window with the ways in, and ends from there. It runs on an X server of its own, with no tray on it, and a
    session bus of its own with a notification service."""

    def spawn(self, command, env=None, pass_fds=()):
        process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL, text=True, pass_fds=pass_fds)
        self.addCleanup(lambda: (process.kill(), process.wait(5), process.stdout.close()))
        return process

    def line_of(self, process, what, timeout=15):
        ready, _, _ = select.select([process.stdout], [], [], timeout)
        if not ready:
            self.fail(f"no {what} within {timeout}s")
        return process.stdout.readline().strip()

    def setUp(self):
        super().setUp()
        read, write = os.pipe()
        self.spawn(["Xvfb", "-displayfd", str(write), "-screen", "0", "1366x768x24", "-nolisten", "tcp"],
                   pass_fds=(write,))
        os.close(write)
        with os.fdopen(read) as numbers:
            self.display = ":" + numbers.readline().strip()
        bus = self.spawn(["dbus-daemon", "--session", "--nofork", "--print-address=1"])
        self.bus = self.line_of(bus, "session bus address")
        self.notifications = self.spawn(["/usr/bin/python3", os.path.join(HERE, "notification_server.py")],
                                        env=dict(os.environ, DBUS_SESSION_BUS_ADDRESS=self.bus))
        self.assertEqual(self.line_of(self.notifications, "notification service"), "ready")

    def windows(self):
        tree = x11("xwininfo", "-root", "-tree", env={"DISPLAY": self.display}).stdout
        return [m[1] for m in _TREE_LINE.finditer(tree) if m[2] == TITLE
                and "IsViewable" in x11("xwininfo", "-id", m[1], env={"DISPLAY": self.display}).stdout]

    def test_first_start_notifies_opens_the_settings_and_quits_from_there(self):
        nimbrel = self.start(DISPLAY=self.display, DBUS_SESSION_BUS_ADDRESS=self.bus)
        notification = json.loads(self.line_of(self.notifications, "notification"))
        self.assertEqual(notification["summary"], "This desktop has no system tray")
        for part in ("nimbrel --toggle", "nimbrel --settings"):
            self.assertIn(part, notification["body"])
        self.assertEqual((notification["app"], notification["desktop-entry"]), ("Nimbrel", "org.nimbrel.Nimbrel"))
        nimbrel.wait_for_line("This desktop has no system tray")
        nimbrel.wait_until(lambda: len(self.windows()) == 1, what="the settings window")

        # Its quit entry ends Nimbrel here: there is no tray menu to quit from.
        window = self.windows()[0]
        x11("xdotool", "windowfocus", "--sync", window, env={"DISPLAY": self.display})
        x11("xdotool", "key", "ctrl+q", env={"DISPLAY": self.display})
        self.assertEqual(nimbrel.process.wait(10), 0)
        self.assertTrue(self.home.read_defaults().get("Nimbrel.noTrayExplained"))
