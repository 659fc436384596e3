"""Shift+Super+V toggles the panel from anywhere, on key release; a refused grab is reported, in the notation and
language of the desktop."""

import time
import unittest

from harness import E2ETestCase, Home, nimbrel_windows, x11

DEFAULT = '{"carbonKeyCode":9,"carbonModifiers":768}'
CTRL_SHIFT_SPACE = '{"carbonKeyCode":49,"carbonModifiers":4608}'
XDOTOOL_KEYS = {DEFAULT: "super+shift+v", CTRL_SHIFT_SPACE: "ctrl+shift+space"}


def panel_windows():
    # The panel is Nimbrel's one window wider than the tray icon and its menu.
    return [w for w in nimbrel_windows() if w[1] >= 300 and w[2] >= 200]


def show_by_keys(nimbrel, keys, timeout=10):
    """Presses the combination until it has shown the panel: the grab may come a little after the start."""
    deadline = time.monotonic() + timeout
    while True:
        x11("xdotool", "key", keys)
        try:
            nimbrel.wait_until(lambda: len(panel_windows()) == 1, timeout=1.5, what="the panel")
            return
        except AssertionError:
            if time.monotonic() > deadline:
                raise


class Shortcut(E2ETestCase):
    def test_first_launch_stores_the_default(self):
        nimbrel = self.start()
        nimbrel.wait_ready()
        nimbrel.wait_until(lambda: self.home.read_defaults().get("KeyboardShortcuts_togglePanel") == DEFAULT,
                           what="the default shortcut in the defaults")
        self.assertEqual(nimbrel.lines, [])

    def test_the_panel_toggles_on_key_release_once(self):
        nimbrel = self.start()
        nimbrel.wait_ready()
        self.assertEqual(panel_windows(), [])
        x11("xdotool", "keydown", "super+shift+v")
        time.sleep(0.6)
        self.assertEqual(panel_windows(), [], "nothing happens while the keys are down")
        x11("xdotool", "keyup", "v")
        nimbrel.wait_until(lambda: len(panel_windows()) == 1, what="the panel")
        x11("xdotool", "keyup", "super+shift")
        time.sleep(0.5)
        self.assertEqual(len(panel_windows()), 1, "one release, one toggle")
        x11("xdotool", "key", "super+shift+v")
        nimbrel.wait_until(lambda: panel_windows() == [], what="the panel to hide again")

    def test_a_combination_held_by_another_client_is_reported_as_the_desktop_writes_it(self):
        # The combination both instances store, the refused instance's desktop and interface language, and
        # how its line names the combination.
        cases = [
            (DEFAULT, None, None, "Shift+Super+V"),
            (DEFAULT, "KDE", None, "Meta+Shift+V"),
            (CTRL_SHIFT_SPACE, "GNOME", "zh-Hans", "Shift+Ctrl+空格"),
            (CTRL_SHIFT_SPACE, "KDE", "zh-Hant", "Ctrl+Shift+空白鍵"),
        ]
        for stored, desktop, language, shown in cases:
            with self.subTest(shown=shown):
                holder_home = Home()
                self.addCleanup(holder_home.remove)
                holder_home.write_defaults({"KeyboardShortcuts_togglePanel": stored})
                holder = self.start(home=holder_home)
                holder.wait_ready()
                # The holder has the grab once the combination toggles its panel.
                keys = XDOTOOL_KEYS[stored]
                show_by_keys(holder, keys)
                x11("xdotool", "key", keys)
                holder.wait_until(lambda: panel_windows() == [], what="the holder's panel to hide")

                other_home = Home()
                self.addCleanup(other_home.remove)
                values = {"KeyboardShortcuts_togglePanel": stored}
                if language:
                    values["Nimbrel.language"] = language
                other_home.write_defaults(values)
                environment = {"XDG_CURRENT_DESKTOP": desktop} if desktop else {}
                second = self.start(home=other_home, **environment)
                second.wait_for_line(f"Error registering hotkey {shown}: -9878")
                self.assertIsNone(second.process.poll(), "Nimbrel keeps running")
                self.assertEqual(second.terminate(), 0)
                self.assertEqual(holder.terminate(), 0)


if __name__ == "__main__":
    unittest.main()
