"""Shift+Super+V toggles the panel from anywhere, on key release; a refused grab is reported."""

import time
import unittest

from harness import E2ETestCase, Home, nimbrel_windows, x11

DEFAULT = '{"carbonKeyCode":9,"carbonModifiers":768}'


def panel_windows():
    # The panel is Nimbrel's one window wider than the tray icon and its menu.
    return [w for w in nimbrel_windows() if w[1] >= 300 and w[2] >= 200]


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

    def test_a_combination_held_by_another_client_is_reported(self):
        holder = self.start()
        holder.wait_ready()
        holder.wait_until(lambda: self.home.read_defaults().get("KeyboardShortcuts_togglePanel") == DEFAULT,
                          what="the first instance's grab")
        other_home = Home()
        self.addCleanup(other_home.remove)
        second = self.start(home=other_home)
        second.wait_for_line("Error registering hotkey ⇧⌘V: -9878")
        time.sleep(0.5)
        self.assertIsNone(second.process.poll(), "Nimbrel keeps running")
        self.assertEqual(second.terminate(), 0)


if __name__ == "__main__":
    unittest.main()
